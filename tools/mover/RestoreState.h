// Where an interrupted restore into a table stands, so that
// `restore --resume` continues it rather than starting again.
//
// The state lives in a local file, one per backup location and target
// table: "$XDG_STATE_HOME/clouddb-mover/restore-{hash}" (XDG_STATE_HOME
// defaults to ~/.local/state), created owner-only. It holds whether the
// restore created the table (then the restored table's count is checked
// as for a new table) and, per part of the backup (a segment, the stream),
// how many of its cloud files were written completely and how many items of
// those had keys that the stream's records touch (the count check needs
// them). A file written twice after a resume is harmless: every write is a
// put of a whole item or the deletion of a key, and the stream's records are
// applied again in their order.
//
// The file is replaced whole (written aside, synced, renamed) on every
// record, so a kill leaves the old or the new state. Any thread may record;
// the object guards itself with mutex_. Failures are false with one line.
#ifndef CLOUDDB_TOOLS_MOVER_RESTORESTATE_H_
#define CLOUDDB_TOOLS_MOVER_RESTORESTATE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace mover {

class RestoreState {
 public:
  struct Progress {
    size_t files = 0;      // cloud files written completely, from the first
    uint64_t touched = 0;  // items among them whose keys the stream's records touch
  };

  // The state of a restore of the backup at location into table.
  RestoreState(const std::string& location, const std::string& table);

  const std::string& path() const { return path_; }

  // missing: no interrupted restore of this backup into this table.
  bool load(bool& missing, std::string& error);
  // Starts a new state; created says whether the restore created the table.
  bool start(bool created, std::string& error);
  bool record(const std::string& part, Progress progress, std::string& error);
  // The restore has finished: no state is kept.
  void finish();

  bool created() const { return created_; }
  Progress progress(const std::string& part) const;

 private:
  bool save(std::string& error) const;  // with mutex_ held

  std::string path_;
  std::string location_;
  std::string table_;
  mutable std::mutex mutex_;
  bool created_ = false;                   // guarded by mutex_
  std::map<std::string, Progress> parts_;  // guarded by mutex_
};

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_RESTORESTATE_H_
