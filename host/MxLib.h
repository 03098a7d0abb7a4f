// Host support library: the debug log, a mutex, path joining, error values
// and a sleep, as the backup host provides them to its plug-ins.
//
// This is a small stand-in for the host's own libraries so that the plug-in
// builds, runs and is tested on a machine without the host. It declares the
// operations exactly as the plug-in calls them.
//
// EvDebug: every entry goes either to the process-wide sink set with
// EvDebug::setSink or, without one, to the default log: one line per entry
// (time, level, function, text) on standard error, or appended to the file
// named by EVDEBUG_FILE. The default log shows entries up to the verbosity
// in EVDEBUG_LEVEL (default 1); errors are always shown. Any thread may log
// at any time; entries are delivered one at a time, so a sink never runs
// concurrently with itself. A sink must not log.
//
// MxCriticalSectionH: a non-recursive mutex, created on the heap by its
// owner. enter() blocks until the calling thread holds it.
//
// CZuError: the host's error value. Code 0 with no message means no error.
#ifndef CLOUDDB_HOST_MXLIB_H_
#define CLOUDDB_HOST_MXLIB_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#define MX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

struct EvDebugFileInstance;

struct EvDebugEntry {
  bool error;
  int level;
  std::string function;
  std::string text;
};

using EvDebugSink = std::function<void(const EvDebugEntry&)>;

class EvDebug {
 public:
  // Every log object writes to the process's default log; the plug-in always
  // passes a null file instance.
  explicit EvDebug(EvDebugFileInstance* instance = nullptr);
  ~EvDebug();

  EvDebug(const EvDebug&) = delete;
  EvDebug& operator=(const EvDebug&) = delete;

  // One entry at level 1.
  void Debug(const char* function, const char* format, ...) MX_PRINTF_FORMAT(3, 4);
  // One entry at the given level.
  void DebugLvl(const char* function, int level, const char* format, ...) MX_PRINTF_FORMAT(4, 5);
  // One error entry, shown at every verbosity.
  void Error(const char* function, const char* format, ...) MX_PRINTF_FORMAT(3, 4);

  // Replaces the destination of every entry, process-wide, and returns the
  // previous sink. An empty sink restores the default log.
  static EvDebugSink setSink(EvDebugSink sink);
};

class MxCriticalSectionH {
 public:
  MxCriticalSectionH();
  ~MxCriticalSectionH();

  MxCriticalSectionH(const MxCriticalSectionH&) = delete;
  MxCriticalSectionH& operator=(const MxCriticalSectionH&) = delete;

  // Blocks until the mutex is held. The flag asks for a blocking enter; the
  // plug-in always passes true.
  void enter(bool wait);
  void leave();

 private:
  std::mutex mutex_;
};

struct FXCodeLocation {
  const char* file;
  const char* function;
  int32_t line;
};

#define FX_CODE_LOCATION() \
  FXCodeLocation { __FILE__, __PRETTY_FUNCTION__, __LINE__ }

class CZuError {
 public:
  // The no-error value; callers build it themselves.
  CZuError() = default;
  CZuError(int32_t code, std::string message);
  CZuError(const CZuError& other);
  CZuError& operator=(const CZuError& other);
  ~CZuError();

  int32_t code() const { return code_; }
  // The message, empty for the no-error value.
  const std::string& message() const;

 private:
  int32_t code_ = 0;
  // Two 64-bit words: the message is shared between copies of one value.
  std::shared_ptr<const std::string> message_;
};

class FXPath {
 public:
  // Appends name to path with "/" between them, unless path is empty or
  // already ends with a separator.
  static CZuError Append(std::string& path, const std::string& name, unsigned int flags);
};

class FXErrorUtil {
 public:
  // Builds an error value carrying code and the formatted message.
  static CZuError ErrorMM(const FXCodeLocation& where, int code, const char* format, ...)
      MX_PRINTF_FORMAT(3, 4);
};

// Pauses the calling thread; file and line name the caller.
void ZUSLEEP_InTeRnAl(unsigned int milliseconds, const char* file, int line);

#endif  // CLOUDDB_HOST_MXLIB_H_
