// The agent's stream and environment interfaces.
//
// The agent never opens files or buffers itself: it asks an OrbEnvironment
// for every stream it writes or reads. An environment hands each stream out
// as a shared pointer; the stream keeps a plain reference to the
// environment, which must outlive it.
//
// OrbOutput takes texts and restart strings; OrbInput delivers lines. Both
// report success as a bool and never throw for a failed operation; only
// allocation failure propagates. A stream is used by one thread at a time.
//
// OrbEnvironment also keeps the failure record: every message given to
// setFailure, joined by "; ". setFailure, isFailed and getFailure may be
// called from any thread; the record only grows.
#ifndef CLOUDDB_AGENT_ORBINTERFACES_H_
#define CLOUDDB_AGENT_ORBINTERFACES_H_

#include <cstdint>
#include <memory>
#include <string>

#include "host/MxLib.h"
#include "util/CloudDBExport.h"

class OrbEnvironment;

class CLOUDDB_EXPORT OrbOutput {
 public:
  OrbOutput(const std::string& name, OrbEnvironment& environment);
  virtual ~OrbOutput();

  OrbOutput(const OrbOutput&) = delete;
  OrbOutput& operator=(const OrbOutput&) = delete;

  // Writes text; true on success.
  virtual bool putString(const std::string& text) = 0;
  // Records the restart string that belongs to everything written so far.
  virtual void updateRestart(const std::string& restart) = 0;
  virtual bool flush() = 0;
  // Ends the stream with its final restart string.
  virtual bool close(const std::string& restart) = 0;
  // Whether the writer should stop producing for now. False here.
  virtual bool stopNow();

 protected:
  std::string name;

 public:
  OrbEnvironment& environment;
};

class CLOUDDB_EXPORT OrbInput {
 public:
  OrbInput(const std::string& name, OrbEnvironment& environment);
  virtual ~OrbInput();

  OrbInput(const OrbInput&) = delete;
  OrbInput& operator=(const OrbInput&) = delete;

  virtual bool error() = 0;
  // Delivers the next line without its line feed; false at the end or on
  // error. What a line is belongs to the stream: a file input keeps a
  // carriage return before the line feed, a buffered input drops it, and a
  // string input delivers its whole content as one line, line feeds included.
  virtual bool getLine(std::string& line) = 0;
  virtual bool close() = 0;
  // The rest of the input, its lines joined by "\n" (empty lines before the
  // first non-empty text are lost). Returns !error().
  virtual bool getContents(std::string& text);

 protected:
  std::string name;

 public:
  OrbEnvironment& environment;

 protected:
  bool failed;
};

class CLOUDDB_EXPORT OrbEnvironment {
 public:
  explicit OrbEnvironment(const std::string& name);
  virtual ~OrbEnvironment();

  OrbEnvironment(const OrbEnvironment&) = delete;
  OrbEnvironment& operator=(const OrbEnvironment&) = delete;

  // Writes a diagnostic; function is the bare name of the reporting operation.
  virtual void log(const char* function, const std::string& message) = 0;

  virtual std::shared_ptr<OrbOutput> createScanOutput(const std::string& scanName,
                                                      uint32_t scanNumber) = 0;
  virtual std::shared_ptr<OrbOutput> createShardOutput(const std::string& context,
                                                       const std::string& shardName,
                                                       int64_t shardNumber) = 0;
  virtual std::shared_ptr<OrbOutput> createMetadataOutput() = 0;
  virtual std::shared_ptr<OrbOutput> createDescriptionOutput() = 0;
  virtual std::shared_ptr<OrbInput> createScanInput(const std::string& scanName,
                                                    uint32_t scanNumber) = 0;
  virtual std::shared_ptr<OrbInput> createShardInput(const std::string& shardName,
                                                     int64_t shardNumber) = 0;
  virtual std::shared_ptr<OrbInput> createMetadataInput() = 0;
  virtual std::shared_ptr<OrbInput> createDescriptionInput() = 0;

  // Appends message to the failure record ("; " between messages).
  virtual void setFailure(const std::string& message);
  // True once any failure text has been recorded.
  virtual bool isFailed();
  // A copy of the failure record; empty when nothing failed.
  virtual std::string getFailure();

 protected:
  std::string name;
  std::string failure;
  std::unique_ptr<MxCriticalSectionH> failureLock;
};

#endif  // CLOUDDB_AGENT_ORBINTERFACES_H_
