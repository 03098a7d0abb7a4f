#include "tools/mover/Mover.h"

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "agent/OrbEnvironment.h"
#include "remotefile/CloudDBRemoteFileFactory.h"
#include "tools/mover/DumpAgent.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

const char kManifestName[] = "manifest";
const char kManifestHeader[] = "clouddb-mover manifest 1";
const char kStagingName[] = ".clouddb-restore-partial";

// Crash test hook: CLOUDDB_MOVER_CRASH_AT="{event}:{n}" kills the process at
// the n-th time it reaches that event ("read", "rename", "renamed",
// "manifest"), as a power cut or kill -9 would.
void crashPoint(const char* event) {
  static const char* setting = std::getenv("CLOUDDB_MOVER_CRASH_AT");
  static long remaining = setting != nullptr ? std::atol(std::strchr(setting, ':') + 1) : 0;
  if (setting == nullptr || std::strncmp(setting, event, std::strlen(event)) != 0 ||
      setting[std::strlen(event)] != ':') {
    return;
  }
  if (--remaining == 0) std::raise(SIGKILL);
}

std::string cloudFileName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "part-%06zu", index);
  return name;
}

std::string join(const std::string& directory, const std::string& name) {
  return (fs::path(directory) / name).string();
}

// Makes a completed file or rename durable.
void syncPath(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Progress on standard error, at most five times a second.
class Progress {
 public:
  Progress(bool enabled, const char* verb) : enabled_(enabled && isatty(2)), verb_(verb) {}
  ~Progress() {
    if (shown_) std::fprintf(stderr, "\n");
  }

  void update(uint64_t bytes, size_t cloudFiles) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s: %.1f MiB, %zu cloud files, %.1f MiB/s   ", verb_, bytes / 1048576.0,
                 cloudFiles, seconds > 0 ? bytes / 1048576.0 / seconds : 0.0);
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  const char* verb_;
  bool shown_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_;
};

class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Size and checksum of a stored cloud file; false when it cannot be read.
bool measureFile(const std::string& path, uint64_t& size, uint64_t& checksum) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  XXH3_state_t* state = XXH3_createState();
  XXH3_64bits_reset(state);
  std::vector<char> chunk(1 << 16);
  size = 0;
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    XXH3_64bits_update(state, chunk.data(), static_cast<size_t>(in.gcount()));
    size += static_cast<uint64_t>(in.gcount());
  }
  checksum = XXH3_64bits_digest(state);
  XXH3_freeState(state);
  return !in.bad();
}

std::string driverError(MXBaseRemoteFile& driver) {
  return driver.GetLastErrorString() + " (code " + std::to_string(driver.GetLastErrorCode()) + ")";
}

// Reads one cloud file from the driver into path; its size and checksum are
// returned.
bool readCloudFile(MXBaseRemoteFile& driver, std::vector<char>& buffer, const std::string& path,
                   CloudFileEntry& entry, Progress& progress, uint64_t streamBytes,
                   size_t cloudFiles, std::string& error) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    error = "cannot create " + path;
    return false;
  }
  XXH3_state_t* state = XXH3_createState();
  XXH3_64bits_reset(state);
  entry.size = 0;
  bool ok = true;
  while (true) {
    long long bytesRead = 0;
    if (!driver.ReadFile(buffer.data(), static_cast<long long>(buffer.size()), bytesRead)) {
      error = "reading cloud file " + entry.name + " failed: " + driverError(driver);
      ok = false;
      break;
    }
    if (bytesRead == 0) break;
    crashPoint("read");
    if (std::fwrite(buffer.data(), 1, bytesRead, out) != static_cast<size_t>(bytesRead)) {
      error = "cannot write " + path;
      ok = false;
      break;
    }
    XXH3_64bits_update(state, buffer.data(), static_cast<size_t>(bytesRead));
    entry.size += static_cast<uint64_t>(bytesRead);
    progress.update(streamBytes + entry.size, cloudFiles);
  }
  entry.checksum = XXH3_64bits_digest(state);
  XXH3_freeState(state);
  if (std::fflush(out) != 0 || fsync(fileno(out)) != 0) {
    if (ok) error = "cannot write " + path;
    ok = false;
  }
  std::fclose(out);
  return ok;
}

