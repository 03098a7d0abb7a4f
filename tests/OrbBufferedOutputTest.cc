#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace clouddb_test {
namespace {

struct Fill {
  bool ok;
  std::string bytes;
  bool moreToCome;
};

class BufferedOutputTest : public testing::Test {
 protected:
  void script(std::vector<std::string> strings) {
    producer = std::make_unique<ScriptedProducer>(env, std::move(strings));
  }

  Fill fill(size_t size, bool spanning = true) {
    producer->setBufferSpanning(spanning);
    std::string buffer(size, '\0');
    size_t filled = 0;
    bool more = false;
    const bool ok = producer->fillBuffer(buffer.data(), size, filled, more);
    buffer.resize(ok ? filled : 0);
    return {ok, buffer, more};
  }

  uint64_t pending() {
    bool internalError = false;
    return producer->getRemainingDataSize(internalError);
  }

  RecordingEnvironment env;
  std::unique_ptr<ScriptedProducer> producer;
};

TEST_F(BufferedOutputTest, WorkedExampleSplitsAcrossTwoBuffers) {
  script({"aaaa\n", "bbbbbb\n", "cc\n"});
  Fill first = fill(10);
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.bytes, "aaaa\nbbbbb");
  EXPECT_TRUE(first.moreToCome);
  EXPECT_EQ(producer->getRestartString(), "2");
  EXPECT_EQ(producer->getSafeRestartString(), "");

  Fill second = fill(10);
  EXPECT_EQ(second.bytes, "b\ncc\n");
  EXPECT_FALSE(second.moreToCome);
  // The restart string became safe once its pending bytes were handed over.
  EXPECT_EQ(producer->safeAtStart, (std::vector<std::string>{"", "2"}));
  EXPECT_EQ(producer->firstCalls, (std::vector<bool>{true, false}));
  EXPECT_TRUE(env.entries.empty());  // an ordinary split logs nothing

  Fill after = fill(10);
  EXPECT_TRUE(after.ok);
  EXPECT_EQ(after.bytes, "");
  EXPECT_FALSE(after.moreToCome);
  EXPECT_EQ(producer->startCalls, 2);
  EXPECT_TRUE(producer->flush());
  EXPECT_TRUE(producer->close("ignored"));
}

struct FillCase {
  const char* name;
  std::vector<std::string> strings;
  size_t bufferSize;
  std::vector<std::string> fills;  // the last one returns moreToCome false
  std::vector<std::string> safe;   // the safe restart string after each fill
  int startCalls;
};

TEST_F(BufferedOutputTest, FillSequences) {
  // ScriptedProducer's restart string is the index of the next string.
  const std::string a35(35, 'a');
  const std::vector<FillCase> cases = {
      {"exact fit", {"12345", "x"}, 5, {"12345", "x"}, {"1", ""}, 2},
      {"one byte over", {"123456", "ab"}, 5, {"12345", "6ab"}, {"", ""}, 2},
      {"pending exactly one buffer",
       {"abcdefghij", "x"},
       5,
       {"abcde", "fghij", "x"},
       {"", "1", ""},
       3},
      {"drains three and a half buffers",
       {a35, "b"},
       10,
       {a35.substr(0, 10), a35.substr(0, 10), a35.substr(0, 10), "aaaaab"},
       {"", "", "", ""},
       2},
      {"empty string list", {}, 4, {""}, {""}, 1},
      {"single text larger than buffer",
       {"abcdefghij"},
       4,
       {"abcd", "efgh", "ij"},
       {"", "", ""},
       1},
  };
  for (const FillCase& c : cases) {
    SCOPED_TRACE(c.name);
    script(c.strings);
    for (size_t i = 0; i < c.fills.size(); ++i) {
      Fill f = fill(c.bufferSize);
      EXPECT_TRUE(f.ok);
      EXPECT_EQ(f.bytes, c.fills[i]);
      EXPECT_EQ(f.moreToCome, i + 1 < c.fills.size());
      EXPECT_EQ(producer->getSafeRestartString(), c.safe[i]) << "after fill " << i;
    }
    EXPECT_EQ(producer->startCalls, c.startCalls);
  }
}

TEST_F(BufferedOutputTest, SpanningOffHoldsBackAStringThatDoesNotFit) {
  script({});
  producer->body = [](ScriptedProducer& p) {
    if (p.startCalls == 1) {
      p.setBufferSpanning(false);
      p.putString("abc");
      p.putString("defgh");
      EXPECT_TRUE(p.stopNow());
      p.updateRestart("r");
    } else {
      p.updateRestart("");
    }
    return true;
  };
  Fill first = fill(6);
  EXPECT_EQ(first.bytes, "abc");
  EXPECT_TRUE(first.moreToCome);
  EXPECT_EQ(pending(), 5u);
  EXPECT_EQ(producer->getSafeRestartString(), "");
  EXPECT_EQ(fill(6).bytes, "defgh");
  EXPECT_EQ(producer->getSafeRestartString(), "r");
}

