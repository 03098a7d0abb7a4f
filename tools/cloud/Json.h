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

#include <cstdint>
#include <string>
#include <string_view>

#include <rapidjson/document.h>
#include <rapidjson/writer.h>

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

// A request's JSON object, written member by member with a JSON writer:
// text is always escaped, and a JSON value is inserted only when whole
// (a parsed value, or text that parseJson accepted as an object).
class JsonObject {
 public:
  JsonObject();
  JsonObject& add(const char* name, std::string_view text);
  JsonObject& add(const char* name, int64_t number);
  JsonObject& add(const char* name, const rapidjson::Value& value);
  // json: an object's text that has been parsed and checked.
  JsonObject& addObject(const char* name, std::string_view json);
  // The finished object's text.
  std::string text();

 private:
  struct Stream {
    using Ch = char;
    std::string* text;
    void Put(char c) { text->push_back(c); }
    void Flush() {}
  };
  std::string text_;
  Stream stream_;
  rapidjson::Writer<Stream> writer_;
};

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_JSON_H_
