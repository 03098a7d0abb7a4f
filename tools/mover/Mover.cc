#include "tools/mover/Mover.h"

#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "remotefile/CloudDBRemoteFileFactory.h"
#include "tools/agents/DumpAgent.h"
#include "tools/agents/LineEscape.h"
#include "tools/mover/BucketLock.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

const char kManifestName[] = "manifest";
const char kManifestHeader[] = "clouddb-mover manifest 2";
const char kStagingName[] = ".clouddb-restore-partial";

std::string cloudFileName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "part-%06zu", index);
  return name;
}

// XXH3 over the bytes of one cloud file.
class Checksum {
 public:
  Checksum() : state_(XXH3_createState()) { XXH3_64bits_reset(state_); }
  ~Checksum() { XXH3_freeState(state_); }
  Checksum(const Checksum&) = delete;
  Checksum& operator=(const Checksum&) = delete;

  void update(const char* data, size_t size) { XXH3_64bits_update(state_, data, size); }
  uint64_t digest() const { return XXH3_64bits_digest(state_); }

 private:
  XXH3_state_t* state_;
};

// Why the driver failed: its last error, or, when it keeps none (a failed
// CloseFile leaves the error state as it was), the agent's own failure text.
std::string driverError(MXBaseRemoteFile& driver, OrbEnvironment& environment) {
  std::string reason = driver.GetLastErrorString();
  if (reason.empty()) reason = environment.getFailure();
  if (reason.empty()) reason = "the agent gave no reason";
  const long long code = driver.GetLastErrorCode();
  return code == 0 ? reason : reason + " (code " + std::to_string(code) + ")";
}

// Reads one cloud file from the driver into writer; size and checksum go to
// entry.
bool readCloudFile(MXBaseRemoteFile& driver, OrbEnvironment& environment, std::vector<char>& buffer,
                   ObjectWriter& writer, CloudFileEntry& entry, const StreamOptions& options,
                   std::string& error) {
  Checksum checksum;
  entry.size = 0;
  entry.lines = 0;
  while (true) {
    long long bytesRead = 0;
    if (!driver.ReadFile(buffer.data(), static_cast<long long>(buffer.size()), bytesRead)) {
      error = "reading cloud file " + entry.name + " failed: " + driverError(driver, environment);
      return false;
    }
    if (bytesRead == 0) break;
    crashPoint("read", options.crashScope);
    const size_t size = static_cast<size_t>(bytesRead);
    if (!writer.append(buffer.data(), size, error)) return false;
    checksum.update(buffer.data(), size);
    entry.size += size;
    entry.lines += static_cast<uint64_t>(std::count(buffer.data(), buffer.data() + size, '\n'));
    if (options.progress != nullptr) options.progress->add(size, 0);
  }
  entry.checksum = checksum.digest();
  return true;
}

// A stored object read whole, at most limit bytes of it (got more: more
// is stored); missing says that it is not stored at all.
bool readObject(Bucket& bucket, const std::string& name, uint64_t limit, std::string& data,
                bool& more, bool& missing, std::string& error) {
  std::unique_ptr<ObjectReader> reader = bucket.open(name, missing, error);
  if (!reader) return false;
  data.clear();
  char chunk[1 << 16];
  more = false;
  for (size_t got = 1; got > 0;) {
    if (!reader->read(chunk, sizeof chunk, got, error)) return false;
    if (data.size() + got > limit) {
      more = true;
      return true;
    }
    data.append(chunk, got);
  }
  return true;
}

// Size and checksum of a stored object, read in chunks.
bool measureObject(Bucket& bucket, const std::string& name, uint64_t& size, uint64_t& checksum,
                   bool& missing, std::string& error) {
  std::unique_ptr<ObjectReader> reader = bucket.open(name, missing, error);
  if (!reader) return false;
  Checksum sum;
  char chunk[1 << 16];
  size = 0;
  for (size_t got = 1; got > 0; size += got) {
    if (!reader->read(chunk, sizeof chunk, got, error)) return false;
    sum.update(chunk, got);
  }
  checksum = sum.digest();
  return true;
}

uint64_t checksumOf(const std::string& data) {
  Checksum checksum;
  checksum.update(data.data(), data.size());
  return checksum.digest();
}

