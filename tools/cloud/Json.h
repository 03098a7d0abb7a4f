// Reading JSON that comes from a service or from storage: untrusted text.
// It is parsed without recursion (RapidJSON's iterative parser), so no
// nesting can exhaust the stack, and nesting deeper than kMaxJsonDepth is
// refused before parsing: DynamoDB nests an item at most 32 levels deep,
// each level two levels of JSON ({"M":{...}}), inside a few levels of an
// answer or a stream record; 128 leaves a margin of about half.
//
// Free functions; any thread.
#ifndef CLOUDDB_TOOLS_CLOUD_JSON_H_
#define CLOUDDB_TOOLS_CLOUD_JSON_H_

#include <string_view>

#include <rapidjson/document.h>

namespace cloud {

constexpr int kMaxJsonDepth = 128;

// The deepest nesting of objects and arrays in text (strings skipped),
// counted up to limit + 1.
int jsonDepth(std::string_view text, int limit = kMaxJsonDepth);

// False for text that is not JSON or nests deeper than kMaxJsonDepth.
template <typename Document>
bool parseJson(std::string_view text, Document& document) {
  if (jsonDepth(text) > kMaxJsonDepth) return false;
  document.template Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  return !document.HasParseError();
}

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_JSON_H_
