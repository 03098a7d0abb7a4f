#include "agent/OrbBufferedOutput.h"

#include <unistd.h>

#include <cstring>

#include "agent/OrbFileStreams.h"
#include "util/CloudDBUtil.h"

namespace {

// The refused-string message quotes at most this many bytes of the string.
constexpr size_t kQuotedBytes = 256;

// The debug copy may hold the agent's data: its folder is private.
constexpr int kDebugFolderMode = 0700;

}  // namespace

OrbBufferedOutput::OrbBufferedOutput(const std::string& name, OrbEnvironment& environment)
    : OrbOutput(name, environment),
      bufferStart(nullptr),
      bufferSize(0),
      bufferPosition(nullptr),
      bufferRemaining(0),
      remainingDataOffset(0),
      restartIsSafe(true),
      firstFill(true),
      bufferSpanning(true),
      stopRequested(false),
      backupFinished(false),
      logEnvironment(environment),
      lock(new MxCriticalSectionH()) {}

OrbBufferedOutput::~OrbBufferedOutput() = default;

bool OrbBufferedOutput::putString(const std::string& s) {
  bool internalError = false;
  const uint64_t pending = getRemainingDataSize(internalError);
  if (internalError) return false;
  if (pending > 0) return putPending(s, pending);
  if (debugOutput && !debugPutString(s)) return false;

  const uint64_t size = s.size();
  if (size <= bufferRemaining) {
    placeInBuffer(s.data(), size);
    restartIsSafe = true;
    return true;
  }
  restartIsSafe = false;
  if (!bufferSpanning && bufferPosition != bufferStart) {
    // Held back whole for the next buffer.
    stopRequested = true;
    remainingData.assign(s);
    remainingDataOffset = 0;
    return true;
  }
  // Split at the buffer's end.
  const uint64_t placed = bufferRemaining;
  // fillBuffer hands pending bytes out before it asks the agent again, so
  // only a subclass that edits remainingData itself gets here.
  if (!remainingData.empty()) {
    logEnvironment.log("putString", "appending " + std::to_string(size) +
                                        " bytes minus bufferRemaining " + std::to_string(placed) +
                                        " bytes to remainingData already " +
                                        std::to_string(remainingData.size()) + " bytes");
    remainingData.append(s, placed, std::string::npos);
  } else {
    remainingData.assign(s, placed, std::string::npos);
    remainingDataOffset = 0;
  }
  placeInBuffer(s.data(), placed);
  return true;
}

bool OrbBufferedOutput::putPending(const std::string& s, uint64_t pending) {
  if (pending + s.size() > kMaxPendingBytes) {
    logEnvironment.log(
        "putString", "ERROR: putString detected after stopNow returned true, current length=" +
                         std::to_string(s.size()) +
                         ", appended length=" + std::to_string(pending + s.size()) + ", string: '" +
                         s.substr(0, kQuotedBytes) + "'");
    return false;
  }
  remainingData.append(s);
  restartIsSafe = false;
  return debugPutString(s);
}

void OrbBufferedOutput::placeInBuffer(const char* data, uint64_t size) {
  if (size == 0) return;
  std::memcpy(bufferPosition, data, size);
  bufferPosition += size;
  bufferRemaining -= size;
}

void OrbBufferedOutput::updateRestart(const std::string& restart) {
  restartString = restart;
  if (restartIsSafe) safeRestartString = restart;
}

bool OrbBufferedOutput::flush() { return true; }

bool OrbBufferedOutput::close(const std::string&) { return true; }

bool OrbBufferedOutput::stopNow() { return bufferRemaining == 0 || stopRequested; }