std::string corrupt(Bucket& bucket, const CloudFileEntry& entry) {
  return "corrupt cloud file: " + bucket.describe(entry.name) +
         " (size or checksum differs from the manifest)";
}

// One stored cloud file, read whole and checked against its manifest entry.
bool readCloudFile(Bucket& bucket, const CloudFileEntry& entry, std::string& data,
                   std::string& error) {
  bool more = false;
  bool missing = false;
  if (!readObject(bucket, entry.name, entry.size, data, more, missing, error)) {
    if (missing) error = "missing cloud file: " + bucket.describe(entry.name);
    return false;
  }
  if (more || data.size() != entry.size || checksumOf(data) != entry.checksum) {
    error = corrupt(bucket, entry);
    return false;
  }
  return true;
}

// Whether every line of data is at most kMaxLineBytes long.
bool linesWithinLimit(const std::string& data) {
  for (size_t start = 0; start < data.size();) {
    const void* found =
        std::memchr(data.data() + start, '\n', std::min(data.size() - start, kMaxLineBytes + 1));
    if (found == nullptr) return data.size() - start <= kMaxLineBytes;
    start = static_cast<const char*>(found) - data.data() + 1;
  }
  return true;
}

// Writes one stored cloud file through the driver, once all of it has
// matched its checksum: the agent never sees an unchecked byte, nor a line
// longer than any an agent writes.
bool writeCloudFile(MXBaseRemoteFile& driver, OrbEnvironment& environment, Bucket& bucket,
                    const CloudFileEntry& entry, size_t buffer, std::string& data,
                    std::string& error) {
  if (!readCloudFile(bucket, entry, data, error)) return false;
  if (!linesWithinLimit(data)) {
    error = "cloud file " + bucket.describe(entry.name) + " holds a line longer than " +
            std::to_string(kMaxLineBytes >> 20) + " MiB, which no item or record makes";
    return false;
  }
  if (!driver.CreateCloudFile(entry.name, MXRFInfo())) {
    error = "creating cloud file " + entry.name + " failed: " + driverError(driver, environment);
    return false;
  }
  for (size_t offset = 0; offset < data.size(); offset += buffer) {
    const size_t size = std::min(buffer, data.size() - offset);
    if (!driver.WriteFile(&data[offset], static_cast<long long>(size))) {
      error = "writing cloud file " + entry.name + " failed: " + driverError(driver, environment);
      return false;
    }
  }
  if (!driver.CloseFile()) {
    error = "closing cloud file " + entry.name + " failed: " + driverError(driver, environment);
    return false;
  }
  return true;
}

// The objects of a listing by name.
std::map<std::string, ListedEntry> byName(std::vector<ListedEntry> objects) {
  std::map<std::string, ListedEntry> named;
  for (ListedEntry& object : objects) named[object.name] = std::move(object);
  return named;
}

bool sameEntries(const CloudFileEntry& a, const CloudFileEntry& b) {
  return a.name == b.name && a.size == b.size && a.checksum == b.checksum && a.lines == b.lines &&
         a.tag == b.tag && a.restart == b.restart;
}

}  // namespace

void crashPoint(const char* event, const std::string& scope) {
  static const char* setting = std::getenv("CLOUDDB_MOVER_CRASH_AT");
  static const char* count = setting != nullptr ? std::strchr(setting, ':') : nullptr;
  static std::atomic<long> remaining{count != nullptr ? std::atol(count + 1) : 0};
  if (count == nullptr) return;
  const std::string wanted(setting, count);
  if (wanted != event && wanted != scope + "/" + event) return;
  if (--remaining == 0) std::raise(SIGKILL);
}

Progress::Progress(bool enabled, const char* verb) : enabled_(enabled && isatty(2)), verb_(verb) {}

Progress::~Progress() {
  if (lastShown_ != 0) std::fprintf(stderr, "\n");
}

void Progress::add(uint64_t bytes, size_t cloudFiles) {
  if (!enabled_) return;
  const uint64_t total = bytes_ += bytes;
  const size_t files = cloudFiles_ += cloudFiles;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start_).count();
  int64_t last = lastShown_;
  // One thread wins the right to print.
  if (now - last < 200000000 || !lastShown_.compare_exchange_strong(last, now)) return;
  const double mebibytes = total / 1048576.0;
  std::fprintf(stderr, "\r%s: %.1f MiB, %zu cloud files, %.1f MiB/s   ", verb_, mebibytes, files,
               now > 0 ? mebibytes * 1e9 / now : 0.0);
}

