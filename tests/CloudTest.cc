// The request layer's own decisions: where requests go and as whom, which
// failures are retried, and what a service's error says; and the escaping
// of the lines the tools keep. The requests themselves are exercised
// against real servers by the bucket and table tests.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/agents/LineEscape.h"
#include "tools/cloud/AwsClient.h"
#include "tools/cloud/AwsConfig.h"
#include "tools/cloud/Json.h"
#include "tools/cloud/Retry.h"
#include "tools/cloud/S3Client.h"

namespace {

using cloud::Service;

// Sets the AWS variables of one case and clears the others, for its
// lifetime.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, std::string>& values) {
    for (const char* name : kNames) {
      if (const char* old = std::getenv(name)) saved_[name] = old;
      const auto value = values.find(name);
      if (value == values.end()) {
        unsetenv(name);
      } else {
        setenv(name, value->second.c_str(), 1);
      }
    }
  }
  ~ScopedEnvironment() {
    for (const char* name : kNames) unsetenv(name);
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::map<std::string, std::string> saved_;
  static constexpr const char* kNames[] = {"AWS_ACCESS_KEY_ID",
                                           "AWS_SECRET_ACCESS_KEY",
                                           "AWS_SESSION_TOKEN",
                                           "AWS_REGION",
                                           "AWS_DEFAULT_REGION",
                                           "AWS_ENDPOINT_URL",
                                           "AWS_ENDPOINT_URL_S3",
                                           "AWS_ENDPOINT_URL_DYNAMODB",
                                           "AWS_ENDPOINT_URL_DYNAMODB_STREAMS",
                                           "AWS_MAX_ATTEMPTS",
                                           "AWS_RETRY_MODE"};
};

TEST(ServiceConfigTest, ReadsTheEnvironmentLikeAwsTools) {
  const std::map<std::string, std::string> keys = {{"AWS_ACCESS_KEY_ID", "id"},
                                                   {"AWS_SECRET_ACCESS_KEY", "secret"}};
  auto with = [&keys](std::map<std::string, std::string> more) {
    more.insert(keys.begin(), keys.end());
    return more;
  };
  struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    Service service;
    cloud::ConfigOverrides overrides;
    std::string endpoint;  // empty: loading fails
    std::string region;
    int attempts;
  };
  const std::vector<Case> cases = {
      {"defaults", keys, Service::kS3, {}, "https://s3.us-east-1.amazonaws.com", "us-east-1", 8},
      {"region",
       with({{"AWS_REGION", "eu-west-1"}, {"AWS_DEFAULT_REGION", "x"}}),
       Service::kDynamoDb,
       {},
       "https://dynamodb.eu-west-1.amazonaws.com",
       "eu-west-1",
       8},
      {"default region",
       with({{"AWS_DEFAULT_REGION", "ap-south-1"}}),
       Service::kDynamoDbStreams,
       {},
       "https://streams.dynamodb.ap-south-1.amazonaws.com",
       "ap-south-1",
       8},
      {"service variable over the general one",
       with({{"AWS_ENDPOINT_URL", "http://general"}, {"AWS_ENDPOINT_URL_S3", "http://s3:1/"}}),
       Service::kS3,
       {},
       "http://s3:1",
       "us-east-1",
       8},
      {"general variable",
       with({{"AWS_ENDPOINT_URL", "http://general:9"}}),
       Service::kDynamoDbStreams,
       {},
       "http://general:9",
       "us-east-1",
       8},
      {"option over variables",
       with({{"AWS_ENDPOINT_URL_DYNAMODB", "http://variable"}}),
       Service::kDynamoDb,
       {"http://option", 3, "", 0, 0},
       "http://option",
       "us-east-1",
       3},
      {"attempts variable",
       with({{"AWS_MAX_ATTEMPTS", "2"}}),
       Service::kS3,
       {},
       "https://s3.us-east-1.amazonaws.com",
       "us-east-1",
       2},
      {"no credentials", {}, Service::kS3, {}, "", "", 0},
      {"standard mode's attempts",
       with({{"AWS_RETRY_MODE", "standard"}}),
       Service::kS3,
       {},
       "https://s3.us-east-1.amazonaws.com",
       "us-east-1",
       3},
      {"attempts over the mode's",
       with({{"AWS_RETRY_MODE", "standard"}, {"AWS_MAX_ATTEMPTS", "5"}}),
       Service::kS3,
       {"", 0, "adaptive", 0, 0},
       "https://s3.us-east-1.amazonaws.com",
       "us-east-1",
       5},
      {"not a URL", keys, Service::kS3, {"localhost:9000", 0, "", 0, 0}, "", "", 0},
      {"bad attempts", with({{"AWS_MAX_ATTEMPTS", "zero"}}), Service::kS3, {}, "", "", 0},
      {"attempts with a tail", with({{"AWS_MAX_ATTEMPTS", "8x"}}), Service::kS3, {}, "", "", 0},
      {"unknown retry mode", with({{"AWS_RETRY_MODE", "eager"}}), Service::kS3, {}, "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnvironment environment(c.environment);
    cloud::ServiceConfig config;
    std::string error;
    ASSERT_EQ(cloud::loadServiceConfig(c.service, c.overrides, config, error), !c.endpoint.empty())
        << error;
    if (c.endpoint.empty()) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(config.endpoint, c.endpoint);
    EXPECT_EQ(config.customEndpoint, c.endpoint.find("amazonaws.com") == std::string::npos);
    EXPECT_EQ(config.region, c.region);
    EXPECT_EQ(config.maxAttempts, c.attempts);
  }
}