bool OrbBufferedOutput::fillBuffer(void* buffer, size_t size, size_t& bytesFilled,
                                   bool& moreToCome) {
  if (size == 0) {
    logEnvironment.log("fillBuffer", "buffer size must be nonzero");
    return false;
  }
  const bool firstCall = firstFill;
  if (firstFill) {
    if (!initializeBackup()) {
      logEnvironment.log("fillBuffer", "backup initialization has failed");
      return false;
    }
    firstFill = false;
  }
  bufferStart = bufferPosition = static_cast<char*>(buffer);
  bufferSize = bufferRemaining = size;
  moreToCome = false;
  // The caller's buffer is valid only during this call, however it ends:
  // afterwards every putString becomes pending bytes for the next fillBuffer.
  struct Detach {
    uint64_t& remaining;
    ~Detach() { remaining = 0; }
  } detach{bufferRemaining};
  return fillAttached(firstCall, bytesFilled, moreToCome);
}

bool OrbBufferedOutput::fillAttached(bool firstCall, size_t& bytesFilled, bool& moreToCome) {
  bool internalError = false;
  const uint64_t pending = getRemainingDataSize(internalError);
  if (internalError) return false;
  if (pending > bufferSize) {
    // Drain only; the producer waits until the pending bytes fit.
    placeInBuffer(remainingData.data() + remainingDataOffset, bufferSize);
    remainingDataOffset += bufferSize;
    bytesFilled = bufferSize;
    moreToCome = true;
    return true;
  }
  if (pending > 0) {
    placeInBuffer(remainingData.data() + remainingDataOffset, pending);
    remainingData.clear();
    remainingDataOffset = 0;
    safeRestartString = restartString;
  }
  if (!backupFinished && bufferSpanning) {
    stopRequested = false;
    if (!startBackup(firstCall)) {
      logEnvironment.log("fillBuffer", "backup has failed");
      return false;
    }
  }
  bytesFilled = bufferPosition - bufferStart;
  if (!restartString.empty() && bytesFilled != 0) {
    moreToCome = true;
    backupFinished = false;
    return true;
  }
  const uint64_t left = getRemainingDataSize(internalError);
  if (internalError) return false;
  moreToCome = left > 0;
  backupFinished = true;
  return true;
}

std::string OrbBufferedOutput::getSafeRestartString() { return safeRestartString; }

std::string OrbBufferedOutput::getRestartString() { return restartString; }

void OrbBufferedOutput::setBufferSpanning(bool spanning) { bufferSpanning = spanning; }

uint64_t OrbBufferedOutput::getRemainingDataSize(bool& internalError) {
  // Unreachable through this class: the offset never passes the pending text.
  internalError = remainingDataOffset > remainingData.size();
  if (!internalError) return remainingData.size() - remainingDataOffset;
  logInconsistentOffset();
  return 0;
}

void OrbBufferedOutput::logInconsistentOffset() {
  logEnvironment.log("getRemainingDataSize",
                     "INTERNAL ERROR remainingDataOffset " + std::to_string(remainingDataOffset) +
                         " > stringLength " + std::to_string(remainingData.size()));
}

bool OrbBufferedOutput::debugPutString(const std::string& s) {
  if (!debugOutput) return true;
  if (debugOutput->putString(s)) return true;
  logEnvironment.log("debugPutString", "Failed to write to debug output file");
  return false;
}

void OrbBufferedOutput::setDebugOutputFile(const std::string& path) {
  std::string folder;
  std::string fileName;
  if (!parsePath(path, folder, fileName)) {
    logEnvironment.log("setDebugOutputFile", "Cannot parse debug file path '" + path + "'");
    return;
  }
  if (access(folder.c_str(), F_OK) != 0) {
    int errorCode = 0;
    if (!recursiveMkdir(folder, kDebugFolderMode, errorCode)) {
      logEnvironment.log("setDebugOutputFile", "Cannot create parent folder for debug file path '" +
                                                   path + "' with error code " +
                                                   std::to_string(errorCode));
    }
  }
  logEnvironment.log("setDebugOutputFile",
                     "troubleshooting data will be written to '" + path + "'");
  if (debugOutput && !debugOutput->close(std::string())) {
    logEnvironment.log("setDebugOutputFile", "Flush of previous debug file failed");
  }
  debugOutput = std::make_shared<OrbOutputFile>(folder, fileName, logEnvironment);
}
