#include "tools/agents/TableVerify.h"

#include <algorithm>

#include "tools/agents/TableWrite.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

using rapidjson::Document;
using rapidjson::Value;

constexpr size_t kBatchKeys = 100;
constexpr int kUnprocessedAttempts = 30;

bool sameAttribute(const Value& a, const Value& b);

// Set elements, in order.
std::vector<std::string> setElements(const Value& set) {
  std::vector<std::string> elements;
  for (const Value& element : set.GetArray()) {
    elements.emplace_back(element.IsString() ? element.GetString() : cloud::toJson(element));
  }
  std::sort(elements.begin(), elements.end());
  return elements;
}

bool sameList(const Value& a, const Value& b) {
  if (a.Size() != b.Size()) return false;
  for (rapidjson::SizeType i = 0; i < a.Size(); ++i) {
    if (!sameAttribute(a[i], b[i])) return false;
  }
  return true;
}

// {"S": ...}, {"SS": [...]}, {"M": {...}}, ...: one member naming the type.
bool sameAttribute(const Value& a, const Value& b) {
  if (!a.IsObject() || !b.IsObject() || a.MemberCount() != 1 || b.MemberCount() != 1) {
    return a == b;
  }
  const std::string type = a.MemberBegin()->name.GetString();
  if (type != b.MemberBegin()->name.GetString()) return false;
  const Value& left = a.MemberBegin()->value;
  const Value& right = b.MemberBegin()->value;
  const bool set = type == "SS" || type == "NS" || type == "BS";
  if (set && left.IsArray() && right.IsArray()) return setElements(left) == setElements(right);
  if (type == "L" && left.IsArray() && right.IsArray()) return sameList(left, right);
  if (type == "M") return sameItem(left, right);
  return left == right;
}

}  // namespace

bool sameItem(const Value& a, const Value& b) {
  if (!a.IsObject() || !b.IsObject() || a.MemberCount() != b.MemberCount()) return false;
  for (const auto& member : a.GetObject()) {
    const auto other = b.FindMember(member.name);
    if (other == b.MemberEnd() || !sameAttribute(member.value, other->value)) return false;
  }
  return true;
}

VerifyInput::VerifyInput(OrbEnvironment& environment, const cloud::DynamoClient& client,
                         const std::string& table, const std::vector<std::string>& keyNames,
                         const std::unordered_map<std::string, bool>* replayed)
    : OrbBufferedInput("verify " + table, environment),
      client_(client),
      table_(table),
      keyNames_(keyNames),
      replayed_(replayed) {}

bool VerifyInput::initializeRestore() { return true; }

bool VerifyInput::startRestore(bool) {
  std::string error;
  while (getLine(line_)) {
    if (!itemOfLine(line_, item_)) return fail("corrupt backup: a line is not an item");
    std::string key = keyString(item_, keyNames_);
    if (replayed_ != nullptr && replayed_->count(key) != 0) continue;
    pending_[std::move(key)] = item_;
    if (pending_.size() >= kBatchKeys && !check(error)) return fail(error);
  }
  return true;
}

bool VerifyInput::closeChunk() {
  if (!OrbBufferedInput::closeChunk()) return false;
  std::string error;
  return check(error) || fail(error);
}

bool VerifyInput::fail(const std::string& error) {
  environment.setFailure(error);
  return false;
}

// Asks for every pending key, and compares what comes back.
bool VerifyInput::check(std::string& error) {
  std::unordered_map<std::string, Document> expected;
  for (auto& [key, text] : pending_) cloud::parseJson(text, expected[key]);
  pending_.clear();
  std::vector<std::string> keys;
  for (const auto& entry : expected) keys.push_back(entry.first);
  for (int attempt = 1; !keys.empty(); ++attempt) {
    if (attempt > kUnprocessedAttempts) {
      error = "BatchGetItem left " + std::to_string(keys.size()) + " keys of " + table_ +
              " unprocessed after " + std::to_string(kUnprocessedAttempts) + " attempts";
      return false;
    }
    if (attempt > 1) cloud::backOff(attempt - 1);
    std::string body;
    cloud::JsonStringStream stream(body);
    cloud::JsonStringWriter request(stream);
    request.StartObject();
    request.Key("RequestItems");
    request.StartObject();
    request.Key(table_.c_str(), static_cast<rapidjson::SizeType>(table_.size()));
    request.StartObject();
    request.Key("ConsistentRead");
    request.Bool(true);
    request.Key("Keys");
    request.StartArray();
    for (const std::string& key : keys) {
      const Value& item = expected[key];
      request.StartObject();
      for (const std::string& name : keyNames_) {
        const auto attribute = item.FindMember(name.c_str());
        if (attribute == item.MemberEnd()) continue;
        request.Key(name.c_str(), static_cast<rapidjson::SizeType>(name.size()));
        attribute->value.Accept(request);
      }
      request.EndObject();
    }
    request.EndArray();
    request.EndObject();
    request.EndObject();
    request.EndObject();
    Document answer;
    if (!client_.call("BatchGetItem", body, answer, error)) return false;
    const Value* responses = cloud::findMember(answer, "Responses");
    const Value* found =
        responses != nullptr ? cloud::findMember(*responses, table_.c_str()) : nullptr;
    if (found != nullptr && found->IsArray()) {
      for (const Value& item : found->GetArray()) {
        const std::string key = keyString(cloud::toJson(item), keyNames_);
        const auto wanted = expected.find(key);
        if (wanted == expected.end()) continue;
        if (!sameItem(wanted->second, item)) {
          error =
              "restore --verify: item " + key + " in table " + table_ + " differs from the backup";
          return false;
        }
        ++verified_;
        expected.erase(wanted);
      }
    }
    const Value* unprocessed = cloud::findMember(answer, "UnprocessedKeys");
    const Value* left =
        unprocessed != nullptr ? cloud::findMember(*unprocessed, table_.c_str()) : nullptr;
    keys.clear();
    if (left == nullptr) break;
    const Value* again = cloud::findMember(*left, "Keys");
    if (again == nullptr || !again->IsArray()) break;
    for (const Value& key : again->GetArray()) {
      keys.push_back(keyString(cloud::toJson(key), keyNames_));
    }
  }
  if (expected.empty()) return true;
  error = "restore --verify: item " + expected.begin()->first + " of the backup is missing from " +
          "table " + table_;
  return false;
}

}  // namespace mover
