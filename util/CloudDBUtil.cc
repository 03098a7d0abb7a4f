#include "util/CloudDBUtil.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <rapidjson/document.h>

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// RapidJSON's base allocator on operator new: allocation failure becomes
// std::bad_alloc, so the parser never sees a null pointer. The pool asks its
// base only for whole chunks (Malloc and Free), never to reallocate.
class ThrowingAllocator {
 public:
  [[maybe_unused]] static const bool kNeedFree = true;

  void* Malloc(size_t size) { return size == 0 ? nullptr : ::operator new(size); }

  static void Free(void* memory) { ::operator delete(memory); }
};

using PoolAllocator = rapidjson::MemoryPoolAllocator<ThrowingAllocator>;
using Document = rapidjson::GenericDocument<rapidjson::UTF8<>, PoolAllocator, PoolAllocator>;
using Value = Document::ValueType;

// Item texts above this size are refused: the parser counts string lengths
// and fraction digits in 32 bits. A DynamoDB item is at most 400 KB.
constexpr size_t kMaxItemJsonBytes = size_t{1} << 27;

// The parser reads a negative exponent into an int: it accumulates digits
// (leading zeros add nothing) until the value reaches kExponentStop, skips
// the rest, and then adds the fraction's digit count, negated. That sum
// overflows when the two together pass 2^31.
constexpr int64_t kExponentStop = 214748364;
constexpr int64_t kExponentLimit = int64_t{1} << 31;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether the minus sign at text[minus] starts a negative exponent whose
// value, with the digits of its number's fraction, overflows the parser.
bool riskyExponentAt(const char* text, size_t length, size_t minus) {
  if (minus == 0 || (text[minus - 1] != 'e' && text[minus - 1] != 'E')) return false;
  int64_t exponent = 0;
  for (size_t i = minus + 1; i < length && isDigit(text[i]) && exponent < kExponentStop; ++i) {
    exponent = exponent * 10 + (text[i] - '0');
  }
  // The fraction digits stand between a '.' and the 'e'.
  size_t start = minus - 1;
  while (start > 0 && isDigit(text[start - 1])) --start;
  const int64_t fractionDigits =
      start > 0 && text[start - 1] == '.' ? static_cast<int64_t>(minus - 1 - start) : 0;
  return exponent + fractionDigits > kExponentLimit;
}

// Whether a risky exponent stands outside every JSON string, where the
// parser would read it as a number.
bool riskyExponentOutsideStrings(const char* text, size_t length) {
  bool inString = false;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '-' && riskyExponentAt(text, length, i)) {
      return true;
    }
  }
  return false;
}

// Whether the parser can be given text. The common case costs one memchr
// pass over the minus signs.
bool safeToParse(const char* text, size_t length) {
  if (length > kMaxItemJsonBytes) return false;
  for (const char* minus = text;
       (minus = static_cast<const char*>(std::memchr(minus, '-', length - (minus - text)))) !=
       nullptr;
       ++minus) {
    if (riskyExponentAt(text, length, minus - text)) {
      return !riskyExponentOutsideStrings(text, length);
    }
  }
  return true;
}

// With at most this many opening brackets the nesting is shallow enough for
// the recursive parser on any thread's stack.
constexpr size_t kRecursiveParseBrackets = 32;

// Both parsers accept the same texts and build the same document; the
// iterative one costs heap instead of stack for each level of nesting, the
// recursive one is faster.
void parse(Document& document, const char* text, size_t length) {
  // '{' and '[' differ only in bit 5; the loop is branch-free so that it
  // vectorizes.
  size_t brackets = 0;
  for (size_t i = 0; i < length; ++i) {
    brackets += (static_cast<unsigned char>(text[i]) | 0x20) == '{';
  }
  if (brackets <= kRecursiveParseBrackets) {
    document.Parse(text);
  } else {
    document.Parse<rapidjson::kParseIterativeFlag>(text);
  }
}

// Separators plus a typical value text, per key segment.
constexpr size_t kSegmentReserve = 48;

void appendValueText(const Document& document, const std::string& keyName, std::string& result) {
  if (!document.IsObject()) return;
  const auto attribute = document.FindMember(keyName.c_str());
  if (attribute == document.MemberEnd() || !attribute->value.IsObject()) return;
  const Value& value = attribute->value;
  for (const char* type : {"N", "S", "B"}) {
    const auto member = value.FindMember(type);
    if (member != value.MemberEnd() && member->value.IsString()) {
      result.append(member->value.GetString());
      return;
    }
  }
}

}  // namespace

bool parsePath(const std::string& path, std::string& folder, std::string& fileName) {
  if (path.empty()) return false;
  std::string work;
  for (const char c : path) {
    if (isSeparator(c) && !work.empty() && isSeparator(work.back())) continue;
    work.push_back(c);
  }
  if (work.size() < 3) return false;
  const size_t separator = work.find_last_of("/\\", work.size() - 2);
  if (separator == std::string::npos || separator == 0) return false;
  folder.assign(work, 0, separator);
  fileName.assign(work, separator + 1, std::string::npos);
  if (isSeparator(work.back())) fileName.pop_back();
  return true;
}

bool recursiveMkdir(const std::string& path, int mode, int& errorCode) {
  if (mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) {
    errorCode = 0;
    return true;
  }
  errorCode = errno;
  if (errorCode != ENOENT) return errorCode == EEXIST;
  std::string parent;
  std::string name;
  if (!parsePath(path, parent, name)) return false;
  if (!recursiveMkdir(parent, mode, errorCode)) return false;
  if (mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) {
    errorCode = errno;
    return false;
  }
  return true;
}

void toColonDelim(const std::string& first, const std::string& second, std::string& joined) {
  std::string result = first;
  result.append(1, ':').append(second);
  joined = std::move(result);
}

void fromColonDelim(const std::string& joined, std::string& first, std::string& second) {
  const size_t colon = joined.rfind(':');
  if (colon == std::string::npos) {
    second = joined;
    first = second;
    return;
  }
  std::string before = joined.substr(0, colon);
  std::string after = joined.substr(colon + 1);
  first = std::move(before);
  second = std::move(after);
}

void compactJson(std::string& json) {
  json.erase(std::remove_if(json.begin(), json.end(),
                            [](char c) { return c == '\t' || c == '\n' || c == '\r'; }),
             json.end());
}

std::string keyString(const std::string& itemJson, std::vector<std::string>& keyNames) {
  std::sort(keyNames.begin(), keyNames.end());
  // Typical items fit in these buffers, so most calls allocate nothing for
  // the parse; larger ones continue on the heap.
  char valueBuffer[4096];
  char stackBuffer[1024];
  PoolAllocator valueAllocator(valueBuffer, sizeof valueBuffer);
  PoolAllocator stackAllocator(stackBuffer, sizeof stackBuffer);
  Document document(&valueAllocator, sizeof stackBuffer / 2, &stackAllocator);
  const char* text = itemJson.c_str();
  const size_t length = std::strlen(text);
  if (safeToParse(text, length)) parse(document, text, length);
  std::string result;
  size_t namesSize = 0;
  for (const std::string& name : keyNames) namesSize += name.size();
  result.reserve(namesSize + keyNames.size() * kSegmentReserve);
  for (const std::string& name : keyNames) {
    result.append(name).append("::*::");
    appendValueText(document, name, result);
    result.append("*/*/");
  }
  return result;
}
