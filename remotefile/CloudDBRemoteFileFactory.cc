#include "remotefile/CloudDBRemoteFileFactory.h"

namespace {

// The last argument of every driver's base constructor. What the host makes
// of it is the host's own business; the factory only passes it on.
constexpr int kDriverBaseArgument = 5;

}  // namespace

CloudDBRemoteFileFactory::CloudDBRemoteFileFactory()
    : approximateSizeLimit(kDefaultSizeLimit), fileSize(0) {}

CloudDBRemoteFileFactory::CloudDBRemoteFileFactory(std::shared_ptr<OrbBufferedOutput> out,
                                                   long long approximateSizeLimit)
    : output(std::move(out)), approximateSizeLimit(approximateSizeLimit), fileSize(0) {}

CloudDBRemoteFileFactory::~CloudDBRemoteFileFactory() = default;

std::shared_ptr<MXBaseRemoteFile> CloudDBRemoteFileFactory::createObject(
    const CloudConnectionDetails& details, const std::string& text, long long value) {
  lastRemoteFile = std::make_shared<CloudDatabaseRemoteFile>(
      details.port, details.endpoint, details.credentials, text, value, kDriverBaseArgument);
  if (nextOutput) {
    lastRemoteFile->initialize(nextOutput);
    nextOutput.reset();
  } else {
    lastRemoteFile->initialize(output);
  }
  lastRemoteFile->setFileSize(fileSize);
  if (input) lastRemoteFile->initialize(input);
  lastRemoteFile->setApproximateSizeLimit(approximateSizeLimit);
  return lastRemoteFile;
}

std::shared_ptr<CloudDatabaseRemoteFile> CloudDBRemoteFileFactory::getLastRemoteFile() {
  return lastRemoteFile;
}
