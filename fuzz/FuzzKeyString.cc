// keyString on untrusted input, on a worker thread with a 128 KiB stack so
// that deep nesting would overflow if the parse recursed. Where a plain
// recursive DOM parse is safe (shallow nesting, no negative exponent of ten
// or more significant digits), the result must equal the straightforward lookup over it.
#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "FuzzInput.h"
#include "util/CloudDBUtil.h"

namespace {

constexpr size_t kWorkerStack = 128 * 1024;

// Runs one job at a time on a thread with a small stack.
class SmallStackWorker {
 public:
  SmallStackWorker() {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStack);
    pthread_create(&thread_, &attributes, &SmallStackWorker::loop, this);
    pthread_attr_destroy(&attributes);
  }

  ~SmallStackWorker() {
    run(nullptr);  // an empty job ends the loop
    pthread_join(thread_, nullptr);
  }

  void run(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = job;
    done_ = false;
    wake_.notify_one();
    finished_.wait(lock, [this] { return done_; });
  }

 private:
  static void* loop(void* self) {
    auto* worker = static_cast<SmallStackWorker*>(self);
    std::unique_lock<std::mutex> lock(worker->mutex_);
    while (true) {
      worker->wake_.wait(lock, [worker] { return !worker->done_; });
      const bool stop = !worker->job_;
      if (!stop) worker->job_();
      worker->done_ = true;
      worker->finished_.notify_one();
      if (stop) return nullptr;
    }
  }

  pthread_t thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::function<void()> job_;
  bool done_ = true;
};

bool safeForReference(const std::string& json) {
  if (std::count(json.begin(), json.end(), '[') + std::count(json.begin(), json.end(), '{') > 500) {
    return false;
  }
  // A negative exponent with ten or more significant digits may overflow a
  // plain parse; leading zeros are harmless.
  for (size_t i = 0; (i = json.find('-', i)) != std::string::npos; ++i) {
    if (i == 0 || (json[i - 1] != 'e' && json[i - 1] != 'E')) continue;
    const size_t first = json.find_first_not_of('0', i + 1);
    if (first == std::string::npos) continue;
    const size_t end = json.find_first_not_of("0123456789", first);
    if ((end == std::string::npos ? json.size() : end) - first >= 10) return false;
  }
  return true;
}

std::string reference(const std::string& json, std::vector<std::string> keys) {
  std::sort(keys.begin(), keys.end());
  rapidjson::Document document;
  document.Parse(json.c_str());
  std::string result;
  for (const std::string& key : keys) {
    result += key + "::*::";
    if (document.IsObject() && document.HasMember(key.c_str()) &&
        document[key.c_str()].IsObject()) {
      const rapidjson::Value& value = document[key.c_str()];
      for (const char* type : {"N", "S", "B"}) {
        if (value.HasMember(type) && value[type].IsString()) {
          result += value[type].GetString();
          break;
        }
      }
    }
    result += "*/*/";
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SmallStackWorker worker;
  FuzzInput input(data, size);
  std::vector<std::string> keys(input.upTo(3));
  for (std::string& key : keys) key = input.bytes(input.upTo(4));
  const std::string json = input.rest();
  std::string result;
  std::vector<std::string> sorted = keys;
  worker.run([&] { result = keyString(json, sorted); });
  if (!std::is_sorted(sorted.begin(), sorted.end())) std::abort();
  if (safeForReference(json) && result != reference(json, keys)) std::abort();
  return 0;
}
