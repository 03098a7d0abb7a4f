// A producer as a backup stream of the pipe: every fill runs the producer's
// produce(out, error), which puts strings into the buffered output until
// stopNow says so or it has produced everything (and then updates the
// restart string to empty). A failure becomes the environment's failure
// text, which the driver hands to the data mover.
//
// Owns its producer; used like any buffered output, by one thread at a time.
#ifndef CLOUDDB_TOOLS_AGENTS_PIPEOUTPUT_H_
#define CLOUDDB_TOOLS_AGENTS_PIPEOUTPUT_H_

#include <string>
#include <utility>

#include "agent/OrbEnvironment.h"

namespace mover {

template <typename Producer>
class PipeOutput : public OrbBufferedOutput {
 public:
  template <typename... Arguments>
  PipeOutput(const std::string& name, OrbEnvironment& environment, Arguments&&... arguments)
      : OrbBufferedOutput(name, environment), producer_(std::forward<Arguments>(arguments)...) {}

  bool initializeBackup() override { return true; }

  bool startBackup(bool) override {
    std::string error;
    if (producer_.produce(*this, error)) return true;
    environment.setFailure(error);
    return false;
  }

  const Producer& producer() const { return producer_; }

 private:
  Producer producer_;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_PIPEOUTPUT_H_
