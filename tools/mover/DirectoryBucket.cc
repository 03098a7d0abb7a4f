// A bucket in a local directory. A writer fills a temporary file of its own,
// "{name}.{pid}-{n}.tmp", and commit makes it durable (fsync), renames it
// into place and makes the rename durable (fsync of the directory), so a
// crash leaves at most a stray temporary file, never a half-written object,
// and two writers of one name never share a file. Directories and files are
// created owner-only (0700, 0600).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/mover/Bucket.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

namespace fs = std::filesystem;

std::string systemError() { return std::strerror(errno); }

bool syncDirectory(const std::string& directory, std::string& error) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 && fsync(fd) == 0 && close(fd) == 0) return true;
  error = "cannot make " + directory + " durable: " + systemError();
  if (fd >= 0) close(fd);
  return false;
}

// The directory, created owner-only with its missing parents; a new one is
// made durable in its parent.
bool makeDirectory(const std::string& directory, std::string& error) {
  struct stat status;
  if (::stat(directory.c_str(), &status) == 0) return true;
  int code = 0;
  // Another writer (a segment's thread, another process) may make it at the
  // same moment: then it is there all the same.
  if (!recursiveMkdir(directory, 0700, code) && !fs::is_directory(directory)) {
    error = "cannot create " + directory + ": " + std::strerror(code);
    return false;
  }
  const std::string parent = fs::path(directory).parent_path().string();
  return syncDirectory(parent.empty() ? "." : parent, error);
}

std::string temporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + "." + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

class FileWriter : public ObjectWriter {
 public:
  FileWriter(std::string directory, std::string path, std::string temporary, std::FILE* file)
      : directory_(std::move(directory)),
        path_(std::move(path)),
        temporary_(std::move(temporary)),
        file_(file) {}

  ~FileWriter() override {
    if (file_ == nullptr) return;
    std::fclose(file_);
    std::remove(temporary_.c_str());
  }

  bool append(const char* data, size_t size, std::string& error) override {
    if (std::fwrite(data, 1, size, file_) == size) return true;
    error = "cannot write " + temporary_ + ": " + systemError();
    return false;
  }

  bool commit(std::string& tag, std::string& error) override {
    tag.clear();
    const bool written = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
      error = "cannot write " + path_ + ": " + systemError();
      std::remove(temporary_.c_str());
      return false;
    }
    return syncDirectory(directory_, error);
  }

 private:
  std::string directory_;
  std::string path_;
  std::string temporary_;
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

// A new owner-only file for writing; EEXIST when exclusive and it exists.
std::FILE* createFile(const std::string& path, bool exclusive) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  const int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

class DirectoryBucket : public Bucket {
 public:
  explicit DirectoryBucket(std::string directory) : directory_(std::move(directory)) {}

  std::string describe(const std::string& name) const override {
    return (fs::path(directory_) / name).string();
  }

  std::unique_ptr<ObjectWriter> create(const std::string& name, std::string& error) override {
    if (!makeDirectory(directory_, error)) return nullptr;
    const std::string path = describe(name);
    const std::string temporary = temporaryName(path);
    std::FILE* file = createFile(temporary, false);
    if (file == nullptr) {
      error = "cannot create " + temporary + ": " + systemError();
      return nullptr;
    }
    return std::make_unique<FileWriter>(directory_, path, temporary, file);
  }

  std::unique_ptr<ObjectReader> open(const std::string& name, bool& missing,
                                     std::string& error) override {
    const std::string path = describe(name);
    std::error_code code;
    missing = !fs::is_regular_file(path, code);
    std::FILE* file = missing ? nullptr : std::fopen(path.c_str(), "rbe");
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

  bool list(std::vector<ListedEntry>& objects, std::string& error) override {
    objects.clear();
    std::error_code code;
    if (!fs::exists(directory_, code)) return true;
    for (fs::recursive_directory_iterator it(directory_, code), end; !code && it != end;
         it.increment(code)) {
      if (!it->is_regular_file(code)) continue;
      const std::string name = it->path().lexically_relative(directory_).string();
      objects.push_back({name, static_cast<uint64_t>(it->file_size(code)), ""});
    }
    if (code) {
      error = "cannot list " + directory_ + ": " + code.message();
      return false;
    }
    std::sort(objects.begin(), objects.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    return true;
  }

  bool remove(const std::string& name, std::string& error) override {
    const std::string path = describe(name);
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    error = "cannot remove " + path + ": " + systemError();
    return false;
  }

  bool putNew(const std::string& name, const std::string& data, bool& exists,
              std::string& error) override {
    exists = false;
    if (!makeDirectory(directory_, error)) return false;
    const std::string path = describe(name);
    std::FILE* file = createFile(path, true);
    if (file == nullptr) {
      exists = errno == EEXIST;
      error = exists ? path + " exists" : "cannot create " + path + ": " + systemError();
      return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size() &&
                         std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    if (std::fclose(file) != 0 || !written) {
      error = "cannot write " + path + ": " + systemError();
      std::remove(path.c_str());
      return false;
    }
    return syncDirectory(directory_, error);
  }

 private:
  std::string directory_;
};

}  // namespace

std::unique_ptr<Bucket> openDirectoryBucket(const std::string& directory) {
  return std::make_unique<DirectoryBucket>(directory);
}

}  // namespace mover
