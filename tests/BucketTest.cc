// One contract, every bucket: a local directory, and S3 on moto_server and on
// s3rver (started by run_with_servers.sh, which passes their URLs).
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "tools/mover/Bucket.h"

namespace {

using mover::Bucket;
using mover::ObjectStat;
using mover::ObjectWriter;

struct Store {
  const char* name;
  // Whether the store honours a write only when the object is absent
  // (s3rver ignores If-None-Match and replaces the object).
  bool conditionalWrites;
  // A new, empty bucket; dir is a fresh temporary directory.
  std::function<std::unique_ptr<Bucket>(const std::string& dir, const std::string& test)> open;
};

std::unique_ptr<Bucket> onServer(const char* variable, const std::string& test) {
  const char* url = std::getenv(variable);
  if (url == nullptr) {
    ADD_FAILURE() << variable << " is not set: run the test through run_with_servers.sh";
    return nullptr;
  }
  std::string error;
  cloud::ConfigOverrides overrides;
  overrides.endpointUrl = url;
  std::unique_ptr<Bucket> bucket = mover::openBucket(
      "s3://clouddb-tests/" + test + "-" + std::to_string(std::rand()), overrides, error);
  EXPECT_TRUE(bucket) << error;
  return bucket;
}

class BucketContractTest : public clouddb_test::TempDirTest,
                           public testing::WithParamInterface<Store> {
 protected:
  void SetUp() override {
    bucket = GetParam().open(dir, testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(bucket);
  }

  bool put(const std::string& name, const std::string& data = "") {
    return bucket->put(name, data, error);
  }

  // The object's content, or "<missing>".
  std::string get(Bucket& from, const std::string& name) {
    std::string data = "stale";
    bool missing = false;
    if (from.get(name, data, missing, error)) return data;
    EXPECT_TRUE(missing) << error;
    return "<missing>";
  }
  std::string get(const std::string& name) { return get(*bucket, name); }

  std::unique_ptr<Bucket> bucket;
  std::string error;
};

TEST_P(BucketContractTest, ObjectsComeBackByteForByte) {
  std::string every;
  for (int i = 0; i < 256 * 40; ++i) every += static_cast<char>(i);
  for (const std::string& data : {std::string(), std::string("x"), every}) {
    ASSERT_TRUE(put("object", data)) << error;
    EXPECT_EQ(get("object"), data);
    ObjectStat object;
    bool missing = true;
    ASSERT_TRUE(bucket->stat("object", object, missing, error)) << error;
    EXPECT_EQ(object.size, data.size());
  }
}

TEST_P(BucketContractTest, NothingIsVisibleBeforeCommit) {
  ASSERT_TRUE(put("object", "old"));
  std::unique_ptr<ObjectWriter> writer = bucket->create("object", error);
  ASSERT_TRUE(writer && writer->append("new", 3, error)) << error;
  EXPECT_EQ(get("object"), "old");
  std::string tag;
  ASSERT_TRUE(writer->commit(tag, error)) << error;
  EXPECT_EQ(get("object"), "new");
  ObjectStat object;
  bool missing = true;
  ASSERT_TRUE(bucket->stat("object", object, missing, error));
  EXPECT_EQ(object.tag, tag);

  std::unique_ptr<ObjectWriter> abandoned = bucket->create("never", error);
  ASSERT_TRUE(abandoned && abandoned->append("x", 1, error));
  abandoned.reset();
  EXPECT_EQ(get("never"), "<missing>");
}

TEST_P(BucketContractTest, MissingObjectsAreNamed) {
  ObjectStat object;
  bool missing = false;
  EXPECT_FALSE(bucket->stat("absent", object, missing, error));
  EXPECT_TRUE(missing);
  EXPECT_NE(error.find(bucket->describe("absent")), std::string::npos) << error;
  EXPECT_EQ(get("absent"), "<missing>");
  EXPECT_NE(error.find(bucket->describe("absent")), std::string::npos) << error;
}

TEST_P(BucketContractTest, ChildrenAreSeparateNamespaces) {
  std::unique_ptr<Bucket> child = bucket->child("segment-1");
  ASSERT_TRUE(child->put("manifest", "child", error)) << error;
  ASSERT_TRUE(put("manifest", "parent"));
  EXPECT_EQ(get(*child, "manifest"), "child");
  EXPECT_EQ(get("manifest"), "parent");
  EXPECT_EQ(child->describe("manifest"), bucket->describe("segment-1/manifest"));
}

TEST_P(BucketContractTest, ListingNamesEveryObjectBelowInOrder) {
  std::vector<mover::ListedEntry> objects;
  ASSERT_TRUE(bucket->list(objects, error)) << error;
  EXPECT_TRUE(objects.empty());
  ASSERT_TRUE(bucket->child("segment-1")->put("part-000000", "12345", error)) << error;
  ASSERT_TRUE(put("manifest") && put("b", "xy")) << error;
  ASSERT_TRUE(bucket->list(objects, error)) << error;
  std::vector<std::string> listed;
  for (const mover::ListedEntry& object : objects) {
    listed.push_back(object.name + " " + std::to_string(object.size));
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"b 2", "manifest 0", "segment-1/part-000000 5"}));
  ASSERT_TRUE(bucket->remove("b", error) && bucket->remove("b", error)) << error;
  EXPECT_EQ(get("b"), "<missing>");
}

TEST_P(BucketContractTest, APutOfANewObjectDoesNotReplaceOne) {
  bool exists = true;
  ASSERT_TRUE(bucket->putNew("lock", "first", exists, error)) << error;
  EXPECT_FALSE(exists);
  const bool stored = bucket->putNew("lock", "second", exists, error);
  EXPECT_EQ(stored, !GetParam().conditionalWrites);
  EXPECT_EQ(exists, GetParam().conditionalWrites) << error;
  EXPECT_EQ(get("lock"), GetParam().conditionalWrites ? "first" : "second");
}

INSTANTIATE_TEST_SUITE_P(Stores, BucketContractTest,
                         testing::Values(Store{"Directory", true,
                                               [](const std::string& dir, const std::string&) {
                                                 return mover::openDirectoryBucket(dir + "/bucket");
                                               }},
                                         Store{"Moto", true,
                                               [](const std::string&, const std::string& test) {
                                                 return onServer("CLOUDDB_TEST_MOTO", test);
                                               }},
                                         Store{"S3rver", false,
                                               [](const std::string&, const std::string& test) {
                                                 return onServer("CLOUDDB_TEST_S3RVER", test);
                                               }}),
                         [](const testing::TestParamInfo<Store>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
