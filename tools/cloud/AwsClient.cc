#include "tools/cloud/AwsClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include <rapidjson/document.h>

#include "tools/cloud/Json.h"

namespace cloud {
namespace {

// The AWS SDKs' standard connect timeout.
constexpr long kConnectTimeoutMs = 3100;
// An object's deadline grows by a second for every so many bytes.
constexpr double kFloorBytesPerSecond = 1e6;
constexpr size_t kMaxMessageBytes = 300;
// A body is reserved at its announced length up to this size.
constexpr uint64_t kMaxReserve = uint64_t{1} << 30;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// This thread's handle; it keeps the thread's connections open between
// requests.
CURL* threadHandle() {
  static std::once_flag initialized;
  std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  thread_local std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  return handle.get();
}

size_t appendBody(char* data, size_t size, size_t count, void* response) {
  static_cast<Response*>(response)->body.append(data, size * count);
  return size * count;
}

bool headerIs(const std::string& line, const char* name, std::string& value) {
  const size_t length = std::strlen(name);
  if (line.size() <= length || line[length] != ':' ||
      !std::equal(name, name + length, line.begin(),
                  [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
    return false;
  }
  value = line.substr(length + 1);
  const size_t first = value.find_first_not_of(" \t");
  const size_t last = value.find_last_not_of(" \t\r\n");
  value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
  return true;
}

size_t readHeader(char* data, size_t size, size_t count, void* target) {
  auto* response = static_cast<Response*>(target);
  const std::string line(data, size * count);
  std::string value;
  if (headerIs(line, "etag", value)) response->etag = value;
  if (headerIs(line, "x-amz-server-side-encryption", value)) response->encryption = value;
  if (headerIs(line, "content-length", value)) {
    response->contentLength = std::strtoull(value.c_str(), nullptr, 10);
    // One allocation of the right size for the body that follows.
    if (response->contentLength < kMaxReserve) response->body.reserve(response->contentLength);
  }
  if (headerIs(line, "date", value)) response->date = curl_getdate(value.c_str(), nullptr);
  return size * count;
}

// One line, of bounded length.
std::string oneLine(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  if (text.size() > kMaxMessageBytes) text = text.substr(0, kMaxMessageBytes) + "...";
  return text;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
  const size_t start = text.find(open);
  if (start == std::string::npos) return "";
  const size_t end = text.find(close, start + open.size());
  if (end == std::string::npos) return "";
  return text.substr(start + open.size(), end - start - open.size());
}

}  // namespace

const char* statusMeaning(long status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized: check the credentials";
    case 403:
      return "Forbidden: access denied or a wrong signature (check the credentials, the region "
             "and the policies that grant access)";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed: is the endpoint the service's?";
    case 409:
      return "Conflict";
    case 412:
      return "Precondition Failed";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented: is the endpoint the service's?";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable: the service is busy or down";
    case 504:
      return "Gateway Timeout";
  }
  return status >= 500 ? "server error" : "client error";
}

void backOff(int attempt, RetryMode mode) {
  thread_local std::mt19937 random(std::random_device{}());
  std::uniform_real_distribution<double> jitter(0, 1);
  std::this_thread::sleep_for(backoffDelay(mode, attempt, jitter(random)));
}

bool isThrottling(long status, const std::string& code) {
  static const char* const kThrottling[] = {"ThrottlingException",
                                            "ProvisionedThroughputExceededException",
                                            "RequestLimitExceeded", "SlowDown", "Throttling"};
  for (const char* throttling : kThrottling) {
    if (code == throttling) return true;
  }
  return status == 429;
}

bool isRetryable(long status, const std::string& code) {
  return isThrottling(status, code) || status == 500 || status == 502 || status == 503 ||
         status == 504;
}

void parseError(long status, const std::string& body, std::string& code, std::string& message) {
  code.clear();
  message.clear();
  rapidjson::Document json;
  if (parseJson(body, json) && json.IsObject()) {
    for (const char* name : {"__type", "code", "Code"}) {
      if (json.HasMember(name) && json[name].IsString()) code = json[name].GetString();
    }
    // "com.amazonaws.dynamodb.v20120810#ResourceNotFoundException"
    code = code.substr(code.rfind('#') + 1);
    for (const char* name : {"message", "Message"}) {
      if (json.HasMember(name) && json[name].IsString()) message = json[name].GetString();
    }
  } else {
    code = between(body, "<Code>", "</Code>");
    message = between(body, "<Message>", "</Message>");
  }
  if (code.empty() && status == 404) code = "NotFound";
  if (code.empty() && message.empty()) message = oneLine(body);
  if (message.empty()) message = statusMeaning(status);
}

AwsClient::AwsClient(ServiceConfig config)
    : config_(std::move(config)),
      signature_("aws:amz:" + config_.region + ":" + signingName(config_.service)) {
  if (config_.retryMode != RetryMode::kLegacy) quota_ = std::make_shared<RetryQuota>();
  if (config_.retryMode == RetryMode::kAdaptive) limiter_ = std::make_shared<RateLimiter>();
}

namespace {

// An attempt's time: at most its deadline in all, which grows with the
// body (a floor of kFloorBytesPerSecond), told to libcurl's progress
// callback, which runs at least once a second.
struct Deadline {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double seconds = 0;
  bool expired = false;
};

int checkDeadline(void* data, curl_off_t downloadTotal, curl_off_t, curl_off_t uploadTotal,
                  curl_off_t) {
  auto* deadline = static_cast<Deadline*>(data);
  const double bytes = static_cast<double>(std::max(downloadTotal, uploadTotal));
  const double limit = deadline->seconds + bytes / kFloorBytesPerSecond;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - deadline->start).count();
  deadline->expired = elapsed > limit;
  return deadline->expired ? 1 : 0;
}

// One attempt's handle: the request, signed, with its bounds.
void setUp(CURL* curl, const ServiceConfig& config, const std::string& signature,
           const Request& request, Response& response, curl_slist* headers, char* curlError,
           Deadline& deadline) {
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, signature.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, config.accessKeyId.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, config.secretAccessKey.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  // A stall: less than a byte a second for stallSeconds.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(config.stallSeconds));
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkDeadline);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &deadline);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlError);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  const std::string method = request.method;
  if (method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method);
    if (method == "PUT" || method == "POST") {
      // A null pointer would ask curl for a read callback.
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.empty() ? "" : request.body.data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    }
  }
}

}  // namespace

