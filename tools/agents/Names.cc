#include "tools/agents/Names.h"

#include <xxhash.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace mover {
namespace {

bool ofNameCharacters(const std::string& name, size_t least, size_t most) {
  if (name.size() < least || name.size() > most) return false;
  for (const unsigned char c : name) {
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

bool isTableName(const std::string& name) { return ofNameCharacters(name, 3, 255); }

bool isNameWord(const std::string& name) { return ofNameCharacters(name, 1, 255); }

std::string fileStem(const std::string& name, size_t suffixBytes) {
  if (name.size() + suffixBytes <= kMaxFileNameBytes) return name;
  char hash[20];
  std::snprintf(hash, sizeof hash, "~%016" PRIx64,
                static_cast<uint64_t>(XXH3_64bits(name.data(), name.size())));
  const size_t keep = kMaxFileNameBytes - suffixBytes - 17;
  return name.substr(0, keep) + hash;
}

}  // namespace mover
