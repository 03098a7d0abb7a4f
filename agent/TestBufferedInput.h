// The buffered input's built-in self-check. test() plays both sides of a
// restore: it generates 500 random lines, feeds them through processBuffer
// in 128-byte buffers as the data mover's writes would arrive, reads them
// back in its own startRestore, and reports on standard output whether the
// lengths read back equal the lengths generated ("Test passed.").
//
// The object shares the random engine and the length distribution (whose
// range must lie within 0 to 400) with its creator. One thread at a time.
#ifndef CLOUDDB_AGENT_TESTBUFFEREDINPUT_H_
#define CLOUDDB_AGENT_TESTBUFFEREDINPUT_H_

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "agent/OrbBufferedInput.h"

class CLOUDDB_EXPORT TestBufferedInput : public OrbBufferedInput {
 public:
  TestBufferedInput(const std::string& name, OrbEnvironment& environment,
                    std::shared_ptr<std::mt19937> engine,
                    std::shared_ptr<std::uniform_int_distribution<int32_t>> lengthDistribution);
  ~TestBufferedInput() override;

  // Runs the check and reports on standard output.
  void test();
  // Stages one byte; hands a full 128-byte buffer to processBuffer.
  bool addChar(char byte);

  bool initializeRestore() override;
  // Reads every line, reports it and records its length.
  bool startRestore(bool firstCall) override;

 protected:
  static constexpr int kLineSourceSize = 400;
  static constexpr int kFeedSize = 128;

  std::shared_ptr<std::mt19937> engine;
  std::shared_ptr<std::uniform_int_distribution<int32_t>> lengthDistribution;
  char lineSource[kLineSourceSize + 1];
  char feedBuffer[kFeedSize + 1];
  int32_t feedCount;
  std::vector<int32_t> inputLengths;
  std::vector<int32_t> outputLengths;

 private:
  CLOUDDB_LOCAL void report() const;
};

#endif  // CLOUDDB_AGENT_TESTBUFFEREDINPUT_H_
