// Helpers shared by the unit tests: an environment that records what is
// logged, a capture of the host debug log, and a scripted backup producer.
#ifndef CLOUDDB_TESTS_TESTSUPPORT_H_
#define CLOUDDB_TESTS_TESTSUPPORT_H_

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "agent/OrbEnvironment.h"

namespace clouddb_test {

// While positive, counts down the allocations of this thread; the one that
// brings it to zero throws std::bad_alloc (see TestSupport.cc).
extern thread_local long allocationsUntilFailure;

// Runs operation on a fresh fixture with the k-th allocation failing, for
// k = 1, 2, ... until the operation completes without reaching its fault
// point; check then inspects the fixture after each failure. Returns the
// number of fault points injected.
template <typename Fixture, typename Operation, typename Check>
int failEachAllocation(Operation operation, Check check) {
  for (int k = 1;; ++k) {
    Fixture fixture;
    bool failed = false;
    allocationsUntilFailure = k;
    try {
      operation(fixture);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    allocationsUntilFailure = 0;
    if (!failed) return k - 1;
    check(fixture);
  }
}

struct LogEntry {
  std::string function;
  std::string message;
  bool operator==(const LogEntry& other) const {
    return function == other.function && message == other.message;
  }
};

// An environment without a directory that records every log call.
class RecordingEnvironment : public OrbPrototypeEnvironment {
 public:
  RecordingEnvironment() : OrbPrototypeEnvironment("") {}

  void log(const char* function, const std::string& message) override {
    entries.push_back({function, message});
  }

  bool logged(const std::string& function, const std::string& message) const {
    for (const LogEntry& entry : entries) {
      if (entry.function == function && entry.message == message) return true;
    }
    return false;
  }

  std::vector<LogEntry> entries;
};

// A fresh temporary directory per test, removed afterwards.
class TempDirTest : public testing::Test {
 public:
  TempDirTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "clouddb-test-XXXXXX").string();
    dir = mkdtemp(pattern.data());
  }
  ~TempDirTest() override { std::filesystem::remove_all(dir); }

  std::string path(const std::string& name) const { return dir + "/" + name; }

  std::string dir;
};

// Captures the host debug log for the lifetime of the object.
class DebugLogCapture {
 public:
  DebugLogCapture()
      : previous_(
            EvDebug::setSink([this](const EvDebugEntry& entry) { entries.push_back(entry); })) {}
  ~DebugLogCapture() { EvDebug::setSink(std::move(previous_)); }

  bool has(const std::string& function, const std::string& text) const {
    for (const EvDebugEntry& entry : entries) {
      if (entry.function == function && entry.text == text) return true;
    }
    return false;
  }

  std::vector<EvDebugEntry> entries;

 private:
  EvDebugSink previous_;
};

// A backup producer that puts a fixed list of strings, as many per
// startBackup as stopNow allows, and records the index of the next string as
// its restart string ("" once everything is put). Initialisation or
// production can be made to fail at a given call, and a test can replace the
// production with a body of its own.
class ScriptedProducer : public OrbBufferedOutput {
 public:
  ScriptedProducer(OrbEnvironment& environment, std::vector<std::string> strings)
      : OrbBufferedOutput("scripted", environment), strings(std::move(strings)) {}

  bool initializeBackup() override { return ++initializeCalls != failInitializeAt; }

  bool startBackup(bool firstCall) override {
    firstCalls.push_back(firstCall);
    safeAtStart.push_back(getSafeRestartString());
    if (++startCalls == failStartAt) return false;
    if (body) return body(*this);
    while (next < strings.size() && !stopNow()) {
      if (putString(strings[next])) accepted += strings[next];
      ++next;
    }
    updateRestart(next < strings.size() ? std::to_string(next) : std::string());
    return true;
  }

  // Test access to protected state.
  using OrbBufferedOutput::bufferSpanning;
  using OrbBufferedOutput::remainingDataOffset;
  using OrbBufferedOutput::restartIsSafe;

  std::vector<std::string> strings;
  size_t next = 0;
  std::string accepted;
  int initializeCalls = 0;
  int startCalls = 0;
  int failInitializeAt = 0;
  int failStartAt = 0;
  std::vector<bool> firstCalls;
  std::vector<std::string> safeAtStart;
  std::function<bool(ScriptedProducer&)> body;
};

// A restore consumer that reads every line of each buffer handed to it.
// Initialisation or consumption can be made to fail at a given call.
class LineCollector : public OrbBufferedInput {
 public:
  explicit LineCollector(OrbEnvironment& env) : OrbBufferedInput("collector", env) {}

  bool initializeRestore() override { return ++initializeCalls != failInitializeAt; }

  bool startRestore(bool firstCall) override {
    firstCalls.push_back(firstCall);
    if (++startCalls == failStartAt) return false;
    std::string line;
    while (getLine(line)) lines.push_back(line);
    return true;
  }

  using OrbBufferedInput::partialLine;
  using OrbBufferedInput::pendingCapacity;

  std::vector<std::string> lines;
  std::vector<bool> firstCalls;
  int initializeCalls = 0;
  int startCalls = 0;
  int failInitializeAt = 0;
  int failStartAt = 0;
};

}  // namespace clouddb_test

#endif  // CLOUDDB_TESTS_TESTSUPPORT_H_
