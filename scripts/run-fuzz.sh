#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for
# FUZZ_SECONDS (default 60), with FUZZ_JOBS parallel jobs (default: one per
# core). New corpus entries stay in the build folder;
# every failing input is saved under fuzz/regressions/TARGET/, where the
# regular test suite replays it. Prints executions and findings per target
# and fails when anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(FuzzBackupPipe FuzzRestorePipe FuzzKeyString FuzzTextUtils FuzzStoredBackup)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCLOUDDB_FUZZ=ON > /dev/null || exit 1
cmake --build "$build" || exit 1

jobs=${FUZZ_JOBS:-$(nproc)}
root=$(pwd)
findings=0
rows=()
for target in "${targets[@]}"; do
  corpus=$root/$build/corpus/$target
  regressions=$root/fuzz/regressions/$target
  logs=$root/$build/logs/$target
  rm -rf "$logs"
  mkdir -p "$corpus" "$regressions" "$logs"
  extra=()
  [ -f "fuzz/$target.dict" ] && extra+=(-dict="$root/fuzz/$target.dict")
  # A pipe script of 1 KiB already drives thousands of calls; edge coverage
  # without hit counts keeps them at tens of thousands of runs a second.
  [[ $target == *Pipe ]] && extra+=(-max_len=1024 -use_counters=0)
  before=$(ls "$regressions" | wc -l)
  # One job per core, each for the whole time; their executions add up.
  (cd "$logs" && "$root/$build/fuzz/$target" "${extra[@]}" -jobs="$jobs" -workers="$jobs" \
    -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$regressions/" "$corpus" "$root/fuzz/corpus/$target" > /dev/null 2>&1)
  executions=$(cat "$logs"/fuzz-*.log | awk '/stat::number_of_executed_units/ { n += $2 } END { print n + 0 }')
  found=$(( $(ls "$regressions" | wc -l) - before ))
  if [ "$found" -ne 0 ] || grep -q "^SUMMARY: " "$logs"/fuzz-*.log; then
    found=$(( found > 0 ? found : 1 ))
    findings=$((findings + found))
    echo "$target: finding, see $logs/ and $regressions/"
  fi
  rows+=("$(printf '%-16s %14s %10s %9s' "$target" "$executions" "$((executions / seconds))" "$found")")
done

printf '\n%-16s %14s %10s %9s\n' target executions exec/s findings
printf '%s\n' "${rows[@]}"
[ $findings -eq 0 ]