bool checkTargetEmpty(const std::string& target, bool force, std::string& error) {
  std::error_code code;
  if (force || !fs::exists(target, code)) return true;
  for (const auto& entry : fs::directory_iterator(target, code)) {
    if (entry.path().filename() == kStagingName) continue;
    error = target + " is not empty (use --force to restore among its files)";
    return false;
  }
  return true;
}

Staging::Staging(const std::string& target)
    : target_(target), path_((fs::path(target) / kStagingName).string()) {}

Staging::~Staging() {
  std::error_code code;
  if (created_) fs::remove_all(path_, code);
}

bool Staging::create(std::string& error) {
  std::error_code code;
  fs::remove_all(path_, code);
  int failure = 0;
  // The target's parents may be made by another process at the same moment.
  if (!recursiveMkdir(path_, 0700, failure) && !fs::is_directory(path_)) {
    error = "cannot create " + path_ + ": " + std::strerror(failure);
    return false;
  }
  created_ = true;
  return true;
}

bool Staging::publish(std::string& error) {
  std::error_code code;
  for (const auto& entry : fs::directory_iterator(path_, code)) {
    fs::rename(entry.path(), fs::path(target_) / entry.path().filename(), code);
    if (code) {
      error = "cannot move " + entry.path().string() + " into " + target_ + ": " + code.message();
      return false;
    }
  }
  fs::remove(path_, code);
  created_ = false;
  return true;
}

bool inParallel(int count, const std::function<bool(int, std::string&)>& work, std::string& error) {
  std::vector<std::string> errors(count);
  std::vector<char> ok(count, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&, i] { ok[i] = work(i, errors[i]); });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < count; ++i) {
    if (!ok[i]) {
      error = errors[i];
      return false;
    }
  }
  return true;
}

bool Manifest::load(Bucket& bucket, bool& missing, std::string& error) {
  std::string text;
  if (!bucket.get(kManifestName, text, missing, error)) return false;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kManifestHeader) {
    error = "not a clouddb-mover manifest: " + bucket.describe(kManifestName);
    return false;
  }
  files.clear();
  complete = false;
  while (std::getline(in, line)) {
    if (line == "complete" && !complete) {
      complete = true;
      continue;
    }
    // name size checksum lines tag restart (the rest of the line, escaped)
    std::istringstream fields(line);
    CloudFileEntry entry;
    std::string checksum;
    if (complete || !(fields >> entry.name >> entry.size >> checksum >> entry.lines >> entry.tag) ||
        entry.size > static_cast<uint64_t>(kMaxObjectBytes) || fields.get() != ' ' ||
        !unescapeLine(line.substr(fields.tellg()), entry.restart) || checksum.size() != 16 ||
        checksum.find_first_not_of("0123456789abcdef") != std::string::npos) {
      error = "corrupt manifest: " + bucket.describe(kManifestName);
      return false;
    }
    entry.checksum = std::strtoull(checksum.c_str(), nullptr, 16);
    if (entry.tag == "-") entry.tag.clear();
    // A manifest names its own stream's cloud files, in order, and nothing
    // else.
    if (entry.name != cloudFileName(files.size())) {
      error = "corrupt manifest: " + bucket.describe(kManifestName) + " names " +
              escapeLine(entry.name) + " where " + cloudFileName(files.size()) + " belongs";
      return false;
    }
    files.push_back(entry);
  }
  return true;
}

uint64_t Manifest::lines() const {
  uint64_t total = 0;
  for (const CloudFileEntry& entry : files) total += entry.lines;
  return total;
}

uint64_t Manifest::bytes() const {
  uint64_t total = 0;
  for (const CloudFileEntry& entry : files) total += entry.size;
  return total;
}

