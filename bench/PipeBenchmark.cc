// Throughput of the backup and restore pipe and of keyString, each beside
// the limit or peer it is judged against, measured in the same run. After the
// benchmarks the binary prints a table of medians and their ratios.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include "agent/OrbEnvironment.h"
#include "remotefile/CloudDBRemoteFileFactory.h"
#include "util/CloudDBUtil.h"

namespace {

constexpr size_t kMiB = 1 << 20;

enum LineShape { k200Bytes = 0, kMixed100To400 = 1, k4KiB = 2 };

// A cycle of lines of the given shape; each ends with a line feed.
std::vector<std::string> makeLines(int shape) {
  std::mt19937 random(1);
  std::vector<std::string> lines;
  for (int i = 0; i < 256; ++i) {
    size_t size = 200;
    if (shape == kMixed100To400) size = 100 + random() % 301;
    if (shape == k4KiB) size = 4096;
    std::string line(size - 1, 'a' + i % 26);
    lines.push_back(line + "\n");
  }
  return lines;
}

// Whole lines filling at most one MiB.
std::string oneMiBOfLines(int shape) {
  std::string text;
  const std::vector<std::string> lines = makeLines(shape);
  for (size_t i = 0; text.size() + lines[i % lines.size()].size() <= kMiB; ++i) {
    text += lines[i % lines.size()];
  }
  return text;
}

// A producer that never runs dry: it cycles through its lines.
class CyclingProducer : public OrbBufferedOutput {
 public:
  CyclingProducer(OrbEnvironment& env, std::vector<std::string> lines)
      : OrbBufferedOutput("bench", env), lines_(std::move(lines)) {}
  bool initializeBackup() override { return true; }
  bool startBackup(bool) override {
    while (!stopNow()) {
      putString(lines_[next_]);
      if (++next_ == lines_.size()) next_ = 0;
    }
    updateRestart("resume");
    return true;
  }

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

// A consumer that takes every line into a string.
class CountingConsumer : public OrbBufferedInput {
 public:
  explicit CountingConsumer(OrbEnvironment& env) : OrbBufferedInput("bench", env) {}
  bool initializeRestore() override { return true; }
  bool startRestore(bool) override {
    while (getLine(line_)) ++lines;
    return true;
  }
  int64_t lines = 0;

 private:
  std::string line_;
};

void BM_Memcpy1MiB(benchmark::State& state) {
  std::vector<char> source(kMiB, 'x');
  std::vector<char> target(kMiB);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), kMiB);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kMiB);
}
BENCHMARK(BM_Memcpy1MiB)->Threads(1)->Threads(2)->UseRealTime();

void BM_BackupPipe(benchmark::State& state) {
  OrbPrototypeEnvironment env("");
  CloudDBRemoteFileFactory factory(
      std::make_shared<CyclingProducer>(env, makeLines(static_cast<int>(state.range(0)))),
      CloudDBRemoteFileFactory::kDefaultSizeLimit);
  std::vector<char> buffer(kMiB);
  std::shared_ptr<MXBaseRemoteFile> driver;
  int64_t bytes = 0;
  for (auto _ : state) {
    if (!driver) {
      driver = factory.createObject(CloudConnectionDetails(), "bench", 0);
      driver->OpenCloudFile("bench");
    }
    long long bytesRead = 0;
    driver->ReadFile(buffer.data(), kMiB, bytesRead);
    if (bytesRead == 0) {
      driver->CloseFile();
      driver.reset();
    }
    bytes += bytesRead;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BackupPipe)->Arg(k200Bytes)->Arg(kMixed100To400)->Arg(k4KiB);
BENCHMARK(BM_BackupPipe)->Arg(k200Bytes)->Threads(1)->Threads(2)->UseRealTime();

void BM_RestorePipe(benchmark::State& state) {
  OrbPrototypeEnvironment env("");
  std::string block = oneMiBOfLines(static_cast<int>(state.range(0)));
  auto consumer = std::make_shared<CountingConsumer>(env);
  CloudDBRemoteFileFactory factory;
  factory.input = consumer;
  for (auto _ : state) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "bench", 0);
    driver->CreateCloudFile("bench", MXRFInfo());
    driver->WriteFile(block.data(), static_cast<long long>(block.size()));
    driver->CloseFile();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(block.size()));
  state.SetItemsProcessed(consumer->lines);
}
BENCHMARK(BM_RestorePipe)->Arg(k200Bytes)->Arg(kMixed100To400)->Arg(k4KiB);

