#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "remotefile/CloudDBRemoteFileFactory.h"

namespace clouddb_test {
namespace {

std::vector<std::string> numberedLines(int count, size_t width) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line = "line " + std::to_string(i) + " ";
    line.resize(width - 1 - (i % 7), static_cast<char>('a' + i % 26));
    lines.push_back(line + "\n");
  }
  return lines;
}

class RemoteFileTest : public testing::Test {
 protected:
  RemoteFileTest() : driver(0, "endpoint", "credentials", "container", 0, 5) {}

  void wireOutput(std::vector<std::string> strings) {
    producer = std::make_shared<ScriptedProducer>(env, std::move(strings));
    driver.initialize(std::static_pointer_cast<OrbBufferedOutput>(producer));
  }

  void wireInput() {
    collector = std::make_shared<LineCollector>(env);
    driver.initialize(std::static_pointer_cast<OrbBufferedInput>(collector));
  }

  // One ReadFile; returns the bytes read, or "!" when the call failed.
  std::string read(long long size) {
    std::string buffer(static_cast<size_t>(size), '\0');
    long long bytesRead = -1;
    if (!driver.ReadFile(buffer.data(), size, bytesRead)) return "!";
    return buffer.substr(0, static_cast<size_t>(bytesRead));
  }

  bool write(std::string bytes) {
    return driver.WriteFile(bytes.data(), static_cast<long long>(bytes.size()));
  }

  void expectError(long long code, const std::string& text) {
    EXPECT_EQ(driver.GetLastErrorCode(), code);
    EXPECT_EQ(driver.GetLastErrorString(), text);
  }

  RecordingEnvironment env;
  CloudDatabaseRemoteFile driver;
  std::shared_ptr<ScriptedProducer> producer;
  std::shared_ptr<LineCollector> collector;
};

TEST_F(RemoteFileTest, UnwiredDriverRefusesEveryTransfer) {
  DebugLogCapture log;
  EXPECT_EQ(read(8), "!");
  expectError(3, "not initialized for reading");
  EXPECT_TRUE(log.has("ReadFile", "not initialized for reading"));
  EXPECT_FALSE(write("x\n"));
  expectError(3, "not initialized for writing");
  EXPECT_TRUE(log.has("WriteFile", "not initialized for writing"));
  EXPECT_FALSE(driver.OpenCloudFile("f"));
  expectError(1, "not properly initialized");
  EXPECT_TRUE(log.has("OpenCloudFile", "Opening cloud file: f"));
  EXPECT_TRUE(log.has("OpenCloudFile", "initialize with an output before opening the cloud file"));
  EXPECT_FALSE(driver.CreateCloudFile("g", MXRFInfo()));
  expectError(1, "not properly initialized");
  EXPECT_TRUE(
      log.has("CreateCloudFile", "initialize with an input before creating the cloud file"));
  const CZuError error = driver.GetLastMMErrorCode();
  EXPECT_EQ(error.code(), 1);
  EXPECT_EQ(error.message(), "not properly initialized");
  EXPECT_TRUE(driver.CloseFile());
  EXPECT_EQ(driver.GetLastMMErrorCode().code(), 0);
  // An empty write is a write; wiring one direction drops the other.
  wireInput();
  EXPECT_TRUE(write(""));
  wireOutput({"x\n"});
  EXPECT_FALSE(write("x\n"));
  expectError(3, "not initialized for writing");
}

TEST_F(RemoteFileTest, FailuresCarryTheEnvironmentsReason) {
  struct Case {
    std::string failure;
    std::string expected;
  };
  for (const Case& c : {Case{"", "unable to fill the buffer"}, Case{"disk gone", "disk gone"}}) {
    RecordingEnvironment failing;
    if (!c.failure.empty()) failing.setFailure(c.failure);
    auto output = std::make_shared<ScriptedProducer>(failing, std::vector<std::string>{"a"});
    output->failStartAt = 1;
    driver.initialize(std::static_pointer_cast<OrbBufferedOutput>(output));
    DebugLogCapture log;
    EXPECT_EQ(read(4), "!");
    expectError(4, c.expected);
    EXPECT_TRUE(log.has("ReadFile",
                        c.failure.empty() ? c.expected : "fillBuffer failed with: " + c.failure));
  }
  for (const Case& c : {Case{"", "unable to process the buffer"}, Case{"bad line", "bad line"}}) {
    RecordingEnvironment failing;
    if (!c.failure.empty()) failing.setFailure(c.failure);
    auto input = std::make_shared<LineCollector>(failing);
    input->failStartAt = 1;
    driver.initialize(std::static_pointer_cast<OrbBufferedInput>(input));
    DebugLogCapture log;
    EXPECT_TRUE(write("a\n"));
    EXPECT_FALSE(write("b\n"));
    expectError(5, c.expected);
    EXPECT_TRUE(log.has(
        "WriteFile", c.failure.empty() ? c.expected : "processBuffer failed with: " + c.failure));
  }
  DebugLogCapture log;
  EXPECT_FALSE(driver.WriteFile(nullptr, -1));
  expectError(5, "unable to process the buffer");
  EXPECT_TRUE(log.has("WriteFile", "negative buffer size -1"));
}

