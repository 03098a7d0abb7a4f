#include "tools/mover/TableCommands.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "agent/OrbLoggingEnvironment.h"
#include "tools/agents/TableScan.h"
#include "tools/agents/TableSchema.h"
#include "tools/agents/TableWrite.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

const char kScheme[] = "dynamodb://";
const char kMetadataName[] = "metadata.json";
const char kDescriptionName[] = "description.json";
const char kStagingName[] = ".clouddb-restore-partial";

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string segmentName(int segment) { return "segment-" + std::to_string(segment); }

bool openClient(const cloud::ConfigOverrides& overrides,
                std::unique_ptr<cloud::DynamoClient>& client, std::string& error) {
  cloud::ServiceConfig config;
  if (!cloud::loadServiceConfig(cloud::Service::kDynamoDb, overrides, config, error)) return false;
  client = std::make_unique<cloud::DynamoClient>(config);
  return true;
}

// The agent writes its metadata and description through its environment.
bool writeTableFiles(OrbEnvironment& environment, const TableMetadata& metadata,
                     bool withDescription) {
  bool ok = environment.createMetadataOutput()->putString(metadata.toJson() + "\n");
  if (withDescription) {
    ok = environment.createDescriptionOutput()->putString(metadata.description + "\n") && ok;
  }
  return ok;
}

// Keeps the table files with the backup: through the in-memory environment
// into the bucket.
bool storeTableFiles(Bucket& bucket, const TableMetadata& metadata, bool withDescription,
                     std::string& error) {
  OrbLoggingEnvironment environment("");
  writeTableFiles(environment, metadata, withDescription);
  return bucket.put(kMetadataName, environment.getMetadataString() + "\n", error) &&
         (!withDescription ||
          bucket.put(kDescriptionName, environment.getDescriptionString() + "\n", error));
}

bool loadTableBackup(Bucket& bucket, TableMetadata& metadata, bool& missing, std::string& error) {
  std::string text;
  if (!bucket.get(kMetadataName, text, missing, error)) return false;
  if (metadata.parse(text, error)) return true;
  error = bucket.describe(kMetadataName) + " is " + error;
  return false;
}

// A new backup, or the unfinished one to resume.
bool startBackup(Bucket& bucket, const TableOptions& options, const cloud::DynamoClient& client,
                 TableMetadata& metadata, std::string& error) {
  bool missing = false;
  if (loadTableBackup(bucket, metadata, missing, error)) {
    if (!options.resume) {
      error = bucket.describe("") + " already holds a backup (use --resume or an empty bucket)";
    } else if (metadata.table != options.table) {
      error = "the backup in " + bucket.describe("") + " is of table " + metadata.table;
    } else if (metadata.complete) {
      error = "the backup in " + bucket.describe("") + " is already complete";
    }
    return error.empty();
  }
  if (!missing) return false;
  Manifest other;
  if (!prepareBackup(bucket, false, other, error)) return false;
  if (!describeTable(client, options.table, metadata, missing, error)) return false;
  metadata.segments = options.segments;
  metadata.stream = StreamState();
  return storeTableFiles(bucket, metadata, true, error);
}

bool backupSegment(Bucket& bucket, const TableOptions& options, const cloud::DynamoClient& client,
                   const TableMetadata& metadata, int segment, Manifest& manifest,
                   StreamResult& result, std::string& error) {
  std::unique_ptr<Bucket> stream = bucket.child(segmentName(segment));
  if (!prepareBackup(*stream, true, manifest, error)) {
    // A segment that ended before an interruption stays as it is.
    return manifest.complete;
  }
  OrbLoggingEnvironment environment("");
  ScanSegment scan{metadata.table, metadata.keyNames, segment, metadata.segments,
                   manifest.resumeFrom()};
  auto agent = std::make_shared<TableScanOutput>(environment, client, scan);
  if (backupStream(*stream, manifest, agent, options.stream, result, error)) return true;
  error = segmentName(segment) + ": " + error;
  return false;
}

bool prepareTarget(const cloud::DynamoClient& client, const TableOptions& options,
                   const TableMetadata& metadata, bool& fresh, std::string& error) {
  TableMetadata existing;
  bool missing = false;
  if (!describeTable(client, options.table, existing, missing, error)) {
    fresh = true;
    return missing && createTable(client, options.table, metadata, error);
  }
  if (existing.keyNames != metadata.keyNames) {
    error = "table " + options.table + " has another key than the backed-up table";
    return false;
  }
  if (!isEmpty(client, options.table, fresh, error)) return false;
  if (fresh || options.intoExisting) return true;
  error = "table " + options.table + " is not empty (use --into-existing to write into it)";
  return false;
}

