// clouddb-mover: a host simulator that backs up and restores a directory of
// DynamoDB dump files through the clouddb plug-in, playing the data mover.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/mover/Demo.h"
#include "tools/mover/DumpAgent.h"
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Backs up and restores DynamoDB dump files through the clouddb plug-in"};
  app.name("clouddb-mover");
  app.require_subcommand(1);

  mover::BackupOptions backup;
  CLI::App* backupCommand = app.add_subcommand("backup", "Back up SOURCE_DIR into BUCKET_DIR");
  backupCommand->add_option("SOURCE_DIR", backup.source, "Directory of dump files")
      ->required()
      ->check(CLI::ExistingDirectory);
  backupCommand->add_option("BUCKET_DIR", backup.bucket, "Where the cloud files go")->required();
  backupCommand->add_option("--limit", backup.limit, "Approximate cloud file size; 0: no limit")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  backupCommand->add_option("--buffer", backup.buffer, "Read buffer size")
      ->capture_default_str()
      ->check(CLI::Range(size_t{1}, size_t{1} << 30));
  backupCommand->add_flag("--resume", backup.resume, "Continue an interrupted backup");
  backupCommand->add_option("--debug-copy", backup.debugCopy,
                            "Also write the whole backup stream to this file");
  backupCommand->add_option("--stop-after", backup.stopAfter)->group("");  // for tests

  mover::RestoreOptions restore;
  CLI::App* restoreCommand =
      app.add_subcommand("restore", "Restore the backup in BUCKET_DIR into TARGET_DIR");
  restoreCommand->add_option("BUCKET_DIR", restore.bucket, "A bucket written by backup")
      ->required()
      ->check(CLI::ExistingDirectory);
  restoreCommand->add_option("TARGET_DIR", restore.target, "Where the dump files go")->required();
  restoreCommand->add_option("--buffer", restore.buffer, "Write buffer size")
      ->capture_default_str()
      ->check(CLI::Range(size_t{1}, size_t{1} << 30));

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
    backup.progress = true;
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
    restore.progress = true;
    if (!mover::runRestore(restore, result, error)) return fail(error);
    std::printf("restored %llu bytes of dump files from %zu cloud files\n",
                static_cast<unsigned long long>(result.contentBytes), result.cloudFiles);
    return 0;
  }
  return mover::runDemo(demo);
}
