// The reference agent: backs up a directory of DynamoDB dump files as one
// stream of text lines and recreates the files from those lines on restore.
//
// Framing: every putString is one whole line, so cloud files end on line
// boundaries. A file is "F <name>", then "D <bytes>" lines carrying up to 4 KiB
// of its content each, then "E". Line feeds, carriage returns and
// backslashes in names and contents are escaped; every other byte, NUL
// included, is copied as it is. Files therefore come back byte for byte:
// empty ones, ones whose last line has no line feed, ones with carriage
// returns or NUL bytes.
//
// Restart strings name the next record: "{file index}:{offset}:{stage}" over
// the sorted list of dump files, so a backup resumed from a safe restart
// string continues exactly where the stored data stops.
//
// Both classes run on the data mover's thread inside the pipe's calls; a
// failure records its reason with the environment's setFailure.
#ifndef CLOUDDB_TOOLS_AGENTS_DUMPAGENT_H_
#define CLOUDDB_TOOLS_AGENTS_DUMPAGENT_H_

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "agent/OrbEnvironment.h"

namespace mover {

// What a dump file holds, from its name.
struct FileIdentity {
  enum Kind { kScan, kShard, kMetadata, kDescription } kind;
  std::string name;  // scan or shard name
  int64_t number;    // scan or shard number
};

// False for a name that is not a dump file's.
bool identifyDumpFile(const std::string& fileName, FileIdentity& identity);

// The dump files of a directory, sorted by name.
std::vector<std::string> listDumpFiles(const std::string& directory);

// Backup side: reads the dump files of the source directory in order.
class DumpOutput : public OrbBufferedOutput {
 public:
  // restart is the safe restart string to resume from; empty to start.
  DumpOutput(OrbEnvironment& environment, std::string sourceDirectory, std::string restart);

  bool initializeBackup() override;
  bool startBackup(bool firstCall) override;

  // Bytes of dump-file content read so far.
  uint64_t contentBytes() const { return contentBytes_; }

 private:
  enum Stage { kHeader = 0, kData = 1, kEnd = 2 };

  bool putRecord(const std::string& record);
  bool putNextRecord();
  bool openCurrentFile();
  std::string position() const;

  std::string sourceDirectory_;
  std::string resumeFrom_;
  std::vector<std::string> files_;
  size_t fileIndex_ = 0;
  uint64_t offset_ = 0;
  Stage stage_ = kHeader;
  std::ifstream current_;
  std::string chunk_;
  uint64_t contentBytes_ = 0;
};

// Restore side: recreates the files through the environment's outputs.
class DumpInput : public OrbBufferedInput {
 public:
  explicit DumpInput(OrbEnvironment& environment);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;

  // Every file begun has been ended.
  bool complete() const { return !output_; }
  uint64_t contentBytes() const { return contentBytes_; }

 private:
  bool apply(const std::string& record);
  bool fail(const std::string& reason);

  std::shared_ptr<OrbOutput> output_;
  std::string fileName_;
  std::string line_;
  std::string bytes_;
  uint64_t contentBytes_ = 0;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_DUMPAGENT_H_
