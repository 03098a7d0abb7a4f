#include "host/MxLib.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <utility>

namespace {

std::string formatArgs(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

int verbosityFromEnvironment() {
  const char* level = std::getenv("EVDEBUG_LEVEL");
  return level != nullptr ? std::atoi(level) : 1;
}

// The process-wide log: the sink, or the default destination.
class DebugLog {
 public:
  static DebugLog& instance() {
    static DebugLog log;
    return log;
  }

  bool wants(bool error, int level) {
    std::lock_guard<std::mutex> guard(mutex_);
    return sink_ || error || level <= verbosity_;
  }

  void write(const EvDebugEntry& entry) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (sink_) {
      sink_(entry);
      return;
    }
    if (!entry.error && entry.level > verbosity_) return;
    writeDefault(entry);
  }

  EvDebugSink replaceSink(EvDebugSink sink) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::swap(sink, sink_);
    return sink;
  }

 private:
  DebugLog() : verbosity_(verbosityFromEnvironment()) {}

  void writeDefault(const EvDebugEntry& entry) {
    const char* path = std::getenv("EVDEBUG_FILE");
    FILE* out = path != nullptr ? std::fopen(path, "a") : nullptr;
    FILE* target = out != nullptr ? out : stderr;
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(target, "%s %s %s: %s\n", stamp,
                 entry.error ? "ERROR" : std::to_string(entry.level).c_str(),
                 entry.function.c_str(), entry.text.c_str());
    if (out != nullptr) std::fclose(out);
  }

  std::mutex mutex_;
  EvDebugSink sink_;
  const int verbosity_;
};

void emit(bool error, int level, const char* function, const char* format, va_list args) {
  DebugLog& log = DebugLog::instance();
  if (!log.wants(error, level)) return;
  log.write(
      EvDebugEntry{error, level, function != nullptr ? function : "", formatArgs(format, args)});
}

}  // namespace

EvDebug::EvDebug(EvDebugFileInstance*) {}

EvDebug::~EvDebug() = default;

void EvDebug::Debug(const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(false, 1, function, format, args);
  va_end(args);
}

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(false, level, function, format, args);
  va_end(args);
}

void EvDebug::Error(const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(true, 0, function, format, args);
  va_end(args);
}

EvDebugSink EvDebug::setSink(EvDebugSink sink) {
  return DebugLog::instance().replaceSink(std::move(sink));
}

MxCriticalSectionH::MxCriticalSectionH() = default;

MxCriticalSectionH::~MxCriticalSectionH() = default;

void MxCriticalSectionH::enter(bool /*wait*/) { mutex_.lock(); }

void MxCriticalSectionH::leave() { mutex_.unlock(); }

CZuError::CZuError(int32_t code, std::string message)
    : code_(code), message_(std::make_shared<const std::string>(std::move(message))) {}

CZuError::CZuError(const CZuError& other) = default;

CZuError& CZuError::operator=(const CZuError& other) = default;

CZuError::~CZuError() = default;

const std::string& CZuError::message() const {
  static const std::string kNone;
  return message_ ? *message_ : kNone;
}

CZuError FXPath::Append(std::string& path, const std::string& name, unsigned int /*flags*/) {
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path.append(name);
  return CZuError();
}

CZuError FXErrorUtil::ErrorMM(const FXCodeLocation& /*where*/, int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = formatArgs(format, args);
  va_end(args);
  return CZuError(code, std::move(message));
}

void ZUSLEEP_InTeRnAl(unsigned int milliseconds, const char* /*file*/, int /*line*/) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
