#include "tools/mover/RestoreState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "agent/OrbEnvironment.h"
#include "tools/agents/LineEscape.h"
#include "util/CloudDBUtil.h"

namespace mover {
namespace {

const char kHeader[] = "clouddb-mover restore state 1";

std::string stateDirectory() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/clouddb-mover";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/state/clouddb-mover";
}

bool writeWhole(const std::string& path, const std::string& text, std::string& error) {
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    ok = wrote > 0;
    done += ok ? static_cast<size_t>(wrote) : 0;
  }
  ok = ok && ::fsync(fd) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  error = "cannot keep the restore's progress in " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

RestoreState::RestoreState(const std::string& location, const std::string& table)
    : location_(location), table_(table) {
  const std::string identity = location + "\n" + table;
  char name[40];
  std::snprintf(name, sizeof name, "/restore-%016" PRIx64,
                static_cast<uint64_t>(XXH3_64bits(identity.data(), identity.size())));
  path_ = stateDirectory() + name;
}

bool RestoreState::load(bool& missing, std::string& error) {
  std::string text;
  missing = false;
  if (::access(path_.c_str(), F_OK) != 0) {
    missing = true;
    error = "no interrupted restore of " + location_ + " into table " + table_ +
            " to resume (none is kept in " + stateDirectory() + ")";
    return false;
  }
  OrbInputFile::fileToString(path_, text);
  std::istringstream in(text);
  std::string line;
  std::string location;
  std::string table;
  const bool ok = std::getline(in, line) && line == kHeader && std::getline(in, line) &&
                  unescapeLine(line, location) && location == location_ && std::getline(in, line) &&
                  unescapeLine(line, table) && table == table_ && std::getline(in, line) &&
                  (line == "created" || line == "existing");
  if (!ok) {
    error = "not the state of a restore of " + location_ + " into " + table_ + ": " + path_;
    return false;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  created_ = line == "created";
  parts_.clear();
  std::string part;
  Progress progress;
  while (in >> part >> progress.files >> progress.touched) parts_[part] = progress;
  return true;
}

bool RestoreState::start(bool created, std::string& error) {
  const std::string directory = stateDirectory();
  int code = 0;
  // Another restore may make it at the same moment.
  if (!recursiveMkdir(directory, 0700, code) && ::access(directory.c_str(), F_OK) != 0) {
    error = "cannot create " + directory + " for the restore's progress: " + std::strerror(code);
    return false;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  created_ = created;
  parts_.clear();
  return save(error);
}

bool RestoreState::record(const std::string& part, Progress progress, std::string& error) {
  std::lock_guard<std::mutex> hold(mutex_);
  parts_[part] = progress;
  return save(error);
}

void RestoreState::finish() { std::remove(path_.c_str()); }

RestoreState::Progress RestoreState::progress(const std::string& part) const {
  std::lock_guard<std::mutex> hold(mutex_);
  const auto found = parts_.find(part);
  return found == parts_.end() ? Progress() : found->second;
}

bool RestoreState::save(std::string& error) const {
  std::string text = std::string(kHeader) + "\n" + escapeLine(location_) + "\n" +
                     escapeLine(table_) + "\n" + (created_ ? "created" : "existing") + "\n";
  for (const auto& [part, progress] : parts_) {
    text +=
        part + " " + std::to_string(progress.files) + " " + std::to_string(progress.touched) + "\n";
  }
  return writeWhole(path_, text, error);
}

}  // namespace mover
