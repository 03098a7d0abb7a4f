// clouddb-mover: a host simulator that backs up and restores DynamoDB
// tables and table dumps through the clouddb plug-in, playing the data
// mover, into a local or S3 bucket.
#include <malloc.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "tools/agents/DumpAgent.h"
#include "tools/agents/Names.h"
#include "tools/mover/Demo.h"
#include "tools/mover/Mover.h"
#include "tools/mover/TableCommands.h"

namespace {

constexpr int kMappedBytes = 128 * 1024;

int fail(const std::string& error) {
  std::fprintf(stderr, "clouddb-mover: error: %s\n", error.c_str());
  return 1;
}

// The exit status of a backup stopped early (--stop-after).
int stopped(size_t cloudFiles) {
  std::fprintf(stderr, "clouddb-mover: stopped after %zu cloud files\n", cloudFiles);
  return 3;
}

// Files that are not dump files are not backed up; say so.
void warnAboutOtherFiles(const std::string& directory) {
  mover::FileIdentity identity;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || !mover::identifyDumpFile(name, identity)) {
      std::fprintf(stderr, "clouddb-mover: warning: not a dump file, not backed up: %s\n",
                   name.c_str());
    }
  }
}

const char kTableOnly[] = "Tables (dynamodb://TABLE)";
const char kDirectoryOnly[] = "Dump directories";

void addCloudOptions(CLI::App* command, cloud::ConfigOverrides& cloud) {
  command->add_option("--endpoint-url", cloud.endpointUrl,
                      "Send AWS requests to this URL (a local or AWS-compatible server)");
  command
      ->add_option("--max-attempts", cloud.maxAttempts,
                   "Attempts per AWS request before giving up (default: the retry mode's)")
      ->check(CLI::Range(1, 100));
  command
      ->add_option("--retry-mode", cloud.retryMode,
                   "legacy (default: 8 attempts), standard (3) or adaptive (3, and a rate that "
                   "throttling lowers)")
      ->check(CLI::IsMember({"legacy", "standard", "adaptive"}));
  command
      ->add_option("--request-timeout", cloud.requestSeconds,
                   "Seconds an AWS request may take in all (default 60; a second more per MB of "
                   "an object)")
      ->check(CLI::Range(1, 86400));
  command
      ->add_option("--stall-timeout", cloud.stallSeconds,
                   "Seconds an AWS request may wait for a byte (default 10)")
      ->check(CLI::Range(1, 3600));
}

void addBuffer(CLI::App* command, mover::StreamOptions& stream, const char* help) {
  command->add_option("--buffer", stream.buffer, help)
      ->capture_default_str()
      ->check(CLI::Range(size_t{1}, size_t{1} << 30));
}

void addSegments(CLI::App* command, int& segments) {
  command->add_option("--segments", segments, "Parallel scan segments of the table")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000))
      ->group(kTableOnly);
}

// What every command that talks to AWS reads from the environment.
const char kEnvironmentHelp[] =
    "AWS settings come from the environment, as AWS's own tools read them:\n"
    "  AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN  credentials\n"
    "  AWS_REGION (else AWS_DEFAULT_REGION, else us-east-1)          region\n"
    "  AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL_DYNAMODB,\n"
    "  AWS_ENDPOINT_URL_DYNAMODB_STREAMS, AWS_ENDPOINT_URL           endpoints (--endpoint-url "
    "first)\n"
    "  AWS_MAX_ATTEMPTS                                              attempts (--max-attempts "
    "first)\n"
    "  AWS_RETRY_MODE                                                retry mode (--retry-mode "
    "first)\n"
    "A BUCKET is a local directory or s3://NAME[/PREFIX].";

double mebibytes(uint64_t bytes) { return bytes / 1048576.0; }

int backupDirectory(mover::BackupOptions& backup) {
  std::error_code code;
  if (!std::filesystem::is_directory(backup.source, code)) {
    return fail("no such directory: " + backup.source);
  }
  mover::Progress progress(true, "backup");
  backup.stream.progress = &progress;
  warnAboutOtherFiles(backup.source);
  mover::TransferResult result;
  std::string error;
  if (!mover::runBackup(backup, result, error)) return fail(error);
  if (result.stopped) return stopped(result.cloudFiles);
  std::printf("backed up %llu bytes of dump files in %zu cloud files\n",
              static_cast<unsigned long long>(result.contentBytes), result.cloudFiles);
  return 0;
}

