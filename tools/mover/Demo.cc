#include "tools/mover/Demo.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "agent/OrbEnvironment.h"
#include "tools/agents/DumpAgent.h"
#include "tools/mover/Mover.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

constexpr int kScanSegments = 4;

std::string readFile(const fs::path& path) {
  std::string text;
  OrbInputFile::fileToString(path.string(), text);
  return text;
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// One item in DynamoDB's attribute-value JSON.
std::string itemJson(std::mt19937& random, int index) {
  static const char* const kNames[] = {"Ada", "Grace", "Edsger", "Barbara", "Donald", "Frances"};
  char key[32];
  std::snprintf(key, sizeof key, "user#%06d", index);
  std::ostringstream item;
  item << R"({"pk":{"S":")" << key << R"("},"sk":{"N":")" << 1700000000 + index * 7 << R"("},)"
       << R"("name":{"S":")" << kNames[random() % 6] << " \\\"" << index << R"(\""},)"
       << R"("score":{"N":")" << random() % 100000 / 100.0 << R"("},)"
       << R"("avatar":{"B":")" << randomBase64(random, 24 + random() % 48) << R"("},)"
       << R"("address":{"M":{"city":{"S":"Zürich"},"zip":{"N":")" << 8000 + random() % 100
       << R"("}}},"tags":{"L":[{"S":"a"},{"N":")" << index % 10 << R"("},{"BOOL":true}]}})";
  return item.str();
}

// A table dump: items across scan segments (the last one without a final
// line feed, one segment empty), a stream shard of change records, metadata
// and a description with CRLF line ends.
int generateDump(const fs::path& directory, int items) {
  std::mt19937 random(20261205);
  std::vector<std::string> segments(kScanSegments);
  std::string shard;
  for (int i = 0; i < items; ++i) {
    const std::string item = itemJson(random, i);
    segments[i % (kScanSegments - 1)] += item + "\n";
    if (i % 10 == 0) {
      shard += R"({"eventName":"MODIFY","dynamodb":{"Keys":)" +
               item.substr(0, item.find(",\"name")) + R"(},"NewImage":)" + item + "}}\n";
    }
  }
  segments[kScanSegments - 2].pop_back();
  for (int s = 0; s < kScanSegments; ++s) {
    writeFile(directory / ("Items-" + std::to_string(s) + ".dynamodump"), segments[s]);
  }
  writeFile(directory / "0-shardId-00000001.dynamostreamdump", shard);
  writeFile(directory / "metadata.json", R"({"table":"Items","items":)" + std::to_string(items) +
                                             R"(,"format":1})"
                                             "\n");
  writeFile(directory / "description.json",
            "{\r\n  \"TableName\": \"Items\",\r\n  \"KeySchema\": [\r\n"
            "    {\"AttributeName\": \"pk\", \"KeyType\": \"HASH\"},\r\n"
            "    {\"AttributeName\": \"sk\", \"KeyType\": \"RANGE\"}\r\n  ]\r\n}");
  return kScanSegments;
}

// Compares the two trees byte for byte, and the item keys of every scan
// file in order; counts the keys compared.
bool sameDump(const fs::path& source, const fs::path& restored, size_t& keys, std::string& why) {
  const std::vector<std::string> sourceFiles = listDumpFiles(source.string());
  if (sourceFiles != listDumpFiles(restored.string())) {
    why = "the restored directory holds other files";
    return false;
  }
  for (const std::string& name : sourceFiles) {
    const std::string original = readFile(source / name);
    const std::string copy = readFile(restored / name);
    if (original != copy) {
      why = name + " differs";
      return false;
    }
    if (fs::path(name).extension() != ".dynamodump") continue;
    std::istringstream a(original);
    std::istringstream b(copy);
    std::string lineA;
    std::string lineB;
    while (std::getline(a, lineA) && std::getline(b, lineB)) {
      std::vector<std::string> keyNames = {"pk", "sk"};
      std::vector<std::string> sameNames = {"sk", "pk"};
      if (keyString(lineA, keyNames) != keyString(lineB, sameNames)) {
        why = "item keys differ in " + name;
        return false;
      }
      ++keys;
    }
  }
  return true;
}

double mebibytes(uint64_t bytes) { return bytes / 1048576.0; }

}  // namespace

std::string randomBase64(std::mt19937& random, size_t bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < (bytes + 2) / 3 * 4; ++i) text += kAlphabet[random() % 64];
  return text;
}

int runDemo(const DemoOptions& options) {
  return options.dumpDirectory ? runDumpDemo(options) : runTableDemo(options);
}

int runDumpDemo(const DemoOptions& options) {
  std::string pattern = (fs::temp_directory_path() / "clouddb-demo-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "clouddb-mover: error: cannot create a temporary directory\n");
    return 1;
  }
  const fs::path root = pattern;
  const fs::path source = root / "source";
  const fs::path bucket = root / "bucket";
  const fs::path restored = root / "restored";
  fs::create_directories(source);
  fs::create_directories(restored);
  const int segments = generateDump(source, options.items);
  uint64_t dumpBytes = 0;
  for (const auto& entry : fs::directory_iterator(source)) dumpBytes += entry.file_size();

  BackupOptions backup;
  backup.source = source.string();
  backup.bucket = bucket.string();
  backup.stream.limit = options.limit;
  Progress progress(true, "demo");
  backup.stream.progress = &progress;
  RestoreOptions restore;
  restore.bucket = bucket.string();
  restore.target = restored.string();
  restore.stream.progress = &progress;
  TransferResult backedUp;
  TransferResult restoredResult;
  std::string error;
  size_t keys = 0;
  const bool moved =
      runBackup(backup, backedUp, error) && runRestore(restore, restoredResult, error);
  const bool identical = moved && sameDump(source, restored, keys, error);

  std::printf("clouddb-mover demo (%s)\n", root.c_str());
  std::printf("  items             %d in %d scan segments, 1 stream shard, metadata, description\n",
              options.items, segments);
  std::printf("  dump              %.2f MiB in %d files\n", mebibytes(dumpBytes), segments + 3);
  if (moved) {
    std::printf("  cloud files       %zu of about %lld bytes, %.2f MiB of backup stream\n",
                backedUp.cloudFiles, options.limit, mebibytes(backedUp.streamBytes));
    std::printf("  backup            %.3f s, %.1f MiB/s of dump\n", backedUp.seconds,
                mebibytes(backedUp.contentBytes) / backedUp.seconds);
    std::printf("  restore           %.3f s, %.1f MiB/s of dump\n", restoredResult.seconds,
                mebibytes(restoredResult.contentBytes) / restoredResult.seconds);
    std::printf("  keys compared     %zu (keyString, in order)\n", keys);
  }
  std::printf("  restore identical: %s\n", identical ? "yes" : ("NO: " + error).c_str());
  if (identical) fs::remove_all(root);
  return identical ? 0 : 1;
}

}  // namespace mover
