#include "tools/agents/StreamCapture.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

namespace mover {
namespace {

using cloud::findMember;
using cloud::stringMember;
using rapidjson::Value;

constexpr auto kPoll = std::chrono::milliseconds(250);
constexpr int kRecordsPerPage = 1000;
// A page of records parses into a few of these.
constexpr size_t kPageChunkBytes = size_t{1} << 20;

std::time_t serviceTime(const cloud::Response& response) {
  return response.date != 0 ? response.date : std::time(nullptr);
}

void depthFirst(const std::string& shard,
                const std::map<std::string, std::vector<std::string>>& children,
                std::set<std::string>& seen, std::vector<std::string>& order) {
  if (!seen.insert(shard).second) return;
  order.push_back(shard);
  const auto found = children.find(shard);
  if (found == children.end()) return;
  for (const std::string& child : found->second) depthFirst(child, children, seen, order);
}

}  // namespace

bool describeStream(const cloud::DynamoClient& streams, const std::string& arn,
                    std::vector<ShardInfo>& shards, std::time_t& time, std::string& error) {
  shards.clear();
  std::string startAfter;
  do {
    cloud::JsonObject request;
    request.add("StreamArn", arn).add("Limit", int64_t{100});
    if (!startAfter.empty()) request.add("ExclusiveStartShardId", startAfter);
    rapidjson::Document answer;
    cloud::Response response;
    if (!streams.call("DescribeStream", request.text(), answer, response, error)) return false;
    time = serviceTime(response);
    const Value* description = findMember(answer, "StreamDescription");
    const Value* list = description != nullptr ? findMember(*description, "Shards") : nullptr;
    if (list == nullptr || !list->IsArray()) {
      error = "DescribeStream gave no shards for " + arn;
      return false;
    }
    for (const Value& shard : list->GetArray()) {
      const Value* range = findMember(shard, "SequenceNumberRange");
      shards.push_back({stringMember(shard, "ShardId"), stringMember(shard, "ParentShardId"),
                        range != nullptr && findMember(*range, "EndingSequenceNumber") != nullptr});
    }
    startAfter = stringMember(*description, "LastEvaluatedShardId");
  } while (!startAfter.empty());
  return true;
}

bool takeStreamPosition(const cloud::DynamoClient& streams, StreamState& state,
                        std::string& error) {
  std::vector<ShardInfo> shards;
  if (!describeStream(streams, state.arn, shards, state.startTime, error)) return false;
  state.roots.clear();
  for (const ShardInfo& shard : shards) {
    if (!shard.closed) state.roots.push_back(shard.id);
  }
  std::sort(state.roots.begin(), state.roots.end());
  return true;
}

std::vector<std::string> readingOrder(const std::vector<std::string>& roots,
                                      const std::vector<ShardInfo>& shards) {
  std::map<std::string, std::vector<std::string>> children;
  for (const ShardInfo& shard : shards) {
    if (!shard.parent.empty()) children[shard.parent].push_back(shard.id);
  }
  for (auto& [parent, ids] : children) std::sort(ids.begin(), ids.end());
  std::set<std::string> seen;
  std::vector<std::string> order;
  for (const std::string& root : roots) depthFirst(root, children, seen, order);
  return order;
}

bool fixConsistencyPoint(const cloud::DynamoClient& streams, StreamState& state,
                         std::string& error) {
  std::vector<ShardInfo> shards;
  std::time_t now = 0;
  if (!describeStream(streams, state.arn, shards, now, error)) return false;
  // The scan finished before now: every write it could have seen was made
  // before the end of this second.
  const std::time_t point = now + 1;
  // Listed once the service's clock has passed C, the shards include every
  // one that can hold records from before C.
  while (now < point) {
    std::this_thread::sleep_for(kPoll);
    if (!describeStream(streams, state.arn, shards, now, error)) return false;
  }
  state.consistencyPoint = point;
  state.shards = readingOrder(state.roots, shards);
  return true;
}

StreamReader::StreamReader(const cloud::DynamoClient& streams, StreamState state,
                           const std::string& restart)
    : streams_(streams), state_(std::move(state)), pool_(kPageChunkBytes), page_(&pool_) {
  if (restart.empty()) return;
  rapidjson::Document position;
  cloud::parseJson(restart, position);
  const Value* shard = findMember(position, "Shard");
  after_ = stringMember(position, "SequenceNumber");
  // A restart string that names no shard of this backup ends nothing: it
  // points past the end, which produce reports.
  shard_ = shard != nullptr && shard->IsUint() && !after_.empty() ? shard->GetUint()
                                                                  : state_.shards.size() + 1;
}

void StreamReader::nextShard() {
  ++shard_;
  after_.clear();
  iterator_.clear();
  shardDone_ = false;
  page_.SetNull();
  pool_.Clear();
  count_ = next_ = 0;
  pageTime_ = 0;
}

bool StreamReader::openShard(std::string& error) {
  cloud::JsonObject request;
  request.add("StreamArn", state_.arn).add("ShardId", state_.shards[shard_]);
  request.add("ShardIteratorType", after_.empty() ? "TRIM_HORIZON" : "AFTER_SEQUENCE_NUMBER");
  if (!after_.empty()) request.add("SequenceNumber", after_);
  rapidjson::Document answer;
  cloud::Response response;
  if (!streams_.call("GetShardIterator", request.text(), answer, response, error)) {
    if (response.errorCode == "TrimmedDataAccessException") {
      error = "the stream dropped records of shard " + state_.shards[shard_] +
              " before they were read (a stream keeps them 24 hours)";
    }
    return false;
  }
  iterator_ = stringMember(answer, "ShardIterator");
  if (!iterator_.empty()) return true;
  error = "GetShardIterator gave no iterator for shard " + state_.shards[shard_];
  return false;
}

bool StreamReader::fetch(std::string& error) {
  page_.SetNull();
  pool_.Clear();
  count_ = next_ = 0;
  cloud::Response response;
  cloud::JsonObject request;
  request.add("ShardIterator", iterator_).add("Limit", int64_t{kRecordsPerPage});
  if (!streams_.call("GetRecords", request.text(), page_, response, error)) {
    return false;
  }
  const Value* records = findMember(page_, "Records");
  if (records == nullptr || !records->IsArray()) {
    error = "GetRecords gave no records for shard " + state_.shards[shard_];
    return false;
  }
  count_ = records->Size();
  pageTime_ = serviceTime(response);
  iterator_ = stringMember(page_, "NextShardIterator");
  // A closed shard has no next iterator once its last records are out.
  shardDone_ = iterator_.empty();
  return true;
}

bool StreamReader::produce(OrbOutput& out, std::string& error) {
  if (shard_ > state_.shards.size()) {
    error = "cannot continue the stream from its restart string";
    return false;
  }
  const double start = static_cast<double>(state_.startTime);
  const double point = static_cast<double>(state_.consistencyPoint);
  while (!out.stopNow()) {
    if (finished()) {
      out.updateRestart("");
      return true;
    }
    if (next_ < count_) {
      const Value& record = page_["Records"][next_++];
      const Value* change = findMember(record, "dynamodb");
      const Value* created =
          change != nullptr ? findMember(*change, "ApproximateCreationDateTime") : nullptr;
      const std::string sequence = change != nullptr ? stringMember(*change, "SequenceNumber") : "";
      if (created == nullptr || !created->IsNumber() || sequence.empty()) {
        error = "a record of shard " + state_.shards[shard_] + " has no time or sequence number";
        return false;
      }
      if (created->GetDouble() < start) continue;
      if (created->GetDouble() >= point) {
        nextShard();
        continue;
      }
      line_.assign("{\"Shard\":" + std::to_string(shard_) +
                   ",\"ShardId\":" + jsonString(state_.shards[shard_]) + ",\"Record\":");
      cloud::appendJson(record, line_);
      line_.append("}\n");
      if (!out.putString(line_)) {
        error = "cannot hand over a record of shard " + state_.shards[shard_];
        return false;
      }
      out.updateRestart("{\"Shard\":" + std::to_string(shard_) +
                        ",\"SequenceNumber\":" + jsonString(sequence) + "}");
      ++records_;
      continue;
    }
    const bool settled = pageTime_ >= state_.consistencyPoint + kSettleSeconds;
    if (shardDone_ || (count_ == 0 && settled)) {
      nextShard();
      continue;
    }
    if (iterator_.empty() && !openShard(error)) return false;
    // An open shard that had nothing new is asked again a moment later.
    if (pageTime_ != 0 && count_ == 0) std::this_thread::sleep_for(kPoll);
    if (!fetch(error)) return false;
  }
  return true;
}

}  // namespace mover
