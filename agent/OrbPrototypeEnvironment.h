// The environment that keeps every agent stream as a file in one local
// directory. The file name follows from the stream's identity, so an input
// finds the file that the output of the same identity wrote:
//   scan       {scanName}-{scanNumber}.dynamodump
//   shard      {shardNumber}-{shardName}.dynamostreamdump
//   metadata   metadata.json
//   description description.json
// With an empty directory every stream is an error stream instead.
// Diagnostics go to standard output, one line each.
//
// OrbPrototypeEnvironmentDropOutputData is the same with the bulk data
// thrown away: scan and shard outputs are ignore outputs that create no file.
//
// Streams are handed out as shared pointers and hold a reference to the
// environment, which must outlive them; the environment keeps no list of
// them. Creating streams is for one thread at a time; the failure record may
// be used from any thread.
#ifndef CLOUDDB_AGENT_ORBPROTOTYPEENVIRONMENT_H_
#define CLOUDDB_AGENT_ORBPROTOTYPEENVIRONMENT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "agent/OrbInterfaces.h"

class CLOUDDB_EXPORT OrbPrototypeEnvironment : public OrbEnvironment {
 public:
  explicit OrbPrototypeEnvironment(const std::string& directory);
  ~OrbPrototypeEnvironment() override;

  // Writes message to standard output, adding a line feed (and flushing)
  // unless it already ends with one.
  void log(const char* function, const std::string& message) override;

  std::shared_ptr<OrbOutput> createScanOutput(const std::string& scanName,
                                              uint32_t scanNumber) override;
  std::shared_ptr<OrbOutput> createShardOutput(const std::string& context,
                                               const std::string& shardName,
                                               int64_t shardNumber) override;
  std::shared_ptr<OrbOutput> createMetadataOutput() override;
  std::shared_ptr<OrbOutput> createDescriptionOutput() override;
  std::shared_ptr<OrbInput> createScanInput(const std::string& scanName,
                                            uint32_t scanNumber) override;
  std::shared_ptr<OrbInput> createShardInput(const std::string& shardName,
                                             int64_t shardNumber) override;
  std::shared_ptr<OrbInput> createMetadataInput() override;
  std::shared_ptr<OrbInput> createDescriptionInput() override;

  // A file output in the directory, or an error output without one.
  std::shared_ptr<OrbOutput> createOutput(const std::string& fileName);
  // A file input in the directory, or an error input without one.
  std::shared_ptr<OrbInput> createInput(const std::string& fileName);

 protected:
  std::string directory;
};

class CLOUDDB_EXPORT OrbPrototypeEnvironmentDropOutputData : public OrbPrototypeEnvironment {
 public:
  explicit OrbPrototypeEnvironmentDropOutputData(const std::string& directory);
  ~OrbPrototypeEnvironmentDropOutputData() override;

  // Ignore outputs: the data is discarded and no file is created.
  std::shared_ptr<OrbOutput> createScanOutput(const std::string& scanName,
                                              uint32_t scanNumber) override;
  std::shared_ptr<OrbOutput> createShardOutput(const std::string& context,
                                               const std::string& shardName,
                                               int64_t shardNumber) override;
};

#endif  // CLOUDDB_AGENT_ORBPROTOTYPEENVIRONMENT_H_
