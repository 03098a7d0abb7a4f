// How a request is retried, in the retry modes that the AWS SDKs name
// (AWS_RETRY_MODE, retry_mode; --retry-mode on the command line):
//   legacy    this tool's own, the default: 8 attempts, a backoff of 50 ms
//             doubling up to 5 s, with full jitter
//   standard  the SDKs' standard mode: 3 attempts, a backoff of 1 s
//             doubling up to 20 s, with full jitter, and a retry quota per
//             client: 500 tokens, a retry takes 5 (10 after a timeout or a
//             connection failure), a success after a retry gives them back,
//             any other success one; without tokens nothing is retried
//   adaptive  standard, and a client-side rate limit: a throttling answer
//             lowers the rate of requests to 0.7 of what was sent in the
//             last second, each second without one raises it by one
//             request a second (the SDKs' adaptive mode follows a cubic
//             curve; this is its additive-increase, multiplicative-decrease
//             core)
// max_attempts (AWS_MAX_ATTEMPTS, --max-attempts) overrides a mode's
// attempts.
//
// backoffDelay is pure; RetryQuota and RateLimiter are shared by every
// thread of a client and guard themselves with their mutex_.
#ifndef CLOUDDB_TOOLS_CLOUD_RETRY_H_
#define CLOUDDB_TOOLS_CLOUD_RETRY_H_

#include <chrono>
#include <mutex>
#include <string>

namespace cloud {

enum class RetryMode { kLegacy, kStandard, kAdaptive };

// "legacy", "standard" or "adaptive"; false for anything else.
bool parseRetryMode(const std::string& text, RetryMode& mode);
// The mode's attempts when none are configured.
int defaultAttempts(RetryMode mode);

// The wait before attempt + 1, for random in [0, 1).
std::chrono::milliseconds backoffDelay(RetryMode mode, int attempt, double random);

class RetryQuota {
 public:
  static constexpr int kCapacity = 500;
  static constexpr int kRetryCost = 5;
  static constexpr int kTimeoutCost = 10;

  // Takes the tokens of one retry; false when too few are left.
  bool take(bool timeout);
  // A success: gives back what its retry took, or one token.
  void succeeded(bool afterRetry, bool timeout);
  int available() const;

 private:
  mutable std::mutex mutex_;
  int tokens_ = kCapacity;  // guarded by mutex_
};

class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  // Waits until a request may be sent.
  void acquire();
  // What an answer says: throttled or not, at now.
  void answered(bool throttled, Clock::time_point now = Clock::now());
  // Requests a second allowed; 0: no limit yet.
  double rate() const;

 private:
  void count(Clock::time_point now);  // with mutex_ held

  mutable std::mutex mutex_;
  double rate_ = 0;  // guarded by mutex_, as are the rest
  double tokens_ = 1;
  Clock::time_point refilled_ = Clock::now();
  Clock::time_point raised_ = Clock::now();
  Clock::time_point window_ = Clock::now();
  int inWindow_ = 0;
  double sentRate_ = 0;  // requests answered in the last whole second
};

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_RETRY_H_
