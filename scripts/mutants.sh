#!/usr/bin/env bash
# Measures how many small faults the tests catch (the mutation tool that
# ships beside the project, ../shared/tools/mutants, or $MUTANTS), over:
#   the pipe and the driver, every candidate site;
#   the data utilities and the environments, every candidate site;
#   the tools: the host simulator, its buckets and the request layer, and the
#   table agent, a sample of $TOOL_SITES sites (default 160).
# Prints each group's kill rate per file and its surviving mutants. The
# library's groups leave out the tests against local servers (they add
# nothing there but time; a mutant they would kill counts as surviving), and
# give each test 20 seconds, since a mutant of the pipe often loops forever.
# Usage: scripts/mutants.sh [pipe|library|tools]...   (default: all three)
set -uo pipefail
cd "$(dirname "$0")/.."
mutants=${MUTANTS:-../shared/tools/mutants}
# The scratch copy of the tree has no npm packages of its own.
export CLOUDDB_TEST_NODE_MODULES=$PWD/tests/servers/node_modules
servers='InstalledLibraryConsumer|ToolUnits|MoverOnS3|MoverWithTables|MoverUnderWrites|MoverTableDemo'

for group in "${@:-pipe library tools}"; do
  case $group in
    pipe)
      "$mutants" --max 200 --timeout 20 --exclude "$servers" agent/OrbBufferedOutput.cc \
        agent/OrbBufferedInput.cc remotefile/CloudDatabaseRemoteFile.cc ;;
    library)
      "$mutants" --max 200 --timeout 20 --exclude "$servers" util/CloudDBUtil.cc agent/OrbFileStreams.cc \
        agent/OrbInterfaces.cc agent/OrbPrototypeEnvironment.cc agent/OrbLoggingEnvironment.cc ;;
    tools)
      "$mutants" --max "${TOOL_SITES:-160}" tools/mover/Mover.cc tools/mover/Bucket.cc \
        tools/mover/DirectoryBucket.cc tools/mover/S3Bucket.cc tools/mover/TableCommands.cc \
        tools/cloud/AwsClient.cc tools/cloud/AwsConfig.cc tools/cloud/S3Client.cc \
        tools/cloud/DynamoClient.cc tools/agents/DumpAgent.cc tools/agents/LineEscape.cc \
        tools/agents/TableScan.cc tools/agents/TableSchema.cc tools/agents/TableWrite.cc \
        tools/agents/StreamCapture.cc tools/agents/StreamReplay.cc ;;
    *)
      echo "unknown group: $group (pipe, library or tools)" >&2
      exit 2 ;;
  esac
done