// Restores every segment into per-segment inputs made by makeInput.
bool restoreSegments(
    Bucket& bucket, const TableMetadata& metadata, const TableOptions& options,
    const std::function<std::shared_ptr<OrbBufferedInput>(int, OrbEnvironment&)>& makeInput,
    TableResult& result, std::string& error) {
  std::vector<Manifest> manifests(metadata.segments);
  std::vector<std::unique_ptr<Bucket>> streams;
  for (int segment = 0; segment < metadata.segments; ++segment) {
    streams.push_back(bucket.child(segmentName(segment)));
    if (!prepareRestore(*streams.back(), manifests[segment], error)) return false;
    result.items += manifests[segment].lines();
  }
  std::vector<StreamResult> results(metadata.segments);
  const bool ok = inParallel(
      metadata.segments,
      [&](int segment, std::string& failure) {
        OrbLoggingEnvironment environment("");
        return restoreStream(*streams[segment], manifests[segment], makeInput(segment, environment),
                             options.stream, results[segment], failure);
      },
      error);
  for (const StreamResult& stream : results) {
    result.cloudFiles += stream.cloudFiles;
    result.streamBytes += stream.streamBytes;
  }
  return ok;
}

bool restoreIntoTable(Bucket& bucket, const TableMetadata& metadata, const TableOptions& options,
                      TableResult& result, std::string& error) {
  std::unique_ptr<cloud::DynamoClient> client;
  bool fresh = false;
  if (!openClient(options.cloud, client, error) ||
      !prepareTarget(*client, options, metadata, fresh, error)) {
    return false;
  }
  auto input = [&](int, OrbEnvironment& environment) {
    return std::make_shared<TableWriteInput>(environment, *client, options.table,
                                             metadata.keyNames);
  };
  if (!restoreSegments(bucket, metadata, options, input, result, error) ||
      !countItems(*client, options.table, result.counted, error)) {
    return false;
  }
  if (fresh && result.counted != result.items) {
    error = "table " + options.table + " holds " + std::to_string(result.counted) +
            " items after the restore, the backup " + std::to_string(result.items);
    return false;
  }
  return true;
}

bool restoreIntoDirectory(Bucket& bucket, const TableMetadata& metadata,
                          const TableOptions& options, TableResult& result, std::string& error) {
  std::error_code code;
  const fs::path staging = fs::path(options.location) / kStagingName;
  fs::remove_all(staging, code);
  if (!fs::create_directories(staging, code)) {
    error = "cannot create " + staging.string();
    return false;
  }
  OrbPrototypeEnvironment directory(staging.string());
  std::string text;
  bool missing = false;
  for (const char* name : {kMetadataName, kDescriptionName}) {
    if (!bucket.get(name, text, missing, error)) return false;
    auto output = name == std::string(kMetadataName) ? directory.createMetadataOutput()
                                                     : directory.createDescriptionOutput();
    if (!output->putString(text) || !output->close("")) {
      error = "cannot write " + (staging / name).string();
      return false;
    }
  }
  std::vector<std::shared_ptr<OrbOutput>> files;
  for (int segment = 0; segment < metadata.segments; ++segment) {
    files.push_back(directory.createScanOutput(metadata.table, static_cast<uint32_t>(segment)));
  }
  auto input = [&](int segment, OrbEnvironment& environment) {
    return std::make_shared<LineCopyInput>(environment, files[segment]);
  };
  if (!restoreSegments(bucket, metadata, options, input, result, error)) return false;
  for (auto& file : files) {
    if (!file->close("")) {
      error = "cannot write the restored files in " + staging.string();
      return false;
    }
  }
  files.clear();
  for (const auto& entry : fs::directory_iterator(staging)) {
    fs::rename(entry.path(), fs::path(options.location) / entry.path().filename(), code);
    if (code) {
      error = "cannot move " + entry.path().string() + " into " + options.location;
      return false;
    }
  }
  fs::remove(staging, code);
  return true;
}

}  // namespace

bool isTableLocation(const std::string& location) { return location.rfind(kScheme, 0) == 0; }

std::string tableOf(const std::string& location) {
  return location.substr(std::string(kScheme).size());
}

