#include "tools/cloud/S3Client.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace cloud {
namespace {

const char kUnsignedPayload[] = "x-amz-content-sha256: UNSIGNED-PAYLOAD";
const char kEmptyPayload[] =
    "x-amz-content-sha256: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string encodeKey(const std::string& key) {
  std::string encoded;
  for (const unsigned char c : key) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      encoded += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  return encoded;
}

// Said when a server's answers are not S3's.
std::string notS3(const ServiceConfig& config) {
  return "the server at " + config.endpoint +
         " does not answer as S3 does (check --endpoint-url and AWS_ENDPOINT_URL_S3)";
}

bool isMissing(const Response& response) {
  return response.status == 404 || response.errorCode == "NoSuchKey" ||
         response.errorCode == "NoSuchBucket";
}

}  // namespace

S3Client::S3Client(ServiceConfig config) : client_(std::move(config)) {}

std::string S3Client::objectUrl(const std::string& bucket, const std::string& key) const {
  const ServiceConfig& config = client_.config();
  if (config.customEndpoint || bucket.find('.') != std::string::npos) {
    return config.endpoint + "/" + bucket + "/" + encodeKey(key);
  }
  // https://s3.{region}.amazonaws.com -> https://{bucket}.s3.{region}.amazonaws.com
  const size_t host = config.endpoint.find("://") + 3;
  return config.endpoint.substr(0, host) + bucket + "." + config.endpoint.substr(host) + "/" +
         encodeKey(key);
}

Request S3Client::request(const char* operation, const char* method, const std::string& bucket,
                          const std::string& key) const {
  Request request;
  request.operation = operation;
  request.method = method;
  request.url = objectUrl(bucket, key);
  request.headers.push_back(kEmptyPayload);
  return request;
}

bool S3Client::putObject(const std::string& bucket, const std::string& key, std::string_view data,
                         std::string& etag, std::string& error) const {
  Request put = request("PutObject", "PUT", bucket, key);
  put.headers = {kUnsignedPayload, "Content-Type: application/octet-stream"};
  put.body = data;
  Response response;
  if (!client_.send(put, response, error)) return false;
  etag = response.etag;
  return true;
}

bool S3Client::getObject(const std::string& bucket, const std::string& key, std::string& data,
                         bool& missing, std::string& error) const {
  Response response;
  missing = false;
  if (!client_.send(request("GetObject", "GET", bucket, key), response, error)) {
    missing = isMissing(response);
    return false;
  }
  // Every S3 object has an ETag; an answer without one is some other
  // server's (a DynamoDB endpoint answers any GET with 200).
  if (response.etag.empty()) {
    error = "GetObject of s3://" + bucket + "/" + key + " failed: " + notS3(client_.config());
    return false;
  }
  data.swap(response.body);
  return true;
}

bool S3Client::headObject(const std::string& bucket, const std::string& key, uint64_t& size,
                          std::string& etag, bool& missing, std::string& error) const {
  Response response;
  missing = false;
  if (!client_.send(request("HeadObject", "HEAD", bucket, key), response, error)) {
    missing = isMissing(response);
    return false;
  }
  size = response.contentLength;
  etag = response.etag;
  return true;
}

bool S3Client::deleteObject(const std::string& bucket, const std::string& key,
                            std::string& error) const {
  Response response;
  return client_.send(request("DeleteObject", "DELETE", bucket, key), response, error);
}

bool S3Client::checkBucket(const std::string& bucket, std::string& error) const {
  Request list = request("ListObjectsV2", "GET", bucket, "");
  list.url += "?list-type=2&max-keys=0";
  Response response;
  if (!client_.send(list, response, error)) {
    if (response.errorCode == "NoSuchBucket") {
      error = "no bucket " + bucket + " at " + client_.config().endpoint +
              " (create it first, or check its name and the region)";
    }
    return false;
  }
  if (response.body.find("<ListBucketResult") != std::string::npos) return true;
  error = notS3(client_.config());
  return false;
}

}  // namespace cloud
