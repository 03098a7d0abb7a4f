#include "tools/mover/Bucket.h"

namespace mover {

bool Bucket::put(const std::string& name, const std::string& data, std::string& error) {
  std::unique_ptr<ObjectWriter> writer = create(name, error);
  std::string tag;
  return writer && writer->append(data.data(), data.size(), error) && writer->commit(tag, error);
}

bool Bucket::get(const std::string& name, std::string& data, bool& missing, std::string& error) {
  std::unique_ptr<ObjectReader> reader = open(name, missing, error);
  if (!reader) return false;
  data.clear();
  char chunk[64 * 1024];
  for (size_t got = 1; got > 0;) {
    if (!reader->read(chunk, sizeof chunk, got, error)) return false;
    data.append(chunk, got);
  }
  return true;
}

bool isS3Location(const std::string& location) { return location.rfind("s3://", 0) == 0; }

std::unique_ptr<Bucket> openBucket(const std::string& location,
                                   const cloud::ConfigOverrides& overrides, std::string& error) {
  if (isS3Location(location)) return openS3Bucket(location, overrides, error);
  return openDirectoryBucket(location);
}

}  // namespace mover
