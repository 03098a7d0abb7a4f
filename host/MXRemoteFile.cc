#include "host/MXRemoteFile.h"

MXBaseRemoteFile::MXBaseRemoteFile(int port, const std::string& endpoint,
                                   const std::string& credentials, const std::string& container,
                                   long long options, int retryCount)
    : port(port),
      endpoint(endpoint),
      credentials(credentials),
      container(container),
      options(options),
      retryCount(retryCount) {}

MXBaseRemoteFile::~MXBaseRemoteFile() = default;

bool MXBaseRemoteFile::GetRemoteFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                                         std::vector<std::string>& folders, bool recursive,
                                         bool includeFolders, unsigned long /*maxCount*/) {
  return GetRemoteFileList(folder, files, folders, recursive, includeFolders);
}

bool MXBaseRemoteFile::GetRemoteDirectoryInfo(const std::string& path, MXRFInfo& info) {
  return GetRemoteFileInfo(path, info);
}

bool MXBaseRemoteFile::GetCloudFileList(const std::string& folder, bool flat,
                                        std::vector<MXRFInfo>& files,
                                        std::vector<std::string>& folders, bool recursive,
                                        unsigned long maxCount, bool& truncated,
                                        std::string& marker) {
  return GetCloudRemoteFileList(folder, flat, files, folders, recursive, maxCount, truncated,
                                marker);
}

bool MXBaseRemoteFile::GetCloudFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                                        std::vector<std::string>& folders, bool recursive,
                                        unsigned long maxCount, bool& truncated,
                                        std::string& marker) {
  return GetCloudFileList(folder, false, files, folders, recursive, maxCount, truncated, marker);
}

bool MXBaseRemoteFile::IsNative() { return native; }
bool MXBaseRemoteFile::IsSupportFlatModeFileList() { return flatModeFileList; }
bool MXBaseRemoteFile::IsSupportRemoteCopy() { return remoteCopy; }
bool MXBaseRemoteFile::IsSupportRemoteCopyFileByRanges() { return remoteCopyByRanges; }
bool MXBaseRemoteFile::IsSupportRemoteCopyFileByOneRange() { return remoteCopyByOneRange; }

bool MXBaseRemoteFile::GetStorageClassList(std::vector<std::string>&) { return true; }
bool MXBaseRemoteFile::ResetACL(const std::string&) { return true; }
bool MXBaseRemoteFile::CheckRootFolderClass(const std::string&) { return true; }
bool MXBaseRemoteFile::CleanupMulitpartUpload(const std::string&) { return true; }
bool MXBaseRemoteFile::RestoreRemoteFolder(const std::string&, int) { return true; }
bool MXBaseRemoteFile::RestoreRemoteFile(const std::string&, int) { return true; }
bool MXBaseRemoteFile::ChangeStorageClassForRemoteFile(const std::string&, const std::string&) {
  return true;
}
bool MXBaseRemoteFile::GetRemoteFileExtraInfo(const std::string&,
                                              std::map<std::string, std::string>&) {
  return true;
}
bool MXBaseRemoteFile::SetRemoteFileExtraInfo(const std::string&,
                                              const std::map<std::string, std::string>&) {
  return true;
}

bool MXBaseRemoteFile::CheckStorageClassString(const std::string&, int& storageClass) {
  storageClass = 0;
  return true;
}

bool MXBaseRemoteFile::GetStorageClassString(int, std::string& text) {
  text.clear();
  return true;
}

bool MXBaseRemoteFile::GetBatchRestoreJobFileList(const std::string&, std::vector<std::string>&) {
  return false;
}

CZuError RemoteFileFactory::Initialize(long long) { return CZuError(); }

CZuError RemoteFileFactory::Process(const CloudConnectionDetails&, const std::string&, bool&) {
  return CZuError();
}
