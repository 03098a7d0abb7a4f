#include "agent/TestBufferedInput.h"

#include <algorithm>
#include <cstring>
#include <iostream>

namespace {

constexpr int kLines = 500;

}  // namespace

TestBufferedInput::TestBufferedInput(
    const std::string& name, OrbEnvironment& environment, std::shared_ptr<std::mt19937> engine,
    std::shared_ptr<std::uniform_int_distribution<int32_t>> lengthDistribution)
    : OrbBufferedInput(name, environment),
      engine(std::move(engine)),
      lengthDistribution(std::move(lengthDistribution)),
      lineSource{},
      feedBuffer{},
      feedCount(0) {}

TestBufferedInput::~TestBufferedInput() = default;

void TestBufferedInput::test() {
  inputLengths.clear();
  outputLengths.clear();
  feedCount = 0;
  std::memset(lineSource, 'x', kLineSourceSize);
  lineSource[kLineSourceSize] = '\0';
  feedBuffer[kFeedSize] = '\0';

  for (int i = 0; i < kLines; ++i) {
    const int32_t length = (*lengthDistribution)(*engine);
    inputLengths.push_back(length);
    const int shown = std::clamp(length, 0, kLineSourceSize);
    std::cout << length << ": " << std::string(lineSource, shown) << std::endl;
    for (int32_t c = 0; c < length; ++c) addChar('x');
    addChar('\n');
  }
  if (feedCount != 0) processBuffer(feedBuffer, feedCount);
  closeChunk();
  report();
}

void TestBufferedInput::report() const {
  if (inputLengths == outputLengths) {
    std::cout << "Test passed." << std::endl;
    return;
  }
  std::cout << "Inputs size " << inputLengths.size() << std::endl;
  std::cout << "Outputs size " << outputLengths.size() << std::endl;
  for (size_t i = 0; i < inputLengths.size(); ++i) {
    std::cout << "Input " << i + 1 << " is " << inputLengths[i] << std::endl;
  }
  for (size_t i = 0; i < outputLengths.size(); ++i) {
    std::cout << "Output " << i + 1 << " is " << outputLengths[i] << std::endl;
  }
}

bool TestBufferedInput::addChar(char byte) {
  feedBuffer[feedCount++] = byte;
  if (feedCount < kFeedSize) return true;
  feedCount = 0;
  return processBuffer(feedBuffer, kFeedSize);
}

bool TestBufferedInput::initializeRestore() { return true; }

bool TestBufferedInput::startRestore(bool) {
  std::string line;
  while (getLine(line)) {
    std::cout << "Line length " << line.size() << " and value: " << line << std::endl;
    outputLengths.push_back(static_cast<int32_t>(line.size()));
  }
  return true;
}
