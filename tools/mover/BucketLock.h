// One writer per backup: the object "lock" at the top of a backup's bucket,
// stored only when no lock is there (S3's conditional write If-None-Match,
// a directory's exclusive create) and read back, naming its holder: host,
// process id, start time. A second backup into a locked bucket refuses at
// once, naming the holder. A run that is killed leaves its lock behind;
// only a resumed backup takes such a lock over, and on this host only when
// its process is gone (a lock of another host is taken over as it is: the
// resume says that its run has ended). The lock is removed when the object
// that holds it is destroyed.
//
// A store that ignores the condition (s3rver does) replaces a lock instead:
// the read-back then finds the other writer's lock and refuses, which
// narrows the race to two writers that both read back their own lock
// before the other's write lands.
//
// One thread uses a lock; acquire's failures are false with one line.
#ifndef CLOUDDB_TOOLS_MOVER_BUCKETLOCK_H_
#define CLOUDDB_TOOLS_MOVER_BUCKETLOCK_H_

#include <memory>
#include <string>

#include "tools/mover/Bucket.h"

namespace mover {

class BucketLock {
 public:
  static constexpr const char* kName = "lock";

  // takeOver: a lock whose run has ended is taken over (--resume).
  static bool acquire(Bucket& bucket, bool takeOver, std::unique_ptr<BucketLock>& lock,
                      std::string& error);
  ~BucketLock();

  BucketLock(const BucketLock&) = delete;
  BucketLock& operator=(const BucketLock&) = delete;

 private:
  BucketLock(Bucket& bucket, std::string text) : bucket_(bucket), text_(std::move(text)) {}

  Bucket& bucket_;  // outlives the lock
  std::string text_;
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_BUCKETLOCK_H_
