// clouddb-mover: a host simulator that backs up and restores DynamoDB dumps
// through the clouddb plug-in, playing the data mover, into a local or S3
// bucket.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/agents/DumpAgent.h"
#include "tools/mover/Demo.h"
#include "tools/mover/Mover.h"

namespace {

int fail(const std::string& error) {
  std::fprintf(stderr, "clouddb-mover: error: %s\n", error.c_str());
  return 1;
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

void addCloudOptions(CLI::App* command, cloud::ConfigOverrides& cloud) {
  command->add_option("--endpoint-url", cloud.endpointUrl,
                      "Send AWS requests here (a local or S3-compatible server)");
  command
      ->add_option("--max-attempts", cloud.maxAttempts,
                   "Attempts per AWS request before giving up (default 8)")
      ->check(CLI::Range(1, 100));
}

void addStreamOptions(CLI::App* command, mover::StreamOptions& stream, const char* bufferHelp) {
  command->add_option("--buffer", stream.buffer, bufferHelp)
      ->capture_default_str()
      ->check(CLI::Range(size_t{1}, size_t{1} << 30));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Backs up and restores DynamoDB dumps through the clouddb plug-in"};
  app.name("clouddb-mover");
  app.require_subcommand(1);

  mover::BackupOptions backup;
  CLI::App* backupCommand = app.add_subcommand(
      "backup", "Back up SOURCE_DIR into BUCKET (a directory or s3://NAME/PREFIX)");
  backupCommand->add_option("SOURCE_DIR", backup.source, "Directory of dump files")
      ->required()
      ->check(CLI::ExistingDirectory);
  backupCommand->add_option("BUCKET", backup.bucket, "Where the cloud files go")->required();
  backupCommand
      ->add_option("--limit", backup.stream.limit, "Approximate cloud file size; 0: no limit")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  addStreamOptions(backupCommand, backup.stream, "Read buffer size");
  backupCommand->add_flag("--resume", backup.resume, "Continue an interrupted backup");
  backupCommand->add_option("--debug-copy", backup.debugCopy,
                            "Also write the whole backup stream to this file");
  backupCommand->add_option("--stop-after", backup.stream.stopAfter)->group("");  // for tests
  addCloudOptions(backupCommand, backup.cloud);

  mover::RestoreOptions restore;
  CLI::App* restoreCommand =
      app.add_subcommand("restore", "Restore the backup in BUCKET into TARGET_DIR");
  restoreCommand->add_option("BUCKET", restore.bucket, "A bucket written by backup")->required();
  restoreCommand->add_option("TARGET_DIR", restore.target, "Where the dump files go")->required();
  addStreamOptions(restoreCommand, restore.stream, "Write buffer size");
  addCloudOptions(restoreCommand, restore.cloud);

  mover::DemoOptions demo;
  CLI::App* demoCommand =
      app.add_subcommand("demo", "Back up and restore a generated table dump and compare");
  demoCommand->add_option("--items", demo.items, "Items in the generated table")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000000));
  demoCommand->add_option("--limit", demo.limit, "Approximate cloud file size; 0: no limit")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);

  CLI11_PARSE(app, argc, argv);
  // The driver's per-file debug lines only on request (EVDEBUG_LEVEL=1 or
  // more); errors are always shown.
  setenv("EVDEBUG_LEVEL", "0", 0);

  std::string error;
  mover::TransferResult result;
  if (*backupCommand) {
    mover::Progress progress(true, "backup");
    backup.stream.progress = &progress;
    warnAboutOtherFiles(backup.source);
    if (!mover::runBackup(backup, result, error)) return fail(error);
    if (result.stopped) {
      std::fprintf(stderr, "clouddb-mover: stopped after %zu cloud files\n", result.cloudFiles);
      return 3;
    }
    std::printf("backed up %llu bytes of dump files in %zu cloud files\n",
                static_cast<unsigned long long>(result.contentBytes), result.cloudFiles);
    return 0;
  }
  if (*restoreCommand) {
    mover::Progress progress(true, "restore");
    restore.stream.progress = &progress;
    if (!mover::runRestore(restore, result, error)) return fail(error);
    std::printf("restored %llu bytes of dump files from %zu cloud files\n",
                static_cast<unsigned long long>(result.contentBytes), result.cloudFiles);
    return 0;
  }
  return mover::runDemo(demo);
}
