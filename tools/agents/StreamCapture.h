// The table agent's stream side: the records of the table's stream between
// the start of a backup and its consistency point, so that a scan taken
// while the table is written to restores to one consistent state.
//
// A backup takes the stream's position first: the time S (the service's
// clock) and the shards open then, the roots of the lineages to follow.
// After the scan it fixes the consistency point C, a whole second past the
// service's clock when the scan had finished, and lists the shards to read:
// every root and its descendants, parents before children (children in
// order of their ids), numbered in that order. StreamReader then reads each
// shard from its oldest record, skips records created before S (the scan
// reflects them), stops at the first record created at C or later, and
// leaves an open shard when it has nothing more and the service's clock has
// passed C by kSettleSeconds (its records have arrived by then).
//
// Each record goes out as one line naming its shard:
//   {"Shard":0,"ShardId":"shardId-...","Record":{...as GetRecords gives it...}}
// followed by updateRestart with {"Shard":0,"SequenceNumber":"..."}, from
// which a resumed reader continues; the end with an empty restart string.
//
// One thread per reader; failures are false with one line.
#ifndef CLOUDDB_TOOLS_AGENTS_STREAMCAPTURE_H_
#define CLOUDDB_TOOLS_AGENTS_STREAMCAPTURE_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "tools/agents/PipeOutput.h"
#include "tools/agents/TableSchema.h"
#include "tools/cloud/DynamoClient.h"

namespace mover {

struct ShardInfo {
  std::string id;
  std::string parent;  // empty for none
  bool closed = false;
};

// Every shard of the stream; time receives the service's clock.
bool describeStream(const cloud::DynamoClient& streams, const std::string& arn,
                    std::vector<ShardInfo>& shards, std::time_t& time, std::string& error);
// The shards open now, and the time.
bool takeStreamPosition(const cloud::DynamoClient& streams, StreamState& state, std::string& error);
// The roots and their descendants in reading order: each shard before its
// children, children by id.
std::vector<std::string> readingOrder(const std::vector<std::string>& roots,
                                      const std::vector<ShardInfo>& shards);
// Fixes C after the scan: waits until the service's clock has passed it and
// lists the shards to read.
bool fixConsistencyPoint(const cloud::DynamoClient& streams, StreamState& state,
                         std::string& error);

class StreamReader {
 public:
  // Seconds after C by which records before C have arrived.
  static constexpr int kSettleSeconds = 2;

  // restart: a restart string of an earlier reader, or empty.
  StreamReader(const cloud::DynamoClient& streams, StreamState state, const std::string& restart);

  bool produce(OrbOutput& out, std::string& error);
  bool finished() const { return shard_ >= state_.shards.size(); }
  uint64_t records() const { return records_; }

 private:
  bool fetch(std::string& error);
  bool openShard(std::string& error);
  void nextShard();

  const cloud::DynamoClient& streams_;
  StreamState state_;
  size_t shard_ = 0;
  std::string after_;     // the sequence number to continue after; empty: the oldest
  std::string iterator_;  // empty: none yet
  bool shardDone_ = false;
  rapidjson::MemoryPoolAllocator<> pool_;
  rapidjson::Document page_;
  rapidjson::SizeType next_ = 0;
  rapidjson::SizeType count_ = 0;
  std::time_t pageTime_ = 0;
  uint64_t records_ = 0;
  std::string line_;
};

// The stream as a backup stream of the pipe.
using StreamOutput = PipeOutput<StreamReader>;

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_STREAMCAPTURE_H_
