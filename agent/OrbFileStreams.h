// Agent streams on plain local files. The path is the directory with the
// file name appended by the host's path join.
//
// OrbOutputFile creates or truncates its file at construction and writes
// texts unchanged. A file that cannot be opened is logged once to the host
// debug log; every later putString then fails silently. A write that leaves
// the stream in error is logged and fails, as does every later one.
//
// OrbInputFile delivers the file's lines without their line feeds (a
// carriage return stays part of the line); a last line without a line feed
// is delivered too. A file that cannot be opened makes error() true.
//
// Each stream owns its file and closes it when destroyed; neither calls
// setFailure. One thread at a time.
#ifndef CLOUDDB_AGENT_ORBFILESTREAMS_H_
#define CLOUDDB_AGENT_ORBFILESTREAMS_H_

#include <fstream>
#include <string>

#include "agent/OrbInterfaces.h"

class CLOUDDB_EXPORT OrbOutputFile : public OrbOutput {
 public:
  OrbOutputFile(const std::string& directory, const std::string& fileName,
                OrbEnvironment& environment);
  ~OrbOutputFile() override;

  bool putString(const std::string& text) override;
  // A file keeps no restart string.
  void updateRestart(const std::string& restart) override;
  // True when everything written so far reached the file.
  bool flush() override;
  // Flushes and closes; returns the flush result.
  bool close(const std::string& restart) override;

 protected:
  std::string path;
  std::ofstream stream;
  bool openFailed;
};

class CLOUDDB_EXPORT OrbInputFile : public OrbInput {
 public:
  OrbInputFile(const std::string& directory, const std::string& fileName,
               OrbEnvironment& environment);
  ~OrbInputFile() override;

  // True when the file could not be opened or a read failed badly; the end
  // of the file is not an error.
  bool error() override;
  bool getLine(std::string& line) override;
  // Closes the file; true only when it was closed before reaching its end.
  bool close() override;

  // Replaces text with the whole file at path; empty when it cannot be read.
  static void fileToString(const std::string& path, std::string& text);

 protected:
  std::string path;
  std::ifstream stream;
};

#endif  // CLOUDDB_AGENT_ORBFILESTREAMS_H_
