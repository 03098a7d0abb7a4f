#include "agent/BufferedFromString.h"

BufferedFromString::BufferedFromString(const std::string& name, OrbEnvironment& environment,
                                       const std::string& content)
    : OrbBufferedOutput(name, environment), content(content) {}

BufferedFromString::~BufferedFromString() = default;

bool BufferedFromString::flush() { return true; }

bool BufferedFromString::close(const std::string& restart) {
  restartString = restart;
  return true;
}

bool BufferedFromString::initializeBackup() { return true; }

bool BufferedFromString::startBackup(bool) { return putString(content); }
