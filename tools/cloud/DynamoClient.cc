#include "tools/cloud/DynamoClient.h"

namespace cloud {

DynamoClient::DynamoClient(ServiceConfig config)
    : client_(std::move(config)),
      targetPrefix_(client_.config().service == Service::kDynamoDbStreams
                        ? "X-Amz-Target: DynamoDBStreams_20120810."
                        : "X-Amz-Target: DynamoDB_20120810.") {}

bool DynamoClient::call(const char* operation, const std::string& request,
                        rapidjson::Document& answer, Response& response, std::string& error) const {
  Request post;
  post.operation = operation;
  post.method = "POST";
  post.url = client_.config().endpoint + "/";
  post.headers = {targetPrefix_ + operation, "Content-Type: application/x-amz-json-1.0"};
  post.body = request;
  if (!client_.send(post, response, error)) return false;
  if (parseJson(response.body, answer) && answer.IsObject()) return true;
  error = std::string(operation) + " failed: the answer is not a JSON object";
  return false;
}

bool DynamoClient::call(const char* operation, const std::string& request,
                        rapidjson::Document& answer, std::string& error) const {
  Response response;
  return call(operation, request, answer, response, error);
}

void appendJson(const rapidjson::Value& value, std::string& text) {
  JsonStringStream stream(text);
  JsonStringWriter writer(stream);
  value.Accept(writer);
}

std::string toJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

const rapidjson::Value* findMember(const rapidjson::Value& value, const char* name) {
  if (!value.IsObject()) return nullptr;
  const auto found = value.FindMember(name);
  return found == value.MemberEnd() ? nullptr : &found->value;
}

std::string stringMember(const rapidjson::Value& value, const char* name) {
  const rapidjson::Value* found = findMember(value, name);
  return found != nullptr && found->IsString()
             ? std::string(found->GetString(), found->GetStringLength())
             : "";
}

uint64_t numberMember(const rapidjson::Value& value, const char* name) {
  const rapidjson::Value* found = findMember(value, name);
  return found != nullptr && found->IsUint64() ? found->GetUint64() : 0;
}

}  // namespace cloud
