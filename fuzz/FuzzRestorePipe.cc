// The restore pipe: input text cut at fuzzed points into buffers and chunks
// through WriteFile and CloseFile gives exactly the lines of a plain
// reference splitter, chunk by chunk.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "agent/OrbEnvironment.h"
#include "remotefile/CloudDBRemoteFileFactory.h"

namespace {

class Collector : public OrbBufferedInput {
 public:
  explicit Collector(OrbEnvironment& env) : OrbBufferedInput("fuzz", env) {}
  bool initializeRestore() override { return true; }
  bool startRestore(bool) override {
    std::string line;
    while (getLine(line)) lines.push_back(line);
    return true;
  }
  std::vector<std::string> lines;
};

// The lines of a chunk up to its last line feed, each without its line feed
// and one carriage return before it.
void referenceLines(const std::string& chunk, std::vector<std::string>& lines) {
  size_t start = 0;
  for (size_t feed; (feed = chunk.find('\n', start)) != std::string::npos; start = feed + 1) {
    std::string line = chunk.substr(start, feed - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint32_t chunks = 1 + input.upTo(4);
  QuietEnvironment env;
  auto collector = std::make_shared<Collector>(env);
  CloudDBRemoteFileFactory factory;
  factory.input = collector;
  std::vector<std::string> expected;
  for (uint32_t c = 0; c < chunks; ++c) {
    const std::string chunk = input.bytes(input.upTo(3000));
    referenceLines(chunk, expected);
    std::shared_ptr<MXBaseRemoteFile> driver =
        factory.createObject(CloudConnectionDetails(), "", 0);
    if (!driver->CreateCloudFile("chunk", MXRFInfo())) std::abort();
    // Buffer sizes come from the input (0 included); once it is used up the
    // rest of the chunk goes in one buffer.
    for (size_t at = 0; at < chunk.size();) {
      const size_t length = input.empty() ? chunk.size() - at : input.upTo(300);
      std::string buffer = chunk.substr(at, length);
      if (!driver->WriteFile(buffer.data(), static_cast<long long>(buffer.size()))) std::abort();
      at += buffer.size();
    }
    if (!driver->CloseFile()) std::abort();
  }
  if (collector->lines != expected) std::abort();
  return 0;
}
