// The demo: generates a DynamoDB table dump, backs it up through the
// plug-in, restores it, compares the trees byte for byte and the item keys
// with keyString, and prints a summary.
#ifndef CLOUDDB_TOOLS_MOVER_DEMO_H_
#define CLOUDDB_TOOLS_MOVER_DEMO_H_

namespace mover {

struct DemoOptions {
  int items = 20000;
  long long limit = 262144;
};

// 0 when the restore is identical.
int runDemo(const DemoOptions& options);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_DEMO_H_