TEST(S3ClientTest, AddressesObjectsPathStyleOnlyWithACustomEndpoint) {
  cloud::ServiceConfig config;
  config.endpoint = "https://s3.eu-west-1.amazonaws.com";
  EXPECT_EQ(cloud::S3Client(config).objectUrl("b", "p/part 1+x"),
            "https://b.s3.eu-west-1.amazonaws.com/p/part%201%2Bx");
  EXPECT_EQ(cloud::S3Client(config).objectUrl("with.dots", "k"),
            "https://s3.eu-west-1.amazonaws.com/with.dots/k");
  config.endpoint = "http://127.0.0.1:9000";
  config.customEndpoint = true;
  EXPECT_EQ(cloud::S3Client(config).objectUrl("b", "p/k"), "http://127.0.0.1:9000/b/p/k");
}

TEST(RequestErrorTest, ServiceErrorsAreParsedAndClassified) {
  struct Case {
    long status;
    std::string body;
    std::string code;
    std::string message;
    bool retryable;
  };
  const std::vector<Case> cases = {
      {400,
       R"({"__type":"com.amazonaws.dynamodb.v20120810#ProvisionedThroughputExceededException","message":"slow down"})",
       "ProvisionedThroughputExceededException", "slow down", true},
      {400, R"({"__type":"com.amazon.coral.validate#ValidationException","Message":"bad key"})",
       "ValidationException", "bad key", false},
      {400, R"({"__type":"ThrottlingException","message":"m"})", "ThrottlingException", "m", true},
      {400, R"({"__type":"RequestLimitExceeded","message":"m"})", "RequestLimitExceeded", "m",
       true},
      {503, "<Error><Code>SlowDown</Code><Message>Reduce your rate</Message></Error>", "SlowDown",
       "Reduce your rate", true},
      {404, "<Error><Code>NoSuchKey</Code><Message>gone</Message></Error>", "NoSuchKey", "gone",
       false},
      {404, "", "NotFound", "Not Found", false},
      {403, "<Error><Code>AccessDenied</Code><Message>no</Message></Error>", "AccessDenied", "no",
       false},
      {429, "", "", "Too Many Requests", true},
      {500, "oops\nwith a line feed", "", "oops with a line feed", true},
      {502, "", "", "Bad Gateway", true},
      {504, "", "", "Gateway Timeout", true},
      {501, "", "", "Not Implemented: is the endpoint the service's?", false},
      {403, "", "", cloud::statusMeaning(403), false},
      {418, "", "", "client error", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::string code;
    std::string message;
    cloud::parseError(c.status, c.body, code, message);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(cloud::isRetryable(c.status, code), c.retryable);
  }
}

TEST(RetryTest, BackoffGrowsToItsCapWithFullJitter) {
  struct Case {
    cloud::RetryMode mode;
    int attempt;
    double random;
    long long milliseconds;
  };
  const std::vector<Case> cases = {
      {cloud::RetryMode::kLegacy, 1, 0.999, 49},      {cloud::RetryMode::kLegacy, 3, 0.5, 100},
      {cloud::RetryMode::kLegacy, 30, 0.5, 2500},     {cloud::RetryMode::kStandard, 1, 0.5, 500},
      {cloud::RetryMode::kStandard, 5, 0.999, 15984}, {cloud::RetryMode::kAdaptive, 6, 0.5, 10000},
      {cloud::RetryMode::kStandard, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attempt);
    EXPECT_EQ(cloud::backoffDelay(c.mode, c.attempt, c.random).count(), c.milliseconds);
  }
}

TEST(RetryTest, TheQuotaRunsOutAndSuccessesRefillIt) {
  cloud::RetryQuota quota;
  int retries = 0;
  while (quota.take(false)) ++retries;
  EXPECT_EQ(retries, cloud::RetryQuota::kCapacity / cloud::RetryQuota::kRetryCost);
  quota.succeeded(true, true);
  EXPECT_EQ(quota.available(), cloud::RetryQuota::kTimeoutCost);
  EXPECT_FALSE(quota.take(true) && quota.take(true));
  quota.succeeded(false, false);
  EXPECT_EQ(quota.available(), 1);
}

TEST(RetryTest, ThrottlingLowersTheRateAndQuietRaisesIt) {
  using Clock = cloud::RateLimiter::Clock;
  cloud::RateLimiter limiter;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < 100; ++i) limiter.answered(false, start + std::chrono::milliseconds(10 * i));
  EXPECT_EQ(limiter.rate(), 0);  // no limit before throttling
  limiter.answered(true, start + std::chrono::seconds(1));
  const double lowered = limiter.rate();
  EXPECT_NEAR(lowered, 0.7 * 100, 1);
  limiter.answered(true, start + std::chrono::milliseconds(1100));
  EXPECT_LT(limiter.rate(), lowered);
  const double twice = limiter.rate();
  limiter.answered(false, start + std::chrono::milliseconds(11100));
  EXPECT_NEAR(limiter.rate(), twice + 10, 0.01);
}