bool Manifest::save(Bucket& bucket, std::string& error, const std::string& crashScope) const {
  std::string text = std::string(kManifestHeader) + "\n";
  for (const CloudFileEntry& entry : files) {
    char fields[80];
    std::snprintf(fields, sizeof fields, " %" PRIu64 " %016" PRIx64 " %" PRIu64 " ", entry.size,
                  entry.checksum, entry.lines);
    text += entry.name + fields + (entry.tag.empty() ? "-" : entry.tag) + " " +
            escapeLine(entry.restart) + "\n";
  }
  if (complete) text += "complete\n";
  std::unique_ptr<ObjectWriter> writer = bucket.create(kManifestName, error);
  std::string tag;
  if (!writer || !writer->append(text.data(), text.size(), error)) return false;
  crashPoint("manifest", crashScope);
  return writer->commit(tag, error);
}

bool checkLimit(const std::string& location, long long limit, std::string& error) {
  if (!isS3Location(location) || (limit > 0 && limit <= kMaxObjectBytes)) return true;
  error = "on S3 every cloud file is one object of at most 5 GiB: give --limit from 1 to " +
          std::to_string(kMaxObjectBytes);
  return false;
}

bool prepareBackup(Bucket& bucket, bool resume, Manifest& manifest, std::string& error) {
  bool missing = false;
  if (!manifest.load(bucket, missing, error)) return missing;
  if (!resume) {
    error = bucket.describe("") + " already holds a backup (use --resume or an empty bucket)";
    return false;
  }
  if (manifest.complete) {
    error = "the backup in " + bucket.describe("") + " is already complete";
    return false;
  }
  return true;
}

bool prepareRestore(Bucket& bucket, Manifest& manifest, std::string& error) {
  bool missing = false;
  if (!manifest.load(bucket, missing, error)) {
    if (missing) error = "no backup in " + bucket.describe("") + " (it holds no manifest)";
    return false;
  }
  if (!manifest.complete) {
    error =
        "the backup in " + bucket.describe("") + " is incomplete (finish it with backup --resume)";
    return false;
  }
  return verifyStream(bucket, manifest, error);
}

bool backupStream(Bucket& bucket, Manifest& manifest, std::shared_ptr<OrbBufferedOutput> agent,
                  const StreamOptions& options, StreamResult& result, std::string& error) {
  CloudDBRemoteFileFactory factory(agent, options.limit);
  std::vector<char> buffer(options.buffer);
  for (size_t index = manifest.files.size();; ++index) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), bucket.describe(""), 0);
    CloudFileEntry entry;
    entry.name = cloudFileName(index);
    if (!driver->OpenCloudFile(entry.name)) {
      error = "opening cloud file " + entry.name +
              " failed: " + driverError(*driver, agent->environment);
      return false;
    }
    std::unique_ptr<ObjectWriter> writer = bucket.create(entry.name, error);
    if (!writer ||
        !readCloudFile(*driver, agent->environment, buffer, *writer, entry, options, error)) {
      return false;
    }
    driver->CloseFile();
    MXRFInfo info;
    driver->GetFileInfo(info);
    const bool ended = factory.getLastRemoteFile()->isEndOfBackup();
    if (entry.size != 0 || !ended) {
      crashPoint("commit", options.crashScope);
      if (!writer->commit(entry.tag, error)) return false;
      crashPoint("committed", options.crashScope);
      entry.restart = agent->getSafeRestartString();
      manifest.files.push_back(entry);
      ++result.cloudFiles;
      result.streamBytes += entry.size;
      if (options.progress != nullptr) options.progress->add(0, 1);
    }
    manifest.complete = ended;
    if (!manifest.save(bucket, error, options.crashScope)) return false;
    if (ended) return true;
    if (options.stopAfter != 0 && result.cloudFiles == options.stopAfter) {
      result.stopped = true;
      return true;
    }
  }
}

bool verifyStream(Bucket& bucket, const Manifest& manifest, std::string& error) {
  std::vector<ListedEntry> listing;
  if (!bucket.list(listing, error)) return false;
  const std::map<std::string, ListedEntry> objects = byName(std::move(listing));
  for (const CloudFileEntry& entry : manifest.files) {
    const auto found = objects.find(entry.name);
    if (found == objects.end()) {
      error = "missing cloud file: " + bucket.describe(entry.name);
      return false;
    }
    const ListedEntry& object = found->second;
    bool same = object.size == entry.size;
    if (same && !object.tag.empty() && !entry.tag.empty()) {
      same = object.tag == entry.tag;
    } else if (same) {
      uint64_t size = 0;
      uint64_t checksum = 0;
      bool missing = false;
      if (!measureObject(bucket, entry.name, size, checksum, missing, error)) return false;
      same = size == entry.size && checksum == entry.checksum;
    }
    if (!same) {
      error = corrupt(bucket, entry);
      return false;
    }
  }
  return true;
}