bool isPermanentTransportError(int code) {
  switch (static_cast<CURLcode>(code)) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return true;
    default:
      return false;
  }
}

std::string AwsClient::refusal(const Request& request, const Response& response,
                               int attempt) const {
  std::string error = std::string(request.operation) + " failed: HTTP " +
                      std::to_string(response.status) + " " +
                      (response.errorCode.empty() ? "" : oneLine(response.errorCode) + ": ") +
                      oneLine(response.errorMessage);
  // Without a body only the status speaks.
  if (std::string(request.method) == "HEAD") {
    error += " (a HEAD request: its answer carries no error text)";
  }
  if (attempt > 1) error += " (after " + std::to_string(attempt) + " attempts)";
  return error;
}

bool AwsClient::send(const Request& request, Response& response, std::string& error) const {
  CURL* curl = threadHandle();
  if (curl == nullptr) {
    error = std::string(request.operation) + " failed: cannot start libcurl";
    return false;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  curl_slist* list = nullptr;
  for (const std::string& header : request.headers) list = curl_slist_append(list, header.c_str());
  if (!config_.sessionToken.empty()) {
    list = curl_slist_append(list, ("x-amz-security-token: " + config_.sessionToken).c_str());
  }
  headers.reset(list);
  char curlError[CURL_ERROR_SIZE];

  bool timedOut = false;  // the last retry was for no answer
  for (int attempt = 1;; ++attempt) {
    response = Response();
    curlError[0] = '\0';
    Deadline deadline;
    deadline.seconds = config_.requestSeconds;
    setUp(curl, config_, signature_, request, response, headers.get(), curlError, deadline);
    if (limiter_) limiter_->acquire();
    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
      curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
      const bool ok = response.status >= 200 && response.status < 300;
      if (!ok)
        parseError(response.status, response.body, response.errorCode, response.errorMessage);
      if (limiter_) limiter_->answered(!ok && isThrottling(response.status, response.errorCode));
      if (ok) {
        if (quota_) quota_->succeeded(attempt > 1, timedOut);
        return true;
      }
      if (!isRetryable(response.status, response.errorCode) || attempt >= config_.maxAttempts) {
        error = refusal(request, response, attempt);
        return false;
      }
      timedOut = false;
    } else if (attempt >= config_.maxAttempts || isPermanentTransportError(result)) {
      const std::string why =
          deadline.expired ? "no complete answer within the request's deadline of " +
                                 std::to_string(config_.requestSeconds) + " s"
                           : oneLine(curlError[0] != '\0' ? curlError : curl_easy_strerror(result));
      error =
          std::string(request.operation) + " failed: no answer from " + config_.endpoint + ": " +
          why +
          (isPermanentTransportError(result) ? " (not retried)"
                                             : " (after " + std::to_string(attempt) + " attempts)");
      return false;
    } else {
      timedOut = true;
    }
    if (quota_ && !quota_->take(timedOut)) {
      error = std::string(request.operation) +
              " failed: the retry quota of this client is spent "
              "(after " +
              std::to_string(attempt) + " attempts; the last: " +
              (timedOut ? "no answer" : "HTTP " + std::to_string(response.status)) + ")";
      return false;
    }
    backOff(attempt, config_.retryMode);
  }
}

}  // namespace cloud