TEST(JsonTest, NestingIsCountedOutsideStringsAndBounded) {
  struct Case {
    std::string text;
    int depth;
  };
  const std::vector<Case> cases = {
      {"1", 0},
      {"{}", 1},
      {"[[1],[2,[3]]]", 3},
      {R"({"a":{"b":[]}})", 3},
      {R"("[[[")", 0},
      {R"(["\"[[", 1])", 1},
      {std::string(5, '[') + std::string(5, ']'), 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(cloud::jsonDepth(c.text), c.depth);
  }
  const auto nested = [](int levels) {
    return std::string(levels, '[') + std::string(levels, ']');
  };
  rapidjson::Document document;
  EXPECT_TRUE(cloud::parseJson(nested(cloud::kMaxJsonDepth), document));
  EXPECT_FALSE(cloud::parseJson(nested(cloud::kMaxJsonDepth + 1), document));
  EXPECT_FALSE(cloud::parseJson(nested(1000000), document));
  EXPECT_FALSE(cloud::parseJson("{\"a\":", document));
}

// Restart strings and dump records are kept one per line, escaped.
TEST(LineEscapeTest, EveryByteComesBackAndBadEscapesAreRefused) {
  std::string every;
  for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
  const std::string escaped = mover::escapeLine(every);
  EXPECT_EQ(escaped.find_first_of("\r\n"), std::string::npos);
  std::string bytes;
  ASSERT_TRUE(mover::unescapeLine(escaped, bytes));
  EXPECT_EQ(bytes, every);
  for (const char* bad : {"a\\", "\\x", "\\\\\\"}) {
    EXPECT_FALSE(mover::unescapeLine(bad, bytes)) << bad;
  }
}

}  // namespace
