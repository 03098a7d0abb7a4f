// The environment for runs whose bulk data goes to no file: scan and shard
// outputs are discarded, the metadata and description that the agent writes
// stay in memory as two texts, and diagnostics go to the host debug log.
//
// The metadata and description inputs are served from memory while the
// matching text is set, and fall back to "metadata.json" / "description.json"
// in the directory (error inputs without one) while it is empty. An input
// keeps the content it copied at creation. Scan and shard inputs read files
// in the directory, as in OrbPrototypeEnvironment.
//
// OrbMetadataOutput writes one of the two texts: each putString replaces the
// whole text. It holds a reference to its environment, which must outlive
// it.
//
// The two texts have no lock: writing and reading them belong to one thread
// at a time. Nothing here fails for bad input.
#ifndef CLOUDDB_AGENT_ORBLOGGINGENVIRONMENT_H_
#define CLOUDDB_AGENT_ORBLOGGINGENVIRONMENT_H_

#include <memory>
#include <string>

#include "agent/OrbEnvironment.h"

class CLOUDDB_EXPORT OrbLoggingEnvironment : public OrbPrototypeEnvironmentDropOutputData {
 public:
  explicit OrbLoggingEnvironment(const std::string& directory);
  ~OrbLoggingEnvironment() override;

  // One debug-log entry holding message word for word.
  void log(const char* function, const std::string& message) override;
  std::shared_ptr<OrbOutput> createMetadataOutput() override;
  std::shared_ptr<OrbOutput> createDescriptionOutput() override;
  std::shared_ptr<OrbInput> createMetadataInput() override;
  std::shared_ptr<OrbInput> createDescriptionInput() override;

  virtual void putDescriptionString(const std::string& text);
  virtual void putMetadataString(const std::string& text);
  // Empties both texts.
  virtual void resetMetadataStrings();
  // The description without one trailing line end.
  virtual std::string getDescriptionString();
  // The metadata without one trailing line end.
  virtual std::string getMetadataString();

  static bool hasEnding(const std::string& text, const std::string& ending);
  // text without one trailing "\r\n" or "\n".
  static std::string stripTrailingNewline(const std::string& text);

 protected:
  EvDebug debugLog;
  std::string metadataString;
  std::string descriptionString;
};

class CLOUDDB_EXPORT OrbMetadataOutput : public OrbOutput {
 public:
  OrbMetadataOutput(OrbLoggingEnvironment& owner, bool isMetadata);
  ~OrbMetadataOutput() override;

  // Replaces the owner's metadata (or description) text.
  bool putString(const std::string& text) override;
  void updateRestart(const std::string& restart) override;
  bool flush() override;
  bool close(const std::string& restart) override;

 protected:
  bool isMetadata;
  OrbLoggingEnvironment& owner;
};

#endif  // CLOUDDB_AGENT_ORBLOGGINGENVIRONMENT_H_
