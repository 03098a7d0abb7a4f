// Host remote-file interface: the base class of every cloud-storage driver,
// the factory through which the data mover obtains drivers, and the records
// they exchange.
//
// Stand-in for the host's remote-file library, declared as the plug-in's
// driver and factory use it. The data mover calls one driver from one thread
// in this order: backup OpenCloudFile, ReadFile until it succeeds with 0
// bytes, CloseFile, GetFileInfo; restore CreateCloudFile, WriteFile per
// block, CloseFile. Every operation returns a success flag; after a failure
// the caller reads GetLastErrorCode, GetLastErrorString, GetLastMMErrorCode
// and IsItemNotFound.
//
// A driver is shared by the data mover and the factory through shared
// pointers. A factory has no virtual destructor: its owner destroys it as
// the concrete type.
#ifndef CLOUDDB_HOST_MXREMOTEFILE_H_
#define CLOUDDB_HOST_MXREMOTEFILE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/MxLib.h"

struct MXRFInfo {
  std::string name;
  long long size = 0;
  long long mtime = 0;  // seconds since the epoch
  std::string etag;
  std::string storageClass;
  std::map<std::string, std::string> metadata;
  std::map<std::string, std::string> tags;
  std::map<std::string, std::string> userMetadata;
  std::map<std::string, std::string> extraInfo;
};

struct CloudConnectionDetails {
  std::string endpoint;
  std::string credentials;
  int port = 0;
};

class MXBaseRemoteFile {
 public:
  MXBaseRemoteFile(int port, const std::string& endpoint, const std::string& credentials,
                   const std::string& container, long long options, int retryCount);
  virtual ~MXBaseRemoteFile();

  MXBaseRemoteFile(const MXBaseRemoteFile&) = delete;
  MXBaseRemoteFile& operator=(const MXBaseRemoteFile&) = delete;

  virtual int GetIOMode() = 0;
  virtual bool OpenCloudFile(const std::string& name) = 0;
  virtual bool GetFileInfo(MXRFInfo& info) = 0;
  virtual bool CreateCloudFile(const std::string& name, const MXRFInfo& info) = 0;
  virtual bool GetRootFolderList(std::vector<std::string>& folders) = 0;
  virtual bool DeleteCloudFile(const std::string& name) = 0;
  virtual bool WriteFile(void* buffer, long long size) = 0;
  virtual bool ReadFile(void* buffer, long long size, long long& bytesRead) = 0;
  virtual bool CloseFile() = 0;
  virtual bool CreateFolder(const std::string& folder) = 0;
  virtual bool GetFolderStatus(const std::string& folder, int& status) = 0;
  virtual bool GetFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                           std::vector<std::string>& folders, bool recursive,
                           unsigned long maxCount) = 0;
  virtual bool GetNativeFileInfo(const std::string& path, MXRFInfo& info) = 0;
  virtual bool Init() = 0;
  virtual bool CheckServerStatus() = 0;
  virtual bool CreateRootFolder(const std::string& folder) = 0;
  virtual bool DeleteRootFolder(const std::string& folder) = 0;
  virtual bool GetRootFolderStatus(const std::string& folder, int& status) = 0;
  virtual CZuError GetLastMMErrorCode() = 0;
  virtual long long GetLastErrorCode() = 0;
  virtual const std::string& GetLastErrorString() = 0;
  virtual bool IsItemNotFound(unsigned long code) = 0;
  virtual bool SendRemoteFile(const void* data, const std::string& localPath,
                              unsigned long long offset, unsigned long long length,
                              std::string& remotePath, const std::string& contentType,
                              long long flags, std::string& etag) = 0;
  virtual bool ReadRemoteFile(const std::string& remotePath, const std::string& localPath,
                              long long offset, void* buffer, long long size,
                              long long& bytesRead) = 0;
  virtual bool DeleteRemoteFile(const std::string& path) = 0;
  virtual bool GetRemoteFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                                 std::vector<std::string>& folders, bool recursive,
                                 bool includeFolders) = 0;
  virtual bool GetCloudRemoteFileList(const std::string& folder, bool flat,
                                      std::vector<MXRFInfo>& files,
                                      std::vector<std::string>& folders, bool recursive,
                                      unsigned long maxCount, bool& truncated,
                                      std::string& marker) = 0;
  virtual bool GetRemoteFileInfo(const std::string& path, MXRFInfo& info) = 0;
  virtual bool CreateRemoteFolder(const std::string& folder) = 0;
  virtual bool DeleteRemoteFolder(const std::string& folder) = 0;
  virtual bool GetRemoteFolderStatus(const std::string& folder, int& status) = 0;

  // Base defaults.
  virtual bool GetRemoteFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                                 std::vector<std::string>& folders, bool recursive,
                                 bool includeFolders, unsigned long maxCount);
  virtual bool GetRemoteDirectoryInfo(const std::string& path, MXRFInfo& info);
  virtual bool GetCloudFileList(const std::string& folder, bool flat, std::vector<MXRFInfo>& files,
                                std::vector<std::string>& folders, bool recursive,
                                unsigned long maxCount, bool& truncated, std::string& marker);
  virtual bool GetCloudFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                                std::vector<std::string>& folders, bool recursive,
                                unsigned long maxCount, bool& truncated, std::string& marker);
  virtual bool IsNative();
  virtual bool IsSupportFlatModeFileList();
  virtual bool IsSupportRemoteCopy();
  virtual bool IsSupportRemoteCopyFileByRanges();
  virtual bool IsSupportRemoteCopyFileByOneRange();
  virtual bool GetStorageClassList(std::vector<std::string>& classes);
  virtual bool ResetACL(const std::string& path);
  virtual bool CheckRootFolderClass(const std::string& folder);
  virtual bool CleanupMulitpartUpload(const std::string& folder);
  virtual bool RestoreRemoteFolder(const std::string& folder, int days);
  virtual bool RestoreRemoteFile(const std::string& path, int days);
  virtual bool ChangeStorageClassForRemoteFile(const std::string& path,
                                               const std::string& storageClass);
  virtual bool GetRemoteFileExtraInfo(const std::string& path,
                                      std::map<std::string, std::string>& info);
  virtual bool SetRemoteFileExtraInfo(const std::string& path,
                                      const std::map<std::string, std::string>& info);
  virtual bool CheckStorageClassString(const std::string& text, int& storageClass);
  virtual bool GetStorageClassString(int storageClass, std::string& text);
  virtual bool GetBatchRestoreJobFileList(const std::string& job, std::vector<std::string>& files);

 protected:
  long long lastErrorCode = 0;
  std::string lastErrorString;

  int port;
  std::string endpoint;
  std::string credentials;
  std::string container;
  long long options;
  int retryCount;

  bool native = false;
  bool flatModeFileList = false;
  bool remoteCopy = false;
  bool remoteCopyByRanges = false;
  bool remoteCopyByOneRange = false;
};

class RemoteFileFactory {
 public:
  virtual std::shared_ptr<MXBaseRemoteFile> createObject(const CloudConnectionDetails& details,
                                                         const std::string& text,
                                                         long long value) = 0;
  virtual CZuError Initialize(long long value);
  virtual CZuError Process(const CloudConnectionDetails& details, const std::string& text,
                           bool& done);

 protected:
  RemoteFileFactory() = default;
  ~RemoteFileFactory() = default;
  RemoteFileFactory(const RemoteFileFactory&) = default;
  RemoteFileFactory& operator=(const RemoteFileFactory&) = default;
};

#endif  // CLOUDDB_HOST_MXREMOTEFILE_H_