TEST_F(BufferedOutputTest, SpanningOffSplitsIntoAnEmptyBuffer) {
  script({});
  producer->body = [](ScriptedProducer& p) {
    p.setBufferSpanning(false);
    p.putString("abcdefgh");
    p.updateRestart("");
    return true;
  };
  EXPECT_EQ(fill(5).bytes, "abcde");
  EXPECT_EQ(fill(5, false).bytes, "fgh");
}

TEST_F(BufferedOutputTest, StringsPutOutsideFillBufferAreHandedOverFirst) {
  script({"late\n"});
  producer->putString("early\n");
  EXPECT_EQ(fill(64).bytes, "early\nlate\n");
  // After a fill the caller's buffer is gone: a put becomes pending.
  script({"x"});
  producer->body = [](ScriptedProducer& p) {
    p.updateRestart("again");
    return p.putString("12");
  };
  EXPECT_EQ(fill(4).bytes, "12");
  EXPECT_TRUE(producer->putString("between"));
  EXPECT_EQ(pending(), 7u);
  EXPECT_EQ(fill(16).bytes, "between12");
}

TEST_F(BufferedOutputTest, PendingCapIsExact) {
  script({});
  const size_t cap = OrbBufferedOutput::kMaxPendingBytes;
  EXPECT_TRUE(producer->putString(std::string(cap - 10, 'p')));
  EXPECT_TRUE(producer->putString(std::string(10, 'q')));
  EXPECT_EQ(pending(), cap);
  EXPECT_FALSE(producer->putString("r"));
  EXPECT_EQ(pending(), cap);
  EXPECT_TRUE(env.logged("putString",
                         "ERROR: putString detected after stopNow returned true, current length=1, "
                         "appended length=104857601, string: 'r'"));
  const std::string quoted = std::string(300, 's');
  EXPECT_FALSE(producer->putString(quoted));
  EXPECT_EQ(env.entries.back().message.substr(env.entries.back().message.find('\'')),
            "'" + std::string(256, 's') + "'");
}

TEST_F(BufferedOutputTest, ProducerThatPutsNothingEndsTheBackup) {
  script({});
  producer->body = [](ScriptedProducer& p) {
    p.updateRestart("not empty");
    return true;
  };
  Fill f = fill(8);
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.bytes, "");
  EXPECT_FALSE(f.moreToCome);
  fill(8);
  EXPECT_EQ(producer->startCalls, 1);
}

TEST_F(BufferedOutputTest, FailuresAreLoggedAndRetried) {
  script({"a"});
  size_t filled = 7;
  bool more = true;
  EXPECT_FALSE(producer->fillBuffer(nullptr, 0, filled, more));
  EXPECT_EQ(producer->initializeCalls, 0);
  EXPECT_EQ(filled, 7u);
  EXPECT_TRUE(env.logged("fillBuffer", "buffer size must be nonzero"));

  producer->failInitializeAt = 1;
  EXPECT_FALSE(fill(4).ok);
  EXPECT_TRUE(env.logged("fillBuffer", "backup initialization has failed"));
  producer->failStartAt = 1;
  EXPECT_FALSE(fill(4).ok);
  EXPECT_TRUE(env.logged("fillBuffer", "backup has failed"));
  // Accounting that the producer left inconsistent fails the fill too.
  producer->body = [](ScriptedProducer& p) {
    p.remainingDataOffset = 99;
    return true;
  };
  EXPECT_FALSE(fill(4).ok);
  producer->body = nullptr;
  producer->remainingDataOffset = 0;
  EXPECT_EQ(producer->initializeCalls, 2);
  EXPECT_EQ(fill(4).bytes, "a");
  EXPECT_EQ(producer->firstCalls, (std::vector<bool>{true, false, false}));
}

TEST_F(BufferedOutputTest, InconsistentOffsetIsAnInternalError) {
  script({});
  producer->remainingDataOffset = 5;
  EXPECT_FALSE(producer->putString("x"));
  EXPECT_TRUE(
      env.logged("getRemainingDataSize", "INTERNAL ERROR remainingDataOffset 5 > stringLength 0"));
  EXPECT_FALSE(fill(4).ok);
}

}  // namespace
}  // namespace clouddb_test