// The restore side's three passes as a bare loop with nothing around them:
// copy the buffer once into kept storage, search each line feed, copy each
// line once into a string. No driver, no virtual call, no per-file work:
// the ceiling for the restore pipe on this machine.
void BM_RestoreFloor(benchmark::State& state) {
  const std::string block = oneMiBOfLines(static_cast<int>(state.range(0)));
  std::vector<char> kept(block.size() + 1);
  std::string line;
  int64_t lines = 0;
  for (auto _ : state) {
    std::memcpy(kept.data(), block.data(), block.size());
    const char* position = kept.data();
    const char* const end = position + block.size();
    while (position < end) {
      const char* feed = static_cast<const char*>(std::memchr(position, '\n', end - position));
      line.clear();
      line.append(position, feed - position);
      position = feed + 1;
      ++lines;
    }
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(block.size()));
  state.SetItemsProcessed(lines);
}
BENCHMARK(BM_RestoreFloor)->Arg(k200Bytes);

void BM_IstringstreamGetline(benchmark::State& state) {
  const std::string block = oneMiBOfLines(static_cast<int>(state.range(0)));
  int64_t lines = 0;
  for (auto _ : state) {
    std::istringstream in(block);
    std::string line;
    while (std::getline(in, line)) ++lines;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(block.size()));
  state.SetItemsProcessed(lines);
}
BENCHMARK(BM_IstringstreamGetline)->Arg(k200Bytes);

// A DynamoDB item of about 330 bytes: string, number and binary attributes,
// a map and a list beside the two key attributes.
const std::string kAttributes =
    R"("name":{"S":"Ada Lovelace"},"age":{"N":"36"},)"
    R"("avatar":{"B":"iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg=="},)"
    R"("address":{"M":{"city":{"S":"London"},"zip":{"S":"W1A 1AA"}}},)"
    R"("tags":{"L":[{"S":"math"},{"S":"poetry"},{"N":"1815"}]})";
const std::string kKeys = R"("pk":{"S":"user#000123456"},"sk":{"N":"1700000000123"})";
const std::string kKeysFirst = "{" + kKeys + "," + kAttributes + "}";
const std::string kKeysLast = "{" + kAttributes + "," + kKeys + "}";

void BM_KeyString(benchmark::State& state) {
  const std::string& item = state.range(0) == 0 ? kKeysFirst : kKeysLast;
  std::vector<std::string> keys = {"sk", "pk"};
  for (auto _ : state) benchmark::DoNotOptimize(keyString(item, keys));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeyString)->Arg(0)->Arg(1);

void BM_RapidJsonDomParse(benchmark::State& state) {
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(kKeysFirst.c_str());
    benchmark::DoNotOptimize(document.IsObject());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RapidJsonDomParse);

// Keeps the console output and remembers the median rate of every benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      for (const char* counter : {"bytes_per_second", "items_per_second"}) {
        const auto found = run.counters.find(counter);
        if (found != run.counters.end()) {
          rates[run.run_name.str() + "|" + counter] = found->second.value;
        }
      }
    }
  }

  double rate(const std::string& name, const char* counter = "bytes_per_second") const {
    const auto found = rates.find(name + "|" + counter);
    return found == rates.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> rates;
};

