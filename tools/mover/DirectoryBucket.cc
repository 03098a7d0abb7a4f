// A bucket in a local directory. A writer fills "{name}.tmp" and commit
// makes it durable (fsync) and renames it into place, so a crash leaves at
// most a stray temporary file, never a half-written object.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/mover/Bucket.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

std::string systemError() { return std::strerror(errno); }

void syncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

class FileWriter : public ObjectWriter {
 public:
  FileWriter(std::string directory, std::string path, std::FILE* file)
      : directory_(std::move(directory)), path_(std::move(path)), file_(file) {}

  ~FileWriter() override {
    if (file_ == nullptr) return;
    std::fclose(file_);
    std::remove((path_ + ".tmp").c_str());
  }

  bool append(const char* data, size_t size, std::string& error) override {
    if (std::fwrite(data, 1, size, file_) == size) return true;
    error = "cannot write " + path_ + ".tmp: " + systemError();
    return false;
  }

  bool commit(std::string& tag, std::string& error) override {
    tag.clear();
    const bool written = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed || std::rename((path_ + ".tmp").c_str(), path_.c_str()) != 0) {
      error = "cannot write " + path_ + ": " + systemError();
      return false;
    }
    syncDirectory(directory_);
    return true;
  }

 private:
  std::string directory_;
  std::string path_;
  std::FILE* file_;
};

class FileReader : public ObjectReader {
 public:
  FileReader(std::string path, std::FILE* file) : path_(std::move(path)), file_(file) {}
  ~FileReader() override { std::fclose(file_); }

  bool read(char* data, size_t size, size_t& got, std::string& error) override {
    got = std::fread(data, 1, size, file_);
    if (!std::ferror(file_)) return true;
    error = "cannot read " + path_ + ": " + systemError();
    return false;
  }

 private:
  std::string path_;
  std::FILE* file_;
};

class DirectoryBucket : public Bucket {
 public:
  explicit DirectoryBucket(std::string directory) : directory_(std::move(directory)) {}

  std::string describe(const std::string& name) const override {
    return (fs::path(directory_) / name).string();
  }

  std::unique_ptr<ObjectWriter> create(const std::string& name, std::string& error) override {
    std::error_code code;
    fs::create_directories(directory_, code);
    const std::string path = describe(name);
    std::FILE* file = std::fopen((path + ".tmp").c_str(), "wb");
    if (file == nullptr) {
      error = "cannot create " + path + ".tmp: " + systemError();
      return nullptr;
    }
    return std::make_unique<FileWriter>(directory_, path, file);
  }

  std::unique_ptr<ObjectReader> open(const std::string& name, bool& missing,
                                     std::string& error) override {
    const std::string path = describe(name);
    std::error_code code;
    missing = !fs::is_regular_file(path, code);
    std::FILE* file = missing ? nullptr : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      error = missing ? "no such file: " + path : "cannot read " + path + ": " + systemError();
      return nullptr;
    }
    return std::make_unique<FileReader>(path, file);
  }

  bool stat(const std::string& name, ObjectStat& object, bool& missing,
            std::string& error) override {
    const std::string path = describe(name);
    std::error_code code;
    missing = !fs::is_regular_file(path, code);
    object.size = missing ? 0 : fs::file_size(path, code);
    object.tag.clear();
    if (missing || code) {
      error = missing ? "no such file: " + path : "cannot read " + path + ": " + code.message();
      return false;
    }
    return true;
  }

  std::unique_ptr<Bucket> child(const std::string& name) const override {
    return std::make_unique<DirectoryBucket>(describe(name));
  }

 private:
  std::string directory_;
};

}  // namespace

std::unique_ptr<Bucket> openDirectoryBucket(const std::string& directory) {
  return std::make_unique<DirectoryBucket>(directory);
}

}  // namespace mover
