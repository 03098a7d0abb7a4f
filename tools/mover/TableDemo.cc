// The table demo: a local server, a table of generated items of every
// attribute type, its backup in segments into a local bucket, the restore
// into a new table, and the two tables compared item for item.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "agent/OrbLoggingEnvironment.h"
#include "tools/agents/TableScan.h"
#include "tools/agents/TableSchema.h"
#include "tools/agents/TableWrite.h"
#include "tools/mover/Demo.h"
#include "tools/mover/LocalServer.h"
#include "tools/mover/TableCommands.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

namespace fs = std::filesystem;
using rapidjson::Value;

const char kDefinition[] =
    R"({"KeySchema":[{"AttributeName":"pk","KeyType":"HASH"},{"AttributeName":"sk","KeyType":"RANGE"}],)"
    R"("AttributeDefinitions":[{"AttributeName":"pk","AttributeType":"S"},)"
    R"({"AttributeName":"sk","AttributeType":"N"},{"AttributeName":"category","AttributeType":"S"},)"
    R"({"AttributeName":"score","AttributeType":"N"}],"BillingMode":"PAY_PER_REQUEST",)"
    R"("GlobalSecondaryIndexes":[{"IndexName":"by-category","KeySchema":[{"AttributeName":"category","KeyType":"HASH"}],)"
    R"("Projection":{"ProjectionType":"ALL"}}],)"
    R"("LocalSecondaryIndexes":[{"IndexName":"by-score","KeySchema":[{"AttributeName":"pk","KeyType":"HASH"},)"
    R"({"AttributeName":"score","KeyType":"RANGE"}],"Projection":{"ProjectionType":"KEYS_ONLY"}}],)"
    R"("StreamSpecification":{"StreamEnabled":true,"StreamViewType":"NEW_AND_OLD_IMAGES"}})";

// One item with every attribute type: S, N, B, SS, NS, BS, M, L, BOOL, NULL.
std::string demoItem(std::mt19937& random, int index) {
  static const char* const kNames[] = {"Ada", "Grace", "Edsger", "Barbara", "Donald", "Frances"};
  char key[32];
  std::snprintf(key, sizeof key, "user#%06d", index);
  const std::string n = std::to_string(index);
  return std::string(R"({"pk":{"S":")") + key + R"("},"sk":{"N":")" + n + R"("},)" +
         R"("name":{"S":")" + kNames[random() % 6] + R"( \"Grüße\" )" + n + R"("},)" +
         R"("score":{"N":")" + std::to_string(random() % 100000 / 100.0) + R"("},)" +
         R"("category":{"S":"c)" + std::to_string(index % 7) + R"("},)" + R"("avatar":{"B":")" +
         randomBase64(random, 24 + random() % 48) + R"("},)" + R"("tags":{"SS":["t)" + n +
         R"(","new","α"]},"ratings":{"NS":["1","2.5","-)" + n + R"("]},)" +
         R"("thumbs":{"BS":["AAE=","/w=="]},)" +
         R"("address":{"M":{"city":{"S":"Zürich"},"zip":{"N":"80)" + std::to_string(index % 100) +
         R"("},"lines":{"L":[{"S":""},{"M":{}}]}}},)" +
         R"("history":{"L":[{"N":"1"},{"S":"two"},{"BOOL":false},{"NULL":true}]},)" +
         R"("active":{"BOOL":)" + (index % 2 == 0 ? "true" : "false") +
         R"(},"deleted":{"NULL":true}})";
}

// The value with object members and set elements in order, so that equal
// items give equal texts.
void writeCanonical(const Value& value, cloud::JsonWriter& writer, bool isSet) {
  if (value.IsObject()) {
    std::vector<const Value::Member*> members;
    for (const auto& member : value.GetObject()) members.push_back(&member);
    std::sort(members.begin(), members.end(), [](const auto* a, const auto* b) {
      return std::string(a->name.GetString()) < std::string(b->name.GetString());
    });
    writer.StartObject();
    for (const auto* member : members) {
      const std::string name = member->name.GetString();
      writer.Key(name.c_str());
      writeCanonical(member->value, writer, name == "SS" || name == "NS" || name == "BS");
    }
    writer.EndObject();
  } else if (value.IsArray() && isSet) {
    std::vector<std::string> elements;
    for (const Value& element : value.GetArray()) elements.push_back(cloud::toJson(element));
    std::sort(elements.begin(), elements.end());
    writer.StartArray();
    for (const std::string& element : elements)
      writer.RawValue(element.c_str(), element.size(), rapidjson::kStringType);
    writer.EndArray();
  } else if (value.IsArray()) {
    writer.StartArray();
    for (const Value& element : value.GetArray()) writeCanonical(element, writer, false);
    writer.EndArray();
  } else {
    value.Accept(writer);
  }
}

