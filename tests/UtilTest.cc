#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "util/CloudDBUtil.h"

namespace clouddb_test {
namespace {

namespace fs = std::filesystem;

using RecursiveMkdirTest = TempDirTest;

TEST_F(RecursiveMkdirTest, CreatesMissingParents) {
  struct Case {
    std::string path;
    bool result;
    int errorCode;
  };
  std::ofstream(dir + "/file") << "x";
  const std::vector<Case> cases = {
      {dir + "/a/b/c", true, 0},     {dir + "/a/b/c", true, EEXIST},
      {dir + "/file", true, EEXIST}, {dir + "/file/sub/deeper", false, ENOTDIR},
      {"", false, ENOENT},           {"/proc/clouddb-none/x", false, ENOENT},
  };
  for (const Case& c : cases) {
    int errorCode = -1;
    EXPECT_EQ(recursiveMkdir(c.path, 0700, errorCode), c.result) << c.path;
    EXPECT_EQ(errorCode, c.errorCode) << c.path;
  }
  struct stat info {};
  ASSERT_EQ(stat((dir + "/a/b").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // A name without a folder, in a working directory that was removed.
  const fs::path cwd = fs::current_path();
  fs::create_directory(dir + "/gone");
  fs::current_path(dir + "/gone");
  fs::remove(dir + "/gone");
  int errorCode = -1;
  EXPECT_FALSE(recursiveMkdir("x", 0700, errorCode));
  EXPECT_EQ(errorCode, ENOENT);
  fs::current_path(cwd);
}

const char kItem[] = R"({"sk":{"N":"42"},"data":{"M":{"nested":{"L":[{"S":"x"},{"N":"1"}]}}},)"
                     R"("blob":{"B":"AAEC"},"flag":{"BOOL":true},"pk":{"S":"user1"}})";

TEST(KeyStringTest, CanonicalKeyOfRealItems) {
  struct Case {
    const char* name;
    std::string json;
    std::vector<std::string> keys;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"example", kItem, {"sk", "pk"}, "pk::*::user1*/*/sk::*::42*/*/"},
      {"keys last",
       R"({"a":{"S":"1"},"z":{"B":"Zm9v"},"k":{"N":"-1.5e3"}})",
       {"z", "k"},
       "k::*::-1.5e3*/*/z::*::Zm9v*/*/"},
      {"no keys", kItem, {}, ""},
      {"repeated key", kItem, {"pk", "pk"}, "pk::*::user1*/*/pk::*::user1*/*/"},
      {"N wins over S", R"({"k":{"S":"s","N":"7"}})", {"k"}, "k::*::7*/*/"},
      {"case matters", R"({"k":{"n":"7","s":"x"}})", {"k"}, "k::*::*/*/"},
      {"escaped NUL", R"({"k":{"S":"ab\u0000cd"}})", {"k"}, "k::*::ab*/*/"},
      {"escapes", R"({"k":{"S":"a\"b\\c\u00e9"}})", {"k"}, "k::*::a\"b\\c\xc3\xa9*/*/"},
      {"separators copied", R"({"k":{"S":"a::*::b"}})", {"k"}, "k::*::a::*::b*/*/"},
      {"missing attribute", kItem, {"zz"}, "zz::*::*/*/"},
      {"map value", kItem, {"data"}, "data::*::*/*/"},
      {"first duplicate member wins", R"({"k":{"S":"1"},"k":{"S":"2"}})", {"k"}, "k::*::1*/*/"},
      {"invalid JSON", R"({"pk":{"S":"user1"})", {"pk"}, "pk::*::*/*/"},
      {"trailing garbage", R"({"pk":{"S":"user1"}} x)", {"pk"}, "pk::*::*/*/"},
      {"top level array", R"([{"pk":{"S":"u"}}])", {"pk"}, "pk::*::*/*/"},
      {"value not an object", R"({"pk":"u"})", {"pk"}, "pk::*::*/*/"},
      {"type not a string", R"({"pk":{"N":5,"S":"s"}})", {"pk"}, "pk::*::s*/*/"},
      {"text after NUL ignored",
       std::string(R"({"pk":{"S":"u"}})") + '\0' + "junk",
       {"pk"},
       "pk::*::u*/*/"},
      {"zero-padded exponents are valid numbers",
       R"({"pk":{"S":"u"},"x":[1e-0000000001,2.5E-000000000000003,1e-0000000000000000000002147483648]})",
       {"pk"},
       "pk::*::u*/*/"},
      {"risky exponent inside a string, a minus outside",
       R"({"pk":{"S":"0.00000000001e-2147483639"},"n":-1})",
       {"pk"},
       "pk::*::0.00000000001e-2147483639*/*/"},
      {"the largest exponents the parser sums safely",
       R"({"pk":{"S":"u"},"x":[0.000000001e-2147483639,12345678901e-2147483639,1e-2147483649]})",
       {"pk"},
       "pk::*::u*/*/"},
      {"a negative number after fraction digits has no exponent",
       R"({"pk":{"S":"u"},"x":[1.00000000001,-2147483639]})",
       {"pk"},
       "pk::*::u*/*/"},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(keyString(c.json, c.keys), c.expected);
    EXPECT_TRUE(std::is_sorted(c.keys.begin(), c.keys.end()));
  }
}

