#include "remotefile/CloudDatabaseRemoteFile.h"

#include <unistd.h>

#include <cstdint>

namespace {

constexpr unsigned int kMarkerPollMilliseconds = 2000;

}  // namespace

CloudDatabaseRemoteFile::CloudDatabaseRemoteFile(int port, const std::string& endpoint,
                                                 const std::string& credentials,
                                                 const std::string& container, long long options,
                                                 int retryCount)
    : MXBaseRemoteFile(port, endpoint, credentials, container, options, retryCount),
      ioMode(0),
      approximateSizeLimit(0),
      bytesWritten(0),
      savedBytesWritten(0),
      endOfBackup(false),
      debug(nullptr),
      fileSize(0) {}

CloudDatabaseRemoteFile::~CloudDatabaseRemoteFile() = default;

void CloudDatabaseRemoteFile::initialize(std::shared_ptr<OrbBufferedOutput> out) {
  output = std::move(out);
  input.reset();
  ioMode = 1;
  endOfBackup = false;
}

void CloudDatabaseRemoteFile::initialize(std::shared_ptr<OrbBufferedInput> in) {
  input = std::move(in);
  output.reset();
  ioMode = 2;
}

bool CloudDatabaseRemoteFile::success() {
  lastErrorCode = 0;
  lastErrorString.clear();
  return true;
}

bool CloudDatabaseRemoteFile::fail(long long code, const std::string& text) {
  lastErrorCode = code;
  lastErrorString = text;
  return false;
}

bool CloudDatabaseRemoteFile::refuse() { return fail(2, "not supported"); }

std::string CloudDatabaseRemoteFile::streamFailure(OrbEnvironment& environment,
                                                   const char* function, const char* prefix,
                                                   const char* fallback) {
  const std::string failure = environment.getFailure();
  if (failure.empty()) {
    debug.Debug(function, "%s", fallback);
    return fallback;
  }
  debug.Debug(function, "%s%s", prefix, failure.c_str());
  return failure;
}

int CloudDatabaseRemoteFile::GetIOMode() { return ioMode; }

bool CloudDatabaseRemoteFile::OpenCloudFile(const std::string& name) {
  debug.Debug("OpenCloudFile", "Opening cloud file: %s", name.c_str());
  if (!output) {
    debug.Debug("OpenCloudFile", "initialize with an output before opening the cloud file");
    return fail(1, "not properly initialized");
  }
  return success();
}

bool CloudDatabaseRemoteFile::GetFileInfo(MXRFInfo& info) {
  info = MXRFInfo();
  info.mtime = computeFileMtime();
  info.size = static_cast<long long>(getFileSize());
  return success();
}

bool CloudDatabaseRemoteFile::CreateCloudFile(const std::string& name, const MXRFInfo&) {
  debug.Debug("CreateCloudFile", "Creating cloud file: %s", name.c_str());
  while (access(kRestoreSleepMarker, F_OK) == 0) {
    ZUSLEEP_InTeRnAl(kMarkerPollMilliseconds, __FILE__, __LINE__);
  }
  if (!input) {
    debug.Debug("CreateCloudFile", "initialize with an input before creating the cloud file");
    return fail(1, "not properly initialized");
  }
  return success();
}

bool CloudDatabaseRemoteFile::WriteFile(void* buffer, long long size) {
  if (!input) {
    debug.Debug("WriteFile", "not initialized for writing");
    return fail(3, "not initialized for writing");
  }
  if (size < 0) {
    debug.Debug("WriteFile", "negative buffer size %lld", size);
    return fail(5, "unable to process the buffer");
  }
  if (input->processBuffer(buffer, static_cast<size_t>(size))) return success();
  return fail(5, streamFailure(input->environment, "WriteFile",
                               "processBuffer failed with: ", "unable to process the buffer"));
}

bool CloudDatabaseRemoteFile::ReadFile(void* buffer, long long size, long long& bytesRead) {
  if (endOfBackup) {
    bytesRead = 0;
    return true;
  }
  if (!output) {
    debug.Debug("ReadFile", "not initialized for reading");
    return fail(3, "not initialized for reading");
  }
  if (approximateSizeLimit >= 1 && bytesWritten > approximateSizeLimit) {
    bool internalError = false;
    const size_t remaining = output->getRemainingDataSize(internalError);
    debug.DebugLvl("ReadFile", 2,
                   "bytesWritten %lld > approximateSizeLimit %lld, remainingSize %zu, "
                   "internalError %d",
                   bytesWritten, approximateSizeLimit, remaining, internalError);
    if (remaining == 0) return endOfFile(bytesRead, internalError);
    // Hand over only what is pending; the agent resumes in the next file.
    output->setBufferSpanning(false);
  } else {
    output->setBufferSpanning(true);
  }
  // A negative size is refused by fillBuffer like an empty buffer.
  const size_t capacity = size > 0 ? static_cast<size_t>(size) : 0;
  size_t filled = 0;
  bool moreToCome = false;
  const bool ok = output->fillBuffer(buffer, capacity, filled, moreToCome);
  debug.DebugLvl("ReadFile", 2,
                 "fillBuffer size %zu filled %zu moreToCome %d returned %d bytesWritten %lld "
                 "approximateSizeLimit %lld",
                 capacity, filled, moreToCome, ok, bytesWritten, approximateSizeLimit);
  if (!ok) {
    return fail(4, streamFailure(output->environment, "ReadFile",
                                 "fillBuffer failed with: ", "unable to fill the buffer"));
  }
  bytesRead = static_cast<long long>(filled);
  bytesWritten += static_cast<long long>(filled);
  if (!moreToCome) endOfBackup = true;
  return success();
}

