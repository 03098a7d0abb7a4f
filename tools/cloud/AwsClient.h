// The request layer of the tools: sends one AWS API request over HTTP(S)
// with libcurl, signed by libcurl's own Signature Version 4, and retries
// what is worth retrying.
//
// Retried, with exponential backoff and full jitter, up to the configured
// number of attempts: throttling (ThrottlingException,
// ProvisionedThroughputExceededException, RequestLimitExceeded, SlowDown,
// HTTP 429 and 503), server errors (HTTP 500, 502, 504) and connection
// failures, stalls and timeouts. Anything else a service refuses is a
// client error and fails at once, as does a certificate that the client
// refuses.
//
// Every attempt is bounded: 3.1 s to connect (the SDKs' standard), a stall
// of stallSeconds without a byte (10 s by default), and a deadline of
// requestSeconds in all (60 s by default), a second longer for every MB of
// the body sent or announced.
//
// Each thread keeps one curl handle and with it its open connections, so
// consecutive requests from a thread reuse them. An AwsClient holds only its
// configuration: any number of threads may send through one client.
//
// A failed send returns false and one line naming the operation, the HTTP
// status, the service's error code and its message (or why no answer came).
// The response then still holds the status and the code, so callers can
// tell "no such object" from other failures.
#ifndef CLOUDDB_TOOLS_CLOUD_AWSCLIENT_H_
#define CLOUDDB_TOOLS_CLOUD_AWSCLIENT_H_

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cloud/AwsConfig.h"
#include "tools/cloud/Retry.h"

namespace cloud {

struct Request {
  const char* operation = "";  // the API's name for it, for messages
  const char* method = "GET";
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::string_view body;             // must outlive send
};

struct Response {
  long status = 0;  // 0 when no answer came
  std::string body;
  std::string etag;
  std::string encryption;      // x-amz-server-side-encryption: how S3 keeps the object
  uint64_t contentLength = 0;  // from the Content-Length header
  std::time_t date = 0;        // the service's clock (Date header), 0 without one
  std::string errorCode;
  std::string errorMessage;
};

// Whether a failed answer is worth another attempt.
bool isRetryable(long status, const std::string& errorCode);
// Whether a transfer that got no answer (libcurl's code) would fail the
// same way again: a certificate the client refuses, a URL it cannot use.
bool isPermanentTransportError(int curlCode);

// Sleeps before attempt + 1, as mode's backoff (see Retry.h).
void backOff(int attempt, RetryMode mode = RetryMode::kLegacy);
// Whether a failed answer asks the client to slow down.
bool isThrottling(long status, const std::string& errorCode);

// What an HTTP status means to a user, with what to check where that helps.
const char* statusMeaning(long status);

// The service's error code and message in an error body, JSON or XML; an
// answer without either gets the status's meaning as its message.
void parseError(long status, const std::string& body, std::string& code, std::string& message);

class AwsClient {
 public:
  explicit AwsClient(ServiceConfig config);

  const ServiceConfig& config() const { return config_; }

  // True for a 2xx answer.
  bool send(const Request& request, Response& response, std::string& error) const;

 private:
  std::string refusal(const Request& request, const Response& response, int attempt) const;

  ServiceConfig config_;
  std::string signature_;  // "aws:amz:{region}:{service}"
  // Standard and adaptive modes: shared by the client's copies and threads.
  std::shared_ptr<RetryQuota> quota_;
  std::shared_ptr<RateLimiter> limiter_;
};

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_AWSCLIENT_H_
