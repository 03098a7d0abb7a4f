// The restore side of the table agent.
//
// BatchWriter writes puts and deletions to a table with BatchWriteItem, 25
// requests at a time, and retries the UnprocessedItems of each batch with
// backoff until all are written. A batch never holds one key twice (keys
// compared by keyString): a second request for a key first writes the
// batch, so requests for one key reach the table in the order given.
//
// TableWriteInput is a buffered input that takes the item lines of a table
// backup ({"Item":{...}}) and puts every item; LineCopyInput copies every
// line into an agent output (a dump file). Both finish each cloud file's
// work when its chunk is closed and record failures with setFailure.
//
// One thread at a time per object; any number of objects on one client.
#ifndef CLOUDDB_TOOLS_AGENTS_TABLEWRITE_H_
#define CLOUDDB_TOOLS_AGENTS_TABLEWRITE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "tools/cloud/DynamoClient.h"

namespace mover {

class BatchWriter {
 public:
  BatchWriter(const cloud::DynamoClient& client, std::string table,
              std::vector<std::string> keyNames);

  // item and key are JSON objects in DynamoDB's attribute-value form.
  bool put(const std::string& item, std::string& error);
  bool remove(const std::string& key, std::string& error);
  // Writes what is pending.
  bool flush(std::string& error);

  uint64_t written() const { return written_; }
  // keyString of the item or key given last.
  const std::string& lastKey() const { return lastKey_; }

 private:
  // A request waiting for its batch: an item to put, a key to delete, or a
  // whole request that the service gave back unprocessed; JSON objects.
  struct Pending {
    enum Kind { kPut, kDelete, kRequest } kind;
    std::string json;
  };

  bool add(Pending request, std::string& error);
  std::string body() const;

  const cloud::DynamoClient& client_;
  std::string table_;
  std::vector<std::string> keyNames_;
  std::vector<Pending> requests_;
  std::unordered_set<std::string> keys_;
  std::string lastKey_;
  uint64_t written_ = 0;
};

// The item of a backup line {"Item":{...}}; false for any other line.
bool itemOfLine(const std::string& line, std::string& item);

class TableWriteInput : public OrbBufferedInput {
 public:
  // With replayed, counts in touched the items whose keys it holds.
  TableWriteInput(OrbEnvironment& environment, const cloud::DynamoClient& client,
                  const std::string& table, const std::vector<std::string>& keyNames,
                  const std::unordered_map<std::string, bool>* replayed = nullptr,
                  uint64_t* touched = nullptr);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;
  // Ends the chunk and writes its last batch.
  bool closeChunk() override;

  uint64_t items() const { return writer_.written(); }

 private:
  bool fail(const std::string& error);

  BatchWriter writer_;
  const std::unordered_map<std::string, bool>* replayed_;
  uint64_t* touched_;
  std::string line_;
  std::string item_;
};

class LineCopyInput : public OrbBufferedInput {
 public:
  LineCopyInput(OrbEnvironment& environment, std::shared_ptr<OrbOutput> output);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;
  // Ends the chunk and flushes the output.
  bool closeChunk() override;

 private:
  std::shared_ptr<OrbOutput> output_;
  std::string line_;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_TABLEWRITE_H_
