#include "agent/OrbPrototypeEnvironment.h"

#include <iostream>

#include "agent/OrbFileStreams.h"
#include "agent/OrbSimpleStreams.h"

namespace {

const char kMetadataFile[] = "metadata.json";
const char kDescriptionFile[] = "description.json";

std::string scanFileName(const std::string& scanName, uint32_t scanNumber) {
  return scanName + "-" + std::to_string(scanNumber) + ".dynamodump";
}

std::string shardFileName(const std::string& shardName, int64_t shardNumber) {
  return std::to_string(shardNumber) + "-" + shardName + ".dynamostreamdump";
}

}  // namespace

OrbPrototypeEnvironment::OrbPrototypeEnvironment(const std::string& directory)
    : OrbEnvironment(directory), directory(directory) {}

OrbPrototypeEnvironment::~OrbPrototypeEnvironment() = default;

void OrbPrototypeEnvironment::log(const char*, const std::string& message) {
  if (!message.empty() && message.back() == '\n') {
    std::cout << message;
    return;
  }
  std::cout << message << '\n' << std::flush;
}

std::shared_ptr<OrbOutput> OrbPrototypeEnvironment::createOutput(const std::string& fileName) {
  if (directory.empty()) return std::make_shared<OrbOutputError>(std::string(), *this);
  return std::make_shared<OrbOutputFile>(directory, fileName, *this);
}

std::shared_ptr<OrbInput> OrbPrototypeEnvironment::createInput(const std::string& fileName) {
  if (directory.empty()) return std::make_shared<OrbInputError>(std::string(), *this);
  return std::make_shared<OrbInputFile>(directory, fileName, *this);
}

std::shared_ptr<OrbOutput> OrbPrototypeEnvironment::createScanOutput(const std::string& scanName,
                                                                     uint32_t scanNumber) {
  return createOutput(scanFileName(scanName, scanNumber));
}

std::shared_ptr<OrbOutput> OrbPrototypeEnvironment::createShardOutput(const std::string&,
                                                                      const std::string& shardName,
                                                                      int64_t shardNumber) {
  return createOutput(shardFileName(shardName, shardNumber));
}

std::shared_ptr<OrbOutput> OrbPrototypeEnvironment::createMetadataOutput() {
  return createOutput(kMetadataFile);
}

std::shared_ptr<OrbOutput> OrbPrototypeEnvironment::createDescriptionOutput() {
  return createOutput(kDescriptionFile);
}

std::shared_ptr<OrbInput> OrbPrototypeEnvironment::createScanInput(const std::string& scanName,
                                                                   uint32_t scanNumber) {
  return createInput(scanFileName(scanName, scanNumber));
}

std::shared_ptr<OrbInput> OrbPrototypeEnvironment::createShardInput(const std::string& shardName,
                                                                    int64_t shardNumber) {
  return createInput(shardFileName(shardName, shardNumber));
}

std::shared_ptr<OrbInput> OrbPrototypeEnvironment::createMetadataInput() {
  return createInput(kMetadataFile);
}

std::shared_ptr<OrbInput> OrbPrototypeEnvironment::createDescriptionInput() {
  return createInput(kDescriptionFile);
}

OrbPrototypeEnvironmentDropOutputData::OrbPrototypeEnvironmentDropOutputData(
    const std::string& directory)
    : OrbPrototypeEnvironment(directory) {}

OrbPrototypeEnvironmentDropOutputData::~OrbPrototypeEnvironmentDropOutputData() = default;

std::shared_ptr<OrbOutput> OrbPrototypeEnvironmentDropOutputData::createScanOutput(
    const std::string&, uint32_t) {
  return std::make_shared<OrbIgnoreOutput>(std::string(), *this);
}

std::shared_ptr<OrbOutput> OrbPrototypeEnvironmentDropOutputData::createShardOutput(
    const std::string&, const std::string&, int64_t) {
  return std::make_shared<OrbIgnoreOutput>(std::string(), *this);
}