bool CloudDatabaseRemoteFile::endOfFile(long long& bytesRead, bool internalError) {
  bytesRead = 0;
  savedBytesWritten = bytesWritten;
  // Unreachable with the library's own buffered output (see getRemainingDataSize).
  if (internalError) return fail(4, "Internal error determining remaining data size");
  return success();
}

bool CloudDatabaseRemoteFile::CloseFile() {
  ioMode = 0;
  if (input && !input->closeChunk()) return false;
  return success();
}

CZuError CloudDatabaseRemoteFile::GetLastMMErrorCode() {
  if (lastErrorCode == 0) return CZuError();
  const int32_t code = static_cast<int32_t>(static_cast<uint32_t>(lastErrorCode));
  return FXErrorUtil::ErrorMM(FX_CODE_LOCATION(), code, "%s", lastErrorString.c_str());
}

long long CloudDatabaseRemoteFile::GetLastErrorCode() { return lastErrorCode; }

const std::string& CloudDatabaseRemoteFile::GetLastErrorString() { return lastErrorString; }

bool CloudDatabaseRemoteFile::IsItemNotFound(unsigned long) { return true; }

void CloudDatabaseRemoteFile::setApproximateSizeLimit(long long limit) {
  approximateSizeLimit = limit;
}

bool CloudDatabaseRemoteFile::isEndOfBackup() { return endOfBackup; }

long long CloudDatabaseRemoteFile::getBytesWritten() { return bytesWritten; }

long long CloudDatabaseRemoteFile::getSavedBytesWritten() { return savedBytesWritten; }

unsigned long long CloudDatabaseRemoteFile::getFileSize() { return fileSize; }

void CloudDatabaseRemoteFile::setFileSize(unsigned long long size) { fileSize = size; }

std::time_t CloudDatabaseRemoteFile::computeFileMtime() { return std::time(nullptr); }

// Namespace operations: the cloud files live in no namespace, so each request
// either pretends success or refuses.

bool CloudDatabaseRemoteFile::Init() { return success(); }

bool CloudDatabaseRemoteFile::CheckServerStatus() { return success(); }

bool CloudDatabaseRemoteFile::CreateFolder(const std::string&) { return success(); }

bool CloudDatabaseRemoteFile::GetFolderStatus(const std::string&, int& status) {
  status = 1;
  return success();
}

bool CloudDatabaseRemoteFile::CreateRootFolder(const std::string& folder) {
  debug.Debug("CreateRootFolder", "create root folder: %s", folder.c_str());
  return success();
}

bool CloudDatabaseRemoteFile::DeleteRootFolder(const std::string& folder) {
  debug.Debug("DeleteRootFolder", "delete root folder: %s", folder.c_str());
  return success();
}

bool CloudDatabaseRemoteFile::GetRootFolderStatus(const std::string& folder, int& status) {
  debug.Debug("GetRootFolderStatus", "Pretending that root folder %s exists", folder.c_str());
  status = 1;
  return success();
}

bool CloudDatabaseRemoteFile::DeleteCloudFile(const std::string& name) {
  debug.Debug("DeleteCloudFile", "Not deleting cloud file %s", name.c_str());
  return true;
}

bool CloudDatabaseRemoteFile::GetNativeFileInfo(const std::string&, MXRFInfo&) {
  return fail(1005, "cloud DB files are artificial, and do not already exist");
}

bool CloudDatabaseRemoteFile::GetRootFolderList(std::vector<std::string>&) { return refuse(); }

bool CloudDatabaseRemoteFile::GetFileList(const std::string&, std::vector<MXRFInfo>&,
                                          std::vector<std::string>&, bool, unsigned long) {
  return refuse();
}

bool CloudDatabaseRemoteFile::DeleteRemoteFile(const std::string& path) {
  debug.Debug("DeleteRemoteFile", "delete remote file %s fails", path.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::GetRemoteFileList(const std::string& folder, std::vector<MXRFInfo>&,
                                                std::vector<std::string>&, bool, bool) {
  debug.Debug("GetRemoteFileList", "GetRemoteFileList fails: folder %s", folder.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::GetCloudRemoteFileList(const std::string& folder, bool,
                                                     std::vector<MXRFInfo>&,
                                                     std::vector<std::string>&, bool, unsigned long,
                                                     bool&, std::string&) {
  debug.Debug("GetCloudRemoteFileList", "GetCloudRemoteFileList fails: folder %s", folder.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::GetRemoteFileInfo(const std::string& path, MXRFInfo&) {
  debug.Debug("GetRemoteFileInfo", "GetRemoteFileInfo fails: %s", path.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::CreateRemoteFolder(const std::string& folder) {
  debug.Debug("CreateRemoteFolder", "CreateRemoteFolder fails: folder %s", folder.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::DeleteRemoteFolder(const std::string& folder) {
  debug.Debug("DeleteRemoteFolder", "DeleteRemoteFolder fails: folder %s", folder.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::GetRemoteFolderStatus(const std::string& folder, int&) {
  debug.Debug("GetRemoteFolderStatus", "GetRemoteFolderStatus fails: folder %s", folder.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::SendRemoteFile(const void*, const std::string& localPath,
                                             unsigned long long, unsigned long long,
                                             std::string& remotePath, const std::string&, long long,
                                             std::string&) {
  debug.Debug("SendRemoteFile", "send remote file fails: loc %s remote %s", localPath.c_str(),
              remotePath.c_str());
  return refuse();
}

bool CloudDatabaseRemoteFile::ReadRemoteFile(const std::string& remotePath,
                                             const std::string& localPath, long long, void*,
                                             long long, long long&) {
  debug.Debug("ReadRemoteFile", "read remote file fails: loc %s remote %s", localPath.c_str(),
              remotePath.c_str());
  return refuse();
}