TEST_F(RemoteFileTest, ReadsEndAtTheLimitOnceNothingIsPending) {
  // Ten-byte lines, 16-byte reads, a limit of 16: the first read reaches the
  // limit exactly and does not end the file.
  wireOutput({"123456789\n", "abcdefghi\n", "ABCDEFGHI\n", "zzzzzzzzz\n", "next file\n"});
  driver.setApproximateSizeLimit(16);
  EXPECT_EQ(read(16), "123456789\nabcdef");
  EXPECT_EQ(read(16), "ghi\nABCDEFGHI\nzz");
  // Past the limit: only the pending bytes, without asking the agent.
  EXPECT_EQ(read(16), "zzzzzzz\n");
  EXPECT_EQ(producer->startCalls, 2);
  EXPECT_EQ(read(16), "");
  EXPECT_EQ(driver.getSavedBytesWritten(), 40);
  EXPECT_EQ(driver.getBytesWritten(), 40);
  EXPECT_FALSE(driver.isEndOfBackup());
}

TEST_F(RemoteFileTest, ReadsAfterTheEndOfBackupAreEmpty) {
  wireOutput({"only\n"});
  driver.setApproximateSizeLimit(0);
  EXPECT_EQ(read(64), "only\n");
  EXPECT_TRUE(driver.isEndOfBackup());
  producer->remainingDataOffset = 99;  // the output is not asked again
  EXPECT_EQ(read(64), "");
  EXPECT_EQ(read(64), "");
  EXPECT_TRUE(driver.CloseFile());
  EXPECT_EQ(driver.GetIOMode(), 0);
}

TEST_F(RemoteFileTest, InternalErrorPastTheLimit) {
  wireOutput({"0123456789"});
  driver.setApproximateSizeLimit(1);
  EXPECT_EQ(read(4), "0123");
  producer->remainingDataOffset = 99;
  EXPECT_EQ(read(4), "!");
  expectError(4, "Internal error determining remaining data size");
}

TEST_F(RemoteFileTest, FileInfoReportsNowAndTheConfiguredSize) {
  MXRFInfo info;
  info.name = "old";
  info.tags["k"] = "v";
  driver.setFileSize(12345);
  const std::time_t before = std::time(nullptr);
  EXPECT_TRUE(driver.GetFileInfo(info));
  EXPECT_EQ(info.size, 12345);
  EXPECT_GE(info.mtime, before);
  EXPECT_LE(info.mtime, std::time(nullptr));
  EXPECT_EQ(info.name, "");
  EXPECT_TRUE(info.tags.empty());
}

