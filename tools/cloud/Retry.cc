#include "tools/cloud/Retry.h"

#include <algorithm>
#include <thread>

namespace cloud {
namespace {

constexpr double kDecrease = 0.7;
constexpr double kIncreasePerSecond = 1.0;
constexpr double kLowestRate = 0.5;

double seconds(RateLimiter::Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

bool parseRetryMode(const std::string& text, RetryMode& mode) {
  if (text == "legacy") {
    mode = RetryMode::kLegacy;
  } else if (text == "standard") {
    mode = RetryMode::kStandard;
  } else if (text == "adaptive") {
    mode = RetryMode::kAdaptive;
  } else {
    return false;
  }
  return true;
}

int defaultAttempts(RetryMode mode) { return mode == RetryMode::kLegacy ? 8 : 3; }

std::chrono::milliseconds backoffDelay(RetryMode mode, int attempt, double random) {
  const bool legacy = mode == RetryMode::kLegacy;
  const long long base = legacy ? 50 : 1000;
  const long long cap = legacy ? 5000 : 20000;
  const long long ceiling = std::min(cap, base << std::min(attempt - 1, 20));
  return std::chrono::milliseconds(static_cast<long long>(random * ceiling));
}

bool RetryQuota::take(bool timeout) {
  std::lock_guard<std::mutex> hold(mutex_);
  const int cost = timeout ? kTimeoutCost : kRetryCost;
  if (tokens_ < cost) return false;
  tokens_ -= cost;
  return true;
}

void RetryQuota::succeeded(bool afterRetry, bool timeout) {
  std::lock_guard<std::mutex> hold(mutex_);
  const int refund = !afterRetry ? 1 : timeout ? kTimeoutCost : kRetryCost;
  tokens_ = std::min(kCapacity, tokens_ + refund);
}

int RetryQuota::available() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return tokens_;
}

void RateLimiter::acquire() {
  for (;;) {
    std::chrono::duration<double> wait{0};
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (rate_ == 0) return;
      const Clock::time_point now = Clock::now();
      tokens_ = std::min(std::max(1.0, rate_), tokens_ + seconds(now - refilled_) * rate_);
      refilled_ = now;
      if (tokens_ >= 1) {
        tokens_ -= 1;
        return;
      }
      wait = std::chrono::duration<double>((1 - tokens_) / rate_);
    }
    std::this_thread::sleep_for(wait);
  }
}

void RateLimiter::count(Clock::time_point now) {
  if (now - window_ >= std::chrono::seconds(1)) {
    sentRate_ = inWindow_ / std::max(1.0, seconds(now - window_));
    inWindow_ = 0;
    window_ = now;
  }
  ++inWindow_;
}

void RateLimiter::answered(bool throttled, Clock::time_point now) {
  std::lock_guard<std::mutex> hold(mutex_);
  count(now);
  if (throttled) {
    const double sent = std::max(sentRate_, static_cast<double>(inWindow_));
    rate_ = std::max(kLowestRate, kDecrease * (rate_ == 0 ? sent : std::min(rate_, sent)));
    raised_ = now;
    return;
  }
  if (rate_ == 0) return;
  rate_ += kIncreasePerSecond * seconds(now - raised_);
  raised_ = now;
}

double RateLimiter::rate() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return rate_;
}

}  // namespace cloud
