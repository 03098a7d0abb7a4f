#include "tools/agents/DumpAgent.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "agent/OrbLoggingEnvironment.h"
#include "tools/agents/LineEscape.h"
#include "tools/agents/Names.h"

namespace mover {
namespace {

constexpr size_t kRecordContentBytes = 4096;
const char kScanSuffix[] = ".dynamodump";
const char kShardSuffix[] = ".dynamostreamdump";

bool stripSuffix(const std::string& text, const std::string& suffix, std::string& stem) {
  if (!OrbLoggingEnvironment::hasEnding(text, suffix)) return false;
  stem = text.substr(0, text.size() - suffix.size());
  return true;
}

bool parseNumber(const std::string& text, int64_t& number) {
  if (text.empty() || text.size() > 20) return false;
  size_t used = 0;
  try {
    number = std::stoll(text, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == text.size();
}

std::string fileNameOf(const FileIdentity& id) {
  switch (id.kind) {
    case FileIdentity::kScan:
      return id.name + "-" + std::to_string(id.number) + kScanSuffix;
    case FileIdentity::kShard:
      return std::to_string(id.number) + "-" + id.name + kShardSuffix;
    case FileIdentity::kMetadata:
      return "metadata.json";
    case FileIdentity::kDescription:
      return "description.json";
  }
  return std::string();
}

std::shared_ptr<OrbOutput> createOutput(OrbEnvironment& env, const FileIdentity& id) {
  switch (id.kind) {
    case FileIdentity::kScan:
      return env.createScanOutput(id.name, static_cast<uint32_t>(id.number));
    case FileIdentity::kShard:
      return env.createShardOutput(std::string(), id.name, id.number);
    case FileIdentity::kMetadata:
      return env.createMetadataOutput();
    case FileIdentity::kDescription:
      return env.createDescriptionOutput();
  }
  return nullptr;
}

}  // namespace

bool identifyDumpFile(const std::string& fileName, FileIdentity& id) {
  std::string stem;
  if (fileName == "metadata.json" || fileName == "description.json") {
    id = {fileName == "metadata.json" ? FileIdentity::kMetadata : FileIdentity::kDescription, "",
          0};
    return true;
  }
  if (stripSuffix(fileName, kShardSuffix, stem)) {
    // {number}-{shard name}; the number may carry a minus sign.
    const size_t dash = stem.find('-', stem[0] == '-' ? 1 : 0);
    if (dash == std::string::npos) return false;
    id = {FileIdentity::kShard, stem.substr(dash + 1), 0};
    if (!parseNumber(stem.substr(0, dash), id.number)) return false;
  } else if (stripSuffix(fileName, kScanSuffix, stem)) {
    // {scan name}-{unsigned number}
    const size_t dash = stem.rfind('-');
    if (dash == std::string::npos) return false;
    id = {FileIdentity::kScan, stem.substr(0, dash), 0};
    if (!parseNumber(stem.substr(dash + 1), id.number) || id.number < 0 || id.number > UINT32_MAX) {
      return false;
    }
  } else {
    return false;
  }
  // Only names that the environment would build itself, so that a restore
  // recreates exactly this name, and only of DynamoDB's characters: never a
  // path out of the target.
  return isNameWord(id.name) && fileNameOf(id) == fileName;
}

std::vector<std::string> listDumpFiles(const std::string& directory) {
  std::vector<std::string> files;
  FileIdentity id;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && identifyDumpFile(name, id)) files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

DumpOutput::DumpOutput(OrbEnvironment& environment, std::string sourceDirectory,
                       std::string restart)
    : OrbBufferedOutput("dump", environment),
      sourceDirectory_(std::move(sourceDirectory)),
      resumeFrom_(std::move(restart)) {}

bool DumpOutput::initializeBackup() {
  std::error_code error;
  if (!std::filesystem::is_directory(sourceDirectory_, error)) {
    environment.setFailure("source directory not found: " + sourceDirectory_);
    return false;
  }
  files_ = listDumpFiles(sourceDirectory_);
  if (resumeFrom_.empty()) return true;
  // "{file index}:{offset}:{stage}"
  unsigned long long index = 0;
  unsigned long long offset = 0;
  int stage = 0;
  if (std::sscanf(resumeFrom_.c_str(), "%llu:%llu:%d", &index, &offset, &stage) != 3 ||
      index >= files_.size() || stage < kHeader || stage > kEnd) {
    environment.setFailure("cannot resume from restart string '" + resumeFrom_ + "'");
    return false;
  }
  fileIndex_ = index;
  offset_ = offset;
  stage_ = static_cast<Stage>(stage);
  return stage_ == kHeader || openCurrentFile();
}

bool DumpOutput::startBackup(bool) {
  while (fileIndex_ < files_.size() && !stopNow()) {
    if (!putNextRecord()) return false;
  }
  updateRestart(position());
  return true;
}

bool DumpOutput::putNextRecord() {
  const std::string& name = files_[fileIndex_];
  switch (stage_) {
    case kHeader:
      if (!openCurrentFile()) return false;
      stage_ = kData;
      return putRecord("F " + escapeLine(name) + "\n");
    case kData: {
      chunk_.resize(kRecordContentBytes);
      current_.read(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
      chunk_.resize(static_cast<size_t>(current_.gcount()));
      if (current_.bad()) {
        environment.setFailure("cannot read " + name);
        return false;
      }
      if (chunk_.empty()) {
        stage_ = kEnd;
        return true;
      }
      offset_ += chunk_.size();
      contentBytes_ += chunk_.size();
      return putRecord("D " + escapeLine(chunk_) + "\n");
    }
    case kEnd:
      current_.close();
      ++fileIndex_;
      offset_ = 0;
      stage_ = kHeader;
      return putRecord("E\n");
  }
  return false;
}

bool DumpOutput::putRecord(const std::string& record) {
  if (putString(record)) return true;
  environment.setFailure("cannot hand over the backup stream");
  return false;
}

bool DumpOutput::openCurrentFile() {
  const std::string path = sourceDirectory_ + "/" + files_[fileIndex_];
  current_.close();
  current_.clear();
  current_.open(path, std::ios::in | std::ios::binary);
  if (current_ && offset_ > 0) current_.seekg(static_cast<std::streamoff>(offset_));
  if (current_) return true;
  environment.setFailure("cannot open " + path);
  return false;
}

std::string DumpOutput::position() const {
  if (fileIndex_ == files_.size()) return std::string();
  return std::to_string(fileIndex_) + ":" + std::to_string(offset_) + ":" + std::to_string(stage_);
}

DumpInput::DumpInput(OrbEnvironment& environment) : OrbBufferedInput("dump", environment) {}

bool DumpInput::initializeRestore() { return true; }

bool DumpInput::startRestore(bool) {
  while (getLine(line_)) {
    if (!apply(line_)) return false;
  }
  return true;
}

bool DumpInput::apply(const std::string& record) {
  if (record == "E") {
    if (!output_) return fail("corrupt backup: file end without a file");
    const bool closed = output_->close(std::string());
    output_.reset();
    return closed || fail("cannot write " + fileName_);
  }
  if (record.size() < 2 || record[1] != ' ' || !unescapeLine(record.substr(2), bytes_)) {
    return fail("corrupt backup record");
  }
  if (record[0] == 'D') {
    if (!output_) return fail("corrupt backup: data without a file");
    contentBytes_ += bytes_.size();
    return output_->putString(bytes_) || fail("cannot write " + fileName_);
  }
  FileIdentity id;
  if (record[0] != 'F' || output_ || !identifyDumpFile(bytes_, id)) {
    return fail("corrupt backup record");
  }
  fileName_ = bytes_;
  output_ = createOutput(environment, id);
  return true;
}

bool DumpInput::fail(const std::string& reason) {
  environment.setFailure(reason);
  return false;
}

}  // namespace mover
