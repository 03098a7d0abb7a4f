// The factory through which the data mover obtains its drivers, one per
// cloud file. Every createObject builds a new CloudDatabaseRemoteFile, wires
// it to the agent's buffered output (backup) or input (restore, which wins
// when set), hands it the file size and the approximate size limit, and
// keeps it as the last driver made.
//
// The owner sets nextOutput, input and fileSize directly. nextOutput serves
// exactly one driver and is emptied by the createObject that uses it. The
// factory shares its streams with the agent and every driver it made; it has
// no virtual destructor, so its owner destroys it as this type. One thread
// at a time may call createObject or change the members. createObject
// reports no error of its own; allocation failure propagates.
#ifndef CLOUDDB_REMOTEFILE_CLOUDDBREMOTEFILEFACTORY_H_
#define CLOUDDB_REMOTEFILE_CLOUDDBREMOTEFILEFACTORY_H_

#include <memory>
#include <string>

#include "agent/OrbEnvironment.h"
#include "host/MXRemoteFile.h"
#include "remotefile/CloudDatabaseRemoteFile.h"
#include "util/CloudDBExport.h"

class CLOUDDB_EXPORT CloudDBRemoteFileFactory : public RemoteFileFactory {
 public:
  static constexpr long long kDefaultSizeLimit = 1048576;

  CloudDBRemoteFileFactory();
  CloudDBRemoteFileFactory(std::shared_ptr<OrbBufferedOutput> out, long long approximateSizeLimit);
  ~CloudDBRemoteFileFactory();

  std::shared_ptr<MXBaseRemoteFile> createObject(const CloudConnectionDetails& details,
                                                 const std::string& text, long long value) override;
  // The driver made last; empty before the first createObject.
  std::shared_ptr<CloudDatabaseRemoteFile> getLastRemoteFile();

  std::shared_ptr<OrbBufferedOutput> output;
  std::shared_ptr<OrbBufferedOutput> nextOutput;
  std::shared_ptr<OrbBufferedInput> input;

 protected:
  std::shared_ptr<CloudDatabaseRemoteFile> lastRemoteFile;

 public:
  long long approximateSizeLimit;
  unsigned long long fileSize;
};

#endif  // CLOUDDB_REMOTEFILE_CLOUDDBREMOTEFILEFACTORY_H_
