#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace clouddb_test {
namespace {

class BufferedInputTest : public testing::Test {
 protected:
  bool write(std::string bytes) { return input.processBuffer(bytes.data(), bytes.size()); }
  bool writeChunk(const std::vector<std::string>& buffers) {
    for (const std::string& buffer : buffers) {
      if (!write(buffer)) return false;
    }
    return input.closeChunk();
  }

  RecordingEnvironment env;
  LineCollector input{env};
};

TEST_F(BufferedInputTest, ProcessesOneBufferLate) {
  EXPECT_TRUE(write("one\ntw"));
  EXPECT_EQ(input.startCalls, 0);
  EXPECT_TRUE(write("o\nthr"));
  EXPECT_EQ(input.lines, (std::vector<std::string>{"one"}));
  EXPECT_EQ(input.partialLine, "tw");
  EXPECT_TRUE(write("ee\nfour"));
  EXPECT_TRUE(input.closeChunk());
  EXPECT_EQ(input.lines, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(input.firstCalls, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(input.initializeCalls, 1);
  EXPECT_FALSE(input.error());
  EXPECT_TRUE(env.logged("deferredProcessBuffer",
                         "Removing 4 bytes from end of the last buffer in the chunk, size 7"));
  // The next chunk starts afresh without a second initialisation.
  EXPECT_TRUE(writeChunk({"five\n"}));
  EXPECT_EQ(input.lines.back(), "five");
  EXPECT_EQ(input.initializeCalls, 1);
}

TEST_F(BufferedInputTest, ChunksGiveTheirCompleteLines) {
  struct Case {
    const char* name;
    std::vector<std::string> buffers;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"carriage returns", {"a\r\nb\n\r\n\n"}, {"a", "b", "", ""}},
      {"line across buffers", {"ab", "c\n"}, {"abc"}},
      {"trailing bytes dropped", {"ab\ncd"}, {"ab"}},
      {"carriage return ends a buffer", {"a\r", "\nb\n"}, {"a", "b"}},
      {"carriage return inside a joined line", {"x\r", "y\n"}, {"x\ry"}},
      {"no line feed at all", {"abc"}, {}},
      {"empty write", {"ab\n", ""}, {"ab"}},
      {"line over three buffers", {"a", "b", "c", "\n"}, {"abc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineCollector collector(env);
    for (const std::string& buffer : c.buffers) {
      std::string copy = buffer;
      ASSERT_TRUE(collector.processBuffer(copy.data(), copy.size()));
    }
    ASSERT_TRUE(collector.closeChunk());
    EXPECT_EQ(collector.lines, c.lines);
    EXPECT_EQ(collector.partialLine, "");
  }
}

TEST_F(BufferedInputTest, UnfinishedLineNeverReachesTheNextChunk) {
  EXPECT_TRUE(writeChunk({"ab", "cd"}));
  EXPECT_TRUE(env.logged("deferredProcessBuffer",
                         "Removing 2 bytes from end of the last buffer in the chunk, size 2"));
  EXPECT_TRUE(writeChunk({"ef\n"}));
  EXPECT_EQ(input.lines, (std::vector<std::string>{"ef"}));
}

TEST_F(BufferedInputTest, FirstCallBelongsToTheProcessingThatInitialized) {
  // The first chunk's only buffer has no line feed: initialisation runs, but
  // nothing is handed out, so startRestore never sees true.
  EXPECT_TRUE(writeChunk({"no line feed"}));
  EXPECT_EQ(input.initializeCalls, 1);
  EXPECT_EQ(input.startCalls, 0);
  EXPECT_TRUE(writeChunk({"x\n"}));
  EXPECT_EQ(input.firstCalls, (std::vector<bool>{false}));
  EXPECT_EQ(input.initializeCalls, 1);
}

TEST_F(BufferedInputTest, InitializationFailureKeepsTheOlderBuffer) {
  input.failInitializeAt = 1;
  EXPECT_TRUE(write("a\n"));
  EXPECT_FALSE(write("b\n"));
  EXPECT_TRUE(env.logged("deferredProcessBuffer", "restore initialization has failed"));
  EXPECT_TRUE(write("c\n"));
  EXPECT_TRUE(input.closeChunk());
  EXPECT_EQ(input.lines, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(input.firstCalls, (std::vector<bool>{true, false}));
}

TEST_F(BufferedInputTest, RestoreFailureConsumesTheBuffer) {
  input.failStartAt = 1;
  EXPECT_TRUE(write("a\n"));
  EXPECT_FALSE(write("b\n"));
  EXPECT_TRUE(env.logged("deferredProcessBuffer", "restore has failed"));
  EXPECT_TRUE(input.closeChunk());
  EXPECT_EQ(input.startCalls, 1);
  EXPECT_TRUE(input.lines.empty());
}

TEST_F(BufferedInputTest, AllocationFailuresAreReported) {
  char byte = 'x';
  const size_t impossible = SIZE_MAX / 2;
  EXPECT_FALSE(input.processBuffer(&byte, impossible));
  EXPECT_TRUE(env.logged("processBuffer",
                         "Failed to allocate buffer of size " + std::to_string(impossible + 1)));
  EXPECT_FALSE(input.processBuffer(&byte, SIZE_MAX));
  EXPECT_TRUE(
      env.logged("processBuffer", "Failed to allocate buffer of size 18446744073709551616"));

  EXPECT_TRUE(write("ab\n"));
  EXPECT_FALSE(input.processBuffer(&byte, impossible));
  EXPECT_TRUE(env.logged("processBuffer", "Failed to reallocate buffer of size 3 to size " +
                                              std::to_string(impossible + 1)));
  // The next write allocates afresh.
  EXPECT_TRUE(writeChunk({"cd\n"}));
  EXPECT_EQ(input.lines, (std::vector<std::string>{"ab", "cd"}));
}

TEST_F(BufferedInputTest, StorageOnlyGrows) {
  write(std::string(100, 'a'));
  write("b\n");
  EXPECT_EQ(input.pendingCapacity, 100u);
}

TEST(BufferedFromStringTest, ServesItsTextOnce) {
  struct Case {
    std::string text;
    size_t bufferSize;
    std::vector<std::string> fills;
  };
  const std::vector<Case> cases = {
      {"", 8, {""}},
      {"short\n", 8, {"short\n"}},
      {"0123456789abc", 5, {"01234", "56789", "abc"}},
  };
  for (const Case& c : cases) {
    RecordingEnvironment env;
    BufferedFromString output("text", env, c.text);
    for (size_t i = 0; i < c.fills.size(); ++i) {
      std::string buffer(c.bufferSize, '\0');
      size_t filled = 0;
      bool more = false;
      output.setBufferSpanning(true);
      ASSERT_TRUE(output.fillBuffer(buffer.data(), buffer.size(), filled, more));
      EXPECT_EQ(buffer.substr(0, filled), c.fills[i]);
      EXPECT_EQ(more, i + 1 < c.fills.size());
    }
  }
}

TEST(BufferedFromStringTest, CloseWithRestartRepeatsTheText) {
  RecordingEnvironment env;
  BufferedFromString output("text", env, "abc");
  output.close("again");
  EXPECT_EQ(output.getRestartString(), "again");
  EXPECT_EQ(output.getSafeRestartString(), "");
  auto fill = [&output] {
    std::string buffer(4, '\0');
    size_t filled = 0;
    bool more = false;
    EXPECT_TRUE(output.fillBuffer(buffer.data(), 4, filled, more));
    return buffer.substr(0, filled) + (more ? "+" : "");
  };
  EXPECT_EQ(fill(), "abc+");
  EXPECT_EQ(fill(), "abc+");
  output.close("");
  EXPECT_EQ(fill(), "abc");
  EXPECT_EQ(fill(), "");
}

TEST(TestBufferedInputTest, ReportsPassForEveryLengthPattern) {
  // Lengths 0 give bare line feeds; 127 makes the total a multiple of 128.
  for (const auto& range : {std::pair<int, int>{0, 0}, {127, 127}, {0, 400}}) {
    RecordingEnvironment env;
    TestBufferedInput check(
        "self", env, std::make_shared<std::mt19937>(42),
        std::make_shared<std::uniform_int_distribution<int32_t>>(range.first, range.second));
    testing::internal::CaptureStdout();
    check.test();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nTest passed.\n"), std::string::npos) << range.first;
    EXPECT_EQ(out.find("Input 1 is"), std::string::npos);
  }
}

}  // namespace
}  // namespace clouddb_test
