#include "tools/cloud/Json.h"

namespace cloud {

int jsonDepth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > deepest && (deepest = depth) > limit) return deepest;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

JsonObject::JsonObject() : stream_{&text_}, writer_(stream_) { writer_.StartObject(); }

JsonObject& JsonObject::add(const char* name, std::string_view text) {
  writer_.Key(name);
  writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return *this;
}

JsonObject& JsonObject::add(const char* name, int64_t number) {
  writer_.Key(name);
  writer_.Int64(number);
  return *this;
}

JsonObject& JsonObject::add(const char* name, const rapidjson::Value& value) {
  writer_.Key(name);
  value.Accept(writer_);
  return *this;
}

JsonObject& JsonObject::addObject(const char* name, std::string_view json) {
  writer_.Key(name);
  writer_.RawValue(json.data(), json.size(), rapidjson::kObjectType);
  return *this;
}

std::string JsonObject::text() {
  writer_.EndObject();
  return std::move(text_);
}

}  // namespace cloud
