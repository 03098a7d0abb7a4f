// Runs the buffered input's self-check with a fixed seed; CTest looks for
// "Test passed." in its output.
#include <memory>
#include <random>

#include "TestSupport.h"

int main() {
  clouddb_test::RecordingEnvironment env;
  TestBufferedInput check("self-check", env, std::make_shared<std::mt19937>(20261205),
                          std::make_shared<std::uniform_int_distribution<int32_t>>(0, 400));
  check.test();
  return 0;
}
