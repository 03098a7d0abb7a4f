// The helpers of the table benchmark (scripts/table-bench.sh):
//   clouddb_table_bench fill ENDPOINT TABLE ITEMS
//     creates TABLE (key pk) and writes ITEMS generated items of about 400
//     bytes on four threads;
//   clouddb_table_bench scan ENDPOINT TABLE SEGMENTS
//     the bare parallel scan that a table backup is measured against: the
//     same client and segments, every page parsed, the items discarded.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "tools/agents/TableSchema.h"
#include "tools/agents/TableWrite.h"
#include "tools/mover/Mover.h"

namespace {

const char kDefinition[] = R"({"KeySchema":[{"AttributeName":"pk","KeyType":"HASH"}],)"
                           R"("AttributeDefinitions":[{"AttributeName":"pk","AttributeType":"S"}],)"
                           R"("BillingMode":"PAY_PER_REQUEST"})";

constexpr int kThreads = 4;

std::string item(std::mt19937& random, int index) {
  std::string text(200, ' ');
  for (char& c : text) c = static_cast<char>('a' + random() % 26);
  return R"({"pk":{"S":"item-)" + std::to_string(index) + R"("},"n":{"N":")" +
         std::to_string(random() % 1000000) + R"("},"text":{"S":")" + text +
         R"("},"tags":{"SS":["a","b","c"]},"m":{"M":{"x":{"N":"1"},"y":{"L":[{"S":"z"},{"BOOL":true}]}}}})";
}

int fill(const cloud::DynamoClient& client, const std::string& table, int items) {
  mover::TableMetadata metadata;
  metadata.definition = kDefinition;
  std::string error;
  if (!mover::createTable(client, table, metadata, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const bool ok = mover::inParallel(
      kThreads,
      [&](int thread, std::string& failure) {
        std::mt19937 random(thread);
        mover::BatchWriter writer(client, table, {"pk"});
        for (int i = thread; i < items; i += kThreads) {
          if (!writer.put(item(random, i), failure)) return false;
        }
        return writer.flush(failure);
      },
      error);
  if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
  return ok ? 0 : 1;
}

int scan(const cloud::DynamoClient& client, const std::string& table, int segments) {
  const auto start = std::chrono::steady_clock::now();
  std::atomic<uint64_t> items{0};
  std::string error;
  const bool ok = mover::inParallel(
      segments,
      [&](int segment, std::string& failure) {
        std::string startKey;
        do {
          std::string request = "{\"TableName\":" + mover::jsonString(table) +
                                ",\"Segment\":" + std::to_string(segment) +
                                ",\"TotalSegments\":" + std::to_string(segments);
          if (!startKey.empty()) request += ",\"ExclusiveStartKey\":" + startKey;
          rapidjson::Document page;
          if (!client.call("Scan", request + "}", page, failure)) return false;
          items += page["Items"].Size();
          const auto last = page.FindMember("LastEvaluatedKey");
          startKey = last == page.MemberEnd() ? "" : cloud::toJson(last->value);
        } while (!startKey.empty());
        return true;
      },
      error);
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("scanned %llu items in %.3f s\n", static_cast<unsigned long long>(items.load()),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: clouddb_table_bench fill|scan ENDPOINT TABLE COUNT\n");
    return 2;
  }
  cloud::ConfigOverrides overrides;
  overrides.endpointUrl = argv[2];
  cloud::ServiceConfig config;
  std::string error;
  if (!cloud::loadServiceConfig(cloud::Service::kDynamoDb, overrides, config, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const cloud::DynamoClient client(config);
  const std::string mode = argv[1];
  return mode == "fill" ? fill(client, argv[3], std::atoi(argv[4]))
                        : scan(client, argv[3], std::atoi(argv[4]));
}
