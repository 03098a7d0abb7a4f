// `restore --verify`: reads a restored table back by key and compares it
// with the backup, attribute for attribute.
//
// VerifyInput is a buffered input that takes the item lines of a table
// backup, as TableWriteInput does, and instead of writing them asks the
// table for them with BatchGetItem (100 keys a request, consistent reads,
// UnprocessedKeys asked again with backoff). An item missing from the table
// or different from the backup's fails with one line naming its key. Sets
// compare as sets (the service keeps no order of their elements), lists
// and maps element for element. Items whose keys the stream's records touch
// are left to the count check: their final values are the records', not
// the scan's.
//
// One thread at a time per object; failures are recorded with setFailure.
#ifndef CLOUDDB_TOOLS_AGENTS_TABLEVERIFY_H_
#define CLOUDDB_TOOLS_AGENTS_TABLEVERIFY_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <rapidjson/document.h>

#include "agent/OrbEnvironment.h"
#include "tools/cloud/DynamoClient.h"

namespace mover {

// Whether two items in DynamoDB's attribute-value form hold the same
// values.
bool sameItem(const rapidjson::Value& a, const rapidjson::Value& b);

class VerifyInput : public OrbBufferedInput {
 public:
  // replayed: the keys that the stream's records touch (keyString), or
  // nullptr. client must outlive the input.
  VerifyInput(OrbEnvironment& environment, const cloud::DynamoClient& client,
              const std::string& table, const std::vector<std::string>& keyNames,
              const std::unordered_map<std::string, bool>* replayed);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;
  // Ends the chunk and checks what is pending.
  bool closeChunk() override;

  uint64_t verified() const { return verified_; }

 private:
  bool check(std::string& error);
  bool fail(const std::string& error);

  const cloud::DynamoClient& client_;
  std::string table_;
  std::vector<std::string> keyNames_;
  const std::unordered_map<std::string, bool>* replayed_;
  // keyString -> the backup's item, waiting for a request.
  std::unordered_map<std::string, std::string> pending_;
  std::string line_;
  std::string item_;
  uint64_t verified_ = 0;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_TABLEVERIFY_H_
