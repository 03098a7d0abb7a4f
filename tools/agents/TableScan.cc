#include "tools/agents/TableScan.h"

#include "tools/agents/TableSchema.h"

namespace mover {

using rapidjson::Value;

// A 1 MB Scan page parses into a few of these.
constexpr size_t kPageChunkBytes = size_t{1} << 20;

SegmentScanner::SegmentScanner(const cloud::DynamoClient& client, ScanSegment segment)
    : client_(client), segment_(std::move(segment)), pool_(kPageChunkBytes), page_(&pool_) {}

bool parseKey(const std::string& text, const std::vector<std::string>& names,
              const std::vector<std::string>& types, rapidjson::Document& key) {
  if (!cloud::parseJson(text, key) || !key.IsObject() || key.MemberCount() != names.size()) {
    return false;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const Value* value = cloud::findMember(key, names[i].c_str());
    if (value == nullptr || !value->IsObject() || value->MemberCount() != 1 ||
        (i < types.size() && !types[i].empty() && value->MemberBegin()->name != types[i].c_str()) ||
        !value->MemberBegin()->value.IsString()) {
      return false;
    }
  }
  return true;
}

std::string SegmentScanner::request(const Value* startKey) const {
  std::string text;
  cloud::JsonStringStream stream(text);
  cloud::JsonStringWriter writer(stream);
  writer.StartObject();
  writer.Key("TableName");
  writer.String(segment_.table.c_str(), static_cast<rapidjson::SizeType>(segment_.table.size()));
  writer.Key("Segment");
  writer.Int(segment_.segment);
  writer.Key("TotalSegments");
  writer.Int(segment_.segments);
  if (startKey != nullptr) {
    writer.Key("ExclusiveStartKey");
    startKey->Accept(writer);
  }
  writer.EndObject();
  return text;
}

bool SegmentScanner::fetch(std::string& error) {
  rapidjson::Document startKey;
  if (!segment_.startAfter.empty() &&
      !parseKey(segment_.startAfter, segment_.keyNames, segment_.keyTypes, startKey)) {
    error = "cannot continue segment " + std::to_string(segment_.segment) + " of " +
            segment_.table + " after '" + segment_.startAfter.substr(0, 200) +
            "': it is not a key of the table";
    return false;
  }
  const std::string text = request(segment_.startAfter.empty() ? nullptr : &startKey);
  // The previous page is used up: its memory goes before the next arrives.
  page_.SetNull();
  pool_.Clear();
  count_ = next_ = 0;
  cloud::Response response;
  if (!client_.call("Scan", text, page_, response, error)) return false;
  const auto items = page_.FindMember("Items");
  if (items == page_.MemberEnd() || !items->value.IsArray()) {
    error = "Scan of " + segment_.table + " gave no items";
    return false;
  }
  const auto last = page_.FindMember("LastEvaluatedKey");
  lastPage_ = last == page_.MemberEnd();
  segment_.startAfter = lastPage_ ? "" : cloud::toJson(last->value);
  if (!lastPage_ && !seen_.insert(segment_.startAfter).second) {
    error = "Scan of " + segment_.table + " segment " + std::to_string(segment_.segment) +
            " gave the LastEvaluatedKey " + segment_.startAfter.substr(0, 200) +
            " a second time: the service's pages loop";
    return false;
  }
  lastPageTime_ = response.date;
  count_ = items->value.Size();
  return true;
}

bool SegmentScanner::keyOf(const Value& item, std::string& key, std::string& error) const {
  key.clear();
  cloud::JsonStringStream stream(key);
  cloud::JsonStringWriter writer(stream);
  writer.StartObject();
  for (const std::string& name : segment_.keyNames) {
    const auto attribute = item.FindMember(name.c_str());
    if (attribute == item.MemberEnd()) {
      error = "Scan of " + segment_.table + " gave an item without its key " + name;
      return false;
    }
    writer.Key(name.c_str());
    attribute->value.Accept(writer);
  }
  writer.EndObject();
  return true;
}

bool SegmentScanner::produce(OrbOutput& out, std::string& error) {
  while (!out.stopNow()) {
    if (next_ == count_) {
      if (lastPage_ || finished_) {
        finished_ = true;
        out.updateRestart("");
        return true;
      }
      if (!fetch(error)) return false;
      continue;
    }
    const Value& item = page_["Items"][next_++];
    if (!item.IsObject() || !keyOf(item, key_, error)) {
      if (error.empty())
        error = "Scan of " + segment_.table + " gave an item that is not an object";
      return false;
    }
    line_.assign("{\"Item\":");
    cloud::appendJson(item, line_);
    line_.append("}\n");
    if (!out.putString(line_)) {
      error = "cannot hand over an item of segment " + std::to_string(segment_.segment);
      return false;
    }
    out.updateRestart(key_);
    ++items_;
  }
  return true;
}

}  // namespace mover
