#include "agent/OrbSimpleStreams.h"

namespace {

const char kErrorStreamMessage[] = "Internal error: using input error file";

}  // namespace

OrbOutputError::OrbOutputError(const std::string& name, OrbEnvironment& environment)
    : OrbOutput(name, environment) {}

OrbOutputError::~OrbOutputError() = default;

bool OrbOutputError::putString(const std::string&) {
  environment.log("putString", kErrorStreamMessage);
  return false;
}

void OrbOutputError::updateRestart(const std::string&) {}

bool OrbOutputError::flush() {
  environment.log("flush", kErrorStreamMessage);
  return false;
}

bool OrbOutputError::close(const std::string&) {
  environment.log("close", kErrorStreamMessage);
  return false;
}

OrbInputError::OrbInputError(const std::string& name, OrbEnvironment& environment)
    : OrbInput(name, environment) {}

OrbInputError::~OrbInputError() = default;

bool OrbInputError::error() { return true; }

bool OrbInputError::getLine(std::string&) {
  environment.log("getLine", kErrorStreamMessage);
  return false;
}

bool OrbInputError::close() { return false; }

OrbIgnoreOutput::OrbIgnoreOutput(const std::string& name, OrbEnvironment& environment)
    : OrbOutput(name, environment) {}

OrbIgnoreOutput::~OrbIgnoreOutput() = default;

bool OrbIgnoreOutput::putString(const std::string&) { return true; }

void OrbIgnoreOutput::updateRestart(const std::string& restart) { restartString = restart; }

bool OrbIgnoreOutput::flush() { return true; }

bool OrbIgnoreOutput::close(const std::string&) { return true; }

std::string OrbIgnoreOutput::getRestartString() const { return restartString; }

OrbInputFromString::OrbInputFromString(OrbEnvironment& environment, const std::string& content)
    : OrbInput(std::string(), environment), content(content), delivered(false) {}

OrbInputFromString::~OrbInputFromString() = default;

bool OrbInputFromString::error() { return false; }

bool OrbInputFromString::getLine(std::string& line) {
  if (delivered) return false;
  line = content;
  delivered = true;
  return true;
}

bool OrbInputFromString::close() { return true; }