// Test hook: with CLOUDDB_MOVER_HOLD_AFTER_SCAN=PATH a table backup creates
// PATH.scanned once its scan has finished and waits until PATH exists, so
// that a test's writer can stop between the scan and the consistency point,
// or a second backup can meet this one's lock.
void holdAfterScan() {
  const char* path = std::getenv("CLOUDDB_MOVER_HOLD_AFTER_SCAN");
  if (path == nullptr) return;
  std::ofstream(std::string(path) + ".scanned").put('\n');
  while (!std::filesystem::exists(path)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int backupTable(mover::TableOptions& options) {
  options.afterScan = holdAfterScan;
  mover::Progress progress(true, "backup");
  options.stream.progress = &progress;
  mover::TableResult result;
  std::string error;
  if (!mover::runTableBackup(options, result, error)) return fail(error);
  if (result.stopped) return stopped(result.cloudFiles);
  std::printf(
      "backed up %llu items and %llu stream records of %s in %d segments, %zu cloud "
      "files, %.2f MiB; %s",
      static_cast<unsigned long long>(result.items),
      static_cast<unsigned long long>(result.records), options.table.c_str(), result.segments,
      result.totalCloudFiles, mebibytes(result.totalBytes), result.consistency.c_str());
  if (options.resume) {
    std::printf(" (this run: %zu cloud files, %.2f MiB)", result.cloudFiles,
                mebibytes(result.streamBytes));
  }
  std::printf("; read back and verified in %.3f s\n", result.verifySeconds);
  return 0;
}

int restore(const std::string& bucket, const std::string& target, mover::TableOptions& options) {
  mover::Progress progress(true, "restore");
  options.stream.progress = &progress;
  std::string error;
  bool table = false;
  if (!mover::holdsTableBackup(bucket, options.cloud, table, error)) return fail(error);
  if (options.resume && !mover::isTableLocation(target)) {
    return fail("--resume continues a restore into a table; a directory is restored anew");
  }
  if (!table && !mover::isTableLocation(target)) {
    mover::RestoreOptions restore{bucket, target, options.force, options.stream, options.cloud};
    mover::TransferResult result;
    if (!mover::runRestore(restore, result, error)) return fail(error);
    std::printf("restored %llu bytes of dump files from %zu cloud files\n",
                static_cast<unsigned long long>(result.contentBytes), result.cloudFiles);
    return 0;
  }
  options.table = mover::isTableLocation(target) ? mover::tableOf(target) : "";
  options.location = target;
  mover::TableResult result;
  if (!mover::runTableRestore(bucket, options, result, error)) return fail(error);
  if (options.table.empty()) {
    std::printf("restored %llu items in %d segment files into %s\n",
                static_cast<unsigned long long>(result.items), result.segments, target.c_str());
  } else {
    std::printf(
        "restored %llu items and replayed %llu stream records into %s, which now holds "
        "%llu items (%s)",
        static_cast<unsigned long long>(result.items),
        static_cast<unsigned long long>(result.records), options.table.c_str(),
        static_cast<unsigned long long>(result.counted), result.consistency.c_str());
    if (options.verify) {
      std::printf("; %llu items read back and equal to the backup",
                  static_cast<unsigned long long>(result.verified));
    }
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Scan pages and cloud files are large and short-lived: mapped and given
  // back whole, rather than carved from the threads' heaps, which would
  // fragment and grow with the table.
  mallopt(M_MMAP_THRESHOLD, kMappedBytes);
  // Everything written locally (buckets, restores, dumps, the debug copy and
  // log) is table data: owner-only, whatever the umask.
  umask(077);
  CLI::App app{"Backs up and restores DynamoDB tables and dumps through the clouddb plug-in"};
  app.name("clouddb-mover");
  app.require_subcommand(1);
  app.set_version_flag("--version", "clouddb-mover " CLOUDDB_VERSION);
  // A usage error is one line, like every other failure.
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "clouddb-mover: error: " + std::string(e.what()) + " (see --help)\n";
  });
  app.footer(kEnvironmentHelp);

  std::string source;
  std::string bucket;
  mover::BackupOptions backup;
  mover::TableOptions table;
  CLI::App* backupCommand = app.add_subcommand(
      "backup", "Back up SOURCE (a dump directory or dynamodb://TABLE) into BUCKET");
  backupCommand->add_option("SOURCE", source, "A dump directory or dynamodb://TABLE")->required();
  backupCommand->add_option("BUCKET", bucket, "A directory or s3://NAME[/PREFIX]")->required();
  backupCommand
      ->add_option("--limit", table.stream.limit,
                   "Approximate cloud file size in bytes; a cloud file holds at least one "
                   "--buffer (unless the backup ends first); 0: one cloud file (directories only)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  addBuffer(backupCommand, table.stream, "The data mover's read buffer in bytes");
  backupCommand->add_flag("--resume", table.resume,
                          "Continue an interrupted backup from its last stored cloud file");
  addSegments(backupCommand, table.segments);
  backupCommand
      ->add_flag("--no-stream", table.noStream, "Scan only, even when the table has a stream")
      ->group(kTableOnly);
  backupCommand
      ->add_option("--debug-copy", backup.debugCopy, "Also write the whole backup stream to a file")
      ->group(kDirectoryOnly);
  backupCommand->add_option("--stop-after", table.stream.stopAfter)->group("");  // for tests
  addCloudOptions(backupCommand, table.cloud);

  std::string target;
  CLI::App* restoreCommand = app.add_subcommand(
      "restore", "Restore the backup in BUCKET into TARGET (a directory or dynamodb://TABLE)");
  restoreCommand->add_option("BUCKET", bucket, "A bucket written by backup")->required();
  restoreCommand->add_option("TARGET", target, "A directory or dynamodb://TABLE")->required();
  addBuffer(restoreCommand, table.stream, "The data mover's write buffer in bytes");
  restoreCommand
      ->add_flag("--into-existing", table.intoExisting,
                 "Write into a table that already holds items")
      ->group(kTableOnly);
  restoreCommand
      ->add_flag("--verify", table.verify,
                 "Read every restored item back (BatchGetItem) and compare it with the backup")
      ->group(kTableOnly);
  restoreCommand
      ->add_flag("--resume", table.resume,
                 "Continue an interrupted restore into a table from its last written cloud files")
      ->group(kTableOnly);
  restoreCommand
      ->add_flag("--force", table.force, "Restore into a directory that already holds files")
      ->group("Directories");
  addCloudOptions(restoreCommand, table.cloud);

  CLI::App* dumpCommand = app.add_subcommand(
      "dump", "Dump dynamodb://TABLE into DIR as the directory environment's files");
  dumpCommand->add_option("TABLE", source, "dynamodb://TABLE")->required();
  dumpCommand->add_option("DIR", target, "Where the files go")->required();
  addSegments(dumpCommand, table.segments);
  dumpCommand
      ->add_flag("--no-stream", table.noStream, "Scan only, even when the table has a stream")
      ->group(kTableOnly);
  addCloudOptions(dumpCommand, table.cloud);

  mover::DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand(
      "demo", "Back up a generated table from a local server, restore it and compare");
  demoCommand->add_option("--items", demo.items, "Items in the generated table")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000000));
  demoCommand
      ->add_option("--limit", demo.limit, "Approximate cloud file size in bytes; 0: no limit")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  addSegments(demoCommand, demo.segments);
  demoCommand->add_option("--endpoint-url", demo.endpoint,
                          "Use this DynamoDB server instead of starting moto_server");
  demoCommand->add_flag("--dump-directory", demo.dumpDirectory,
                        "Back up a generated dump directory instead of a table");
  for (CLI::App* command : {backupCommand, restoreCommand, dumpCommand}) {
    command->footer(kEnvironmentHelp);
  }

  const std::string first = argc > 1 ? argv[1] : "-";
  if (first[0] != '-' && first != "backup" && first != "restore" && first != "dump" &&
      first != "demo") {
    return fail("unknown command " + first +
                " (the commands are backup, restore, dump and demo; see --help)");
  }
  CLI11_PARSE(app, argc, argv);
  // The driver's per-file debug lines only on request (EVDEBUG_LEVEL=1 or
  // more); errors are always shown.
  setenv("EVDEBUG_LEVEL", "0", 0);

  for (const std::string* location : {&source, &target}) {
    if (mover::isTableLocation(*location) && !mover::isTableName(mover::tableOf(*location))) {
      return fail("not a DynamoDB table name (3 to 255 of a-z, A-Z, 0-9, _, - and .): " +
                  *location);
    }
  }
  if (*backupCommand && mover::isTableLocation(source)) {
    table.segmentsGiven = backupCommand->get_option("--segments")->count() > 0;
    table.table = mover::tableOf(source);
    table.location = bucket;
    return backupTable(table);
  }
  if (*backupCommand) {
    backup.source = source;
    backup.bucket = bucket;
    backup.resume = table.resume;
    backup.stream = table.stream;
    backup.cloud = table.cloud;
    return backupDirectory(backup);
  }
  if (*restoreCommand) return restore(bucket, target, table);
  if (*dumpCommand) {
    if (!mover::isTableLocation(source)) return fail("dump takes dynamodb://TABLE, not " + source);
    table.table = mover::tableOf(source);
    table.location = target;
    mover::TableResult result;
    std::string error;
    if (!mover::runTableDump(table, result, error)) return fail(error);
    std::printf("dumped %llu items and %llu stream records of %s into %s; %s\n",
                static_cast<unsigned long long>(result.items),
                static_cast<unsigned long long>(result.records), table.table.c_str(),
                target.c_str(), result.consistency.c_str());
    return 0;
  }
  return mover::runDemo(demo);
}
