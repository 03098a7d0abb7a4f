#include "tools/agents/TableWrite.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "tools/agents/TableSchema.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

constexpr size_t kBatchRequests = 25;
constexpr int kUnprocessedAttempts = 30;

const char kItemPrefix[] = "{\"Item\":";

}  // namespace

bool itemOfLine(const std::string& line, std::string& item) {
  const size_t prefix = std::strlen(kItemPrefix);
  if (line.size() < prefix + 3 || line.compare(0, prefix, kItemPrefix) != 0 || line.back() != '}') {
    return false;
  }
  item.assign(line, prefix, line.size() - prefix - 1);
  rapidjson::Document document;
  return cloud::parseJson(item, document) && document.IsObject();
}

BatchWriter::BatchWriter(const cloud::DynamoClient& client, std::string table,
                         std::vector<std::string> keyNames)
    : client_(client), table_(std::move(table)), keyNames_(std::move(keyNames)) {}

bool BatchWriter::put(const std::string& item, std::string& error) {
  return add({Pending::kPut, item}, error);
}

bool BatchWriter::remove(const std::string& key, std::string& error) {
  return add({Pending::kDelete, key}, error);
}

bool BatchWriter::add(Pending request, std::string& error) {
  lastKey_ = keyString(request.json, keyNames_);
  if (keys_.count(lastKey_) != 0 && !flush(error)) return false;
  keys_.insert(lastKey_);
  requests_.push_back(std::move(request));
  return requests_.size() < kBatchRequests || flush(error);
}

// {"RequestItems":{TABLE:[{"PutRequest":{"Item":...}}, ...]}}, written with a
// JSON writer; each request's item or key is a JSON object already checked.
std::string BatchWriter::body() const {
  std::string text;
  cloud::JsonStringStream stream(text);
  cloud::JsonStringWriter writer(stream);
  writer.StartObject();
  writer.Key("RequestItems");
  writer.StartObject();
  writer.Key(table_.c_str(), static_cast<rapidjson::SizeType>(table_.size()));
  writer.StartArray();
  for (const Pending& request : requests_) {
    const auto size = static_cast<rapidjson::SizeType>(request.json.size());
    if (request.kind == Pending::kRequest) {
      writer.RawValue(request.json.data(), size, rapidjson::kObjectType);
      continue;
    }
    writer.StartObject();
    writer.Key(request.kind == Pending::kPut ? "PutRequest" : "DeleteRequest");
    writer.StartObject();
    writer.Key(request.kind == Pending::kPut ? "Item" : "Key");
    writer.RawValue(request.json.data(), size, rapidjson::kObjectType);
    writer.EndObject();
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  writer.EndObject();
  return text;
}

bool BatchWriter::flush(std::string& error) {
  for (int attempt = 1; !requests_.empty(); ++attempt) {
    if (attempt > kUnprocessedAttempts) {
      error = "BatchWriteItem left " + std::to_string(requests_.size()) + " requests to " + table_ +
              " unprocessed after " + std::to_string(kUnprocessedAttempts) + " attempts";
      return false;
    }
    if (attempt > 1) cloud::backOff(attempt - 1);
    rapidjson::Document answer;
    if (!client_.call("BatchWriteItem", body(), answer, error)) return false;
    const size_t sent = requests_.size();
    requests_.clear();
    const auto unprocessed = answer.FindMember("UnprocessedItems");
    if (unprocessed != answer.MemberEnd() && unprocessed->value.IsObject()) {
      const auto left = unprocessed->value.FindMember(table_.c_str());
      if (left != unprocessed->value.MemberEnd() && left->value.IsArray()) {
        for (const rapidjson::Value& request : left->value.GetArray()) {
          if (request.IsObject()) requests_.push_back({Pending::kRequest, cloud::toJson(request)});
        }
      }
    }
    written_ += sent - requests_.size();
  }
  keys_.clear();
  return true;
}

TableWriteInput::TableWriteInput(OrbEnvironment& environment, const cloud::DynamoClient& client,
                                 const std::string& table, const std::vector<std::string>& keyNames,
                                 const std::unordered_map<std::string, bool>* replayed,
                                 uint64_t* touched)
    : OrbBufferedInput("table " + table, environment),
      writer_(client, table, keyNames),
      replayed_(replayed),
      touched_(touched) {}

bool TableWriteInput::initializeRestore() { return true; }

bool TableWriteInput::startRestore(bool) {
  std::string error;
  while (getLine(line_)) {
    if (!itemOfLine(line_, item_)) return fail("corrupt backup: a line is not an item");
    if (!writer_.put(item_, error)) return fail(error);
    if (replayed_ != nullptr && replayed_->count(writer_.lastKey()) != 0) ++*touched_;
  }
  return true;
}

bool TableWriteInput::closeChunk() {
  if (!OrbBufferedInput::closeChunk()) return false;
  std::string error;
  return writer_.flush(error) || fail(error);
}

bool TableWriteInput::fail(const std::string& error) {
  environment.setFailure(error);
  return false;
}

LineCopyInput::LineCopyInput(OrbEnvironment& environment, std::shared_ptr<OrbOutput> output)
    : OrbBufferedInput("copy", environment), output_(std::move(output)) {}

bool LineCopyInput::initializeRestore() { return true; }

bool LineCopyInput::startRestore(bool) {
  while (getLine(line_)) {
    line_.push_back('\n');
    if (!output_->putString(line_)) {
      environment.setFailure("cannot write a restored line");
      return false;
    }
  }
  return true;
}

bool LineCopyInput::closeChunk() {
  if (!OrbBufferedInput::closeChunk()) return false;
  if (output_->flush()) return true;
  environment.setFailure("cannot write a restored file");
  return false;
}

}  // namespace mover