// Checks every cloud file of the manifest before anything is restored.
bool verifyBucket(const std::string& bucket, const Manifest& manifest, std::string& error) {
  for (const CloudFileEntry& entry : manifest.files) {
    const std::string path = join(bucket, entry.name);
    uint64_t size = 0;
    uint64_t checksum = 0;
    if (!fs::is_regular_file(path)) {
      error = "missing cloud file: " + path;
      return false;
    }
    if (!measureFile(path, size, checksum) || size != entry.size || checksum != entry.checksum) {
      error = "corrupt cloud file: " + path + " (size or checksum differs from the manifest)";
      return false;
    }
  }
  return true;
}

bool writeCloudFile(MXBaseRemoteFile& driver, const std::string& path, std::vector<char>& buffer,
                    std::string& error) {
  std::ifstream in(path, std::ios::binary);
  const std::string name = fs::path(path).filename().string();
  if (!driver.CreateCloudFile(name, MXRFInfo())) {
    error = "creating cloud file " + name + " failed: " + driverError(driver);
    return false;
  }
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    if (!driver.WriteFile(buffer.data(), in.gcount())) {
      error = "writing cloud file " + name + " failed: " + driverError(driver);
      return false;
    }
  }
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  if (!driver.CloseFile()) {
    error = "closing cloud file " + name + " failed: " + driverError(driver);
    return false;
  }
  return true;
}

// Moves the restored files from the staging folder into the target.
bool publish(const std::string& staging, const std::string& target, std::string& error) {
  std::error_code code;
  for (const auto& entry : fs::directory_iterator(staging)) {
    fs::rename(entry.path(), fs::path(target) / entry.path().filename(), code);
    if (code) {
      error = "cannot move " + entry.path().string() + " into " + target + ": " + code.message();
      return false;
    }
  }
  fs::remove(staging, code);
  return true;
}

}  // namespace

bool Manifest::load(const std::string& bucket, std::string& error) {
  const std::string path = join(bucket, kManifestName);
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line) || line != kManifestHeader) {
    error = "no manifest in " + bucket;
    return false;
  }
  files.clear();
  complete = false;
  while (std::getline(in, line)) {
    if (line == "complete") {
      complete = true;
      continue;
    }
    std::istringstream fields(line);
    CloudFileEntry entry;
    std::string checksum;
    if (complete || !(fields >> entry.name >> entry.size >> checksum >> entry.restart)) {
      error = "corrupt manifest: " + path;
      return false;
    }
    entry.checksum = std::stoull(checksum, nullptr, 16);
    if (entry.restart == "-") entry.restart.clear();
    files.push_back(entry);
  }
  return true;
}

bool Manifest::save(const std::string& bucket, std::string& error) const {
  const std::string path = join(bucket, kManifestName);
  const std::string temporary = path + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) {
    error = "cannot write " + temporary;
    return false;
  }
  std::fprintf(out, "%s\n", kManifestHeader);
  for (const CloudFileEntry& entry : files) {
    std::fprintf(out, "%s %" PRIu64 " %016" PRIx64 " %s\n", entry.name.c_str(), entry.size,
                 entry.checksum, entry.restart.empty() ? "-" : entry.restart.c_str());
  }
  if (complete) std::fprintf(out, "complete\n");
  const bool written = std::fflush(out) == 0 && fsync(fileno(out)) == 0;
  std::fclose(out);
  crashPoint("manifest");
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path;
    return false;
  }
  syncPath(bucket);
  return true;
}

