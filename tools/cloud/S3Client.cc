#include "tools/cloud/S3Client.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace cloud {
namespace {

const char kUnsignedPayload[] = "x-amz-content-sha256: UNSIGNED-PAYLOAD";
const char kEmptyPayload[] =
    "x-amz-content-sha256: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Every byte but the unreserved ones (and "/" when keepSlash) percent-encoded.
std::string percentEncode(const std::string& text, bool keepSlash) {
  std::string encoded;
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
        (keepSlash && c == '/')) {
      encoded += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  return encoded;
}

std::string encodeKey(const std::string& key) { return percentEncode(key, true); }

std::string encodeQueryValue(const std::string& value) { return percentEncode(value, false); }

// Said when a server's answers are not S3's.
std::string notS3(const ServiceConfig& config) {
  return "the server at " + config.endpoint +
         " does not answer as S3 does (check --endpoint-url and AWS_ENDPOINT_URL_S3)";
}

// The text of the first <tag>...</tag> at or after from; from moves past it.
std::string element(const std::string& xml, const std::string& tag, size_t& from) {
  const std::string open = "<" + tag + ">";
  const std::string close = "</" + tag + ">";
  const size_t start = xml.find(open, from);
  if (start == std::string::npos) return "";
  const size_t end = xml.find(close, start);
  if (end == std::string::npos) return "";
  from = end + close.size();
  return xml.substr(start + open.size(), end - start - open.size());
}

// XML's five entities and numeric references below 128.
std::string unescapeXml(const std::string& text) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string plain;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const auto& [entity, c] : kEntities) {
      const size_t length = std::strlen(entity);
      if (text.compare(i, length, entity) == 0) {
        plain += c;
        i += length;
        replaced = true;
        break;
      }
    }
    if (!replaced) plain += text[i++];
  }
  return plain;
}

std::string unquote(const std::string& etag) {
  return etag.size() >= 2 && etag.front() == '"' && etag.back() == '"'
             ? etag.substr(1, etag.size() - 2)
             : etag;
}

std::string base64(const unsigned char* data, size_t size) {
  std::string text(4 * ((size + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), data, static_cast<int>(size));
  text.resize(static_cast<size_t>(length));
  return text;
}

// A listing is a few pages for a backup; this many is a server gone wrong.
constexpr int kMaxListPages = 100000;

bool isMissing(const Response& response) {
  return response.status == 404 || response.errorCode == "NoSuchKey" ||
         response.errorCode == "NoSuchBucket";
}

}  // namespace

std::string md5Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

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

bool S3Client::put(Request& put, const std::string& bucket, const std::string& key,
                   std::string_view data, Response& response, std::string& error) const {
  const std::string md5 = md5Hex(data);
  unsigned char digest[16];
  for (size_t i = 0; i < sizeof digest; ++i) {
    digest[i] = static_cast<unsigned char>(std::stoi(md5.substr(2 * i, 2), nullptr, 16));
  }
  put.headers.push_back(kUnsignedPayload);
  put.headers.push_back("Content-Type: application/octet-stream");
  put.headers.push_back("Content-MD5: " + base64(digest, sizeof digest));
  put.body = data;
  if (!client_.send(put, response, error)) return false;
  // Under a KMS key the ETag is not the MD5 (S3 has checked Content-MD5).
  if (unquote(response.etag) == md5 || response.encryption.rfind("aws:kms", 0) == 0) return true;
  error = std::string(put.operation) + " of s3://" + bucket + "/" + key +
          (response.etag.empty() ? " failed: " + notS3(client_.config())
                                 : " failed: the stored object's ETag " + response.etag +
                                       " is not the MD5 of the bytes sent (" + md5 + ")");
  return false;
}

bool S3Client::putObject(const std::string& bucket, const std::string& key, std::string_view data,
                         std::string& etag, std::string& error) const {
  Request request;
  request.operation = "PutObject";
  request.method = "PUT";
  request.url = objectUrl(bucket, key);
  Response response;
  if (!put(request, bucket, key, data, response, error)) return false;
  etag = response.etag;
  return true;
}

bool S3Client::putNewObject(const std::string& bucket, const std::string& key,
                            std::string_view data, bool& exists, std::string& error) const {
  Request request;
  request.operation = "PutObject";
  request.method = "PUT";
  request.url = objectUrl(bucket, key);
  request.headers.push_back("If-None-Match: *");
  Response response;
  exists = false;
  if (put(request, bucket, key, data, response, error)) return true;
  // 412: the object exists; 409: another conditional write of it is under way.
  exists = response.status == 412 || response.status == 409;
  return false;
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

bool S3Client::listObjects(const std::string& bucket, const std::string& prefix,
                           std::vector<ListedObject>& objects, std::string& error) const {
  objects.clear();
  std::string token;
  for (int page = 0; page < kMaxListPages; ++page) {
    Request list = request("ListObjectsV2", "GET", bucket, "");
    list.url += "?list-type=2&prefix=" + encodeQueryValue(prefix);
    if (!token.empty()) list.url += "&continuation-token=" + encodeQueryValue(token);
    Response response;
    if (!client_.send(list, response, error)) return false;
    if (response.body.find("<ListBucketResult") == std::string::npos) {
      error = notS3(client_.config());
      return false;
    }
    size_t at = 0;
    for (std::string entry; !(entry = element(response.body, "Contents", at)).empty();) {
      size_t inner = 0;
      ListedObject object;
      object.key = unescapeXml(element(entry, "Key", inner));
      inner = 0;
      object.size = std::strtoull(element(entry, "Size", inner).c_str(), nullptr, 10);
      inner = 0;
      object.etag = unescapeXml(element(entry, "ETag", inner));
      objects.push_back(object);
    }
    at = 0;
    const std::string next = element(response.body, "NextContinuationToken", at);
    at = 0;
    if (element(response.body, "IsTruncated", at) != "true") return true;
    if (next.empty() || next == token) {
      error = "ListObjectsV2 of s3://" + bucket + "/" + prefix +
              " failed: a truncated listing without a new continuation token";
      return false;
    }
    token = next;
  }
  error = "ListObjectsV2 of s3://" + bucket + "/" + prefix + " failed: more than " +
          std::to_string(kMaxListPages) + " pages";
  return false;
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