bool verifyBackup(Bucket& bucket, const Manifest& manifest, std::string& error) {
  Manifest stored;
  bool missing = false;
  if (!stored.load(bucket, missing, error)) {
    if (missing) error = "the manifest that was stored is missing: " + bucket.describe("manifest");
    return false;
  }
  const bool same =
      stored.complete == manifest.complete && stored.files.size() == manifest.files.size() &&
      std::equal(stored.files.begin(), stored.files.end(), manifest.files.begin(), sameEntries);
  if (!same) {
    error = "the manifest read back differs from the one written: " + bucket.describe("manifest");
    return false;
  }
  return verifyStream(bucket, manifest, error);
}

bool restoreStream(Bucket& bucket, const Manifest& manifest,
                   std::shared_ptr<OrbBufferedInput> agent, const StreamOptions& options,
                   StreamResult& result, std::string& error) {
  CloudDBRemoteFileFactory factory;
  factory.input = agent;
  std::string data;
  for (size_t index = options.firstFile; index < manifest.files.size(); ++index) {
    const CloudFileEntry& entry = manifest.files[index];
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), bucket.describe(""), 0);
    if (!writeCloudFile(*driver, agent->environment, bucket, entry, options.buffer, data, error)) {
      return false;
    }
    ++result.cloudFiles;
    result.streamBytes += entry.size;
    if (options.progress != nullptr) options.progress->add(entry.size, 1);
    if (options.fileDone && !options.fileDone(index + 1, error)) return false;
    crashPoint("restored", options.crashScope);
  }
  return true;
}

bool runBackup(const BackupOptions& options, TransferResult& result, std::string& error) {
  if (!checkLimit(options.bucket, options.stream.limit, error)) return false;
  std::unique_ptr<Bucket> bucket = openBucket(options.bucket, options.cloud, error);
  std::unique_ptr<BucketLock> lock;
  Manifest manifest;
  if (!bucket || !BucketLock::acquire(*bucket, options.resume, lock, error) ||
      !prepareBackup(*bucket, options.resume, manifest, error)) {
    return false;
  }
  OrbPrototypeEnvironment environment(options.source);
  auto agent = std::make_shared<DumpOutput>(environment, options.source, manifest.resumeFrom());
  if (!options.debugCopy.empty()) agent->setDebugOutputFile(options.debugCopy);
  Stopwatch stopwatch;
  StreamResult stream;
  if (!backupStream(*bucket, manifest, agent, options.stream, stream, error) ||
      (!stream.stopped && !verifyBackup(*bucket, manifest, error))) {
    return false;
  }
  result.cloudFiles = stream.cloudFiles;
  result.streamBytes = stream.streamBytes;
  result.stopped = stream.stopped;
  result.contentBytes = agent->contentBytes();
  result.seconds = stopwatch.seconds();
  return true;
}

bool runRestore(const RestoreOptions& options, TransferResult& result, std::string& error) {
  std::unique_ptr<Bucket> bucket = openBucket(options.bucket, options.cloud, error);
  Manifest manifest;
  if (!bucket || !checkTargetEmpty(options.target, options.force, error) ||
      !prepareRestore(*bucket, manifest, error)) {
    return false;
  }

  Staging staging(options.target);
  if (!staging.create(error)) return false;
  OrbPrototypeEnvironment environment(staging.path());
  auto agent = std::make_shared<DumpInput>(environment);
  Stopwatch stopwatch;
  StreamResult stream;
  if (!restoreStream(*bucket, manifest, agent, options.stream, stream, error)) return false;
  if (!agent->complete()) {
    error = "the backup in " + options.bucket + " ends inside a file";
    return false;
  }
  if (!staging.publish(error)) return false;
  result.cloudFiles = stream.cloudFiles;
  result.streamBytes = stream.streamBytes;
  result.contentBytes = agent->contentBytes();
  result.seconds = stopwatch.seconds();
  return true;
}

}  // namespace mover
