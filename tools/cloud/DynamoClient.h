// Calls the JSON APIs of DynamoDB and DynamoDB Streams: one POST per call,
// the operation named in X-Amz-Target, the request and the answer JSON.
//
// Thread-safe like AwsClient, whose retries it inherits. A failed call is
// false with one line; response still tells the HTTP status and the
// service's error code (ResourceNotFoundException, say), and for every
// call the service's clock.
#ifndef CLOUDDB_TOOLS_CLOUD_DYNAMOCLIENT_H_
#define CLOUDDB_TOOLS_CLOUD_DYNAMOCLIENT_H_

#include <cstdint>
#include <string>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "tools/cloud/AwsClient.h"
#include "tools/cloud/Json.h"

namespace cloud {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

class DynamoClient {
 public:
  // config's service is kDynamoDb or kDynamoDbStreams.
  explicit DynamoClient(ServiceConfig config);

  const ServiceConfig& config() const { return client_.config(); }

  // answer receives the parsed answer; an answer that is not a JSON object
  // (or nests deeper than kMaxJsonDepth) is a failure.
  bool call(const char* operation, const std::string& request, rapidjson::Document& answer,
            Response& response, std::string& error) const;
  bool call(const char* operation, const std::string& request, rapidjson::Document& answer,
            std::string& error) const;

 private:
  AwsClient client_;
  std::string targetPrefix_;
};

// A JSON writer's output straight into a std::string.
class JsonStringStream {
 public:
  using Ch = char;
  explicit JsonStringStream(std::string& text) : text_(text) {}
  void Put(char c) { text_.push_back(c); }
  void Flush() {}

 private:
  std::string& text_;
};

using JsonStringWriter = rapidjson::Writer<JsonStringStream>;

// The JSON text of value.
std::string toJson(const rapidjson::Value& value);
// Appends the JSON text of value to text.
void appendJson(const rapidjson::Value& value, std::string& text);

// Reading answers: a member of an object, or nullptr (also when value is not
// an object); a member's string, or empty; a member's unsigned number, or 0.
const rapidjson::Value* findMember(const rapidjson::Value& value, const char* name);
std::string stringMember(const rapidjson::Value& value, const char* name);
uint64_t numberMember(const rapidjson::Value& value, const char* name);

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_DYNAMOCLIENT_H_
