// Faults injected in loops: every allocation of each pipe operation failing
// in turn, and every agent call failing in turn. Nothing may crash or leak
// (the sanitizer build checks leaks), results must be those promised, and
// the objects must go on working.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "agent/OrbLoggingEnvironment.h"
#include "remotefile/CloudDBRemoteFileFactory.h"
#include "util/CloudDBUtil.h"

namespace clouddb_test {
namespace {

const std::vector<std::string> kLines = {"alpha\n", std::string(150, 'b') + "\n", "\n", "gamma\r\n",
                                         std::string(70, 'd') + "\n"};

std::string joined(const std::vector<std::string>& strings) {
  std::string all;
  for (const std::string& s : strings) all += s;
  return all;
}

// Reads cloud files until the backup ends; counts failed reads.
std::string readBackup(CloudDBRemoteFileFactory& factory, int& failedReads) {
  std::string stream;
  char buffer[64];
  do {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "", 0);
    for (long long n = -1; n != 0;) {
      if (!driver->ReadFile(buffer, sizeof buffer, n)) {
        EXPECT_EQ(driver->GetLastErrorCode(), 4);
        EXPECT_EQ(driver->GetLastErrorString(), "unable to fill the buffer");
        ++failedReads;
        n = -1;
        continue;
      }
      stream.append(buffer, static_cast<size_t>(n));
    }
  } while (!factory.getLastRemoteFile()->isEndOfBackup());
  return stream;
}

struct BackupFixture {
  RecordingEnvironment env;
  std::shared_ptr<ScriptedProducer> producer = std::make_shared<ScriptedProducer>(env, kLines);
  CloudDBRemoteFileFactory factory{producer, 100};
};

struct RestoreFixture {
  RecordingEnvironment env;
  std::shared_ptr<LineCollector> collector = std::make_shared<LineCollector>(env);
  CloudDBRemoteFileFactory factory;
  RestoreFixture() { factory.input = collector; }

  bool writeChunk(const std::string& text, size_t bufferSize) {
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "", 0);
    bool ok = driver->CreateCloudFile("c", MXRFInfo());
    for (size_t at = 0; at < text.size(); at += bufferSize) {
      std::string block = text.substr(at, bufferSize);
      ok = driver->WriteFile(block.data(), static_cast<long long>(block.size())) && ok;
    }
    return driver->CloseFile() && ok;
  }
};

TEST(FaultInjectionTest, EveryAllocationOfThePipeFailingInTurn) {
  int points = failEachAllocation<BackupFixture>(
      [](BackupFixture& f) {
        int failed = 0;
        EXPECT_EQ(readBackup(f.factory, failed), joined(kLines));
      },
      [](BackupFixture& f) {
        int failed = 0;
        readBackup(f.factory, failed);  // the pipe goes on to its end
      });
  points += failEachAllocation<RestoreFixture>(
      [](RestoreFixture& f) { EXPECT_TRUE(f.writeChunk(joined(kLines), 40)); },
      [](RestoreFixture& f) {
        f.collector->closeChunk();  // the host ends the interrupted chunk
        f.writeChunk("tail\n", 40);
        ASSERT_FALSE(f.collector->lines.empty());
        EXPECT_EQ(f.collector->lines.back(), "tail");
      });
  std::cout << points << " allocation fault points in the pipe survived\n";
  EXPECT_GT(points, 20);
}

struct UtilityFixture {
  OrbLoggingEnvironment env{""};
  std::string debugPath = "/tmp/clouddb-fault-" + std::to_string(getpid());
  ~UtilityFixture() { unlink(debugPath.c_str()); }
};

TEST(FaultInjectionTest, EveryAllocationOfTheUtilitiesFailingInTurn) {
  const std::string item = R"({"pk":{"S":"user1"},"sk":{"N":"42"},"m":{"M":{"a":{"L":[]}}}})";
  const int points = failEachAllocation<UtilityFixture>(
      [&item](UtilityFixture& f) {
        std::vector<std::string> keys = {"sk", "pk"};
        EXPECT_EQ(keyString(item, keys), "pk::*::user1*/*/sk::*::42*/*/");
        f.env.setFailure("first");
        f.env.setFailure(std::string(100, 'x'));
        f.env.putMetadataString("{\"m\":1}\n");
        std::string text;
        f.env.createMetadataInput()->getContents(text);
        ScriptedProducer producer(f.env, {});
        producer.setDebugOutputFile(f.debugPath);
        EXPECT_TRUE(producer.putString(text));
      },
      [](UtilityFixture& f) {
        // The failure record is never left half-appended.
        const std::string failure = f.env.getFailure();
        EXPECT_TRUE(failure.empty() || failure == "first" ||
                    failure == "first; " + std::string(100, 'x'));
      });
  std::cout << points << " allocation fault points in the utilities survived\n";
  EXPECT_GT(points, 10);
}

TEST(FaultInjectionTest, EveryAgentCallFailingInTurn) {
  BackupFixture unfailing;
  int none = 0;
  readBackup(unfailing.factory, none);
  const int calls = unfailing.producer->startCalls;
  for (int k = 1; k <= calls; ++k) {
    for (const bool initialize : {true, false}) {
      BackupFixture f;
      (initialize ? f.producer->failInitializeAt : f.producer->failStartAt) = k;
      int failedReads = 0;
      // The agent fails before putting anything, so nothing is lost.
      EXPECT_EQ(readBackup(f.factory, failedReads), joined(kLines)) << k;
      EXPECT_EQ(failedReads, initialize && k > 1 ? 0 : 1) << k;  // initialised once only
    }
  }
  for (int k = 1; k <= 6; ++k) {
    RestoreFixture f;
    f.collector->failStartAt = k;
    EXPECT_FALSE(f.writeChunk(joined(kLines), 40));
    EXPECT_TRUE(f.env.logged("deferredProcessBuffer", "restore has failed"));
    EXPECT_TRUE(f.writeChunk("tail\n", 40));  // the next chunk goes through
    EXPECT_EQ(f.collector->lines.back(), "tail");
  }
  std::cout << 2 * calls + 6 << " agent-call fault points survived\n";
}

}  // namespace
}  // namespace clouddb_test
