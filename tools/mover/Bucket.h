// Where a backup lives: the cloud storage that the simulated data mover
// writes cloud files to. One small interface, one implementation per store:
//   DIR                  a local directory (DirectoryBucket.cc)
//   s3://NAME[/PREFIX]   objects under PREFIX in an S3 bucket (S3Bucket.cc)
// A new store is a new file and one line in openBucket.
//
// Objects are named by plain relative names ("part-000000", "manifest").
// An object appears under its name all at once, when its writer commits,
// replacing any older object of that name; before that nothing (or the
// older object) is visible. child() gives the bucket one level down, for a
// backup of several streams. list() names every object below the bucket,
// children's too; putNew() stores an object only when none of its name
// exists (a lock).
//
// A bucket object may be used by one thread at a time; buckets made with
// child() are independent of their parent. Every failure is false with one
// line naming the object; missing says that the object does not exist.
#ifndef CLOUDDB_TOOLS_MOVER_BUCKET_H_
#define CLOUDDB_TOOLS_MOVER_BUCKET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/cloud/AwsConfig.h"

namespace mover {

struct ObjectStat {
  uint64_t size = 0;
  // The store's own identity of the content (S3's ETag); empty for a store
  // that keeps none, whose objects must be read to be checked.
  std::string tag;
};

struct ListedEntry {
  std::string name;  // relative to the bucket: "manifest", "segment-0/part-000000"
  uint64_t size = 0;
  std::string tag;  // as ObjectStat's
};

class ObjectWriter {
 public:
  virtual ~ObjectWriter() = default;
  virtual bool append(const char* data, size_t size, std::string& error) = 0;
  // Makes the object visible; tag receives the store's identity of it.
  virtual bool commit(std::string& tag, std::string& error) = 0;
};

class ObjectReader {
 public:
  virtual ~ObjectReader() = default;
  // Up to size bytes into data; got is 0 at the end.
  virtual bool read(char* data, size_t size, size_t& got, std::string& error) = 0;
};

class Bucket {
 public:
  virtual ~Bucket() = default;

  // The object's full name for messages: a path or an s3:// URL.
  virtual std::string describe(const std::string& name) const = 0;
  virtual std::unique_ptr<ObjectWriter> create(const std::string& name, std::string& error) = 0;
  virtual std::unique_ptr<ObjectReader> open(const std::string& name, bool& missing,
                                             std::string& error) = 0;
  virtual bool stat(const std::string& name, ObjectStat& object, bool& missing,
                    std::string& error) = 0;
  virtual std::unique_ptr<Bucket> child(const std::string& name) const = 0;
  // Every object below the bucket, sorted by name; a store's unfinished
  // writes (a directory's "*.tmp" files) are listed too.
  virtual bool list(std::vector<ListedEntry>& objects, std::string& error) = 0;
  // A missing object is no error.
  virtual bool remove(const std::string& name, std::string& error) = 0;
  // Stores data as name only when no object of that name exists; false
  // with exists set when one does.
  virtual bool putNew(const std::string& name, const std::string& data, bool& exists,
                      std::string& error) = 0;

  // Whole objects at once, for manifests and metadata.
  bool put(const std::string& name, const std::string& data, std::string& error);
  bool get(const std::string& name, std::string& data, bool& missing, std::string& error);
};

bool isS3Location(const std::string& location);

// The bucket at location: a directory, or s3://NAME[/PREFIX] with the
// connection settings of the environment and the command line.
std::unique_ptr<Bucket> openBucket(const std::string& location,
                                   const cloud::ConfigOverrides& overrides, std::string& error);

std::unique_ptr<Bucket> openDirectoryBucket(const std::string& directory);
std::unique_ptr<Bucket> openS3Bucket(const std::string& location,
                                     const cloud::ConfigOverrides& overrides, std::string& error);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_BUCKET_H_
