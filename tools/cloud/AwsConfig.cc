#include "tools/cloud/AwsConfig.h"

#include <cstdlib>

namespace cloud {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

const char* endpointVariable(Service service) {
  switch (service) {
    case Service::kS3:
      return "AWS_ENDPOINT_URL_S3";
    case Service::kDynamoDb:
      return "AWS_ENDPOINT_URL_DYNAMODB";
    case Service::kDynamoDbStreams:
      return "AWS_ENDPOINT_URL_DYNAMODB_STREAMS";
  }
  return "";
}

std::string publicEndpoint(Service service, const std::string& region) {
  switch (service) {
    case Service::kS3:
      return "https://s3." + region + ".amazonaws.com";
    case Service::kDynamoDb:
      return "https://dynamodb." + region + ".amazonaws.com";
    case Service::kDynamoDbStreams:
      return "https://streams.dynamodb." + region + ".amazonaws.com";
  }
  return "";
}

bool isHttpUrl(const std::string& url) {
  for (const char* scheme : {"http://", "https://"}) {
    const std::string prefix(scheme);
    if (url.size() > prefix.size() && url.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

// text as a positive whole number, or 0.
int wholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stoi(text);
}

// First of the candidates that is set.
std::string firstSet(std::initializer_list<std::string> candidates) {
  for (const std::string& candidate : candidates) {
    if (!candidate.empty()) return candidate;
  }
  return "";
}

}  // namespace

const char* signingName(Service service) { return service == Service::kS3 ? "s3" : "dynamodb"; }

bool loadServiceConfig(Service service, const ConfigOverrides& overrides, ServiceConfig& config,
                       std::string& error) {
  config = ServiceConfig();
  config.service = service;
  config.region =
      firstSet({environment("AWS_REGION"), environment("AWS_DEFAULT_REGION"), "us-east-1"});
  config.accessKeyId = environment("AWS_ACCESS_KEY_ID");
  config.secretAccessKey = environment("AWS_SECRET_ACCESS_KEY");
  config.sessionToken = environment("AWS_SESSION_TOKEN");
  if (config.accessKeyId.empty() || config.secretAccessKey.empty()) {
    error = "no AWS credentials: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY";
    return false;
  }
  config.endpoint = firstSet({overrides.endpointUrl, environment(endpointVariable(service)),
                              environment("AWS_ENDPOINT_URL")});
  config.customEndpoint = !config.endpoint.empty();
  if (!config.customEndpoint) config.endpoint = publicEndpoint(service, config.region);
  while (config.endpoint.size() > 1 && config.endpoint.back() == '/') config.endpoint.pop_back();
  if (!isHttpUrl(config.endpoint)) {
    error = "endpoint is not an http or https URL: " + config.endpoint;
    return false;
  }
  const std::string mode = firstSet({overrides.retryMode, environment("AWS_RETRY_MODE")});
  if (!mode.empty() && !parseRetryMode(mode, config.retryMode)) {
    error = "the retry mode must be legacy, standard or adaptive, not " + mode;
    return false;
  }
  const std::string attempts = environment("AWS_MAX_ATTEMPTS");
  config.maxAttempts = overrides.maxAttempts > 0 ? overrides.maxAttempts
                       : !attempts.empty()       ? wholeNumber(attempts)
                                                 : defaultAttempts(config.retryMode);
  if (overrides.requestSeconds > 0) config.requestSeconds = overrides.requestSeconds;
  if (overrides.stallSeconds > 0) config.stallSeconds = overrides.stallSeconds;
  if (config.maxAttempts < 1) {
    error = "AWS_MAX_ATTEMPTS must be a positive number: " + attempts;
    return false;
  }
  return true;
}

}  // namespace cloud
