// A complete backup and restore through the plug-in, written the way an
// agent and a host use it. The README quotes it; CTest runs it.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "agent/OrbEnvironment.h"
#include "remotefile/CloudDBRemoteFileFactory.h"

// --- Agent side -----------------------------------------------------------

// Backup: puts one whole line per putString and resumes from a line number.
class LinesOutput : public OrbBufferedOutput {
 public:
  LinesOutput(OrbEnvironment& env, std::vector<std::string> lines)
      : OrbBufferedOutput("lines", env), lines_(std::move(lines)) {}

  bool initializeBackup() override { return true; }

  bool startBackup(bool /*firstCall*/) override {
    while (next_ < lines_.size() && !stopNow()) {
      if (!putString(lines_[next_] + "\n")) {
        environment.setFailure("cannot put line " + std::to_string(next_));
        return false;
      }
      ++next_;
    }
    // An empty restart string tells the pipe that everything is produced.
    updateRestart(next_ < lines_.size() ? std::to_string(next_) : "");
    return true;
  }

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

// Restore: collects every complete line handed back.
class LinesInput : public OrbBufferedInput {
 public:
  explicit LinesInput(OrbEnvironment& env) : OrbBufferedInput("lines", env) {}

  bool initializeRestore() override { return true; }

  bool startRestore(bool /*firstCall*/) override {
    std::string line;
    while (getLine(line)) lines.push_back(line);
    return true;
  }

  std::vector<std::string> lines;
};

// --- Host side ------------------------------------------------------------

// Reads cloud files until the agent's backup ends: one driver per file,
// ReadFile until a read of 0 bytes.
std::vector<std::string> backUp(CloudDBRemoteFileFactory& factory) {
  std::vector<std::string> cloudFiles;
  std::vector<char> buffer(4096);
  do {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "bucket", 0);
    if (!driver->OpenCloudFile("part" + std::to_string(cloudFiles.size()))) break;
    std::string file;
    long long bytesRead = 0;
    while (driver->ReadFile(buffer.data(), buffer.size(), bytesRead) && bytesRead > 0) {
      file.append(buffer.data(), bytesRead);
    }
    driver->CloseFile();
    cloudFiles.push_back(file);
  } while (!factory.getLastRemoteFile()->isEndOfBackup());
  return cloudFiles;
}

// Writes each cloud file back through a new driver.
bool restore(CloudDBRemoteFileFactory& factory, const std::vector<std::string>& cloudFiles) {
  for (std::string file : cloudFiles) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "bucket", 0);
    if (!driver->CreateCloudFile("part", MXRFInfo()) ||
        !driver->WriteFile(file.data(), file.size()) || !driver->CloseFile()) {
      std::cerr << "restore failed: " << driver->GetLastErrorString() << "\n";
      return false;
    }
  }
  return true;
}

int main() {
  OrbPrototypeEnvironment env("");  // no directory: the pipe needs no files
  std::vector<std::string> lines;
  for (int i = 0; i < 10000; ++i) lines.push_back("{\"item\":" + std::to_string(i) + "}");

  CloudDBRemoteFileFactory backupFactory(std::make_shared<LinesOutput>(env, lines), 16 * 1024);
  const std::vector<std::string> cloudFiles = backUp(backupFactory);

  CloudDBRemoteFileFactory restoreFactory;
  auto input = std::make_shared<LinesInput>(env);
  restoreFactory.input = input;
  if (!restore(restoreFactory, cloudFiles) || input->lines != lines) {
    std::cout << "round trip FAILED\n";
    return 1;
  }
  std::cout << lines.size() << " lines in " << cloudFiles.size() << " cloud files: identical\n";
  return 0;
}
