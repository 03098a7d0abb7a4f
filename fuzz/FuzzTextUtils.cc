// parsePath, fromColonDelim/toColonDelim and compactJson against small
// reference models written from their definitions. The seed corpus holds
// the edge cases: short paths, separator runs, colons at either end.
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "util/CloudDBUtil.h"

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool referenceParsePath(const std::string& path, std::string& folder, std::string& name) {
  std::string work;
  for (size_t i = 0; i < path.size(); ++i) {
    if (i > 0 && isSeparator(path[i]) && isSeparator(path[i - 1])) continue;
    work += path[i];
  }
  if (work.size() < 3) return false;
  for (size_t i = work.size() - 2; i > 0; --i) {
    if (isSeparator(work[i])) {
      folder = work.substr(0, i);
      name = work.substr(i + 1);
      if (isSeparator(work.back())) name.pop_back();
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const std::string text = input.rest();

  std::string folder = "?";
  std::string name = "?";
  std::string expectedFolder = "?";
  std::string expectedName = "?";
  const bool parsed = parsePath(text, folder, name);
  if (parsed != referenceParsePath(text, expectedFolder, expectedName) ||
      folder != expectedFolder || name != expectedName) {
    std::abort();
  }

  std::string first;
  std::string second;
  fromColonDelim(text, first, second);
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos
          ? (first != text || second != text)
          : (first + ":" + second != text || second.find(':') != std::string::npos)) {
    std::abort();
  }
  std::string joined;
  toColonDelim(first, second, joined);
  if (colon != std::string::npos && joined != text) std::abort();
  std::string same = text;  // the parts may be the input itself
  fromColonDelim(same, same, same);
  if (same != second) std::abort();

  std::string compact = text;
  compactJson(compact);
  std::string expected;
  for (const char c : text) {
    if (c != '\t' && c != '\n' && c != '\r') expected += c;
  }
  if (compact != expected) std::abort();
  return 0;
}
