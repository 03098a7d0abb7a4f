// The backup side of the table agent: one segment of a parallel Scan, item
// by item, as lines in the format of DynamoDB's export to S3:
//   {"Item":{"pk":{"S":"user1"},"n":{"N":"42"}}}
// Each line is followed by updateRestart with the item's key, as JSON that
// Scan takes as ExclusiveStartKey; the end of the segment by updateRestart
// with an empty text. A segment started from such a key continues right
// after that item.
//
// SegmentScanner writes into any OrbOutput: the pipe's buffered output
// (TableScanOutput, stopping whenever stopNow says so) or a dump file (which
// never asks it to stop). It holds one page of the Scan at a time. One
// thread at a time; failures are false with one line.
#ifndef CLOUDDB_TOOLS_AGENTS_TABLESCAN_H_
#define CLOUDDB_TOOLS_AGENTS_TABLESCAN_H_

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "tools/agents/PipeOutput.h"
#include "tools/cloud/DynamoClient.h"

namespace mover {

struct ScanSegment {
  std::string table;
  std::vector<std::string> keyNames;
  int segment = 0;
  int segments = 1;
  std::string startAfter;             // the key to continue after; empty: from the start
  std::vector<std::string> keyTypes;  // the declared type of each of keyNames
};

// Whether text is a key of the table: a JSON object that holds exactly the
// key attributes, each of its declared type; key receives it.
bool parseKey(const std::string& text, const std::vector<std::string>& names,
              const std::vector<std::string>& types, rapidjson::Document& key);

class SegmentScanner {
 public:
  SegmentScanner(const cloud::DynamoClient& client, ScanSegment segment);

  // Puts lines until out.stopNow() or the end of the segment.
  bool produce(OrbOutput& out, std::string& error);
  bool finished() const { return finished_; }
  uint64_t items() const { return items_; }
  // The service's clock at the last page.
  std::time_t lastPageTime() const { return lastPageTime_; }

 private:
  bool fetch(std::string& error);
  std::string request(const rapidjson::Value* startKey) const;
  bool keyOf(const rapidjson::Value& item, std::string& key, std::string& error) const;

  const cloud::DynamoClient& client_;
  ScanSegment segment_;
  // The page's memory, in large chunks that are given back after each page.
  rapidjson::MemoryPoolAllocator<> pool_;
  rapidjson::Document page_;
  rapidjson::SizeType next_ = 0;
  rapidjson::SizeType count_ = 0;
  bool lastPage_ = false;
  bool finished_ = false;
  uint64_t items_ = 0;
  std::time_t lastPageTime_ = 0;
  std::string line_;
  std::string key_;
  // Every LastEvaluatedKey so far: one that comes again is a page loop.
  std::unordered_set<std::string> seen_;
};

// One segment as a backup stream of the pipe.
using TableScanOutput = PipeOutput<SegmentScanner>;

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_TABLESCAN_H_
