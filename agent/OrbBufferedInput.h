// The restore end of the pipe: turns the byte buffers that the data mover
// writes back into the text lines that the agent reads.
//
// The driver passes every written buffer to processBuffer and ends each
// cloud file (one chunk) with closeChunk. Processing runs one buffer late:
// processBuffer keeps a private copy of its buffer and first processes the
// copy kept from the previous call. Processing hands the copy to the line
// reader and calls the subclass's startRestore on the caller's thread; the
// subclass pulls lines with getLine before it returns. closeChunk processes
// the chunk's last copy without the bytes after its last line feed, so a
// chunk's unfinished last line is dropped and never reaches the next chunk.
//
// Lines handed out by getLine are copies. The handed-out buffer is valid only
// while startRestore runs: the bytes that startRestore leaves unread are
// dropped when it returns (only bytes that getLine has already moved into the
// partial line carry over), and the next processBuffer overwrites the
// storage. The object owns its copy (heap storage that only grows), its
// partial line and its lock.
//
// Not safe for concurrent use; no operation takes a lock. Failures are false
// results with a message logged through the environment; a reason reaches
// the data mover only when the subclass records it with setFailure.
#ifndef CLOUDDB_AGENT_ORBBUFFEREDINPUT_H_
#define CLOUDDB_AGENT_ORBBUFFEREDINPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/OrbInterfaces.h"

class CLOUDDB_EXPORT OrbBufferedInput : public OrbInput {
 public:
  OrbBufferedInput(const std::string& name, OrbEnvironment& environment);
  ~OrbBufferedInput() override;

  // Always false: a buffered input is never an error input.
  bool error() override;
  // The next complete line of the handed-out buffer, without its line feed
  // and without a carriage return before it. False when no complete line is
  // left; the bytes of an unfinished line are kept for the next buffer.
  bool getLine(std::string& line) override;
  // Same as closeChunk.
  bool close() override;

  // Processes the buffer kept from the previous call, then keeps a copy of
  // data. False when that processing failed (data is then not kept) or the
  // copy could not be allocated.
  virtual bool processBuffer(void* data, size_t size);
  // Processes the kept copy; lastInChunk drops the bytes after its last
  // line feed. True when there was nothing to process.
  virtual bool deferredProcessBuffer(bool lastInChunk);
  // The subclass's one-time preparation, retried until it succeeds once.
  virtual bool initializeRestore() = 0;
  // The subclass's consumption of one handed-out buffer. firstCall is true in
  // the processing that ran initializeRestore successfully; when that
  // processing handed nothing out (a chunk's only buffer without a line
  // feed), startRestore never sees true.
  virtual bool startRestore(bool firstCall) = 0;
  // Processes the chunk's last buffer and forgets any unfinished line.
  virtual bool closeChunk();

 protected:
  const char* bufferStart;
  uint64_t bufferSize;
  const char* bufferPosition;
  uint64_t bufferRemaining;
  std::string partialLine;
  std::string auxiliaryText;
  bool firstProcess;
  char* pendingBuffer;
  uint64_t pendingSize;
  uint64_t pendingCapacity;
  OrbEnvironment& logEnvironment;
  std::unique_ptr<MxCriticalSectionH> lock;

 private:
  CLOUDDB_LOCAL bool storePending(const void* data, size_t size);
  CLOUDDB_LOCAL bool handOut(bool firstCall);
  CLOUDDB_LOCAL __attribute__((cold, noinline)) bool logLineOverrun(uint64_t bytesRemoved);
};

#endif  // CLOUDDB_AGENT_ORBBUFFEREDINPUT_H_
