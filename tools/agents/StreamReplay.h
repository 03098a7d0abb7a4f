// What a restore does with the stream records of a table backup (the lines
// of StreamCapture.h).
//
// Into a table, in two passes over the stream's cloud files: ReplayedKeys
// first learns which keys the records touch and whether each exists at the
// consistency point (the last record for a key decides), so that the count
// of the restored table can be checked; after the scan items are loaded,
// ReplayInput applies the records in their order: INSERT and MODIFY put the
// new image, REMOVE deletes the key.
//
// Into a directory, ShardFiles writes each record, as GetRecords gave it,
// to its shard's file "{shard}-{shardId}.dynamostreamdump" through the
// directory environment; ShardFilesInput (a restore) and ShardFilesOutput (a
// dump) feed it.
//
// One thread at a time per object; failures record their reason with
// setFailure (inputs) or are false results (ShardFiles).
#ifndef CLOUDDB_TOOLS_AGENTS_STREAMREPLAY_H_
#define CLOUDDB_TOOLS_AGENTS_STREAMREPLAY_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "tools/agents/TableWrite.h"

namespace mover {

// keyString of a key -> whether the item exists after the last record.
using KeyStates = std::unordered_map<std::string, bool>;

class ReplayedKeys : public OrbBufferedInput {
 public:
  ReplayedKeys(OrbEnvironment& environment, std::vector<std::string> keyNames, KeyStates& states);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;

 private:
  std::vector<std::string> keyNames_;
  KeyStates& states_;
  std::string line_;
};

class ReplayInput : public OrbBufferedInput {
 public:
  ReplayInput(OrbEnvironment& environment, const cloud::DynamoClient& client,
              const std::string& table, const std::vector<std::string>& keyNames);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;
  // Ends the chunk and writes what is pending.
  bool closeChunk() override;

  uint64_t records() const { return records_; }

 private:
  BatchWriter writer_;
  std::string line_;
  uint64_t records_ = 0;
};

class ShardFiles {
 public:
  explicit ShardFiles(OrbEnvironment& directory);

  bool write(const std::string& line, std::string& error);
  // Closes every file; false when one could not be written.
  bool close(std::string& error);

 private:
  OrbEnvironment& directory_;
  std::map<int64_t, std::shared_ptr<OrbOutput>> files_;
  std::string record_;
};

class ShardFilesInput : public OrbBufferedInput {
 public:
  ShardFilesInput(OrbEnvironment& environment, ShardFiles& files);

  bool initializeRestore() override;
  bool startRestore(bool firstCall) override;

 private:
  ShardFiles& files_;
  std::string line_;
};

class ShardFilesOutput : public OrbOutput {
 public:
  ShardFilesOutput(OrbEnvironment& environment, ShardFiles& files);

  // One line of the stream.
  bool putString(const std::string& line) override;
  void updateRestart(const std::string& restart) override;
  bool flush() override;
  bool close(const std::string& restart) override;

 private:
  ShardFiles& files_;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_AGENTS_STREAMREPLAY_H_
