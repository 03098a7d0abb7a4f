// The backup pipe under scripted producers, buffer sizes, spanning switches
// and size limits: the bytes read through the drivers are exactly the
// accepted strings, in order; the safe restart string never names a point
// whose bytes have not all been read; no read writes outside its buffer.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "agent/OrbEnvironment.h"
#include "remotefile/CloudDBRemoteFileFactory.h"

namespace {

class ScriptedProducer : public OrbBufferedOutput {
 public:
  ScriptedProducer(OrbEnvironment& env, FuzzInput& input)
      : OrbBufferedOutput("fuzz", env), input_(input) {}

  bool initializeBackup() override { return true; }

  bool startBackup(bool) override {
    const uint32_t puts = input_.upTo(8);
    const bool ignoreStop = input_.flag();
    for (uint32_t i = 0; i < puts && (ignoreStop || !stopNow()); ++i) {
      if (input_.byte() % 5 == 0) setBufferSpanning(input_.flag());
      const std::string s(input_.upTo(600), static_cast<char>('a' + strings_++ % 26));
      if (putString(s)) accepted += s;
    }
    // Restart string k names the point after acceptedAt[k] accepted bytes.
    acceptedAt.push_back(accepted.size());
    updateRestart(input_.empty() ? std::string() : std::to_string(acceptedAt.size() - 1));
    return true;
  }

  std::string accepted;
  std::vector<size_t> acceptedAt;

 private:
  FuzzInput& input_;
  uint32_t strings_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  QuietEnvironment env;
  auto producer = std::make_shared<ScriptedProducer>(env, input);
  CloudDBRemoteFileFactory factory(producer, static_cast<long long>(input.upTo(5000)) - 100);
  // Each read gets the tail of this allocation, so that a byte written past
  // the requested size lands outside it.
  constexpr size_t kLargestRead = 4096;
  std::unique_ptr<char[]> allocation(new char[kLargestRead]);
  std::string received;
  bool ended = false;
  for (int files = 0; files < 1000 && !ended; ++files) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "", 0);
    for (int reads = 0; reads < 10000; ++reads) {
      const size_t size = input.empty() ? kLargestRead : 1 + input.upTo(2000);
      char* buffer = allocation.get() + kLargestRead - size;
      long long bytesRead = 0;
      if (!driver->ReadFile(buffer, static_cast<long long>(size), bytesRead)) std::abort();
      if (bytesRead == 0) break;
      received.append(buffer, static_cast<size_t>(bytesRead));
      const std::string safe = producer->getSafeRestartString();
      if (!safe.empty() && producer->acceptedAt[std::stoul(safe)] > received.size()) std::abort();
    }
    ended = factory.getLastRemoteFile()->isEndOfBackup();
  }
  if (ended && received != producer->accepted) std::abort();
  return 0;
}
