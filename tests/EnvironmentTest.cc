
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "agent/OrbLoggingEnvironment.h"

namespace clouddb_test {
namespace {

namespace fs = std::filesystem;

// Temporary-directory helpers for files read and written by the tests.
class FileTest : public TempDirTest {
 public:
  void put(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
  }

  std::string contents(const std::string& name) const {
    std::string text;
    OrbInputFile::fileToString(path(name), text);
    return text;
  }
};

// --- One contract, every output -------------------------------------------

struct OutputFixture : FileTest {
  RecordingEnvironment env;
  OrbLoggingEnvironment memory{""};
};

struct FileOutput {
  static std::shared_ptr<OrbOutput> make(OutputFixture& f) {
    return std::make_shared<OrbOutputFile>(f.dir, "out.txt", f.env);
  }
  static std::string kept(OutputFixture& f) { return f.contents("out.txt"); }
  static constexpr bool accepts = true;
  static constexpr const char* expected = "one\ntwo";
};

struct ErrorOutput {
  static std::shared_ptr<OrbOutput> make(OutputFixture& f) {
    return std::make_shared<OrbOutputError>("", f.env);
  }
  static std::string kept(OutputFixture&) { return ""; }
  static constexpr bool accepts = false;
  static constexpr const char* expected = "";
};

struct IgnoreOutput {
  static std::shared_ptr<OrbOutput> make(OutputFixture& f) {
    return std::make_shared<OrbIgnoreOutput>("", f.env);
  }
  static std::string kept(OutputFixture&) { return ""; }
  static constexpr bool accepts = true;
  static constexpr const char* expected = "";
};

struct MemoryOutput {
  static std::shared_ptr<OrbOutput> make(OutputFixture& f) {
    return f.memory.createMetadataOutput();
  }
  static std::string kept(OutputFixture& f) { return f.memory.getMetadataString(); }
  static constexpr bool accepts = true;
  static constexpr const char* expected = "two";  // each put replaces the text
};

template <typename T>
class OutputContractTest : public OutputFixture {};

using Outputs = testing::Types<FileOutput, ErrorOutput, IgnoreOutput, MemoryOutput>;
TYPED_TEST_SUITE(OutputContractTest, Outputs);

TYPED_TEST(OutputContractTest, WritesAgreeWithFlushAndClose) {
  std::shared_ptr<OrbOutput> out = TypeParam::make(*this);
  EXPECT_EQ(out->putString("one\n"), TypeParam::accepts);
  out->updateRestart("r1");
  EXPECT_EQ(out->putString("two"), TypeParam::accepts);
  EXPECT_FALSE(out->stopNow());
  EXPECT_EQ(out->flush(), TypeParam::accepts);
  EXPECT_EQ(out->close("r2"), TypeParam::accepts);
  EXPECT_EQ(TypeParam::kept(*this), TypeParam::expected);
}

// --- One contract, every input --------------------------------------------

struct InputFixture : FileTest {
  RecordingEnvironment env;
  OrbLoggingEnvironment memory{""};
  const std::string content = "l1\n\nl3\r\nl4";
};

struct FileInput {
  static std::shared_ptr<OrbInput> make(InputFixture& f) {
    f.put("in.txt", f.content);
    return std::make_shared<OrbInputFile>(f.dir, "in.txt", f.env);
  }
  static std::vector<std::string> lines() { return {"l1", "", "l3\r", "l4"}; }
  static constexpr bool isError = false;
};

struct ErrorInput {
  static std::shared_ptr<OrbInput> make(InputFixture& f) {
    return std::make_shared<OrbInputError>("", f.env);
  }
  static std::vector<std::string> lines() { return {}; }
  static constexpr bool isError = true;
};

struct StringInput {
  static std::shared_ptr<OrbInput> make(InputFixture& f) {
    return std::make_shared<OrbInputFromString>(f.env, f.content);
  }
  static std::vector<std::string> lines() { return {"l1\n\nl3\r\nl4"}; }
  static constexpr bool isError = false;
};

struct MemoryInput {
  static std::shared_ptr<OrbInput> make(InputFixture& f) {
    f.memory.putMetadataString(f.content);
    return f.memory.createMetadataInput();
  }
  static std::vector<std::string> lines() { return StringInput::lines(); }
  static constexpr bool isError = false;
};

template <typename T>
class InputContractTest : public InputFixture {};

using Inputs = testing::Types<FileInput, ErrorInput, StringInput, MemoryInput>;
TYPED_TEST_SUITE(InputContractTest, Inputs);

TYPED_TEST(InputContractTest, DeliversItsLinesThenStops) {
  std::shared_ptr<OrbInput> in = TypeParam::make(*this);
  std::vector<std::string> lines;
  std::string line;
  while (in->getLine(line)) lines.push_back(line);
  EXPECT_EQ(lines, TypeParam::lines());
  EXPECT_FALSE(in->getLine(line));
  EXPECT_EQ(in->error(), TypeParam::isError);
}

TYPED_TEST(InputContractTest, ContentsJoinTheLines) {
  std::shared_ptr<OrbInput> in = TypeParam::make(*this);
  std::string joined;
  for (const std::string& line : TypeParam::lines()) {
    if (!joined.empty()) joined += "\n";
    joined += line;
  }
  std::string text;
  EXPECT_EQ(in->getContents(text), !TypeParam::isError);
  EXPECT_EQ(text, joined);
}

// --- File streams ---------------------------------------------------------

class FileStreamTest : public FileTest {
 protected:
  RecordingEnvironment env;
  DebugLogCapture log;
};

TEST_F(FileStreamTest, UnopenableOutputLogsOnceAndRefusesWrites) {
  put("plain", "x");
  struct Case {
    std::string directory;
    std::string error;
  };
  for (const Case& c : {Case{dir + "/missing", "No such file or directory"},
                        Case{dir + "/plain", "Not a directory"}}) {
    log.entries.clear();
    OrbOutputFile out(c.directory, "f.txt", env);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_TRUE(log.entries[0].error);
    EXPECT_EQ(log.entries[0].function, "OrbOutputFile");
    EXPECT_EQ(log.entries[0].text,
              "Failed to open '" + c.directory + "/f.txt' with error " + c.error);
    EXPECT_FALSE(out.putString("data"));
    EXPECT_FALSE(out.flush());
    EXPECT_EQ(log.entries.size(), 1u);
  }
}

TEST_F(FileStreamTest, FullDeviceFailsWritesAndFlush) {
  OrbOutputFile small("/dev", "full", env);
  EXPECT_TRUE(small.putString("buffered"));
  EXPECT_FALSE(small.flush());
  EXPECT_FALSE(small.close(""));

  OrbOutputFile large("/dev/", "full", env);
  EXPECT_FALSE(large.putString(std::string(1 << 20, 'x')));
  EXPECT_TRUE(
      log.has("putString", "Failed to write '/dev/full' with error No space left on device"));
  EXPECT_FALSE(large.putString("again"));
}

TEST_F(FileStreamTest, OutputTruncatesAndWritesBytesUnchanged) {
  put("f.txt", "old content that is longer");
  OrbOutputFile out(dir, "f.txt", env);
  EXPECT_EQ(contents("f.txt"), "");
  const std::string bytes("a\0b\r\n", 5);
  EXPECT_TRUE(out.putString(bytes));
  EXPECT_TRUE(out.putString("c"));
  EXPECT_TRUE(out.close(""));
  EXPECT_EQ(contents("f.txt"), bytes + "c");
  EXPECT_FALSE(out.putString("after close"));
  EXPECT_EQ(contents("f.txt"), bytes + "c");
}

TEST_F(FileStreamTest, InputCloseTellsWhetherTheEndWasReached) {
  struct Case {
    std::string content;
    int reads;
    bool closeResult;
  };
  const std::vector<Case> cases = {
      {"a\nb\n", 0, true}, {"a\nb\n", 2, true}, {"a\nb\n", 3, false},
      {"a\nb", 2, false},  {"", 1, false},
  };
  for (const Case& c : cases) {
    put("in.txt", c.content);
    OrbInputFile in(dir, "in.txt", env);
    std::string line;
    for (int i = 0; i < c.reads; ++i) in.getLine(line);
    EXPECT_FALSE(in.error());
    EXPECT_EQ(in.close(), c.closeResult) << c.content << " after " << c.reads;
    EXPECT_FALSE(in.getLine(line));  // closed
  }
}

TEST_F(FileStreamTest, UnreadableInputsAreErrorsOrEmpty) {
  OrbInputFile missing(dir, "missing.txt", env);
  std::string line;
  EXPECT_TRUE(missing.error());
  EXPECT_FALSE(missing.getLine(line));
  OrbInputFile directory(fs::path(dir).parent_path().string(), fs::path(dir).filename(), env);
  EXPECT_FALSE(directory.getLine(line));
  EXPECT_TRUE(directory.error());

  std::string text = "stale";
  OrbInputFile::fileToString(path("missing.txt"), text);
  EXPECT_EQ(text, "");
  OrbInputFile::fileToString(dir, text);
  EXPECT_EQ(text, "");
  const std::string bytes("x\0y\r\n", 5);
  put("bin", bytes);
  OrbInputFile::fileToString(path("bin"), text);
  EXPECT_EQ(text, bytes);
  // The path and the result may be one string.
  text = path("bin");
  OrbInputFile::fileToString(text, text);
  EXPECT_EQ(text, bytes);
}

// --- Directory environments -----------------------------------------------

class DirectoryEnvironmentTest : public FileTest {};

TEST_F(DirectoryEnvironmentTest, StreamIdentityNamesTheFile) {
  OrbPrototypeEnvironment env(dir);
  struct Case {
    std::shared_ptr<OrbOutput> out;
    std::shared_ptr<OrbInput> in;
    std::string file;
  };
  const std::vector<Case> cases = {
      {env.createScanOutput("T", 0), env.createScanInput("T", 0), "T-0.dynamodump"},
      {env.createScanOutput("T", 4294967295u), env.createScanInput("T", 4294967295u),
       "T-4294967295.dynamodump"},
      {env.createShardOutput("ignored", "S", -7), env.createShardInput("S", -7),
       "-7-S.dynamostreamdump"},
      {env.createMetadataOutput(), env.createMetadataInput(), "metadata.json"},
      {env.createDescriptionOutput(), env.createDescriptionInput(), "description.json"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(fs::exists(path(c.file))) << c.file;
    EXPECT_TRUE(c.out->putString(c.file + "\n"));
    EXPECT_TRUE(c.out->close(""));
    OrbInputFile again(dir, c.file, env);
    std::string line;
    EXPECT_TRUE(again.getLine(line));
    EXPECT_EQ(line, c.file);
  }
}

TEST_F(DirectoryEnvironmentTest, NoDirectoryGivesErrorStreams) {
  OrbPrototypeEnvironment env("");
  std::shared_ptr<OrbInput> in = env.createMetadataInput();
  std::string line;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(in->error());
  EXPECT_FALSE(in->getLine(line));
  EXPECT_FALSE(env.createScanOutput("T", 1)->putString("x"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Internal error: using input error file\nInternal error: using input error file\n");

  OrbPrototypeEnvironmentDropOutputData drop("");
  EXPECT_TRUE(drop.createScanOutput("T", 1)->putString("x"));
  EXPECT_TRUE(drop.createShardOutput("c", "S", 2)->putString("x"));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(drop.createDescriptionOutput()->putString("x"));
  testing::internal::GetCapturedStdout();
}

TEST_F(DirectoryEnvironmentTest, DroppedOutputsCreateNoFile) {
  OrbPrototypeEnvironmentDropOutputData env(dir);
  EXPECT_TRUE(env.createScanOutput("T", 0)->putString("x"));
  EXPECT_TRUE(env.createMetadataOutput()->putString("m"));
  EXPECT_FALSE(fs::exists(path("T-0.dynamodump")));
  EXPECT_EQ(contents("metadata.json"), "m");
}

TEST_F(DirectoryEnvironmentTest, LogAddsOneLineEnd) {
  OrbPrototypeEnvironment env(dir);
  testing::internal::CaptureStdout();
  env.log("f", "a");
  env.log("f", "x\n");
  env.log("f", "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\nx\n\n");
}

// --- In-memory logging environment ----------------------------------------

class LoggingEnvironmentTest : public FileTest {};

TEST_F(LoggingEnvironmentTest, MetadataFromMemoryThenFromTheDirectory) {
  put("metadata.json", "{\"from\":\"disk\"}\n");
  OrbLoggingEnvironment env(dir);
  env.putMetadataString("{\"a\":1}\r\n");
  EXPECT_EQ(env.getMetadataString(), "{\"a\":1}");
  std::string text;
  EXPECT_TRUE(env.createMetadataInput()->getLine(text));
  EXPECT_EQ(text, "{\"a\":1}\r\n");

  env.createDescriptionOutput()->putString("first");
  env.createDescriptionOutput()->putString("second\n");
  EXPECT_EQ(env.getDescriptionString(), "second");

  env.resetMetadataStrings();
  EXPECT_EQ(env.getMetadataString(), "");
  EXPECT_EQ(env.getDescriptionString(), "");
  EXPECT_TRUE(env.createMetadataInput()->getLine(text));
  EXPECT_EQ(text, "{\"from\":\"disk\"}");
  EXPECT_TRUE(env.createDescriptionInput()->error());  // no description.json

  OrbLoggingEnvironment noDirectory("");
  EXPECT_TRUE(noDirectory.createMetadataInput()->error());
  EXPECT_TRUE(env.createScanOutput("T", 0)->putString("dropped"));
  EXPECT_FALSE(fs::exists(path("T-0.dynamodump")));
}

TEST_F(LoggingEnvironmentTest, LogWritesTheMessageWordForWord) {
  OrbLoggingEnvironment env(dir);
  DebugLogCapture log;
  env.log("getLine", "100%s done");
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].function, "getLine");
  EXPECT_EQ(log.entries[0].text, "100%s done");
}

TEST(LoggingEnvironmentTextTest, EndingsAndNewlines) {
  struct Case {
    std::string text;
    std::string stripped;
  };
  const std::vector<Case> cases = {
      {"", ""},         {"\n", ""},         {"\r", "\r"},         {"a\r\n", "a"},
      {"a\n\n", "a\n"}, {"a\n\r", "a\n\r"}, {"\r\n\r\n", "\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OrbLoggingEnvironment::stripTrailingNewline(c.text), c.stripped);
  }
  EXPECT_TRUE(OrbLoggingEnvironment::hasEnding("abc", ""));
  EXPECT_TRUE(OrbLoggingEnvironment::hasEnding("abc", "bc"));
  EXPECT_FALSE(OrbLoggingEnvironment::hasEnding("c", "bc"));
  EXPECT_FALSE(OrbLoggingEnvironment::hasEnding("abc", "ab"));
}

}  // namespace
}  // namespace clouddb_test