// A scan's items by key (keyString), each as canonical JSON.
class TableSnapshot : public OrbOutput {
 public:
  TableSnapshot(OrbEnvironment& environment, std::vector<std::string> keyNames)
      : OrbOutput("snapshot", environment), keyNames_(std::move(keyNames)) {}

  bool putString(const std::string& line) override {
    std::string item;
    if (!itemOfLine(line.substr(0, line.size() - 1), item)) return false;
    rapidjson::Document document;
    document.Parse(item.c_str());
    rapidjson::StringBuffer buffer;
    cloud::JsonWriter writer(buffer);
    writeCanonical(document, writer, false);
    items[keyString(item, keyNames_)] = buffer.GetString();
    return true;
  }
  void updateRestart(const std::string&) override {}
  bool flush() override { return true; }
  bool close(const std::string&) override { return true; }

  std::map<std::string, std::string> items;

 private:
  std::vector<std::string> keyNames_;
};

bool snapshot(const cloud::DynamoClient& client, const std::string& table,
              const std::vector<std::string>& keyNames, TableSnapshot& result, std::string& error) {
  SegmentScanner scanner(client, ScanSegment{table, keyNames, 0, 1, "", {}});
  return scanner.produce(result, error);
}

bool fill(const cloud::DynamoClient& client, const std::string& table,
          const std::vector<std::string>& keyNames, int items, uint64_t& bytes,
          std::string& error) {
  std::mt19937 random(20261206);
  BatchWriter writer(client, table, keyNames);
  for (int i = 0; i < items; ++i) {
    const std::string item = demoItem(random, i);
    bytes += item.size();
    if (!writer.put(item, error)) return false;
  }
  return writer.flush(error);
}

bool sameTables(const cloud::DynamoClient& client, const std::string& source,
                const std::string& restored, const std::vector<std::string>& keyNames,
                size_t& compared, std::string& error) {
  OrbLoggingEnvironment environment("");
  TableSnapshot before(environment, keyNames);
  TableSnapshot after(environment, keyNames);
  if (!snapshot(client, source, keyNames, before, error) ||
      !snapshot(client, restored, keyNames, after, error)) {
    return false;
  }
  compared = before.items.size();
  if (before.items == after.items) return true;
  for (const auto& [key, item] : before.items) {
    const auto copy = after.items.find(key);
    if (copy == after.items.end() || copy->second != item) {
      error = "item " + key + " differs";
      return false;
    }
  }
  error = "the restored table holds items that the source does not";
  return false;
}

// Writes to the table while the backup scans it: updates, inserts and
// deletes at a steady rate, until stopped.
class Writer {
 public:
  Writer(const cloud::DynamoClient& client, std::string table, int items)
      : client_(client), table_(std::move(table)), items_(items) {}

  void start() {
    thread_ = std::thread([this] { run(); });
  }
  // Stops the writer; false when a write failed (error tells why).
  bool stop(std::string& error) {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    error = error_;
    return error_.empty();
  }

  int updates = 0;
  int inserts = 0;
  int deletes = 0;

