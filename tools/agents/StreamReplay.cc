#include "tools/agents/StreamReplay.h"

#include "tools/agents/Names.h"

#include "util/CloudDBUtil.h"

namespace mover {
namespace {

using cloud::findMember;
using cloud::stringMember;
using rapidjson::Value;

// A stream line's parts; false for a line that is not one.
struct StreamLine {
  rapidjson::Document document;
  int64_t shard = 0;
  std::string shardId;
  const Value* record = nullptr;
  const Value* change = nullptr;  // the record's "dynamodb"
  std::string event;

  bool parse(const std::string& line) {
    cloud::parseJson(line, document);
    const Value* number = findMember(document, "Shard");
    record = findMember(document, "Record");
    change = record != nullptr ? findMember(*record, "dynamodb") : nullptr;
    if (number == nullptr || !number->IsInt64() || change == nullptr || !change->IsObject()) {
      return false;
    }
    shard = number->GetInt64();
    shardId = stringMember(document, "ShardId");
    event = stringMember(*record, "eventName");
    return !shardId.empty() && (event == "INSERT" || event == "MODIFY" || event == "REMOVE");
  }

  // The item for INSERT and MODIFY, the key for REMOVE.
  const Value* image() const {
    return findMember(*change, event == "REMOVE" ? "Keys" : "NewImage");
  }
};

bool fail(OrbEnvironment& environment, const std::string& error) {
  environment.setFailure(error);
  return false;
}

const char kCorrupt[] = "corrupt backup: a line of the stream is not a change record";

}  // namespace

ReplayedKeys::ReplayedKeys(OrbEnvironment& environment, std::vector<std::string> keyNames,
                           KeyStates& states)
    : OrbBufferedInput("replayed keys", environment),
      keyNames_(std::move(keyNames)),
      states_(states) {}

bool ReplayedKeys::initializeRestore() { return true; }

bool ReplayedKeys::startRestore(bool) {
  StreamLine parsed;
  while (getLine(line_)) {
    if (!parsed.parse(line_)) return fail(environment, kCorrupt);
    const Value* keys = findMember(*parsed.change, "Keys");
    if (keys == nullptr) return fail(environment, kCorrupt);
    states_[keyString(cloud::toJson(*keys), keyNames_)] = parsed.event != "REMOVE";
  }
  return true;
}

ReplayInput::ReplayInput(OrbEnvironment& environment, const cloud::DynamoClient& client,
                         const std::string& table, const std::vector<std::string>& keyNames)
    : OrbBufferedInput("replay", environment), writer_(client, table, keyNames) {}

bool ReplayInput::initializeRestore() { return true; }

bool ReplayInput::startRestore(bool) {
  StreamLine parsed;
  std::string error;
  while (getLine(line_)) {
    if (!parsed.parse(line_)) return fail(environment, kCorrupt);
    const Value* image = parsed.image();
    if (image == nullptr || !image->IsObject()) {
      return fail(environment,
                  parsed.event == "REMOVE" ? kCorrupt : "the stream's records carry no new image");
    }
    const std::string json = cloud::toJson(*image);
    const bool written =
        parsed.event == "REMOVE" ? writer_.remove(json, error) : writer_.put(json, error);
    if (!written) return fail(environment, error);
    ++records_;
  }
  return true;
}

bool ReplayInput::closeChunk() {
  if (!OrbBufferedInput::closeChunk()) return false;
  std::string error;
  return writer_.flush(error) || fail(environment, error);
}

ShardFiles::ShardFiles(OrbEnvironment& directory) : directory_(directory) {}

bool ShardFiles::write(const std::string& line, std::string& error) {
  StreamLine parsed;
  if (!parsed.parse(line) || !isNameWord(parsed.shardId)) {
    error = kCorrupt;
    return false;
  }
  std::shared_ptr<OrbOutput>& file = files_[parsed.shard];
  if (!file) {
    // "{shard}-{shardId}.dynamostreamdump"
    const size_t suffix = std::to_string(parsed.shard).size() + 1 + 17;
    file = directory_.createShardOutput("", fileStem(parsed.shardId, suffix), parsed.shard);
  }
  record_ = cloud::toJson(*parsed.record) + "\n";
  if (file->putString(record_)) return true;
  error = "cannot write the records of shard " + parsed.shardId;
  return false;
}

bool ShardFiles::close(std::string& error) {
  bool closed = true;
  for (auto& [shard, file] : files_) closed = file->close("") && closed;
  files_.clear();
  if (!closed) error = "cannot write the shard files";
  return closed;
}

ShardFilesInput::ShardFilesInput(OrbEnvironment& environment, ShardFiles& files)
    : OrbBufferedInput("shard files", environment), files_(files) {}

bool ShardFilesInput::initializeRestore() { return true; }

bool ShardFilesInput::startRestore(bool) {
  std::string error;
  while (getLine(line_)) {
    if (!files_.write(line_, error)) return fail(environment, error);
  }
  return true;
}

ShardFilesOutput::ShardFilesOutput(OrbEnvironment& environment, ShardFiles& files)
    : OrbOutput("shard files", environment), files_(files) {}

bool ShardFilesOutput::putString(const std::string& line) {
  std::string error;
  return files_.write(line.substr(0, line.size() - 1), error) || fail(environment, error);
}

void ShardFilesOutput::updateRestart(const std::string&) {}

bool ShardFilesOutput::flush() { return true; }

bool ShardFilesOutput::close(const std::string&) { return true; }

}  // namespace mover
