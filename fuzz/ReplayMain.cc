// Replays saved fuzzer inputs (files, or every file of a directory) through
// a fuzz target without libFuzzer, so that the regular and sanitizer builds
// check every seed and every input that ever failed; "--random N" adds N
// random inputs from a fixed seed, so the target's property is also checked
// on fresh data at every test run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

void replay(const std::string& data) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  long random = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--random" && i + 1 < argc) {
      random = std::atol(argv[++i]);
    } else if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (std::filesystem::exists(argv[i])) {
      inputs.push_back(argv[i]);
    }
  }
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    replay(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  std::mt19937 engine(20261205);
  for (long n = 0; n < random; ++n) {
    std::string data(engine() % 1024, '\0');
    for (char& c : data) c = static_cast<char>(engine());
    replay(data);
  }
  std::printf("replayed %zu saved and %ld random inputs\n", inputs.size(), random);
  return 0;
}
