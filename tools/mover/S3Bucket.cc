// A bucket under a prefix of an S3 bucket. A cloud file object is collected
// in memory and goes up in one PUT when committed (a PUT replaces an object
// atomically, so no temporary name is needed); reading gets the whole
// object. Nothing is staged on local disk.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "tools/cloud/S3Client.h"
#include "tools/mover/Bucket.h"

namespace mover {
namespace {

class MemoryWriter : public ObjectWriter {
 public:
  MemoryWriter(const cloud::S3Client& client, std::string bucket, std::string key)
      : client_(client), bucket_(std::move(bucket)), key_(std::move(key)) {}

  bool append(const char* data, size_t size, std::string&) override {
    data_.append(data, size);
    return true;
  }

  bool commit(std::string& tag, std::string& error) override {
    return client_.putObject(bucket_, key_, data_, tag, error);
  }

 private:
  const cloud::S3Client& client_;
  std::string bucket_;
  std::string key_;
  std::string data_;
};

class MemoryReader : public ObjectReader {
 public:
  explicit MemoryReader(std::string data) : data_(std::move(data)) {}

  bool read(char* data, size_t size, size_t& got, std::string&) override {
    got = std::min(size, data_.size() - offset_);
    std::memcpy(data, data_.data() + offset_, got);
    offset_ += got;
    return true;
  }

 private:
  std::string data_;
  size_t offset_ = 0;
};

// What the buckets of one S3 bucket share: the client, and whether the
// bucket has been found to exist.
struct S3Connection {
  explicit S3Connection(cloud::ServiceConfig config) : client(std::move(config)) {}
  cloud::S3Client client;
  std::atomic<bool> bucketExists{false};
};

class S3Bucket : public Bucket {
 public:
  S3Bucket(std::shared_ptr<S3Connection> connection, std::string bucket, std::string prefix)
      : connection_(std::move(connection)),
        client_(&connection_->client),
        bucket_(std::move(bucket)),
        prefix_(std::move(prefix)) {}

  std::string describe(const std::string& name) const override {
    return "s3://" + bucket_ + "/" + key(name);
  }

  std::unique_ptr<ObjectWriter> create(const std::string& name, std::string&) override {
    return std::make_unique<MemoryWriter>(*client_, bucket_, key(name));
  }

  std::unique_ptr<ObjectReader> open(const std::string& name, bool& missing,
                                     std::string& error) override {
    std::string data;
    if (!client_->getObject(bucket_, key(name), data, missing, error)) {
      if (missing) noSuchObject(name, missing, error);
      return nullptr;
    }
    return std::make_unique<MemoryReader>(std::move(data));
  }

  bool stat(const std::string& name, ObjectStat& object, bool& missing,
            std::string& error) override {
    if (client_->headObject(bucket_, key(name), object.size, object.tag, missing, error)) {
      return true;
    }
    if (missing) noSuchObject(name, missing, error);
    return false;
  }

  std::unique_ptr<Bucket> child(const std::string& name) const override {
    return std::make_unique<S3Bucket>(connection_, bucket_, key(name));
  }

  bool list(std::vector<ListedEntry>& objects, std::string& error) override {
    const std::string prefix = prefix_.empty() ? "" : prefix_ + "/";
    std::vector<cloud::ListedObject> listed;
    if (!client_->listObjects(bucket_, prefix, listed, error)) return false;
    objects.clear();
    for (const cloud::ListedObject& object : listed) {
      objects.push_back({object.key.substr(prefix.size()), object.size, object.etag});
    }
    return true;
  }

  bool remove(const std::string& name, std::string& error) override {
    return client_->deleteObject(bucket_, key(name), error);
  }

  bool putNew(const std::string& name, const std::string& data, bool& exists,
              std::string& error) override {
    return client_->putNewObject(bucket_, key(name), data, exists, error);
  }

 private:
  // A missing object is only missing when its bucket exists and the server
  // is S3; S3 says no more than 404 to a HEAD of either.
  void noSuchObject(const std::string& name, bool& missing, std::string& error) {
    if (!connection_->bucketExists && !client_->checkBucket(bucket_, error)) {
      missing = false;
      return;
    }
    connection_->bucketExists = true;
    error = "no such object: " + describe(name);
  }

  std::string key(const std::string& name) const {
    return prefix_.empty() ? name : prefix_ + "/" + name;
  }

  std::shared_ptr<S3Connection> connection_;
  const cloud::S3Client* client_;
  std::string bucket_;
  std::string prefix_;
};

}  // namespace

std::unique_ptr<Bucket> openS3Bucket(const std::string& location,
                                     const cloud::ConfigOverrides& overrides, std::string& error) {
  // s3://NAME[/PREFIX], slashes around the prefix ignored
  std::string path = location.substr(std::strlen("s3://"));
  const size_t slash = path.find('/');
  const std::string bucket = path.substr(0, slash);
  std::string prefix = slash == std::string::npos ? "" : path.substr(slash + 1);
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
  if (bucket.empty()) {
    error = "no bucket name in " + location + " (expected s3://NAME[/PREFIX])";
    return nullptr;
  }
  cloud::ServiceConfig config;
  if (!cloud::loadServiceConfig(cloud::Service::kS3, overrides, config, error)) return nullptr;
  return std::make_unique<S3Bucket>(std::make_shared<S3Connection>(config), bucket, prefix);
}

}  // namespace mover
