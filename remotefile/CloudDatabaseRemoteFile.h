// The remote-file driver whose cloud files are artificial: nothing is stored
// anywhere. Each driver stands for one cloud file.
//
// Backup: every ReadFile is served by the agent's buffered output, which
// fills the data mover's buffer. The driver counts the bytes it hands over
// and ends the file (a successful read of 0 bytes) once the count has passed
// the approximate size limit and nothing is pending; the next driver made by
// the factory continues the same output. Restore: every WriteFile goes to the
// agent's buffered input, and CloseFile ends the chunk.
//
// Folder, listing and deletion requests either pretend success or refuse
// with code 2 "not supported".
//
// The driver shares its streams with the agent and the factory; the data
// mover and the factory share the driver. All calls come from the data
// mover's thread; the driver takes no lock. A failure is a false result,
// mostly with GetLastErrorCode / GetLastErrorString set: 1 not initialized,
// 2 not supported, 3 no stream for the direction, 4 fill failed, 5
// processing failed, 1005 no native file. Two exceptions: a failed CloseFile
// (the chunk's last buffer could not be processed) leaves the error state as
// it was, and the refusals of GetRootFolderList, GetFileList and
// GetNativeFileInfo log nothing. Every other failure is logged to the host
// debug log.
#ifndef CLOUDDB_REMOTEFILE_CLOUDDATABASEREMOTEFILE_H_
#define CLOUDDB_REMOTEFILE_CLOUDDATABASEREMOTEFILE_H_

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "host/MXRemoteFile.h"
#include "util/CloudDBExport.h"

class CLOUDDB_EXPORT CloudDatabaseRemoteFile : public MXBaseRemoteFile {
 public:
  // While this file exists in the working directory, CreateCloudFile waits.
  static constexpr const char* kRestoreSleepMarker = "c:\\dynamodbRestore.sleep";

  CloudDatabaseRemoteFile(int port, const std::string& endpoint, const std::string& credentials,
                          const std::string& container, long long options, int retryCount);
  ~CloudDatabaseRemoteFile() override;

  int GetIOMode() override;
  bool OpenCloudFile(const std::string& name) override;
  // mtime now, size as configured; everything else cleared.
  bool GetFileInfo(MXRFInfo& info) override;
  bool CreateCloudFile(const std::string& name, const MXRFInfo& info) override;
  bool GetRootFolderList(std::vector<std::string>& folders) override;
  bool DeleteCloudFile(const std::string& name) override;
  bool WriteFile(void* buffer, long long size) override;
  bool ReadFile(void* buffer, long long size, long long& bytesRead) override;
  bool CloseFile() override;
  bool CreateFolder(const std::string& folder) override;
  bool GetFolderStatus(const std::string& folder, int& status) override;
  bool GetFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                   std::vector<std::string>& folders, bool recursive,
                   unsigned long maxCount) override;
  bool GetNativeFileInfo(const std::string& path, MXRFInfo& info) override;
  bool Init() override;
  bool CheckServerStatus() override;
  bool CreateRootFolder(const std::string& folder) override;
  bool DeleteRootFolder(const std::string& folder) override;
  bool GetRootFolderStatus(const std::string& folder, int& status) override;
  CZuError GetLastMMErrorCode() override;
  long long GetLastErrorCode() override;
  const std::string& GetLastErrorString() override;
  bool IsItemNotFound(unsigned long code) override;
  bool SendRemoteFile(const void* data, const std::string& localPath, unsigned long long offset,
                      unsigned long long length, std::string& remotePath,
                      const std::string& contentType, long long flags, std::string& etag) override;
  bool ReadRemoteFile(const std::string& remotePath, const std::string& localPath, long long offset,
                      void* buffer, long long size, long long& bytesRead) override;
  bool DeleteRemoteFile(const std::string& path) override;
  using MXBaseRemoteFile::GetRemoteFileList;
  bool GetRemoteFileList(const std::string& folder, std::vector<MXRFInfo>& files,
                         std::vector<std::string>& folders, bool recursive,
                         bool includeFolders) override;
  bool GetCloudRemoteFileList(const std::string& folder, bool flat, std::vector<MXRFInfo>& files,
                              std::vector<std::string>& folders, bool recursive,
                              unsigned long maxCount, bool& truncated,
                              std::string& marker) override;
  bool GetRemoteFileInfo(const std::string& path, MXRFInfo& info) override;
  bool CreateRemoteFolder(const std::string& folder) override;
  bool DeleteRemoteFolder(const std::string& folder) override;
  bool GetRemoteFolderStatus(const std::string& folder, int& status) override;

  // A limit of 0 or below never ends a file.
  virtual void setApproximateSizeLimit(long long limit);
  virtual bool isEndOfBackup();
  virtual long long getBytesWritten();
  virtual long long getSavedBytesWritten();
  virtual unsigned long long getFileSize();
  virtual void setFileSize(unsigned long long size);
  virtual std::time_t computeFileMtime();

  // Wires the driver for backup (reading), dropping any input.
  void initialize(std::shared_ptr<OrbBufferedOutput> out);
  // Wires the driver for restore (writing), dropping any output.
  void initialize(std::shared_ptr<OrbBufferedInput> in);
  // Clears the error state; returns true.
  bool success();

 protected:
  std::shared_ptr<OrbBufferedInput> input;
  std::shared_ptr<OrbBufferedOutput> output;
  int ioMode;
  long long approximateSizeLimit;
  long long bytesWritten;
  long long savedBytesWritten;
  bool endOfBackup;
  EvDebug debug;
  unsigned long long fileSize;

 private:
  CLOUDDB_LOCAL bool fail(long long code, const std::string& text);
  CLOUDDB_LOCAL bool refuse();
  CLOUDDB_LOCAL bool endOfFile(long long& bytesRead, bool internalError);
  // The stream environment's failure text, or fallback when it has none;
  // logged either way.
  CLOUDDB_LOCAL std::string streamFailure(OrbEnvironment& environment, const char* function,
                                          const char* prefix, const char* fallback);
};

#endif  // CLOUDDB_REMOTEFILE_CLOUDDATABASEREMOTEFILE_H_
