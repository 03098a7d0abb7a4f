// clouddb-mover's table commands: a live DynamoDB table backed up through
// the plug-in in parallel scan segments, dumped to files, and restored into
// a table or a directory.
//
// A table backup holds "metadata.json" and "description.json" (written by
// the table agent through an environment), one stream per segment,
// "segment-{i}/", each with its cloud files and manifest, and, when the table
// has a stream with new images, the stream's records between the start of
// the backup and its consistency point in "stream/" (see StreamCapture.h).
// A restore into a table loads the items and then replays the records, so
// it gives the table as it stood at the consistency point. Every segment runs
// on its own thread with its own agent, factory, environment and bucket,
// as a host spreads streams; a resumed backup continues every unfinished
// segment from its last safe restart string.
//
// Each function runs on the calling thread and the threads it starts;
// failures are false with one line.
#ifndef CLOUDDB_TOOLS_MOVER_TABLECOMMANDS_H_
#define CLOUDDB_TOOLS_MOVER_TABLECOMMANDS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "tools/mover/Mover.h"

namespace mover {

// "dynamodb://TABLE"
bool isTableLocation(const std::string& location);
std::string tableOf(const std::string& location);

struct TableOptions {
  std::string table;     // dynamodb://TABLE without the scheme
  std::string location;  // the bucket (backup, restore) or directory (dump)
  int segments = 4;
  bool segmentsGiven = false;  // segments was given, not the default
  bool resume = false;
  bool intoExisting = false;
  bool force = false;     // restore into a directory that holds files
  bool verify = false;    // read every restored item back and compare it
  bool noStream = false;  // a scan only, even when the table has a stream
  // Called once the scan of a backup has finished, before the consistency
  // point of its stream is fixed.
  std::function<void()> afterScan;
  StreamOptions stream;
  cloud::ConfigOverrides cloud;
};

struct TableResult {
  uint64_t items = 0;        // scanned (backup, dump) or written (restore)
  uint64_t records = 0;      // stream records captured or replayed
  size_t cloudFiles = 0;     // moved by this run
  uint64_t streamBytes = 0;  // moved by this run
  // A backup's whole, over every run of it.
  size_t totalCloudFiles = 0;
  uint64_t totalBytes = 0;
  int segments = 0;
  double seconds = 0;
  double verifySeconds = 0;  // a backup's read-back pass
  bool stopped = false;
  std::string consistency;
  uint64_t counted = 0;   // restore into a table: items it holds afterwards
  uint64_t verified = 0;  // restore --verify: items read back and found equal
};

bool runTableBackup(const TableOptions& options, TableResult& result, std::string& error);
bool runTableDump(const TableOptions& options, TableResult& result, std::string& error);
// Restores the table backup in bucket into the table options.table when it
// is set, else into the directory options.location.
bool runTableRestore(const std::string& bucket, const TableOptions& options, TableResult& result,
                     std::string& error);

// Whether the bucket at location holds a table backup (rather than one of a
// dump directory).
bool holdsTableBackup(const std::string& location, const cloud::ConfigOverrides& overrides,
                      bool& table, std::string& error);

}  // namespace mover

#endif  // CLOUDDB_TOOLS_MOVER_TABLECOMMANDS_H_