 private:
  void run() {
    std::mt19937 random(7);
    rapidjson::Document answer;
    for (int next = items_; !stop_ && error_.empty();) {
      const int choice = static_cast<int>(random() % 10);
      const int index = choice < 4 ? next++ : static_cast<int>(random() % items_);
      if (choice < 8) {
        const std::string put =
            "{\"TableName\":" + jsonString(table_) + ",\"Item\":" + demoItem(random, index) + "}";
        if (client_.call("PutItem", put, answer, error_)) ++(choice < 4 ? inserts : updates);
      } else {
        char key[64];
        std::snprintf(key, sizeof key, R"({"pk":{"S":"user#%06d"},"sk":{"N":"%d"}})", index, index);
        const std::string remove = "{\"TableName\":" + jsonString(table_) + ",\"Key\":" + key + "}";
        if (client_.call("DeleteItem", remove, answer, error_)) ++deletes;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  const cloud::DynamoClient& client_;
  std::string table_;
  int items_;
  std::atomic<bool> stop_{false};
  std::string error_;
  std::thread thread_;
};

double mebibytes(uint64_t bytes) { return bytes / 1048576.0; }

void printSummary(const DemoOptions& options, const std::string& endpoint,
                  const std::string& bucket, const std::string& source, const std::string& restored,
                  uint64_t itemBytes, const Writer& writer, const TableResult& backedUp,
                  const TableResult& restoredResult, size_t compared) {
  std::printf("clouddb-mover demo (server %s%s, bucket %s)\n", endpoint.c_str(),
              options.endpoint.empty() ? ", moto_server started for the demo" : "", bucket.c_str());
  std::printf(
      "  table             %s: %d items of every attribute type, %.2f MiB,\n"
      "                    key pk+sk, a global and a local secondary index, a stream\n",
      source.c_str(), options.items, mebibytes(itemBytes));
  if (backedUp.segments == 0) return;
  std::printf(
      "  backup            %llu items in %d segments, %zu cloud files of about %lld bytes,\n"
      "                    %.2f MiB of backup stream in %.2f s: %.0f items/s, %.2f MiB/s\n",
      static_cast<unsigned long long>(backedUp.items), backedUp.segments, backedUp.cloudFiles,
      options.limit, mebibytes(backedUp.streamBytes), backedUp.seconds,
      backedUp.items / backedUp.seconds, mebibytes(backedUp.streamBytes) / backedUp.seconds);
  std::printf(
      "  writes            %d during the backup's scan (%d updates, %d inserts, %d deletes);\n"
      "                    %llu stream records up to the consistency point;\n"
      "                    %s\n",
      writer.updates + writer.inserts + writer.deletes, writer.updates, writer.inserts,
      writer.deletes, static_cast<unsigned long long>(backedUp.records),
      backedUp.consistency.c_str());
  if (restoredResult.segments == 0) return;
  std::printf(
      "  restore           %llu items and %llu replayed records into %s\n"
      "                    (created from the backup) in %.2f s: %.0f items/s\n",
      static_cast<unsigned long long>(restoredResult.items),
      static_cast<unsigned long long>(restoredResult.records), restored.c_str(),
      restoredResult.seconds, restoredResult.items / restoredResult.seconds);
  if (compared == 0) return;
  std::printf("  compared          %zu items (keys by keyString, values as canonical JSON)\n",
              compared);
}

}  // namespace

int runTableDemo(const DemoOptions& options) {
  LocalServer server;
  std::string error;
  std::string endpoint = options.endpoint;
  if (endpoint.empty() && !server.start(error)) {
    std::fprintf(stderr, "clouddb-mover: error: %s\n", error.c_str());
    return 1;
  }
  if (endpoint.empty()) endpoint = server.url();
  // The demo's own server takes any credentials.
  setenv("AWS_ACCESS_KEY_ID", "demo", 0);
  setenv("AWS_SECRET_ACCESS_KEY", "demo", 0);
  std::string pattern = (fs::temp_directory_path() / "clouddb-demo-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "clouddb-mover: error: cannot create a temporary directory\n");
    return 1;
  }
  const fs::path bucket = fs::path(pattern) / "bucket";
  const std::string suffix = fs::path(pattern).filename().string().substr(13);
  const std::string source = "clouddb-demo-" + suffix;
  const std::string restored = "clouddb-demo-" + suffix + "-restored";
  const std::vector<std::string> keyNames = {"pk", "sk"};

  cloud::ConfigOverrides overrides;
  overrides.endpointUrl = endpoint;
  cloud::ServiceConfig config;
  TableMetadata definition;
  definition.definition = kDefinition;
  uint64_t itemBytes = 0;
  TableOptions backup;
  backup.table = source;
  backup.location = bucket.string();
  backup.segments = options.segments;
  backup.stream.limit = options.limit;
  backup.cloud = overrides;
  TableOptions restore = backup;
  restore.table = restored;
  TableResult backedUp;
  TableResult restoredResult;
  size_t compared = 0;
  bool identical = cloud::loadServiceConfig(cloud::Service::kDynamoDb, overrides, config, error);
  const cloud::DynamoClient client(config);
  Writer writer(client, source, options.items);
  // The writer stops once the scan has finished, before the consistency
  // point: the restore must give the table as it is then.
  std::string writeError;
  bool written = true;
  backup.afterScan = [&] { written = writer.stop(writeError); };
  if (identical) {
    identical = createTable(client, source, definition, error) &&
                fill(client, source, keyNames, options.items, itemBytes, error);
  }
  if (identical) {
    // Stream records carry whole seconds: a backup that starts in the second
    // after the fill keeps only the writes made while it runs.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    writer.start();
    identical = runTableBackup(backup, backedUp, error);
    written = writer.stop(writeError) && written;
    if (!written) error = writeError;
    identical = identical && written &&
                runTableRestore(backup.location, restore, restoredResult, error) &&
                sameTables(client, source, restored, keyNames, compared, error);
  }

  printSummary(options, endpoint, bucket.string(), source, restored, itemBytes, writer, backedUp,
               restoredResult, compared);
  std::printf("  restored table equals the source at the consistency point: %s\n",
              identical ? "yes" : ("NO: " + error).c_str());
  if (identical) fs::remove_all(pattern);
  return identical ? 0 : 1;
}

}  // namespace mover
