// The host simulator: plays the data mover against the plug-in, storing
// each cloud file of a backup in a bucket directory and writing them back on
// restore.
//
// A bucket holds the cloud files "part-NNNNNN" and a "manifest" that lists
// them in order with size, checksum (XXH3, 64 bits) and the agent's safe
// restart string after each one, and ends with "complete" once the backup
// has ended. Cloud files are written under a ".tmp" name and renamed when
// complete; the manifest is replaced atomically after each one, so an
// interrupted backup never leaves anything half-written looking complete and
// resumes from the last stored file.
//
// Every failure comes back as false with one line of text naming what
// failed.
#ifndef CLOUDDB_TOOLS_MOVER_MOVER_H_
#define CLOUDDB_TOOLS_MOVER_MOVER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mover {

struct CloudFileEntry {
  std::string name;
  uint64_t size = 0;
  uint64_t checksum = 0;
  std::string restart;  // the agent's safe restart string after this file
};

struct Manifest {
  // Missing or unreadable manifests give false with the reason.
  bool load(const std::string& bucket, std::string& error);
  bool save(const std::string& bucket, std::string& error) const;

  std::vector<CloudFileEntry> files;
  bool complete = false;
};

struct BackupOptions {
  std::string source;
  std::string bucket;
  long long limit = 1048576;
  size_t buffer = 1048576;
  bool resume = false;
  std::string debugCopy;
  size_t stopAfter = 0;  // stop after storing this many cloud files; 0: never
  bool progress = false;
};

struct RestoreOptions {
  std::string bucket;
  std::string target;
  size_t buffer = 1048576;
  bool progress = false;
};

struct TransferResult {
  size_t cloudFiles = 0;      // cloud files stored or written in this run
  uint64_t streamBytes = 0;   // bytes of the backup stream moved
  uint64_t contentBytes = 0;  // bytes of dump-file content moved
  double seconds = 0;
  bool stopped = false;  // the backup stopped early (stopAfter)
};

bool runBackup(const BackupOptions& options, TransferResult& result, std::string& error);
bool runRestore(const RestoreOptions& options, TransferResult& result, std::string& error);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_MOVER_H_