void printRatios(const RatioReporter& r) {
  const double memcpyRate = r.rate("BM_Memcpy1MiB/real_time/threads:1");
  const double getlineRate = r.rate("BM_IstringstreamGetline/0");
  const double domRate = r.rate("BM_RapidJsonDomParse", "items_per_second");
  const double memcpyScaling = r.rate("BM_Memcpy1MiB/real_time/threads:2") / memcpyRate;
  const double pipeScaling =
      r.rate("BM_BackupPipe/0/real_time/threads:2") / r.rate("BM_BackupPipe/0/real_time/threads:1");
  struct Row {
    const char* figure;
    double value;
    const char* unit;
    double ratio;
    const char* against;
    double target;
  };
  const double gib = 1024.0 * 1024 * 1024;
  const std::vector<Row> rows = {
      {"memcpy 1 MiB", memcpyRate / gib, "GiB/s", 1, "memcpy", 0},
      {"backup pipe, 200-byte lines", r.rate("BM_BackupPipe/0") / gib, "GiB/s",
       r.rate("BM_BackupPipe/0") / memcpyRate, "memcpy", 0.5},
      {"backup pipe, 100-400 bytes", r.rate("BM_BackupPipe/1") / gib, "GiB/s",
       r.rate("BM_BackupPipe/1") / memcpyRate, "memcpy", 0},
      {"backup pipe, 4 KiB lines", r.rate("BM_BackupPipe/2") / gib, "GiB/s",
       r.rate("BM_BackupPipe/2") / memcpyRate, "memcpy", 0},
      {"istringstream + getline", getlineRate / gib, "GiB/s", getlineRate / memcpyRate, "memcpy",
       0},
      {"restore floor (bare 3-pass loop)", r.rate("BM_RestoreFloor/0") / gib, "GiB/s",
       r.rate("BM_RestoreFloor/0") / getlineRate, "getline", 0},
      {"restore pipe, 200-byte lines", r.rate("BM_RestorePipe/0") / gib, "GiB/s",
       r.rate("BM_RestorePipe/0") / getlineRate, "getline", 1.5},
      {"restore pipe, 200-byte lines", r.rate("BM_RestorePipe/0") / gib, "GiB/s",
       r.rate("BM_RestorePipe/0") / memcpyRate, "memcpy", 0.25},
      {"restore pipe, 100-400 bytes", r.rate("BM_RestorePipe/1") / gib, "GiB/s",
       r.rate("BM_RestorePipe/1") / getlineRate, "getline", 0},
      {"restore pipe, 4 KiB lines", r.rate("BM_RestorePipe/2") / gib, "GiB/s",
       r.rate("BM_RestorePipe/2") / getlineRate, "getline", 0},
      {"RapidJSON DOM parse", domRate / 1e6, "M items/s", 1, "DOM parse", 0},
      {"keyString, keys first", r.rate("BM_KeyString/0", "items_per_second") / 1e6, "M items/s",
       r.rate("BM_KeyString/0", "items_per_second") / domRate, "DOM parse", 0.9},
      {"keyString, keys last", r.rate("BM_KeyString/1", "items_per_second") / 1e6, "M items/s",
       r.rate("BM_KeyString/1", "items_per_second") / domRate, "DOM parse", 0.9},
      {"two memcpy threads: scaling", memcpyScaling, "x", 1, "itself", 0},
      {"two pipes on two threads: scaling", pipeScaling, "x", pipeScaling / memcpyScaling,
       "memcpy scaling", 0.9},
  };
  std::printf("\n%-36s %12s %-10s %8s  %-15s %7s  %s\n", "figure", "median", "unit", "ratio",
              "against", "target", "met");
  for (const Row& row : rows) {
    std::printf("%-36s %12.3f %-10s %8.3f  %-15s %7s  %s\n", row.figure, row.value, row.unit,
                row.ratio, row.against,
                row.target > 0 ? std::to_string(row.target).substr(0, 4).c_str() : "-",
                row.target == 0 ? "" : (row.ratio >= row.target ? "yes" : "NO"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The drivers' per-file log lines would only add noise.
  setenv("EVDEBUG_LEVEL", "0", 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
