#include "tools/agents/TableSchema.h"

#include "tools/agents/Names.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <unordered_set>

namespace mover {
namespace {

using rapidjson::Document;
using rapidjson::Value;

constexpr auto kActivePoll = std::chrono::milliseconds(200);
constexpr int kActivePolls = 4500;  // 15 minutes

using cloud::numberMember;
using cloud::stringMember;

const Value* member(const Value& object, const char* name) {
  return cloud::findMember(object, name);
}

void copyMember(const Value& from, const char* name, Value& to, Document::AllocatorType& memory) {
  if (const Value* value = member(from, name)) {
    to.AddMember(Value(name, memory), Value(*value, memory), memory);
  }
}

Value throughput(const Value& described, Document::AllocatorType& memory) {
  Value result(rapidjson::kObjectType);
  if (const Value* provisioned = member(described, "ProvisionedThroughput")) {
    copyMember(*provisioned, "ReadCapacityUnits", result, memory);
    copyMember(*provisioned, "WriteCapacityUnits", result, memory);
  }
  return result;
}

// The indexes of one kind, as CreateTable takes them.
void copyIndexes(const Value& table, const char* kind, bool provisioned, Value& definition,
                 Document::AllocatorType& memory) {
  const Value* indexes = member(table, kind);
  if (indexes == nullptr || !indexes->IsArray() || indexes->Empty()) return;
  Value copies(rapidjson::kArrayType);
  for (const Value& index : indexes->GetArray()) {
    Value copy(rapidjson::kObjectType);
    for (const char* name : {"IndexName", "KeySchema", "Projection"}) {
      copyMember(index, name, copy, memory);
    }
    if (provisioned && std::string(kind) == "GlobalSecondaryIndexes") {
      copy.AddMember("ProvisionedThroughput", throughput(index, memory), memory);
    }
    copies.PushBack(copy, memory);
  }
  definition.AddMember(Value(kind, memory), copies, memory);
}

std::vector<std::string> keyNamesOf(const Value& keySchema) {
  std::vector<std::string> names;
  if (!keySchema.IsArray()) return names;
  for (const char* type : {"HASH", "RANGE"}) {
    for (const Value& key : keySchema.GetArray()) {
      if (stringMember(key, "KeyType") == type) names.push_back(stringMember(key, "AttributeName"));
    }
  }
  return names;
}

// The declared type of each key attribute, as AttributeDefinitions gives it.
std::vector<std::string> keyTypesOf(const std::vector<std::string>& names,
                                    const Value* definitions) {
  std::vector<std::string> types(names.size());
  if (definitions == nullptr || !definitions->IsArray()) return types;
  for (size_t i = 0; i < names.size(); ++i) {
    for (const Value& definition : definitions->GetArray()) {
      if (stringMember(definition, "AttributeName") == names[i]) {
        types[i] = stringMember(definition, "AttributeType");
      }
    }
  }
  return types;
}

Value stringArray(const std::vector<std::string>& strings, Document::AllocatorType& memory) {
  Value array(rapidjson::kArrayType);
  for (const std::string& text : strings) array.PushBack(Value(text.c_str(), memory), memory);
  return array;
}

void readStrings(const Value& object, const char* name, std::vector<std::string>& strings) {
  const Value* array = member(object, name);
  if (array == nullptr || !array->IsArray()) return;
  for (const Value& text : array->GetArray()) {
    if (text.IsString()) strings.push_back(text.GetString());
  }
}

std::string utcTime(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool tableActive(const Value& table) {
  if (stringMember(table, "TableStatus") != "ACTIVE") return false;
  const Value* indexes = member(table, "GlobalSecondaryIndexes");
  if (indexes == nullptr || !indexes->IsArray()) return true;
  for (const Value& index : indexes->GetArray()) {
    if (stringMember(index, "IndexStatus") != "ACTIVE") return false;
  }
  return true;
}

// One page of a counting scan (of one segment of several when segments > 1).
std::string countRequest(const std::string& table, const Value* startKey, int limit,
                         int segment = 0, int segments = 1) {
  cloud::JsonObject request;
  request.add("TableName", table).add("Select", "COUNT");
  if (limit > 0) request.add("Limit", int64_t{limit});
  if (segments > 1)
    request.add("Segment", int64_t{segment}).add("TotalSegments", int64_t{segments});
  if (startKey != nullptr) request.add("ExclusiveStartKey", *startKey);
  return request.text();
}

std::string tableRequest(const std::string& table) {
  return cloud::JsonObject().add("TableName", table).text();
}

// A CreateTable retried after its first attempt took effect meets its own
// table: one with the backup's key schema and attribute definitions,
// created since the call was made (a minute's margin for the clocks), and
// empty. Anything else is another's table.
bool createdByThisCall(const cloud::DynamoClient& client, const std::string& table,
                       const TableMetadata& metadata, std::time_t asked, std::string& error) {
  Document described;
  if (!client.call("DescribeTable", tableRequest(table), described, error)) {
    return false;
  }
  Document wanted;
  cloud::parseJson(metadata.definition, wanted);
  const Value* state = member(described, "Table");
  const Value* created = state != nullptr ? member(*state, "CreationDateTime") : nullptr;
  const bool same =
      state != nullptr && member(*state, "KeySchema") != nullptr &&
      member(wanted, "KeySchema") != nullptr &&
      *member(*state, "KeySchema") == *member(wanted, "KeySchema") &&
      member(*state, "AttributeDefinitions") != nullptr &&
      member(wanted, "AttributeDefinitions") != nullptr &&
      *member(*state, "AttributeDefinitions") == *member(wanted, "AttributeDefinitions") &&
      created != nullptr && created->IsNumber() && created->GetDouble() >= asked - 60.0 &&
      numberMember(*state, "ItemCount") == 0;
  if (same) return true;
  error = "CreateTable failed: table " + table +
          " exists already, and not as this restore "
          "created it";
  return false;
}

}  // namespace

std::string jsonString(const std::string& s) {
  rapidjson::StringBuffer buffer;
  cloud::JsonWriter writer(buffer);
  writer.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
  return buffer.GetString();
}

std::string TableMetadata::consistency() const {
  if (stream.arn.empty()) return "not consistent under writes";
  if (stream.consistencyPoint == 0) return "consistency point not reached yet";
  return "consistent as of " + utcTime(stream.consistencyPoint) + " (the end of the backup's scan)";
}

std::string TableMetadata::toJson() const {
  Document document;
  cloud::parseJson(definition, document);
  if (!document.IsObject()) document.SetObject();
  auto& memory = document.GetAllocator();
  document.AddMember("TableName", Value(table.c_str(), memory), memory);
  document.AddMember("ItemCountAtStart", Value(itemCountAtStart), memory);
  if (!streamViewType.empty()) {
    document.AddMember("StreamViewType", Value(streamViewType.c_str(), memory), memory);
  }
  Value backup(rapidjson::kObjectType);
  backup.AddMember("Segments", Value(segments), memory);
  backup.AddMember("Complete", Value(complete), memory);
  backup.AddMember("Items", Value(items), memory);
  backup.AddMember("Consistency", Value(consistency().c_str(), memory), memory);
  if (!stream.arn.empty()) {
    Value state(rapidjson::kObjectType);
    state.AddMember("Arn", Value(stream.arn.c_str(), memory), memory);
    state.AddMember("StartTime", Value(static_cast<int64_t>(stream.startTime)), memory);
    state.AddMember("Roots", stringArray(stream.roots, memory), memory);
    state.AddMember("ConsistencyPoint", Value(static_cast<int64_t>(stream.consistencyPoint)),
                    memory);
    state.AddMember("Shards", stringArray(stream.shards, memory), memory);
    backup.AddMember("Stream", state, memory);
  }
  document.AddMember("Backup", backup, memory);
  return cloud::toJson(document);
}

bool TableMetadata::parse(const std::string& json, std::string& error) {
  Document document;
  cloud::parseJson(json, document);
  const Value* backup = document.IsObject() ? member(document, "Backup") : nullptr;
  const Value* keySchema = backup != nullptr ? member(document, "KeySchema") : nullptr;
  if (keySchema == nullptr || !backup->IsObject() || stringMember(document, "TableName").empty()) {
    error = "not a table backup's metadata";
    return false;
  }
  table = stringMember(document, "TableName");
  if (!isTableName(table)) {
    error = "not a table backup's metadata: its TableName is not a DynamoDB table name";
    return false;
  }
  keyNames = keyNamesOf(*keySchema);
  keyTypes = keyTypesOf(keyNames, member(document, "AttributeDefinitions"));
  itemCountAtStart = numberMember(document, "ItemCountAtStart");
  streamViewType = stringMember(document, "StreamViewType");
  const Value* segmentCount = member(*backup, "Segments");
  if (segmentCount == nullptr || !segmentCount->IsUint64() || segmentCount->GetUint64() < 1 ||
      segmentCount->GetUint64() > static_cast<uint64_t>(kMaxSegments)) {
    error = "not a table backup's metadata: Segments is not a number from 1 to " +
            std::to_string(kMaxSegments);
    return false;
  }
  segments = static_cast<int>(segmentCount->GetUint64());
  const Value* done = member(*backup, "Complete");
  complete = done != nullptr && done->IsTrue();
  items = numberMember(*backup, "Items");
  stream = StreamState();
  if (const Value* state = member(*backup, "Stream")) {
    stream.arn = stringMember(*state, "Arn");
    stream.startTime = static_cast<std::time_t>(numberMember(*state, "StartTime"));
    stream.consistencyPoint = static_cast<std::time_t>(numberMember(*state, "ConsistencyPoint"));
    readStrings(*state, "Roots", stream.roots);
    readStrings(*state, "Shards", stream.shards);
  }
  for (const char* own : {"TableName", "ItemCountAtStart", "StreamViewType", "Backup"}) {
    document.RemoveMember(own);
  }
  definition = cloud::toJson(document);
  if (keyNames.empty() || segments < 1) {
    error = "not a table backup's metadata";
    return false;
  }
  return true;
}

bool describeTable(const cloud::DynamoClient& client, const std::string& table,
                   TableMetadata& metadata, bool& missing, std::string& error) {
  Document answer;
  cloud::Response response;
  missing = false;
  if (!client.call("DescribeTable", tableRequest(table), answer, response, error)) {
    missing = response.errorCode == "ResourceNotFoundException";
    if (missing) {
      error = "no table " + table + " in region " + client.config().region + " at " +
              client.config().endpoint + " (check the table's name, AWS_REGION and --endpoint-url)";
    }
    return false;
  }
  const Value* described = member(answer, "Table");
  const Value* keySchema = described != nullptr ? member(*described, "KeySchema") : nullptr;
  if (keySchema == nullptr) {
    error = "DescribeTable gave no key schema for " + table;
    return false;
  }
  Document definition(rapidjson::kObjectType);
  auto& memory = definition.GetAllocator();
  copyMember(*described, "KeySchema", definition, memory);
  copyMember(*described, "AttributeDefinitions", definition, memory);
  const Value* billing = member(*described, "BillingModeSummary");
  std::string mode = billing != nullptr ? stringMember(*billing, "BillingMode") : "";
  if (mode.empty()) mode = "PROVISIONED";
  const bool provisioned = mode == "PROVISIONED";
  definition.AddMember("BillingMode", Value(mode.c_str(), memory), memory);
  if (provisioned) {
    definition.AddMember("ProvisionedThroughput", throughput(*described, memory), memory);
  }
  copyIndexes(*described, "GlobalSecondaryIndexes", provisioned, definition, memory);
  copyIndexes(*described, "LocalSecondaryIndexes", provisioned, definition, memory);

  metadata.table = table;
  metadata.definition = cloud::toJson(definition);
  metadata.keyNames = keyNamesOf(*keySchema);
  metadata.keyTypes = keyTypesOf(metadata.keyNames, member(*described, "AttributeDefinitions"));
  metadata.itemCountAtStart = numberMember(*described, "ItemCount");
  metadata.description = cloud::toJson(*described);
  metadata.streamViewType.clear();
  metadata.stream = StreamState();
  const Value* streaming = member(*described, "StreamSpecification");
  if (streaming != nullptr && member(*streaming, "StreamEnabled") != nullptr &&
      (*streaming)["StreamEnabled"].IsTrue()) {
    metadata.streamViewType = stringMember(*streaming, "StreamViewType");
    metadata.stream.arn = stringMember(*described, "LatestStreamArn");
  }
  return true;
}

bool createTable(const cloud::DynamoClient& client, const std::string& table,
                 const TableMetadata& metadata, std::string& error) {
  Document request;
  cloud::parseJson(metadata.definition, request);
  if (!request.IsObject()) {
    error = "the backup's table definition is not JSON";
    return false;
  }
  request.AddMember("TableName", Value(table.c_str(), request.GetAllocator()),
                    request.GetAllocator());
  Document answer;
  cloud::Response response;
  const std::time_t asked = std::time(nullptr);
  if (!client.call("CreateTable", cloud::toJson(request), answer, response, error) &&
      !(response.errorCode == "ResourceInUseException" &&
        createdByThisCall(client, table, metadata, asked, error))) {
    return false;
  }
  for (int poll = 0; poll < kActivePolls; ++poll) {
    Document described;
    if (!client.call("DescribeTable", tableRequest(table), described, error)) {
      return false;
    }
    const Value* state = member(described, "Table");
    if (state != nullptr && tableActive(*state)) return true;
    std::this_thread::sleep_for(kActivePoll);
  }
  error = "table " + table + " did not become active within 15 minutes";
  return false;
}

bool countItems(const cloud::DynamoClient& client, const std::string& table, int segments,
                uint64_t& count, std::string& error) {
  std::vector<uint64_t> counts(segments);
  std::vector<std::string> errors(segments);
  std::vector<char> ok(segments, 1);
  std::vector<std::thread> threads;
  for (int segment = 0; segment < segments; ++segment) {
    threads.emplace_back([&, segment] {
      Document startKey;  // null: from the start
      std::unordered_set<std::string> seen;
      for (;;) {
        Document answer;
        const Value* start = startKey.IsNull() ? nullptr : &startKey;
        if (!client.call("Scan", countRequest(table, start, 0, segment, segments), answer,
                         errors[segment])) {
          ok[segment] = 0;
          return;
        }
        counts[segment] += numberMember(answer, "Count");
        const Value* last = member(answer, "LastEvaluatedKey");
        if (last == nullptr) return;
        if (!seen.insert(cloud::toJson(*last)).second) {
          errors[segment] = "Scan of " + table +
                            " gave a LastEvaluatedKey a second time: the "
                            "service's pages loop";
          ok[segment] = 0;
          return;
        }
        startKey.CopyFrom(*last, startKey.GetAllocator());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  count = 0;
  for (int segment = 0; segment < segments; ++segment) {
    if (!ok[segment]) {
      error = errors[segment];
      return false;
    }
    count += counts[segment];
  }
  return true;
}

bool isEmpty(const cloud::DynamoClient& client, const std::string& table, bool& empty,
             std::string& error) {
  Document answer;
  if (!client.call("Scan", countRequest(table, nullptr, 1), answer, error)) return false;
  empty = numberMember(answer, "Count") == 0 && member(answer, "LastEvaluatedKey") == nullptr;
  return true;
}

}  // namespace mover
