// What a restore does with a stored cloud file that others may have
// written, checksums and all: it hands the agent nothing unchecked, no line
// longer than any item makes, and no name that leads out of the target.
#include <xxhash.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "tools/agents/DumpAgent.h"
#include "tools/agents/Names.h"
#include "tools/mover/Mover.h"

namespace {

class RestoreTest : public clouddb_test::TempDirTest {
 protected:
  // data as the stream's only cloud file, with the manifest's size and
  // checksum those of stored (data unless given).
  void store(const std::string& data, const std::string& stored) {
    std::filesystem::create_directories(path("bucket"));
    std::ofstream(path("bucket/part-000000"), std::ios::binary) << data;
    mover::CloudFileEntry entry;
    entry.name = "part-000000";
    entry.size = stored.size();
    entry.checksum = XXH3_64bits(stored.data(), stored.size());
    manifest.files = {entry};
    manifest.complete = true;
  }

  // Restores the stream into the dump agent over target/.
  bool restore() {
    std::filesystem::create_directories(path("target"));
    OrbPrototypeEnvironment environment(path("target"));
    auto agent = std::make_shared<mover::DumpInput>(environment);
    std::unique_ptr<mover::Bucket> bucket = mover::openDirectoryBucket(path("bucket"));
    mover::StreamResult result;
    return mover::restoreStream(*bucket, manifest, agent, mover::StreamOptions(), result, error);
  }

  // Every file the restore wrote, relative to dir.
  std::vector<std::string> written() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      const std::string name = entry.path().lexically_relative(dir).string();
      if (entry.is_regular_file() && name.rfind("bucket/", 0) != 0) files.push_back(name);
    }
    return files;
  }

  mover::Manifest manifest;
  std::string error;
};

TEST_F(RestoreTest, HostileCloudFilesAreRefusedBeforeTheAgentSeesThem) {
  const std::string good = "F T-0.dynamodump\nD a\nE\n";
  struct Case {
    const char* name;
    std::string data;
    std::string stored;  // what the manifest describes
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"other bytes of the same length", "F T-0.dynamodump\nD b\nE\n", good, "corrupt cloud file"},
      {"cut short", good.substr(0, 10), good, "corrupt cloud file"},
      {"a line longer than any item", "F T-0.dynamodump\nD " + std::string(9 << 20, 'x') + "\nE\n",
       "", "holds a line longer than 8 MiB"},
      {"a name out of the target", "F ../../escaped-0.dynamodump\nD a\nE\n", "", ""},
      {"an absolute name", "F /tmp/clouddb-escaped-0.dynamodump\nD a\nE\n", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store(c.data, c.stored.empty() ? c.data : c.stored);
    error.clear();
    EXPECT_FALSE(restore());
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_EQ(written(), std::vector<std::string>());
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/clouddb-escaped-0.dynamodump"));
  store(good, good);
  ASSERT_TRUE(restore()) << error;
  EXPECT_EQ(written(), std::vector<std::string>{"target/T-0.dynamodump"});
}

TEST(NamesTest, OnlyDynamoDbCharactersBecomeFileNames) {
  struct Case {
    std::string name;
    bool table;
    bool word;
  };
  const std::vector<Case> cases = {
      {"Orders", true, true},
      {"x.y-z_1", true, true},
      {"ab", false, true},
      {"a/b", false, false},
      {"abc/d", false, false},
      {"../up", false, false},
      {"a b", false, false},
      {"", false, false},
      {"x\n", false, false},
      {std::string(255, 'x'), true, true},
      {std::string(256, 'x'), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mover::isTableName(c.name), c.table);
    EXPECT_EQ(mover::isNameWord(c.name), c.word);
  }
  const std::string longest(255, 'x');
  const std::string stem = mover::fileStem(longest, 13);
  EXPECT_EQ(stem.size() + 13, mover::kMaxFileNameBytes);
  EXPECT_NE(stem, mover::fileStem(std::string(254, 'x') + "y", 13));
  EXPECT_EQ(mover::fileStem("Orders", 13), "Orders");
}

}  // namespace