bool holdsTableBackup(const std::string& location, const cloud::ConfigOverrides& overrides,
                      bool& table, std::string& error) {
  std::unique_ptr<Bucket> bucket = openBucket(location, overrides, error);
  if (!bucket) return false;
  ObjectStat object;
  bool missing = false;
  table = bucket->stat(kMetadataName, object, missing, error);
  return table || missing;
}

bool runTableBackup(const TableOptions& options, TableResult& result, std::string& error) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<cloud::DynamoClient> client;
  TableMetadata metadata;
  if (!checkLimit(options.location, options.stream.limit, error) ||
      !openClient(options.cloud, client, error)) {
    return false;
  }
  std::unique_ptr<Bucket> bucket = openBucket(options.location, options.cloud, error);
  if (!bucket || !startBackup(*bucket, options, *client, metadata, error)) return false;

  std::vector<Manifest> manifests(metadata.segments);
  std::vector<StreamResult> results(metadata.segments);
  if (!inParallel(
          metadata.segments,
          [&](int segment, std::string& failure) {
            return backupSegment(*bucket, options, *client, metadata, segment, manifests[segment],
                                 results[segment], failure);
          },
          error)) {
    return false;
  }
  result.segments = metadata.segments;
  for (int segment = 0; segment < metadata.segments; ++segment) {
    result.cloudFiles += results[segment].cloudFiles;
    result.streamBytes += results[segment].streamBytes;
    result.stopped = result.stopped || results[segment].stopped;
    metadata.items += manifests[segment].lines();
  }
  result.items = metadata.items;
  result.consistency = metadata.consistency();
  result.seconds = secondsSince(start);
  if (result.stopped) return true;
  metadata.complete = true;
  return storeTableFiles(*bucket, metadata, false, error);
}

bool runTableDump(const TableOptions& options, TableResult& result, std::string& error) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<cloud::DynamoClient> client;
  TableMetadata metadata;
  bool missing = false;
  if (!openClient(options.cloud, client, error) ||
      !describeTable(*client, options.table, metadata, missing, error)) {
    return false;
  }
  std::error_code code;
  fs::create_directories(options.location, code);
  OrbPrototypeEnvironment directory(options.location);
  metadata.segments = options.segments;
  metadata.stream = StreamState();
  std::vector<std::shared_ptr<OrbOutput>> files;
  for (int segment = 0; segment < metadata.segments; ++segment) {
    files.push_back(directory.createScanOutput(metadata.table, static_cast<uint32_t>(segment)));
  }
  std::vector<uint64_t> items(metadata.segments);
  if (!inParallel(
          metadata.segments,
          [&](int segment, std::string& failure) {
            SegmentScanner scanner(*client, ScanSegment{metadata.table, metadata.keyNames, segment,
                                                        metadata.segments, ""});
            if (!scanner.produce(*files[segment], failure)) return false;
            items[segment] = scanner.items();
            if (files[segment]->close("")) return true;
            failure = "cannot write the dump of segment " + std::to_string(segment) + " in " +
                      options.location;
            return false;
          },
          error)) {
    return false;
  }
  for (uint64_t count : items) metadata.items += count;
  metadata.complete = true;
  if (!writeTableFiles(directory, metadata, true)) {
    error = "cannot write the metadata in " + options.location;
    return false;
  }
  result.items = metadata.items;
  result.segments = metadata.segments;
  result.consistency = metadata.consistency();
  result.seconds = secondsSince(start);
  return true;
}

bool runTableRestore(const std::string& location, const TableOptions& options, TableResult& result,
                     std::string& error) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<Bucket> bucket = openBucket(location, options.cloud, error);
  TableMetadata metadata;
  bool missing = false;
  if (!bucket || !loadTableBackup(*bucket, metadata, missing, error)) {
    ObjectStat manifest;
    if (missing) {
      error =
          bucket->stat("manifest", manifest, missing, error)
              ? "the backup in " + location + " is of a dump directory; restore it into a directory"
              : "no table backup in " + location;
    }
    return false;
  }
  if (!metadata.complete) {
    error = "the backup in " + location + " is incomplete (finish it with backup --resume)";
    return false;
  }
  result.segments = metadata.segments;
  result.consistency = metadata.consistency();
  const bool ok = options.table.empty()
                      ? restoreIntoDirectory(*bucket, metadata, options, result, error)
                      : restoreIntoTable(*bucket, metadata, options, result, error);
  result.seconds = secondsSince(start);
  return ok;
}

}  // namespace mover
