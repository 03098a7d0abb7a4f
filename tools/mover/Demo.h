// The demos. The table demo starts a local server (moto_server) unless given
// one, fills a table with generated items of every attribute type, backs it
// up in segments through the plug-in, restores it into a new table and
// compares the two item for item. The dump-directory demo generates a table
// dump, backs it up, restores it and compares the trees byte for byte and
// the item keys with keyString. Both print a summary.
#ifndef CLOUDDB_TOOLS_MOVER_DEMO_H_
#define CLOUDDB_TOOLS_MOVER_DEMO_H_

#include <random>
#include <string>

namespace mover {

struct DemoOptions {
  int items = 1000;
  long long limit = 262144;
  int segments = 4;
  bool dumpDirectory = false;
  std::string endpoint;  // a server to use instead of starting one
};

// Base64 text of as many random bytes (the generated items' binary values).
std::string randomBase64(std::mt19937& random, size_t bytes);

// The demo that options choose; 0 when the restore is identical.
int runDemo(const DemoOptions& options);
int runTableDemo(const DemoOptions& options);
int runDumpDemo(const DemoOptions& options);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_DEMO_H_
