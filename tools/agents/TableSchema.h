// What the table agent knows of a DynamoDB table and keeps with a backup:
// the key, the definition to create the table again, and the state of the
// backup. TableMetadata is the "metadata.json" that the agent writes
// through its environment: the CreateTable members of the table at the top
// (KeySchema, AttributeDefinitions, BillingMode, ProvisionedThroughput,
// GlobalSecondaryIndexes, LocalSecondaryIndexes), ItemCountAtStart, and
// "Backup" with the backup's own state. The description ("description.json")
// is DescribeTable's answer as the service gave it.
//
// Plain values and free functions over a client; any thread. Failures are
// false with one line.
#ifndef CLOUDDB_TOOLS_AGENTS_TABLESCHEMA_H_
#define CLOUDDB_TOOLS_AGENTS_TABLESCHEMA_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "tools/cloud/DynamoClient.h"

namespace mover {

// The most parallel scan segments of a backup.
constexpr int kMaxSegments = 1000;

// The table's stream as the backup sees it (see StreamCapture.h).
struct StreamState {
  std::string arn;                   // empty: the backup reads no stream
  std::time_t startTime = 0;         // S: records before it are reflected in the scan
  std::vector<std::string> roots;    // the shards open at S
  std::time_t consistencyPoint = 0;  // C; 0 until the scan has finished
  std::vector<std::string> shards;   // the shards to read, in order, once C is fixed
};

struct TableMetadata {
  std::string table;
  std::string definition;  // JSON object: the CreateTable members but TableName
  std::vector<std::string> keyNames;
  std::vector<std::string> keyTypes;  // each key attribute's type: "S", "N" or "B"
  uint64_t itemCountAtStart = 0;
  std::string description;     // DescribeTable's Table object
  std::string streamViewType;  // the table's stream, as described; empty without one

  // The backup's own state.
  int segments = 0;
  bool complete = false;
  uint64_t items = 0;  // scanned items, once complete
  StreamState stream;

  std::string consistency() const;
  std::string toJson() const;
  // Reads what toJson wrote (description aside).
  bool parse(const std::string& json, std::string& error);
};

// missing: no such table.
bool describeTable(const cloud::DynamoClient& client, const std::string& table,
                   TableMetadata& metadata, bool& missing, std::string& error);
// Creates table from metadata's definition and waits until it and its
// indexes are active.
bool createTable(const cloud::DynamoClient& client, const std::string& table,
                 const TableMetadata& metadata, std::string& error);
// Items in table by a counting scan in segments parallel segments.
bool countItems(const cloud::DynamoClient& client, const std::string& table, int segments,
                uint64_t& count, std::string& error);
bool isEmpty(const cloud::DynamoClient& client, const std::string& table, bool& empty,
             std::string& error);

// The JSON text of s as a string value.
std::string jsonString(const std::string& s);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_TABLESCHEMA_H_
