// The smallest streams, which environments hand out where they have no real
// one to give.
//
// OrbOutputError and OrbInputError fail every operation and log
// "Internal error: using input error file" through their environment on
// each use. OrbIgnoreOutput accepts and discards everything, keeping only
// the last restart string. OrbInputFromString delivers its whole content as
// one single line, once.
//
// Each stream keeps a reference to its environment, which must outlive it,
// and is used by one thread at a time.
#ifndef CLOUDDB_AGENT_ORBSIMPLESTREAMS_H_
#define CLOUDDB_AGENT_ORBSIMPLESTREAMS_H_

#include <string>

#include "agent/OrbInterfaces.h"

class CLOUDDB_EXPORT OrbOutputError : public OrbOutput {
 public:
  OrbOutputError(const std::string& name, OrbEnvironment& environment);
  ~OrbOutputError() override;

  bool putString(const std::string& text) override;
  void updateRestart(const std::string& restart) override;
  bool flush() override;
  bool close(const std::string& restart) override;
};

class CLOUDDB_EXPORT OrbInputError : public OrbInput {
 public:
  OrbInputError(const std::string& name, OrbEnvironment& environment);
  ~OrbInputError() override;

  bool error() override;
  bool getLine(std::string& line) override;
  bool close() override;
};

class CLOUDDB_EXPORT OrbIgnoreOutput : public OrbOutput {
 public:
  OrbIgnoreOutput(const std::string& name, OrbEnvironment& environment);
  ~OrbIgnoreOutput() override;

  bool putString(const std::string& text) override;
  void updateRestart(const std::string& restart) override;
  bool flush() override;
  bool close(const std::string& restart) override;

  // The last text given to updateRestart; empty before the first.
  std::string getRestartString() const;

 protected:
  std::string restartString;
};

class CLOUDDB_EXPORT OrbInputFromString : public OrbInput {
 public:
  OrbInputFromString(OrbEnvironment& environment, const std::string& content);
  ~OrbInputFromString() override;

  bool error() override;
  // The first call delivers the whole content as one line, embedded line
  // feeds included; every later call returns false.
  bool getLine(std::string& line) override;
  bool close() override;

 protected:
  std::string content;
  bool delivered;
};

#endif  // CLOUDDB_AGENT_ORBSIMPLESTREAMS_H_