bool runBackup(const BackupOptions& options, TransferResult& result, std::string& error) {
  std::error_code code;
  fs::create_directories(options.bucket, code);
  Manifest manifest;
  const bool hasManifest = fs::exists(join(options.bucket, kManifestName));
  if (options.resume && hasManifest) {
    if (!manifest.load(options.bucket, error)) return false;
    if (manifest.complete || (!manifest.files.empty() && manifest.files.back().restart.empty())) {
      error = "the backup in " + options.bucket + " is already complete";
      return false;
    }
  } else if (hasManifest) {
    error = options.bucket + " already holds a backup (use --resume or an empty bucket)";
    return false;
  }
  // Leftovers of an interrupted run are never part of the backup.
  for (const auto& entry : fs::directory_iterator(options.bucket)) {
    if (entry.path().extension() == ".tmp") fs::remove(entry.path(), code);
  }

  OrbPrototypeEnvironment environment(options.source);
  const std::string restart = manifest.files.empty() ? "" : manifest.files.back().restart;
  auto agent = std::make_shared<DumpOutput>(environment, options.source, restart);
  if (!options.debugCopy.empty()) agent->setDebugOutputFile(options.debugCopy);
  CloudDBRemoteFileFactory factory(agent, options.limit);
  std::vector<char> buffer(options.buffer);
  Progress progress(options.progress, "backup");
  Stopwatch stopwatch;

  for (size_t index = manifest.files.size();; ++index) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), options.bucket, 0);
    CloudFileEntry entry;
    entry.name = cloudFileName(index);
    const std::string path = join(options.bucket, entry.name);
    if (!driver->OpenCloudFile(entry.name)) {
      error = "opening cloud file " + entry.name + " failed: " + driverError(*driver);
      return false;
    }
    if (!readCloudFile(*driver, buffer, path + ".tmp", entry, progress, result.streamBytes,
                       result.cloudFiles, error)) {
      return false;
    }
    driver->CloseFile();
    MXRFInfo info;
    driver->GetFileInfo(info);
    const bool ended = factory.getLastRemoteFile()->isEndOfBackup();
    if (entry.size == 0 && ended) {
      fs::remove(path + ".tmp", code);
    } else {
      crashPoint("rename");
      if (std::rename((path + ".tmp").c_str(), path.c_str()) != 0) {
        error = "cannot rename " + path + ".tmp";
        return false;
      }
      crashPoint("renamed");
      entry.restart = agent->getSafeRestartString();
      manifest.files.push_back(entry);
      ++result.cloudFiles;
      result.streamBytes += entry.size;
    }
    manifest.complete = ended;
    if (!manifest.save(options.bucket, error)) return false;
    if (ended) break;
    if (options.stopAfter != 0 && result.cloudFiles == options.stopAfter) {
      result.stopped = true;
      break;
    }
  }
  result.contentBytes = agent->contentBytes();
  result.seconds = stopwatch.seconds();
  return true;
}

bool runRestore(const RestoreOptions& options, TransferResult& result, std::string& error) {
  Manifest manifest;
  if (!manifest.load(options.bucket, error)) return false;
  if (!manifest.complete) {
    error = "the backup in " + options.bucket + " is incomplete (finish it with backup --resume)";
    return false;
  }
  if (!verifyBucket(options.bucket, manifest, error)) return false;

  std::error_code code;
  const std::string staging = join(options.target, kStagingName);
  fs::remove_all(staging, code);
  if (!fs::create_directories(staging, code)) {
    error = "cannot create " + staging;
    return false;
  }
  OrbPrototypeEnvironment environment(staging);
  auto agent = std::make_shared<DumpInput>(environment);
  CloudDBRemoteFileFactory factory;
  factory.input = agent;
  std::vector<char> buffer(options.buffer);
  Progress progress(options.progress, "restore");
  Stopwatch stopwatch;

  for (const CloudFileEntry& entry : manifest.files) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), options.bucket, 0);
    if (!writeCloudFile(*driver, join(options.bucket, entry.name), buffer, error)) return false;
    ++result.cloudFiles;
    result.streamBytes += entry.size;
    progress.update(result.streamBytes, result.cloudFiles);
  }
  if (!agent->complete()) {
    error = "the backup in " + options.bucket + " ends inside a file";
    return false;
  }
  if (!publish(staging, options.target, error)) return false;
  result.contentBytes = agent->contentBytes();
  result.seconds = stopwatch.seconds();
  return true;
}

}  // namespace mover
