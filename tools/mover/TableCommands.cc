#include "tools/mover/TableCommands.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "agent/OrbLoggingEnvironment.h"
#include "tools/agents/Names.h"
#include "tools/agents/StreamCapture.h"
#include "tools/agents/StreamReplay.h"
#include "tools/agents/TableScan.h"
#include "tools/agents/TableSchema.h"
#include "tools/agents/TableVerify.h"
#include "tools/agents/TableWrite.h"
#include "tools/mover/BucketLock.h"
#include "tools/mover/RestoreState.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

const char kScheme[] = "dynamodb://";
const char kMetadataName[] = "metadata.json";
const char kDescriptionName[] = "description.json";
const char kStreamName[] = "stream";

std::string segmentName(int segment) { return "segment-" + std::to_string(segment); }

// The clients of one command: DynamoDB, and DynamoDB Streams.
struct Clients {
  bool open(const cloud::ConfigOverrides& overrides, std::string& error) {
    cloud::ServiceConfig config;
    if (!cloud::loadServiceConfig(cloud::Service::kDynamoDb, overrides, config, error)) {
      return false;
    }
    table = std::make_unique<cloud::DynamoClient>(config);
    if (!cloud::loadServiceConfig(cloud::Service::kDynamoDbStreams, overrides, config, error)) {
      return false;
    }
    streams = std::make_unique<cloud::DynamoClient>(config);
    return true;
  }

  std::unique_ptr<cloud::DynamoClient> table;
  std::unique_ptr<cloud::DynamoClient> streams;
};

// The table's stream, when a backup can use it; say why not otherwise.
void chooseStream(const TableOptions& options, TableMetadata& metadata) {
  const bool newImages =
      metadata.streamViewType == "NEW_IMAGE" || metadata.streamViewType == "NEW_AND_OLD_IMAGES";
  if (!metadata.stream.arn.empty() && !newImages && !options.noStream) {
    std::fprintf(stderr,
                 "clouddb-mover: warning: the stream of %s carries no new images (%s); "
                 "backing up the scan only\n",
                 metadata.table.c_str(), metadata.streamViewType.c_str());
  }
  if (options.noStream || !newImages) metadata.stream = StreamState();
}