TEST(KeyStringTest, TextsAbove128MiBAreRefused) {
  const std::string head = R"({"pk":{"S":"u"},"pad":")";
  std::string json = head + std::string((size_t{1} << 27) - head.size() - 2, 'x') + "\"}";
  std::vector<std::string> keys = {"pk"};
  EXPECT_EQ(keyString(json, keys), "pk::*::u*/*/");
  json.insert(head.size(), "x");
  EXPECT_EQ(keyString(json, keys), "pk::*::*/*/");
}

// Runs body on a thread with a small stack, as a host's worker might.
void onSmallStack(size_t stackBytes, const std::function<void()>& body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, stackBytes), 0);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(KeyStringTest, HostileInputOnASmallStack) {
  const size_t deep = 1000000;
  const std::vector<std::string> hostile = {
      std::string(deep, '['),
      std::string(deep, '[') + std::string(deep, ']'),
      "{\"pk\":" + std::string(200000, '[') + std::string(200000, ']') + "}",
      // Exponent -2147483639 and 11 fraction digits overflow the parser's int.
      R"({"pk":{"S":"u"},"x":[0.00000000001e-2147483639]})",
      R"({"pk":{"S":"u"},"x":[0.00000000001E-2147483639]})",
  };
  onSmallStack(256 * 1024, [&] {
    for (const std::string& json : hostile) {
      std::vector<std::string> keys = {"pk"};
      EXPECT_EQ(keyString(json, keys), "pk::*::*/*/");
    }
  });
}

// --- Debug copy of the backup stream --------------------------------------

class DebugCaptureTest : public TempDirTest {
 protected:
  std::string readBack(const std::string& path) {
    std::string text;
    OrbInputFile::fileToString(path, text);
    return text;
  }

  std::string drain(ScriptedProducer& producer, size_t bufferSize) {
    std::string all;
    std::string buffer(bufferSize, '\0');
    size_t filled = 0;
    bool more = true;
    while (more) {
      producer.setBufferSpanning(true);
      EXPECT_TRUE(producer.fillBuffer(buffer.data(), bufferSize, filled, more));
      all.append(buffer, 0, filled);
    }
    return all;
  }

  RecordingEnvironment env;
};

TEST_F(DebugCaptureTest, CopyHoldsExactlyTheBytesRead) {
  ScriptedProducer producer(env, {"alpha\n", std::string(100, 'b') + "\n", "", "gamma\r\n"});
  const std::string path = dir + "/new/folder/copy.txt";
  producer.setDebugOutputFile(path);
  EXPECT_TRUE(
      env.logged("setDebugOutputFile", "troubleshooting data will be written to '" + path + "'"));
  const std::string read = drain(producer, 16);
  producer.setDebugOutputFile(dir + "/other.txt");  // closes the first copy
  EXPECT_EQ(readBack(path), read);
  struct stat info {};
  ASSERT_EQ(stat((dir + "/new").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(DebugCaptureTest, SamePathTwiceStartsAfresh) {
  ScriptedProducer producer(env, {});
  const std::string path = dir + "/copy.txt";
  producer.setDebugOutputFile(path);
  producer.putString("first");
  producer.setDebugOutputFile(path);  // flushes "first", then truncates
  EXPECT_EQ(readBack(path), "");
  producer.putString("second");
  producer.setDebugOutputFile(dir + "/other.txt");
  EXPECT_EQ(readBack(path), "second");
}

TEST_F(DebugCaptureTest, UnusablePathsAreReported) {
  ScriptedProducer producer(env, {});
  producer.setDebugOutputFile("bare-name");
  producer.setDebugOutputFile("/rootfile");
  EXPECT_TRUE(env.logged("setDebugOutputFile", "Cannot parse debug file path 'bare-name'"));
  EXPECT_TRUE(env.logged("setDebugOutputFile", "Cannot parse debug file path '/rootfile'"));
  EXPECT_TRUE(producer.putString("no copy yet"));

  std::ofstream(dir + "/file") << "x";
  const std::string blocked = dir + "/file/sub/copy.txt";
  ScriptedProducer fresh(env, {});  // nothing pending
  fresh.setDebugOutputFile(blocked);
  EXPECT_TRUE(env.logged("setDebugOutputFile", "Cannot create parent folder for debug file path '" +
                                                   blocked + "' with error code " +
                                                   std::to_string(ENOTDIR)));
  EXPECT_FALSE(fresh.putString("refused"));
  EXPECT_FALSE(fresh.putString("refused again"));
  EXPECT_TRUE(env.logged("debugPutString", "Failed to write to debug output file"));

  // A copy whose last bytes cannot be flushed is reported when replaced.
  fresh.setDebugOutputFile("/dev/full");
  EXPECT_TRUE(fresh.putString("lost"));
  fresh.setDebugOutputFile(dir + "/usable.txt");
  EXPECT_TRUE(env.logged("setDebugOutputFile", "Flush of previous debug file failed"));
  EXPECT_TRUE(fresh.putString("ok"));
}

}  // namespace
}  // namespace clouddb_test
