// The backup end of the pipe: turns the strings an agent puts into the byte
// buffers that the data mover reads.
//
// The remote-file driver answers every read by calling fillBuffer with the
// data mover's own buffer. fillBuffer first hands over bytes left pending
// from earlier strings, then calls the subclass's startBackup on the same
// thread; inside it the producer calls putString, which copies straight into
// that buffer. A string that does not fit is split at the buffer's end
// (spanning on) or held back whole (spanning off); the overflow waits in
// remainingData for the next fillBuffer. stopNow turns true when the buffer
// is full, and the producer then records its resume point with
// updateRestart and returns. An empty restart string means that production
// is over.
//
// The object never owns the caller's buffer: it is valid only during the
// fillBuffer call that attached it, and a putString outside fillBuffer only
// adds pending bytes. The object owns its pending bytes, its restart strings
// and its lock, and shares debugOutput.
//
// Not safe for concurrent use; no operation takes a lock. Failures are false
// results with a message logged through the environment; none of them sets
// the environment's failure text.
#ifndef CLOUDDB_AGENT_ORBBUFFEREDOUTPUT_H_
#define CLOUDDB_AGENT_ORBBUFFEREDOUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/OrbInterfaces.h"

class CLOUDDB_EXPORT OrbBufferedOutput : public OrbOutput {
 public:
  // Pending bytes are capped so that a producer that ignores stopNow cannot
  // exhaust memory.
  static constexpr uint64_t kMaxPendingBytes = 104857600;

  OrbBufferedOutput(const std::string& name, OrbEnvironment& environment);
  ~OrbBufferedOutput() override;

  // Accepts one piece of output; false when it was refused or its debug copy
  // failed.
  bool putString(const std::string& text) override;
  // Records the restart string; it also becomes the safe one when every byte
  // put so far is already in a caller's buffer.
  void updateRestart(const std::string& restart) override;
  bool flush() override;
  bool close(const std::string& restart) override;
  // True when the attached buffer is full or the producer was asked to stop;
  // also true between fills, when no buffer is attached.
  bool stopNow() override;

  // Fills buffer with up to size bytes. bytesFilled receives the count and
  // moreToCome whether later calls will deliver more.
  virtual bool fillBuffer(void* buffer, size_t size, size_t& bytesFilled, bool& moreToCome);
  // The subclass's one-time preparation, retried until it succeeds once.
  virtual bool initializeBackup() = 0;
  // The subclass's production for one fillBuffer; firstCall is true in the
  // call that has just run initializeBackup.
  virtual bool startBackup(bool firstCall) = 0;
  // The latest restart string before which every byte has been handed over.
  virtual std::string getSafeRestartString();
  virtual std::string getRestartString();
  virtual void setBufferSpanning(bool spanning);
  // Bytes put but not yet handed over; internalError is set (and 0
  // returned) when the accounting is inconsistent.
  virtual uint64_t getRemainingDataSize(bool& internalError);
  // From now on copies every accepted string to the local file at path (its
  // folder created with mode 0700 when missing), replacing and closing any
  // previous copy. Problems are only logged; an unopenable path makes every
  // later putString fail until a usable path is set.
  virtual void setDebugOutputFile(const std::string& path);

  // Writes s to the debug copy, if there is one.
  bool debugPutString(const std::string& s);

 protected:
  char* bufferStart;
  uint64_t bufferSize;
  char* bufferPosition;
  uint64_t bufferRemaining;
  std::string remainingData;
  uint64_t remainingDataOffset;
  std::string restartString;
  std::string safeRestartString;
  bool restartIsSafe;
  bool firstFill;
  bool bufferSpanning;
  bool stopRequested;
  bool backupFinished;
  OrbEnvironment& logEnvironment;
  std::unique_ptr<MxCriticalSectionH> lock;
  std::shared_ptr<OrbOutput> debugOutput;

 private:
  CLOUDDB_LOCAL bool putPending(const std::string& s, uint64_t pending);
  CLOUDDB_LOCAL void placeInBuffer(const char* data, uint64_t size);
  CLOUDDB_LOCAL bool fillAttached(bool firstCall, size_t& bytesFilled, bool& moreToCome);
  CLOUDDB_LOCAL __attribute__((cold, noinline)) void logInconsistentOffset();
};

#endif  // CLOUDDB_AGENT_ORBBUFFEREDOUTPUT_H_
