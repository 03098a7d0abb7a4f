// The host simulator: plays the data mover against the plug-in. A backup
// stream (one agent's buffered output) is read through the factory's
// drivers, one cloud file at a time, and each cloud file is stored as an
// object of a bucket; a restore writes the objects back through new drivers
// into the agent's buffered input.
//
// Beside its cloud files "part-NNNNNN" every stream keeps a "manifest" that
// lists them in order with size, checksum (XXH3, 64 bits), line count, the
// store's tag (S3's ETag) and the agent's safe restart string after each
// one, and ends
// with "complete" once the stream has ended. A cloud file is stored before
// the manifest that names it, and the manifest is replaced after each one,
// so an interrupted backup resumes from the last stored cloud file: nothing
// is lost and nothing stored twice.
//
// The functions here run one stream on the calling thread; several streams
// may run on several threads with buckets and agents of their own (Progress
// may be shared). Every failure comes back as false with one line of text
// naming what failed.
#ifndef CLOUDDB_TOOLS_MOVER_MOVER_H_
#define CLOUDDB_TOOLS_MOVER_MOVER_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "tools/cloud/AwsConfig.h"
#include "tools/mover/Bucket.h"

namespace mover {

struct CloudFileEntry {
  std::string name;
  uint64_t size = 0;
  uint64_t checksum = 0;
  uint64_t lines = 0;   // line feeds in it: a line-based agent's record count
  std::string tag;      // the store's identity of the object; may be empty
  std::string restart;  // the agent's safe restart string after this file
};

struct Manifest {
  // missing: the bucket holds no manifest (no backup yet).
  bool load(Bucket& bucket, bool& missing, std::string& error);
  bool save(Bucket& bucket, std::string& error, const std::string& crashScope = "") const;
  // Where a resumed backup continues: the last stored safe restart string.
  std::string resumeFrom() const { return files.empty() ? "" : files.back().restart; }
  uint64_t lines() const;
  uint64_t bytes() const;

  std::vector<CloudFileEntry> files;
  bool complete = false;
};

// Progress of all running streams on standard error, at most five times a
// second, when it is a terminal. Any thread may report; reporting takes no
// lock.
class Progress {
 public:
  Progress(bool enabled, const char* verb);
  ~Progress();

  void add(uint64_t bytes, size_t cloudFiles);

 private:
  using Clock = std::chrono::steady_clock;
  const bool enabled_;
  const char* verb_;
  const Clock::time_point start_ = Clock::now();
  std::atomic<uint64_t> bytes_{0};
  std::atomic<size_t> cloudFiles_{0};
  std::atomic<int64_t> lastShown_{0};  // nanoseconds since start_; 0: never
};

struct StreamOptions {
  long long limit = 1048576;  // approximate cloud file size; 0: one cloud file
  size_t buffer = 1048576;    // the data mover's read and write buffer
  size_t stopAfter = 0;       // stop after storing this many cloud files; 0: never
  Progress* progress = nullptr;
  std::string crashScope;  // names this stream's crash points too (see crashPoint)
  // Restores: the cloud files before firstFile were written by an earlier
  // run; fileDone(n) is told that the first n are written completely.
  size_t firstFile = 0;
  std::function<bool(size_t, std::string&)> fileDone;
};

struct StreamResult {
  size_t cloudFiles = 0;     // cloud files stored or written in this run
  uint64_t streamBytes = 0;  // bytes of the backup stream moved
  bool stopped = false;      // the backup stopped early (stopAfter)
};

// Backs agent up into bucket, appending to manifest (loaded for a resume,
// empty for a new backup).
bool backupStream(Bucket& bucket, Manifest& manifest, std::shared_ptr<OrbBufferedOutput> agent,
                  const StreamOptions& options, StreamResult& result, std::string& error);
// Checks every cloud file of manifest before anything is restored: listed
// with its size, and its store's tag or (a store that keeps none) its
// checksum read back.
bool verifyStream(Bucket& bucket, const Manifest& manifest, std::string& error);
// Checks a stream that a backup has just stored: its manifest read back
// equals manifest, and verifyStream.
bool verifyBackup(Bucket& bucket, const Manifest& manifest, std::string& error);
// Writes every cloud file of manifest through its own driver into agent,
// each read whole and checked against its checksum first.
bool restoreStream(Bucket& bucket, const Manifest& manifest,
                   std::shared_ptr<OrbBufferedInput> agent, const StreamOptions& options,
                   StreamResult& result, std::string& error);

// Where a new backup can go: a bucket without a manifest, or with an
// unfinished one when resuming. Loads that manifest.
bool prepareBackup(Bucket& bucket, bool resume, Manifest& manifest, std::string& error);
// A complete backup's manifest, verified.
bool prepareRestore(Bucket& bucket, Manifest& manifest, std::string& error);

// A restore into target may begin: target holds nothing (but an earlier
// restore's staging folder), or force says to write among what it holds.
bool checkTargetEmpty(const std::string& target, bool force, std::string& error);

// A restore's staging folder in its target directory: the restore writes
// its files there, and they move into the target only when all are
// complete. A staging folder whose files were not published is removed
// with everything in it when the object goes.
class Staging {
 public:
  explicit Staging(const std::string& target);
  ~Staging();

  // Creates the folder (owner-only) empty, with the target's missing parents.
  bool create(std::string& error);
  // Moves every file of the folder into the target and removes the folder.
  bool publish(std::string& error);
  const std::string& path() const { return path_; }

 private:
  std::string target_;
  std::string path_;
  bool created_ = false;
};

class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Runs work(0) ... work(count - 1) on threads of their own and waits for
// them; false with the first failure's message.
bool inParallel(int count, const std::function<bool(int, std::string&)>& work, std::string& error);

// Crash test hook: CLOUDDB_MOVER_CRASH_AT="{event}:{n}" kills the process the
// n-th time it reaches event, as a power cut or kill -9 would, and
// "{scope}/{event}:{n}" the n-th time it reaches event in a stream of that
// crash scope.
void crashPoint(const char* event, const std::string& scope = "");

// The dump-directory commands.
struct BackupOptions {
  std::string source;
  std::string bucket;
  bool resume = false;
  std::string debugCopy;
  StreamOptions stream;
  cloud::ConfigOverrides cloud;
};

struct RestoreOptions {
  std::string bucket;
  std::string target;
  bool force = false;  // restore into a directory that holds files
  StreamOptions stream;
  cloud::ConfigOverrides cloud;
};

struct TransferResult {
  size_t cloudFiles = 0;
  uint64_t streamBytes = 0;
  uint64_t contentBytes = 0;  // bytes of dump-file content moved
  double seconds = 0;
  bool stopped = false;
};

bool runBackup(const BackupOptions& options, TransferResult& result, std::string& error);
bool runRestore(const RestoreOptions& options, TransferResult& result, std::string& error);

// The largest object that one S3 PUT takes, and so the largest cloud file.
constexpr long long kMaxObjectBytes = 5LL << 30;

// The longest line a restore hands an agent: a 400 KB item whose every byte
// is escaped in JSON (\u00XX) is 2.4 MB, and a stream record holds two
// images of an item; 8 MiB leaves a margin.
constexpr size_t kMaxLineBytes = size_t{8} << 20;

// Whether limit suits the bucket at location (an S3 object is one PUT).
bool checkLimit(const std::string& location, long long limit, std::string& error);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_MOVER_H_
