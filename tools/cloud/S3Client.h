// The few S3 object operations that a backup bucket needs: put, get, head,
// list and delete of whole objects.
//
// Every PUT carries the body's MD5 (Content-MD5), which S3 checks before it
// stores anything, and the ETag that S3 answers (the MD5 of what it stored,
// for an object of one PUT) must be that same MD5: a body altered on the way
// or stored cut short fails the PUT (but for objects under a KMS key, whose
// ETag is no MD5). The local test servers do not check Content-MD5; the
// ETag comparison is what catches it there.
//
// With a custom endpoint (a local or S3-compatible server) objects are
// addressed path-style, http://host/bucket/key; against AWS itself
// virtual-hosted, https://bucket.s3.region.amazonaws.com/key, except for
// bucket names with dots, which TLS certificates do not cover. Payloads go
// unsigned (x-amz-content-sha256: UNSIGNED-PAYLOAD); the backup's own
// checksums guard their content.
//
// Thread-safe like AwsClient. Failures are false with one line; missing
// tells a missing object (or bucket) from other failures.
#ifndef CLOUDDB_TOOLS_CLOUD_S3CLIENT_H_
#define CLOUDDB_TOOLS_CLOUD_S3CLIENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cloud/AwsClient.h"

namespace cloud {

struct ListedObject {
  std::string key;
  uint64_t size = 0;
  std::string etag;
};

// The hexadecimal MD5 of data, as S3 gives it in an ETag (without quotes).
std::string md5Hex(std::string_view data);

class S3Client {
 public:
  explicit S3Client(ServiceConfig config);

  // etag receives the stored object's ETag, checked against the data.
  bool putObject(const std::string& bucket, const std::string& key, std::string_view data,
                 std::string& etag, std::string& error) const;
  // Stores the object only when none of that name exists (If-None-Match:
  // *); exists says that one did. A server that ignores the condition
  // replaces the object.
  bool putNewObject(const std::string& bucket, const std::string& key, std::string_view data,
                    bool& exists, std::string& error) const;
  // Every object whose key starts with prefix, in key order.
  bool listObjects(const std::string& bucket, const std::string& prefix,
                   std::vector<ListedObject>& objects, std::string& error) const;
  bool getObject(const std::string& bucket, const std::string& key, std::string& data,
                 bool& missing, std::string& error) const;
  bool headObject(const std::string& bucket, const std::string& key, uint64_t& size,
                  std::string& etag, bool& missing, std::string& error) const;
  bool deleteObject(const std::string& bucket, const std::string& key, std::string& error) const;
  // Whether bucket exists on a server that answers as S3 does (a listing
  // of no keys); false with a line that says which is not so.
  bool checkBucket(const std::string& bucket, std::string& error) const;

  // The URL of key in bucket; the key is percent-encoded except for "/".
  std::string objectUrl(const std::string& bucket, const std::string& key) const;

 private:
  Request request(const char* operation, const char* method, const std::string& bucket,
                  const std::string& key) const;
  bool put(Request& put, const std::string& bucket, const std::string& key, std::string_view data,
           Response& response, std::string& error) const;

  AwsClient client_;
};

}  // namespace cloud

#endif  // CLOUDDB_TOOLS_CLOUD_S3CLIENT_H_