TEST_F(RemoteFileTest, CreateCloudFileWaitsWhileTheMarkerExists) {
  wireInput();
  std::FILE* marker = std::fopen(CloudDatabaseRemoteFile::kRestoreSleepMarker, "w");
  ASSERT_NE(marker, nullptr);
  std::fclose(marker);
  std::atomic<bool> returned{false};
  std::thread host([&] {
    EXPECT_TRUE(driver.CreateCloudFile("c", MXRFInfo()));
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(returned);
  std::remove(CloudDatabaseRemoteFile::kRestoreSleepMarker);
  host.join();
  EXPECT_TRUE(returned);
}

TEST_F(RemoteFileTest, NamespaceOperations) {
  // code 0: pretended success; 2: refused as "not supported"; 1005: no
  // native file. DeleteCloudFile succeeds and keeps the previous error.
  struct Case {
    const char* name;
    std::function<bool()> call;
    long long code;
    std::string logLine;
  };
  std::vector<MXRFInfo> files(1);
  std::vector<std::string> folders{"kept"};
  MXRFInfo info;
  int status = 7;
  bool truncated = false;
  long long n = 0;
  std::string marker;
  std::string remote = "remote";
  auto& d = driver;
  const std::string native = "cloud DB files are artificial, and do not already exist";
  const std::vector<Case> cases = {
      {"GetNativeFileInfo", [&] { return d.GetNativeFileInfo("p", info); }, 1005, ""},
      {"DeleteCloudFile", [&] { return d.DeleteCloudFile("n"); }, 1005,
       "Not deleting cloud file n"},
      {"Init", [&] { return d.Init(); }, 0, ""},
      {"CheckServerStatus", [&] { return d.CheckServerStatus(); }, 0, ""},
      {"CreateFolder", [&] { return d.CreateFolder("f"); }, 0, ""},
      {"CreateRootFolder", [&] { return d.CreateRootFolder("r"); }, 0, "create root folder: r"},
      {"DeleteRootFolder", [&] { return d.DeleteRootFolder("r"); }, 0, "delete root folder: r"},
      {"GetRootFolderStatus", [&] { return d.GetRootFolderStatus("", status); }, 0,
       "Pretending that root folder  exists"},
      {"GetRootFolderList", [&] { return d.GetRootFolderList(folders); }, 2, ""},
      {"GetFileList", [&] { return d.GetFileList("f", files, folders, true, 9); }, 2, ""},
      {"DeleteRemoteFile", [&] { return d.DeleteRemoteFile("p"); }, 2,
       "delete remote file p fails"},
      {"GetRemoteFileList", [&] { return d.GetRemoteFileList("f", files, folders, true, true); }, 2,
       "GetRemoteFileList fails: folder f"},
      {"GetRemoteFileList",
       [&] { return d.GetRemoteFileList("g", files, folders, true, true, 3ul); }, 2,
       "GetRemoteFileList fails: folder g"},
      {"GetCloudRemoteFileList",
       [&] {
         return d.GetCloudRemoteFileList("f", true, files, folders, true, 9, truncated, marker);
       },
       2, "GetCloudRemoteFileList fails: folder f"},
      {"GetRemoteFileInfo", [&] { return d.GetRemoteFileInfo("p", info); }, 2,
       "GetRemoteFileInfo fails: p"},
      {"GetRemoteFileInfo", [&] { return d.GetRemoteDirectoryInfo("q", info); }, 2,
       "GetRemoteFileInfo fails: q"},
      {"CreateRemoteFolder", [&] { return d.CreateRemoteFolder("f"); }, 2,
       "CreateRemoteFolder fails: folder f"},
      {"DeleteRemoteFolder", [&] { return d.DeleteRemoteFolder("f"); }, 2,
       "DeleteRemoteFolder fails: folder f"},
      {"GetRemoteFolderStatus", [&] { return d.GetRemoteFolderStatus("f", status); }, 2,
       "GetRemoteFolderStatus fails: folder f"},
      {"SendRemoteFile",
       [&] { return d.SendRemoteFile(nullptr, "local", 0, 0, remote, "t", 0, marker); }, 2,
       "send remote file fails: loc local remote remote"},
      {"ReadRemoteFile", [&] { return d.ReadRemoteFile("remote", "local", 0, nullptr, 0, n); }, 2,
       "read remote file fails: loc local remote remote"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DebugLogCapture log;
    const bool deleteCloudFile = std::string(c.name) == "DeleteCloudFile";
    EXPECT_EQ(c.call(), c.code == 0 || deleteCloudFile);
    expectError(c.code, c.code == 0 ? "" : c.code == 2 ? "not supported" : native);
    EXPECT_TRUE(c.logLine.empty() || log.has(c.name, c.logLine));
    EXPECT_TRUE(driver.IsItemNotFound(static_cast<unsigned long>(c.code)));
  }
  int folderStatus = 0;
  EXPECT_TRUE(driver.GetFolderStatus("f", folderStatus));
  EXPECT_EQ(folderStatus, 1);
  EXPECT_EQ(status, 1);  // refused GetRemoteFolderStatus left it untouched
  EXPECT_EQ(files.size(), 1u);
  EXPECT_EQ(folders, std::vector<std::string>{"kept"});
}

TEST(RemoteFileFactoryTest, WiresEachDriver) {
  RecordingEnvironment env;
  CloudDBRemoteFileFactory empty;
  EXPECT_EQ(empty.approximateSizeLimit, 1048576);
  EXPECT_EQ(empty.getLastRemoteFile(), nullptr);
  EXPECT_FALSE(empty.createObject(CloudConnectionDetails(), "", 0)->OpenCloudFile("f"));

  auto first = std::make_shared<BufferedFromString>("first", env, "1\n");
  auto second = std::make_shared<BufferedFromString>("second", env, "2\n");
  CloudDBRemoteFileFactory factory(first, 77);
  factory.nextOutput = second;
  factory.fileSize = 9;
  auto readAll = [](MXBaseRemoteFile& d) {
    char buffer[16];
    long long n = 0;
    EXPECT_TRUE(d.ReadFile(buffer, sizeof buffer, n));
    return std::string(buffer, static_cast<size_t>(n));
  };
  auto a = factory.createObject(CloudConnectionDetails(), "", 0);
  EXPECT_EQ(factory.nextOutput, nullptr);
  EXPECT_EQ(readAll(*a), "2\n");
  auto b = factory.createObject(CloudConnectionDetails(), "", 0);
  EXPECT_EQ(readAll(*b), "1\n");
  EXPECT_EQ(factory.getLastRemoteFile(), b);
  EXPECT_EQ(factory.getLastRemoteFile()->getFileSize(), 9u);

  std::weak_ptr<MXBaseRemoteFile> released = b;
  factory.input = std::make_shared<LineCollector>(env);
  auto c = factory.createObject(CloudConnectionDetails(), "", 0);
  EXPECT_EQ(c->GetIOMode(), 2);
  long long n = 0;
  EXPECT_FALSE(c->ReadFile(nullptr, 1, n));  // no output wired
  EXPECT_EQ(c->GetLastErrorCode(), 3);
  EXPECT_FALSE(released.expired());
  b.reset();
  EXPECT_TRUE(released.expired());
}

// The host's calling order through the factory: a backup over several cloud
// files, then a restore of the same files through new drivers. Returns the
// lines restored.
std::vector<std::string> roundTrip(const std::vector<std::string>& lines, long long limit,
                                   long long bufferSize) {
  RecordingEnvironment env;
  CloudDBRemoteFileFactory backup(std::make_shared<ScriptedProducer>(env, lines), limit);
  backup.fileSize = 1;
  std::vector<std::string> cloudFiles;
  std::string buffer(static_cast<size_t>(bufferSize), '\0');
  do {
    auto driver = backup.createObject(CloudConnectionDetails(), "bucket", 0);
    EXPECT_TRUE(driver->OpenCloudFile("file" + std::to_string(cloudFiles.size())));
    std::string file;
    for (long long n = -1; n != 0 && driver->ReadFile(buffer.data(), bufferSize, n);) {
      file.append(buffer, 0, static_cast<size_t>(n));
    }
    EXPECT_TRUE(driver->CloseFile());
    MXRFInfo info;
    EXPECT_TRUE(driver->GetFileInfo(info));
    cloudFiles.push_back(file);
  } while (!backup.getLastRemoteFile()->isEndOfBackup() && cloudFiles.size() < 10000);
  EXPECT_TRUE(limit == 0 || limit >= 4000 || cloudFiles.size() > 2);

  CloudDBRemoteFileFactory restore;
  auto collector = std::make_shared<LineCollector>(env);
  restore.input = collector;
  for (const std::string& file : cloudFiles) {
    auto driver = restore.createObject(CloudConnectionDetails(), "bucket", 0);
    EXPECT_TRUE(driver->CreateCloudFile("file", MXRFInfo()));
    for (size_t at = 0; at < file.size(); at += static_cast<size_t>(bufferSize)) {
      std::string block = file.substr(at, static_cast<size_t>(bufferSize));
      EXPECT_TRUE(driver->WriteFile(block.data(), static_cast<long long>(block.size())));
    }
    EXPECT_TRUE(driver->CloseFile());
  }
  return collector->lines;
}

std::vector<std::string> withoutLineFeeds(const std::vector<std::string>& lines) {
  std::vector<std::string> stripped;
  for (const std::string& line : lines) stripped.push_back(line.substr(0, line.size() - 1));
  return stripped;
}

// Independent pipes on parallel threads, all logging to one debug log.
TEST(RemoteFilePipeTest, ParallelPipesShareOneDebugLog) {
  DebugLogCapture log;
  const std::vector<std::string> lines = numberedLines(300, 40);
  std::vector<std::thread> pipes;
  for (int t = 0; t < 4; ++t) {
    pipes.emplace_back([&lines, t] {
      EXPECT_EQ(roundTrip(lines, 500 + 300 * t, 64 + t), withoutLineFeeds(lines));
    });
  }
  for (std::thread& pipe : pipes) pipe.join();
  EXPECT_FALSE(log.entries.empty());
}

}  // namespace
}  // namespace clouddb_test
