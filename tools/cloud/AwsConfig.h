// Where requests to an AWS service go and as whom, read the way AWS's own
// tools read it:
//   credentials  AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN
//   region       AWS_REGION, else AWS_DEFAULT_REGION, else us-east-1
//   endpoint     the --endpoint-url option, else the service's own variable
//                (AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL_DYNAMODB,
//                AWS_ENDPOINT_URL_DYNAMODB_STREAMS), else AWS_ENDPOINT_URL,
//                else the service's public endpoint in the region
//   retry mode   the --retry-mode option, else AWS_RETRY_MODE, else legacy
//                (see Retry.h)
//   attempts     the --max-attempts option, else AWS_MAX_ATTEMPTS, else the
//                retry mode's (8 legacy, 3 standard and adaptive)
//
// A ServiceConfig is a plain value; loading it reads the environment and
// nothing else, so any thread may do it. A missing key or an endpoint that
// is not an http(s) URL gives false with a one-line reason.
#ifndef CLOUDDB_TOOLS_CLOUD_AWSCONFIG_H_
#define CLOUDDB_TOOLS_CLOUD_AWSCONFIG_H_

#include <string>

#include "tools/cloud/Retry.h"

namespace cloud {

enum class Service { kS3, kDynamoDb, kDynamoDbStreams };

struct ServiceConfig {
  Service service = Service::kS3;
  // scheme://host[:port], without a trailing slash.
  std::string endpoint;
  // The endpoint was given rather than derived from the region (so S3 uses
  // path-style addressing).
  bool customEndpoint = false;
  std::string region;
  std::string accessKeyId;
  std::string secretAccessKey;
  std::string sessionToken;
  int maxAttempts = 8;
  RetryMode retryMode = RetryMode::kLegacy;
  int requestSeconds = 60;  // an attempt's deadline (more for large bodies)
  int stallSeconds = 10;    // the longest wait for a byte
};

// What the command line says; empty or 0 leaves the choice to the
// environment.
struct ConfigOverrides {
  std::string endpointUrl;
  int maxAttempts = 0;
  std::string retryMode;
  int requestSeconds = 0;
  int stallSeconds = 0;
};

bool loadServiceConfig(Service service, const ConfigOverrides& overrides, ServiceConfig& config,
                       std::string& error);

// The name requests to service are signed for.
const char* signingName(Service service);

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_AWSCONFIG_H_
