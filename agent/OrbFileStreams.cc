#include "agent/OrbFileStreams.h"

#include <cerrno>
#include <cstring>

namespace {

std::string joinPath(const std::string& directory, const std::string& fileName) {
  std::string path = directory;
  FXPath::Append(path, fileName, 0);
  return path;
}

}  // namespace

OrbOutputFile::OrbOutputFile(const std::string& directory, const std::string& fileName,
                             OrbEnvironment& environment)
    : OrbOutput(fileName, environment),
      path(joinPath(directory, fileName)),
      stream(path, std::ios::out | std::ios::trunc | std::ios::binary),
      openFailed(stream.fail()) {
  if (!openFailed) return;
  // Read before the log handle is made: the host may change errno.
  const int error = errno;
  EvDebug(nullptr).Error("OrbOutputFile", "Failed to open '%s' with error %s", path.c_str(),
                         std::strerror(error));
}

OrbOutputFile::~OrbOutputFile() = default;

bool OrbOutputFile::putString(const std::string& text) {
  if (openFailed) return false;
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (stream.rdstate() == std::ios::goodbit) return true;
  const int error = errno;
  EvDebug(nullptr).Error("putString", "Failed to write '%s' with error %s", path.c_str(),
                         std::strerror(error));
  return false;
}

void OrbOutputFile::updateRestart(const std::string&) {}

bool OrbOutputFile::flush() {
  stream.flush();
  return stream.rdstate() == std::ios::goodbit;
}

bool OrbOutputFile::close(const std::string&) {
  const bool flushed = flush();
  stream.close();
  return flushed;
}

OrbInputFile::OrbInputFile(const std::string& directory, const std::string& fileName,
                           OrbEnvironment& environment)
    : OrbInput(fileName, environment),
      path(joinPath(directory, fileName)),
      stream(path, std::ios::in | std::ios::binary) {
  failed = stream.fail();
}

OrbInputFile::~OrbInputFile() { OrbInputFile::close(); }

bool OrbInputFile::error() { return failed || stream.bad(); }

bool OrbInputFile::getLine(std::string& line) {
  if (error()) return false;
  std::getline(stream, line);
  return !stream.fail() && !stream.bad();
}

bool OrbInputFile::close() {
  const bool clean = stream.rdstate() == std::ios::goodbit;
  stream.close();
  return clean;
}

void OrbInputFile::fileToString(const std::string& path, std::string& text) {
  // Opened first: text may be path itself.
  std::ifstream in(path, std::ios::in | std::ios::binary);
  text.clear();
  // Guarded reads: a read error (a directory, say) ends the text instead of
  // throwing.
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
  }
}
