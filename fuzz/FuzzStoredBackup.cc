// The restore's reading of stored data, which others may have written:
// metadata.json, a manifest, and a cloud file's lines restored into a
// directory by the dump agent and by the stream's shard files. Whatever the
// bytes: nothing crashes, and nothing is written outside the restore's
// bucket and target. The first byte picks the reader.
#include <xxhash.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "tools/agents/DumpAgent.h"
#include "tools/agents/StreamReplay.h"
#include "tools/agents/TableSchema.h"
#include "tools/mover/Mover.h"

namespace {

namespace fs = std::filesystem;

// base/a/b/c/run/{bucket,target}: a write that escapes the run folder by
// "../" lands in base's tree, which is checked after every input.
struct Sandbox {
  // In memory where the system has a tmpfs: a file or two per input.
  Sandbox() {
    std::string pattern =
        fs::is_directory("/dev/shm") ? "/dev/shm/clouddb-fuzz-XXXXXX" : "/tmp/clouddb-fuzz-XXXXXX";
    base = mkdtemp(&pattern[0]);
    run = base / "a" / "b" / "c" / "run";
    bucket = run / "bucket";
    target = run / "target";
    fs::create_directories(bucket);
    fs::create_directories(target);
  }
  ~Sandbox() {
    std::error_code code;
    fs::remove_all(base, code);
  }

  // Every entry of base's tree is on the way to run or inside it; what the
  // restore wrote into the target goes.
  bool containedAndCleared() const {
    for (const auto& entry : fs::recursive_directory_iterator(base)) {
      const fs::path path = entry.path();
      const std::string relative = path.lexically_relative(run).string();
      const bool inside = relative.rfind("..", 0) != 0;
      const bool onTheWay = run.string().rfind(path.string(), 0) == 0;
      if (!inside && !onTheWay) return false;
    }
    for (const auto& entry : fs::directory_iterator(target)) fs::remove_all(entry.path());
    return true;
  }

  fs::path base, run, bucket, target;
};

void writeFile(const fs::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// data as the only cloud file of a stream in the sandbox's bucket, restored
// into agent.
void restoreCloudFile(Sandbox& sandbox, const std::string& data,
                      std::shared_ptr<OrbBufferedInput> agent) {
  writeFile(sandbox.bucket / "part-000000", data);
  mover::Manifest manifest;
  mover::CloudFileEntry entry;
  entry.name = "part-000000";
  entry.size = data.size();
  entry.checksum = XXH3_64bits(data.data(), data.size());
  manifest.files.push_back(entry);
  manifest.complete = true;
  std::unique_ptr<mover::Bucket> bucket = mover::openDirectoryBucket(sandbox.bucket.string());
  mover::StreamOptions options;
  options.buffer = 4096;
  mover::StreamResult result;
  std::string error;
  mover::restoreStream(*bucket, manifest, agent, options, result, error);
}

class QuietDirectory : public OrbPrototypeEnvironment {
 public:
  explicit QuietDirectory(const std::string& directory) : OrbPrototypeEnvironment(directory) {}
  void log(const char*, const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox sandbox;
  FuzzInput input(data, size);
  const uint8_t reader = input.byte() % 4;
  const std::string stored = input.rest();
  std::string error;
  if (reader == 0) {
    mover::TableMetadata metadata;
    metadata.parse(stored, error);
    return 0;
  }
  if (reader == 1) {
    writeFile(sandbox.bucket / "manifest", stored);
    std::unique_ptr<mover::Bucket> bucket = mover::openDirectoryBucket(sandbox.bucket.string());
    mover::Manifest manifest;
    bool missing = false;
    manifest.load(*bucket, missing, error);
    return 0;
  }
  QuietDirectory directory(sandbox.target.string());
  if (reader == 2) {
    restoreCloudFile(sandbox, stored, std::make_shared<mover::DumpInput>(directory));
  } else {
    mover::ShardFiles shards(directory);
    restoreCloudFile(sandbox, stored, std::make_shared<mover::ShardFilesInput>(directory, shards));
    shards.close(error);
  }
  if (!sandbox.containedAndCleared()) std::abort();
  return 0;
}
