#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace clouddb_test {
namespace {

TEST(FailureRecordTest, MessagesAccumulateInOrder) {
  RecordingEnvironment env;
  env.setFailure("");
  EXPECT_FALSE(env.isFailed());
  env.setFailure("A");
  env.setFailure("B");
  env.setFailure("M3");
  EXPECT_TRUE(env.isFailed());
  EXPECT_EQ(env.getFailure(), "A; B; M3");
  env.setFailure("");
  EXPECT_EQ(env.getFailure(), "A; B; M3; ");
}

TEST(FailureRecordTest, ConcurrentFailuresAreAllKept) {
  RecordingEnvironment env;
  constexpr int kThreads = 8;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&env, t] {
      for (int i = 0; i < kPerThread; ++i) {
        env.setFailure("t" + std::to_string(t) + "m" + std::to_string(i));
        env.isFailed();
        env.getFailure();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Every message is there once, each thread's in its own order.
  const std::string failure = env.getFailure() + "; ";
  size_t messages = 0;
  for (size_t at = 0; (at = failure.find("; ", at)) != std::string::npos; at += 2) ++messages;
  EXPECT_EQ(messages, static_cast<size_t>(kThreads * kPerThread));
  for (int t = 0; t < kThreads; ++t) {
    size_t from = 0;
    for (int i = 0; i < kPerThread; ++i) {
      const std::string message = "t" + std::to_string(t) + "m" + std::to_string(i) + "; ";
      from = failure.find(message, from);
      ASSERT_NE(from, std::string::npos) << message;
    }
  }
}

// An input that delivers a scripted list of lines.
class LinesInput : public OrbInput {
 public:
  LinesInput(OrbEnvironment& env, std::vector<std::string> lines, bool inError)
      : OrbInput("", env), lines_(std::move(lines)), inError_(inError) {}
  bool error() override { return inError_; }
  bool getLine(std::string& line) override {
    if (next_ == lines_.size()) return false;
    line = lines_[next_++];
    return true;
  }
  bool close() override { return true; }

 private:
  std::vector<std::string> lines_;
  size_t next_ = 0;
  bool inError_;
};

TEST(GetContentsTest, JoinsLinesWithNewlines) {
  struct Case {
    std::vector<std::string> lines;
    bool inError;
    std::string contents;
    bool result;
  };
  const std::vector<Case> cases = {
      {{"", "", "x"}, false, "x", true},
      {{"a", "", "b"}, false, "a\n\nb", true},
      {{}, false, "", true},
      {{}, true, "", false},
      {{"a", "b", ""}, false, "a\nb\n", true},
  };
  RecordingEnvironment env;
  for (const Case& c : cases) {
    LinesInput input(env, c.lines, c.inError);
    std::string contents = "stale";
    EXPECT_EQ(input.getContents(contents), c.result);
    EXPECT_EQ(contents, c.contents);
  }
}

TEST(SimpleStreamsTest, ErrorStreamsFailAndLogEveryUse) {
  RecordingEnvironment env;
  OrbOutputError out("", env);
  EXPECT_FALSE(out.putString("x"));
  out.updateRestart("r");
  EXPECT_FALSE(out.flush());
  EXPECT_FALSE(out.close("r"));
  EXPECT_FALSE(out.stopNow());
  const std::string message = "Internal error: using input error file";
  EXPECT_EQ(env.entries, (std::vector<LogEntry>{
                             {"putString", message}, {"flush", message}, {"close", message}}));

  env.entries.clear();
  OrbInputError in("", env);
  std::string text = "kept";
  EXPECT_TRUE(in.error());
  EXPECT_FALSE(in.getLine(text));
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(in.getContents(text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(in.close());
  EXPECT_EQ(env.entries, (std::vector<LogEntry>{{"getLine", message}, {"getLine", message}}));
}

TEST(SimpleStreamsTest, IgnoreOutputKeepsOnlyTheRestartString) {
  RecordingEnvironment env;
  OrbIgnoreOutput out("", env);
  EXPECT_EQ(out.getRestartString(), "");
  EXPECT_TRUE(out.putString("anything"));
  out.updateRestart("R1");
  EXPECT_TRUE(out.flush());
  EXPECT_TRUE(out.close("R2"));
  EXPECT_EQ(out.getRestartString(), "R1");
  EXPECT_TRUE(env.entries.empty());
}

TEST(SimpleStreamsTest, InputFromStringDeliversItsContentOnce) {
  RecordingEnvironment env;
  OrbInputFromString in(env, "one\ntwo\n");
  std::string text;
  EXPECT_TRUE(in.getContents(text));
  EXPECT_EQ(text, "one\ntwo\n");
  EXPECT_TRUE(in.getContents(text));
  EXPECT_EQ(text, "");
  text = "kept";
  EXPECT_FALSE(in.getLine(text));
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(in.error());
  EXPECT_TRUE(in.close());
}

}  // namespace
}  // namespace clouddb_test
