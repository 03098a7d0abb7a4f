#!/usr/bin/env bash
# Runs a test program with local AWS-API servers started for it and stopped
# afterwards (see servers.sh).
# Usage: run_with_servers.sh PROGRAM [ARGS...]
set -uo pipefail
source "$(dirname "$0")/servers.sh"
with_servers "$@"
