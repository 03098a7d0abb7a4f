#include "agent/OrbInterfaces.h"

namespace {

// Holds a host mutex for one scope, released on every path out.
class CriticalSection {
 public:
  explicit CriticalSection(MxCriticalSectionH& lock) : lock_(lock) { lock_.enter(true); }
  ~CriticalSection() { lock_.leave(); }

  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
  MxCriticalSectionH& lock_;
};

}  // namespace

OrbOutput::OrbOutput(const std::string& name, OrbEnvironment& environment)
    : name(name), environment(environment) {}

OrbOutput::~OrbOutput() = default;

bool OrbOutput::stopNow() { return false; }

OrbInput::OrbInput(const std::string& name, OrbEnvironment& environment)
    : name(name), environment(environment), failed(false) {}

OrbInput::~OrbInput() = default;

bool OrbInput::getContents(std::string& text) {
  text.clear();
  std::string line;
  while (getLine(line)) {
    if (!text.empty()) text.push_back('\n');
    text.append(line);
  }
  return !error();
}

OrbEnvironment::OrbEnvironment(const std::string& name)
    : name(name), failureLock(new MxCriticalSectionH()) {}

OrbEnvironment::~OrbEnvironment() = default;

void OrbEnvironment::setFailure(const std::string& message) {
  CriticalSection section(*failureLock);
  if (failure.empty()) {
    failure = message;
    return;
  }
  // Built aside, so that an allocation failure leaves the record unchanged.
  std::string joined = failure;
  joined.append("; ").append(message);
  failure.swap(joined);
}

bool OrbEnvironment::isFailed() {
  CriticalSection section(*failureLock);
  return !failure.empty();
}

std::string OrbEnvironment::getFailure() {
  CriticalSection section(*failureLock);
  return failure;
}
