#include "tools/mover/BucketLock.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace mover {
namespace {

const char kHeader[] = "clouddb-mover lock";

struct Holder {
  std::string host;
  long pid = 0;
  std::string started;

  std::string describe() const {
    return "host " + host + ", process " + std::to_string(pid) + ", since " + started;
  }
};

std::string hostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::string lockText() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char started[32];
  std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::random_device random;
  return std::string(kHeader) + "\nhost " + hostName() + "\npid " + std::to_string(getpid()) +
         "\nstarted " + started + "\ntoken " + std::to_string(random()) + std::to_string(random()) +
         "\n";
}

bool parseHolder(const std::string& text, Holder& holder) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return false;
  std::string field;
  while (in >> field) {
    if (field == "host") in >> holder.host;
    if (field == "pid") in >> holder.pid;
    if (field == "started") in >> holder.started;
  }
  return !holder.host.empty() && holder.pid > 0;
}

// Whether process pid of this host is a clouddb-mover that still runs.
bool running(long pid) {
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  return std::getline(comm, name) && name == "clouddb-mover";
}

// The lock read back must be ours.
bool readBack(Bucket& bucket, const std::string& text, std::string& error) {
  std::string stored;
  bool missing = false;
  if (!bucket.get(BucketLock::kName, stored, missing, error)) return false;
  if (stored == text) return true;
  Holder holder;
  error = bucket.describe("") + " is locked by " +
          (parseHolder(stored, holder) ? holder.describe() : "another writer") +
          ", which took the lock at the same time";
  return false;
}

}  // namespace

bool BucketLock::acquire(Bucket& bucket, bool takeOver, std::unique_ptr<BucketLock>& lock,
                         std::string& error) {
  const std::string text = lockText();
  bool exists = false;
  if (bucket.putNew(kName, text, exists, error)) {
    if (!readBack(bucket, text, error)) return false;
    lock.reset(new BucketLock(bucket, text));
    return true;
  }
  if (!exists) return false;
  std::string stored;
  bool missing = false;
  if (!bucket.get(kName, stored, missing, error)) return false;
  // A retried write whose first attempt took effect meets its own lock.
  if (stored == text) {
    lock.reset(new BucketLock(bucket, text));
    return true;
  }
  Holder holder;
  if (!parseHolder(stored, holder)) {
    error = "not a clouddb-mover lock: " + bucket.describe(kName);
    return false;
  }
  const bool ours = holder.host == hostName();
  if (!takeOver || (ours && running(holder.pid))) {
    error = bucket.describe("") + " is locked by " + holder.describe() +
            (takeOver ? ", which is still running"
                      : " (another backup runs into it; one that was killed is continued with "
                        "--resume)");
    return false;
  }
  if (!bucket.put(kName, text, error) || !readBack(bucket, text, error)) return false;
  lock.reset(new BucketLock(bucket, text));
  return true;
}

BucketLock::~BucketLock() {
  std::string stored;
  std::string error;
  bool missing = false;
  // Never remove a lock that another run has taken over.
  if (bucket_.get(kName, stored, missing, error) && stored == text_) bucket_.remove(kName, error);
}

}  // namespace mover