// The table and the position of its stream, at the start of a backup or a
// dump.
bool describeForBackup(const Clients& clients, const TableOptions& options, TableMetadata& metadata,
                       std::string& error) {
  bool missing = false;
  if (!describeTable(*clients.table, options.table, metadata, missing, error)) return false;
  metadata.segments = options.segments;
  chooseStream(options, metadata);
  return metadata.stream.arn.empty() ||
         takeStreamPosition(*clients.streams, metadata.stream, error);
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
bool startBackup(Bucket& bucket, const TableOptions& options, const Clients& clients,
                 TableMetadata& metadata, std::string& error) {
  bool missing = false;
  if (loadTableBackup(bucket, metadata, missing, error)) {
    error.clear();
    if (!options.resume) {
      error = bucket.describe("") + " already holds a backup (use --resume or an empty bucket)";
    } else if (metadata.table != options.table) {
      error = "the backup in " + bucket.describe("") + " is of table " + metadata.table;
    } else if (metadata.complete) {
      error = "the backup in " + bucket.describe("") + " is already complete";
    } else if (options.segmentsGiven && options.segments != metadata.segments) {
      error = "the backup in " + bucket.describe("") + " has " + std::to_string(metadata.segments) +
              " segments: resume it without --segments";
    }
    return error.empty();
  }
  if (!missing) return false;
  Manifest other;
  return prepareBackup(bucket, false, other, error) &&
         describeForBackup(clients, options, metadata, error) &&
         storeTableFiles(bucket, metadata, true, error);
}

// Backs up one stream of the table (a segment, or the stream records).
bool backupPart(Bucket& bucket, const std::string& name, const TableOptions& options,
                const std::function<std::shared_ptr<OrbBufferedOutput>(OrbEnvironment&,
                                                                       const std::string&)>& agent,
                Manifest& manifest, StreamResult& result, std::string& error) {
  std::unique_ptr<Bucket> stream = bucket.child(name);
  if (!prepareBackup(*stream, true, manifest, error)) {
    // A part that ended before an interruption stays as it is.
    return manifest.complete;
  }
  OrbLoggingEnvironment environment("");
  StreamOptions scoped = options.stream;
  scoped.crashScope = name;
  if (backupStream(*stream, manifest, agent(environment, manifest.resumeFrom()), scoped, result,
                   error)) {
    return true;
  }
  error = name + ": " + error;
  return false;
}

// What one stream of a backup adds to the result: this run's, and the whole.
void addRun(const StreamResult& run, const Manifest& manifest, TableResult& result) {
  result.cloudFiles += run.cloudFiles;
  result.streamBytes += run.streamBytes;
  result.stopped = result.stopped || run.stopped;
  result.totalCloudFiles += manifest.files.size();
  result.totalBytes += manifest.bytes();
}

bool backupSegments(Bucket& bucket, const TableOptions& options, const Clients& clients,
                    TableMetadata& metadata, std::vector<Manifest>& manifests, TableResult& result,
                    std::string& error) {
  manifests.resize(metadata.segments);
  std::vector<StreamResult> results(metadata.segments);
  const bool ok = inParallel(
      metadata.segments,
      [&](int segment, std::string& failure) {
        auto agent = [&](OrbEnvironment& environment, const std::string& resumeFrom) {
          return std::make_shared<TableScanOutput>(
              segmentName(segment), environment, *clients.table,
              ScanSegment{metadata.table, metadata.keyNames, segment, metadata.segments, resumeFrom,
                          metadata.keyTypes});
        };
        return backupPart(bucket, segmentName(segment), options, agent, manifests[segment],
                          results[segment], failure);
      },
      error);
  // Counted from the manifests, so that every item counts once across runs.
  metadata.items = 0;
  for (int segment = 0; segment < metadata.segments; ++segment) {
    addRun(results[segment], manifests[segment], result);
    metadata.items += manifests[segment].lines();
  }
  return ok;
}

bool backupStreamRecords(Bucket& bucket, const TableOptions& options, const Clients& clients,
                         TableMetadata& metadata, Manifest& manifest, TableResult& result,
                         std::string& error) {
  if (metadata.stream.consistencyPoint == 0) {
    if (!fixConsistencyPoint(*clients.streams, metadata.stream, error) ||
        !storeTableFiles(bucket, metadata, false, error)) {
      return false;
    }
  }
  StreamResult stream;
  auto agent = [&](OrbEnvironment& environment, const std::string& resumeFrom) {
    return std::make_shared<StreamOutput>(kStreamName, environment, *clients.streams,
                                          metadata.stream, resumeFrom);
  };
  const bool ok = backupPart(bucket, kStreamName, options, agent, manifest, stream, error);
  addRun(stream, manifest, result);
  result.records = manifest.lines();
  return ok;
}

// The target table, checked: the table of the interrupted restore (with
// --resume), a new table created from the backup, or an existing one with
// the backup's key (empty, or written into with --into-existing). fresh: the
// table held nothing before the restore, so its count is checked.
bool prepareTarget(const cloud::DynamoClient& client, const TableOptions& options,
                   const TableMetadata& metadata, RestoreState& state, bool& fresh,
                   std::string& error) {
  TableMetadata existing;
  bool missing = false;
  if (options.resume) {
    if (!state.load(missing, error)) return false;
    fresh = state.created();
    if (!describeTable(client, options.table, existing, missing, error)) {
      if (missing) error = "table " + options.table + " is gone: restore anew without --resume";
      return false;
    }
  } else if (!describeTable(client, options.table, existing, missing, error)) {
    fresh = true;
    return missing && createTable(client, options.table, metadata, error) &&
           state.start(true, error);
  }
  if (existing.keyNames != metadata.keyNames) {
    error = "table " + options.table + " has another key than the backed-up table";
    return false;
  }
  if (options.resume) return true;
  if (!isEmpty(client, options.table, fresh, error)) return false;
  if (fresh || options.intoExisting) return state.start(fresh, error);
  error = "table " + options.table +
          " is not empty (use --into-existing to write into it, or --resume to continue an "
          "interrupted restore)";
  return false;
}

// A checked stream of the backup with its manifest.
struct Part {
  std::string name;
  std::unique_ptr<Bucket> bucket;
  Manifest manifest;
};

bool preparePart(Bucket& bucket, const std::string& name, Part& part, std::string& error) {
  part.name = name;
  part.bucket = bucket.child(name);
  return prepareRestore(*part.bucket, part.manifest, error);
}

using InputMaker = std::function<std::shared_ptr<OrbBufferedInput>(int, OrbEnvironment&)>;

// What a restore keeps of its progress: where, and the part's count of
// touched items (nullptr: none).
struct Keeping {
  RestoreState* state = nullptr;
  uint64_t* touched = nullptr;
};

bool restorePart(Part& part, const TableOptions& options, const InputMaker& makeInput, int index,
                 TableResult& result, std::string& error, Keeping keeping = Keeping()) {
  OrbLoggingEnvironment environment("");
  StreamOptions scoped = options.stream;
  if (keeping.state != nullptr) {
    const RestoreState::Progress done = keeping.state->progress(part.name);
    scoped.crashScope = part.name;
    scoped.firstFile = done.files;
    if (keeping.touched != nullptr) *keeping.touched = done.touched;
    scoped.fileDone = [&](size_t files, std::string& failure) {
      const uint64_t touched = keeping.touched != nullptr ? *keeping.touched : 0;
      return keeping.state->record(part.name, {files, touched}, failure);
    };
  }
  StreamResult stream;
  const bool ok = restoreStream(*part.bucket, part.manifest, makeInput(index, environment), scoped,
                                stream, error);
  result.cloudFiles += stream.cloudFiles;
  result.streamBytes += stream.streamBytes;
  return ok;
}

// Restores every segment into per-segment inputs made by makeInput, each on
// its own thread; with state, from where an interrupted restore left them.
bool restoreSegments(std::vector<Part>& segments, const TableOptions& options,
                     const InputMaker& makeInput, TableResult& result, std::string& error,
                     RestoreState* state = nullptr, std::vector<uint64_t>* touched = nullptr) {
  std::vector<TableResult> results(segments.size());
  const bool ok = inParallel(
      static_cast<int>(segments.size()),
      [&](int segment, std::string& failure) {
        const Keeping keeping{state, touched != nullptr ? &(*touched)[segment] : nullptr};
        return restorePart(segments[segment], options, makeInput, segment, results[segment],
                           failure, keeping);
      },
      error);
  for (const TableResult& part : results) {
    result.cloudFiles += part.cloudFiles;
    result.streamBytes += part.streamBytes;
  }
  return ok;
}

// The backup's parts, checked before anything is restored.
// The streams that a backup's bucket holds must be those its metadata
// names: segment-0 ... segment-{n-1}, and stream/ with a stream.
bool checkPartsPresent(Bucket& bucket, const TableMetadata& metadata, std::string& error) {
  std::vector<ListedEntry> objects;
  if (!bucket.list(objects, error)) return false;
  std::set<std::string> present;
  for (const ListedEntry& object : objects) {
    const size_t slash = object.name.find('/');
    if (slash != std::string::npos) present.insert(object.name.substr(0, slash));
  }
  std::set<std::string> expected;
  for (int segment = 0; segment < metadata.segments; ++segment) {
    expected.insert(segmentName(segment));
  }
  if (!metadata.stream.arn.empty()) expected.insert(kStreamName);
  for (const std::string& name : present) {
    if (expected.count(name) == 0) {
      error = "damaged backup in " + bucket.describe("") + ": it holds " + name +
              "/, which its metadata.json does not name (" + std::to_string(metadata.segments) +
              " segments" + (metadata.stream.arn.empty() ? "" : " and a stream") + ")";
      return false;
    }
  }
  for (const std::string& name : expected) {
    if (present.count(name) == 0) {
      error = "damaged backup in " + bucket.describe("") + ": " + name + "/ is missing";
      return false;
    }
  }
  return true;
}

// The backup's parts, checked before anything is restored: the streams
// that the metadata names and no others, each stream's manifest and cloud
// files, and the item count of the metadata against the manifests'.
bool prepareParts(Bucket& bucket, const TableMetadata& metadata, std::vector<Part>& segments,
                  Part& stream, TableResult& result, std::string& error) {
  if (!checkPartsPresent(bucket, metadata, error)) return false;
  segments.resize(metadata.segments);
  if (!inParallel(
          metadata.segments,
          [&](int segment, std::string& failure) {
            return preparePart(bucket, segmentName(segment), segments[segment], failure);
          },
          error)) {
    return false;
  }
  for (const Part& segment : segments) result.items += segment.manifest.lines();
  if (result.items != metadata.items) {
    error = "damaged backup in " + bucket.describe("") + ": metadata.json counts " +
            std::to_string(metadata.items) + " items, the manifests " +
            std::to_string(result.items);
    return false;
  }
  if (metadata.stream.arn.empty()) return true;
  if (!preparePart(bucket, kStreamName, stream, error)) return false;
  result.records = stream.manifest.lines();
  return true;
}

// The restored table's count: a table that held nothing holds exactly the
// backup's items; one that held items already holds at least the backup's
// (each of its keys is there) and at most those and the ones before.
bool checkCount(const std::string& table, bool fresh, uint64_t before, uint64_t expected,
                uint64_t counted, std::string& error) {
  const uint64_t most = fresh ? expected : before + expected;
  if (counted >= expected && counted <= most) return true;
  error = "table " + table + " holds " + std::to_string(counted) +
          " items after the restore, the backup " + std::to_string(expected) +
          (fresh ? "" : " (and the table " + std::to_string(before) + " before)");
  return false;
}

// restore --verify: every item of the backup read back from the table and
// compared, each segment on its own thread.
bool verifyRestored(const cloud::DynamoClient& client, std::vector<Part>& segments,
                    const TableMetadata& metadata, const TableOptions& options,
                    const KeyStates& replayed, TableResult& result, std::string& error) {
  std::vector<std::shared_ptr<VerifyInput>> inputs(segments.size());
  auto keep = [&](int segment, OrbEnvironment& environment) {
    inputs[segment] = std::make_shared<VerifyInput>(environment, client, options.table,
                                                    metadata.keyNames, &replayed);
    return std::shared_ptr<OrbBufferedInput>(inputs[segment]);
  };
  TableResult read;
  if (!restoreSegments(segments, options, keep, read, error)) return false;
  for (const auto& input : inputs) result.verified += input ? input->verified() : 0;
  return true;
}

bool restoreIntoTable(const std::string& location, Bucket& bucket, const TableMetadata& metadata,
                      const TableOptions& options, TableResult& result, std::string& error) {
  Clients clients;
  std::vector<Part> segments;
  Part stream;
  RestoreState state(location, options.table);
  bool fresh = false;
  if (!prepareParts(bucket, metadata, segments, stream, result, error) ||
      !clients.open(options.cloud, error) ||
      !prepareTarget(*clients.table, options, metadata, state, fresh, error)) {
    return false;
  }
  const cloud::DynamoClient& client = *clients.table;
  uint64_t before = 0;
  if (!fresh && !countItems(client, options.table, metadata.segments, before, error)) {
    return false;
  }
  // First which keys the stream touches, so that the count can be checked.
  KeyStates replayed;
  if (stream.bucket) {
    auto keys = [&](int, OrbEnvironment& environment) {
      return std::make_shared<ReplayedKeys>(environment, metadata.keyNames, replayed);
    };
    TableResult read;
    if (!restorePart(stream, options, keys, 0, read, error)) return false;
  }
  std::vector<uint64_t> touched(segments.size());
  auto items = [&](int segment, OrbEnvironment& environment) {
    return std::make_shared<TableWriteInput>(environment, client, options.table, metadata.keyNames,
                                             &replayed, &touched[segment]);
  };
  if (!restoreSegments(segments, options, items, result, error, &state, &touched)) return false;
  uint64_t expected = result.items;
  if (stream.bucket) {
    auto replay = [&](int, OrbEnvironment& environment) {
      return std::make_shared<ReplayInput>(environment, client, options.table, metadata.keyNames);
    };
    if (!restorePart(stream, options, replay, 0, result, error, Keeping{&state, nullptr})) {
      return false;
    }
    for (uint64_t count : touched) expected -= count;
    for (const auto& [key, exists] : replayed) expected += exists ? 1 : 0;
  }
  if (!countItems(client, options.table, metadata.segments, result.counted, error) ||
      !checkCount(options.table, fresh, before, expected, result.counted, error) ||
      (options.verify &&
       !verifyRestored(client, segments, metadata, options, replayed, result, error))) {
    return false;
  }
  state.finish();
  return true;
}

// The scan files of every segment in the directory environment at path.
bool createScanFiles(OrbPrototypeEnvironment& directory, const std::string& path,
                     const TableMetadata& metadata, std::vector<std::shared_ptr<OrbOutput>>& files,
                     std::string& error) {
  for (int segment = 0; segment < metadata.segments; ++segment) {
    // "{table}-{segment}.dynamodump", shortened for the longest table names.
    const size_t suffix = std::to_string(segment).size() + std::strlen("-.dynamodump");
    files.push_back(directory.createScanOutput(fileStem(metadata.table, suffix),
                                               static_cast<uint32_t>(segment)));
    if (!files.back()->flush()) {
      error = "cannot create the file of segment " + std::to_string(segment) + " of " +
              metadata.table + " in " + path + " (is the directory writable?)";
      return false;
    }
  }
  return true;
}

bool restoreIntoDirectory(Bucket& bucket, const TableMetadata& metadata,
                          const TableOptions& options, TableResult& result, std::string& error) {
  std::vector<Part> segments;
  Part stream;
  if (!checkTargetEmpty(options.location, options.force, error) ||
      !prepareParts(bucket, metadata, segments, stream, result, error)) {
    return false;
  }
  Staging staging(options.location);
  if (!staging.create(error)) return false;
  OrbPrototypeEnvironment directory(staging.path());
  std::string text;
  bool missing = false;
  for (const char* name : {kMetadataName, kDescriptionName}) {
    if (!bucket.get(name, text, missing, error)) return false;
    auto output = name == std::string(kMetadataName) ? directory.createMetadataOutput()
                                                     : directory.createDescriptionOutput();
    if (!output->putString(text) || !output->close("")) {
      error = "cannot write " + (fs::path(staging.path()) / name).string();
      return false;
    }
  }
  std::vector<std::shared_ptr<OrbOutput>> files;
  if (!createScanFiles(directory, staging.path(), metadata, files, error)) return false;
  auto copy = [&](int segment, OrbEnvironment& environment) {
    return std::make_shared<LineCopyInput>(environment, files[segment]);
  };
  ShardFiles shards(directory);
  auto route = [&](int, OrbEnvironment& environment) {
    return std::make_shared<ShardFilesInput>(environment, shards);
  };
  if (!restoreSegments(segments, options, copy, result, error) ||
      (stream.bucket && !restorePart(stream, options, route, 0, result, error)) ||
      !shards.close(error)) {
    return false;
  }
  for (auto& file : files) {
    if (!file->close("")) {
      error = "cannot write the restored files in " + staging.path();
      return false;
    }
  }
  files.clear();
  return staging.publish(error);
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

// The finished backup read back, before it is reported: every stream as
// verifyBackup checks it, and metadata.json complete, with the segments
// and the item count that the manifests add up to.
bool verifyTableBackup(Bucket& bucket, const std::vector<Manifest>& segments,
                       const Manifest* stream, std::string& error) {
  const int count = static_cast<int>(segments.size());
  if (!inParallel(
          count,
          [&](int segment, std::string& failure) {
            return verifyBackup(*bucket.child(segmentName(segment)), segments[segment], failure);
          },
          error) ||
      (stream != nullptr && !verifyBackup(*bucket.child(kStreamName), *stream, error))) {
    return false;
  }
  TableMetadata stored;
  bool missing = false;
  if (!loadTableBackup(bucket, stored, missing, error)) return false;
  uint64_t items = 0;
  for (const Manifest& manifest : segments) items += manifest.lines();
  if (stored.complete && stored.segments == count && stored.items == items) return true;
  error = bucket.describe(kMetadataName) +
          " read back does not match the backup: " + std::to_string(stored.segments) +
          " segments and " + std::to_string(stored.items) + " items, the manifests " +
          std::to_string(count) + " and " + std::to_string(items);
  return false;
}

bool runTableBackup(const TableOptions& options, TableResult& result, std::string& error) {
  const Stopwatch stopwatch;
  Clients clients;
  TableMetadata metadata;
  if (!checkLimit(options.location, options.stream.limit, error) ||
      !clients.open(options.cloud, error)) {
    return false;
  }
  std::unique_ptr<Bucket> bucket = openBucket(options.location, options.cloud, error);
  std::unique_ptr<BucketLock> lock;
  std::vector<Manifest> segments;
  Manifest stream;
  if (!bucket || !BucketLock::acquire(*bucket, options.resume, lock, error) ||
      !startBackup(*bucket, options, clients, metadata, error) ||
      !backupSegments(*bucket, options, clients, metadata, segments, result, error)) {
    return false;
  }
  const bool withStream = !metadata.stream.arn.empty();
  if (!result.stopped && metadata.stream.consistencyPoint == 0 && options.afterScan) {
    options.afterScan();
  }
  if (!result.stopped && withStream &&
      !backupStreamRecords(*bucket, options, clients, metadata, stream, result, error)) {
    return false;
  }
  result.segments = metadata.segments;
  result.items = metadata.items;
  result.consistency = metadata.consistency();
  if (result.stopped) return true;
  metadata.complete = true;
  if (!storeTableFiles(*bucket, metadata, false, error)) return false;
  const Stopwatch verification;
  const bool ok = verifyTableBackup(*bucket, segments, withStream ? &stream : nullptr, error);
  result.verifySeconds = verification.seconds();
  result.seconds = stopwatch.seconds();
  return ok;
}

bool runTableDump(const TableOptions& options, TableResult& result, std::string& error) {
  const Stopwatch stopwatch;
  Clients clients;
  TableMetadata metadata;
  if (!clients.open(options.cloud, error) ||
      !describeForBackup(clients, options, metadata, error)) {
    return false;
  }
  // Written aside and moved into place when complete, as a restore's files.
  Staging staging(options.location);
  if (!staging.create(error)) return false;
  OrbPrototypeEnvironment directory(staging.path());
  std::vector<std::shared_ptr<OrbOutput>> files;
  if (!createScanFiles(directory, staging.path(), metadata, files, error)) return false;
  std::vector<uint64_t> items(metadata.segments);
  if (!inParallel(
          metadata.segments,
          [&](int segment, std::string& failure) {
            SegmentScanner scanner(*clients.table,
                                   ScanSegment{metadata.table, metadata.keyNames, segment,
                                               metadata.segments, "", metadata.keyTypes});
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
  if (!metadata.stream.arn.empty()) {
    ShardFiles shards(directory);
    ShardFilesOutput output(directory, shards);
    if (!fixConsistencyPoint(*clients.streams, metadata.stream, error)) return false;
    StreamReader fixed(*clients.streams, metadata.stream, "");
    if (!fixed.produce(output, error) || !shards.close(error)) return false;
    result.records = fixed.records();
  }
  metadata.complete = true;
  if (!writeTableFiles(directory, metadata, true)) {
    error = "cannot write the metadata in " + options.location;
    return false;
  }
  files.clear();
  if (!staging.publish(error)) return false;
  result.items = metadata.items;
  result.segments = metadata.segments;
  result.consistency = metadata.consistency();
  result.seconds = stopwatch.seconds();
  return true;
}

bool runTableRestore(const std::string& location, const TableOptions& options, TableResult& result,
                     std::string& error) {
  const Stopwatch stopwatch;
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
                      : restoreIntoTable(location, *bucket, metadata, options, result, error);
  result.seconds = stopwatch.seconds();
  return ok;
}

}  // namespace mover
