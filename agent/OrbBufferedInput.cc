#include "agent/OrbBufferedInput.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// size + 1 in decimal, without wrapping at the top of the range.
std::string sizePlusOne(size_t size) {
  return size == SIZE_MAX ? "18446744073709551616" : std::to_string(size + 1);
}

}  // namespace

OrbBufferedInput::OrbBufferedInput(const std::string& name, OrbEnvironment& environment)
    : OrbInput(name, environment),
      bufferStart(nullptr),
      bufferSize(0),
      bufferPosition(nullptr),
      bufferRemaining(0),
      firstProcess(true),
      pendingBuffer(nullptr),
      pendingSize(0),
      pendingCapacity(0),
      logEnvironment(environment),
      lock(new MxCriticalSectionH()) {}

OrbBufferedInput::~OrbBufferedInput() { std::free(pendingBuffer); }

bool OrbBufferedInput::error() { return false; }

bool OrbBufferedInput::getLine(std::string& line) {
  if (bufferRemaining == 0) return false;
  const char* feed = static_cast<const char*>(std::memchr(bufferPosition, '\n', bufferRemaining));
  if (feed == nullptr) {
    partialLine.append(bufferPosition, bufferRemaining);
    bufferPosition += bufferRemaining;
    bufferRemaining = 0;
    return false;
  }
  const uint64_t lineLength = feed - bufferPosition;
  const uint64_t bytesRemoved = lineLength + 1;
  // Unreachable: memchr found the line feed inside the remaining bytes.
  if (bytesRemoved > bufferRemaining) return logLineOverrun(bytesRemoved);
  uint64_t ownBytes = lineLength;
  if (ownBytes > 0 && bufferPosition[ownBytes - 1] == '\r') --ownBytes;
  // clear + append reuses the caller's capacity on the cheapest path.
  line.clear();
  if (partialLine.empty()) {
    line.append(bufferPosition, ownBytes);
  } else {
    // A carriage return that ended the previous buffer belongs to this line end.
    if (lineLength == 0 && partialLine.back() == '\r') partialLine.pop_back();
    line.append(partialLine).append(bufferPosition, ownBytes);
    partialLine.clear();
  }
  bufferPosition += bytesRemoved;
  bufferRemaining -= bytesRemoved;
  return true;
}

bool OrbBufferedInput::logLineOverrun(uint64_t bytesRemoved) {
  logEnvironment.log("getLine", "Internal error with bytesRemoved=" + std::to_string(bytesRemoved) +
                                    " > bufferRemaining=" + std::to_string(bufferRemaining));
  return false;
}

bool OrbBufferedInput::close() { return closeChunk(); }

bool OrbBufferedInput::processBuffer(void* data, size_t size) {
  if (pendingSize != 0 && !deferredProcessBuffer(false)) return false;
  return storePending(data, size);
}

bool OrbBufferedInput::storePending(const void* data, size_t size) {
  if (pendingBuffer == nullptr) {
    pendingBuffer = size == SIZE_MAX ? nullptr : static_cast<char*>(std::malloc(size + 1));
    if (pendingBuffer == nullptr) {
      logEnvironment.log("processBuffer", "Failed to allocate buffer of size " + sizePlusOne(size));
      return false;
    }
    pendingCapacity = size;
  } else if (pendingCapacity < size) {
    char* grown =
        size == SIZE_MAX ? nullptr : static_cast<char*>(std::realloc(pendingBuffer, size + 1));
    if (grown == nullptr) {
      logEnvironment.log("processBuffer", "Failed to reallocate buffer of size " +
                                              std::to_string(pendingCapacity) + " to size " +
                                              sizePlusOne(size));
      std::free(pendingBuffer);
      pendingBuffer = nullptr;
      pendingCapacity = 0;
      return false;
    }
    pendingBuffer = grown;
    pendingCapacity = size;
  }
  if (size != 0) std::memcpy(pendingBuffer, data, size);
  pendingBuffer[size] = '\0';
  pendingSize = size;
  return true;
}

bool OrbBufferedInput::deferredProcessBuffer(bool lastInChunk) {
  if (pendingSize == 0) return true;
  const bool firstCall = firstProcess;
  if (firstProcess) {
    if (!initializeRestore()) {
      logEnvironment.log("deferredProcessBuffer", "restore initialization has failed");
      return false;
    }
    firstProcess = false;
  }
  uint64_t length = pendingSize;
  if (lastInChunk) {
    const char* lastFeed = static_cast<const char*>(memrchr(pendingBuffer, '\n', pendingSize));
    const uint64_t count =
        lastFeed == nullptr ? pendingSize : pendingSize - (lastFeed - pendingBuffer) - 1;
    if (count != 0) {
      logEnvironment.log("deferredProcessBuffer",
                         "Removing " + std::to_string(count) +
                             " bytes from end of the last buffer in the chunk, size " +
                             std::to_string(pendingSize));
    }
    if (count == pendingSize) {
      pendingSize = 0;
      return true;
    }
    length = pendingSize - count;
  }
  bufferStart = bufferPosition = pendingBuffer;
  bufferSize = bufferRemaining = length;
  pendingSize = 0;
  if (handOut(firstCall)) return true;
  logEnvironment.log("deferredProcessBuffer", "restore has failed");
  return false;
}

bool OrbBufferedInput::handOut(bool firstCall) {
  // Unread bytes are dropped however startRestore ends: the storage is reused
  // by the next processBuffer.
  struct Detach {
    uint64_t& remaining;
    ~Detach() { remaining = 0; }
  } detach{bufferRemaining};
  return startRestore(firstCall);
}

bool OrbBufferedInput::closeChunk() {
  const bool processed = deferredProcessBuffer(true);
  // A chunk's unfinished last line never reaches the next chunk.
  partialLine.clear();
  return processed;
}
