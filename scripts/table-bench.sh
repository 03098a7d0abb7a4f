#!/usr/bin/env bash
# The table backup's figures against a local DynamoDB server (dynalite), all
# measured in one run: a backup of a 200,000-item table in 4 segments
# against a bare parallel scan of it through the same client; against the
# AWS command line's parallel scan into files; and the tool's maximum
# resident memory for 20,000 and for 200,000 items.
# Usage: table-bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-5}
cd "$(dirname "$0")/.."
source tests/servers/servers.sh
mover=$build/tools/clouddb-mover
helper=$build/bench/clouddb_table_bench
endpoint=$(start_dynalite)
work=$server_work/bench

echo "filling tables of 20,000 and 200,000 items (dynalite on $endpoint)..." >&2
"$helper" fill "$endpoint" items-20k 20000
"$helper" fill "$endpoint" items-200k 200000

seconds() {  # seconds COMMAND...: wall time of one run; its output in $work/last.out
  local start end
  start=$(date +%s.%N)
  "$@" > "$work/last.out"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

backup() {  # backup TABLE: into a fresh bucket
  rm -rf "$work/bucket"
  "$mover" backup "dynamodb://$1" "$work/bucket" --segments 4 --endpoint-url "$endpoint"
}

aws_scan() {  # what a user would script: four aws scans in parallel, into files
  local pids=()
  for segment in 0 1 2 3; do
    aws dynamodb scan --table-name items-200k --segment $segment --total-segments 4 \
      --endpoint-url "$endpoint" > "$work/aws-$segment.json" &
    pids+=($!)
  done
  wait "${pids[@]}"
}

mkdir -p "$work"
# A first pass warms the server; then the two alternate, run by run.
"$helper" scan "$endpoint" items-200k 4 > /dev/null
bare=() full=() verify=()
for _ in $(seq "$runs"); do
  bare+=("$(seconds "$helper" scan "$endpoint" items-200k 4)")
  full+=("$(seconds backup items-200k)")
  verify+=("$(sed -n 's/.*read back and verified in \([0-9.]*\) s$/\1/p' "$work/last.out")")
done
bare_s=$(printf '%s\n' "${bare[@]}" | median)
backup_s=$(printf '%s\n' "${full[@]}" | median)
verify_s=$(printf '%s\n' "${verify[@]}" | median)
aws_s=$(seconds aws_scan)
rss_small=$( { /usr/bin/time -f %M "$mover" backup dynamodb://items-20k "$work/rss-small" \
  --segments 4 --endpoint-url "$endpoint" > /dev/null; } 2>&1 | tail -n 1)
rss_large=$( { /usr/bin/time -f %M "$mover" backup dynamodb://items-200k "$work/rss-large" \
  --segments 4 --endpoint-url "$endpoint" > /dev/null; } 2>&1 | tail -n 1)

ratio() { echo "scale=3; $1 / $2" | bc; }
meets() { [ "$(echo "$1 <= $2" | bc)" -eq 1 ] && echo yes || echo NO; }
backup_ratio=$(ratio "$backup_s" "$bare_s")
aws_ratio=$(ratio "$backup_s" "$aws_s")
rss_ratio=$(ratio "$rss_large" "$rss_small")
printf '%-52s %10s %8s %8s %5s\n' figure value ratio target met
printf '%-52s %9.3fs\n' "bare parallel scan, 200,000 items, 4 segments" "$bare_s"
printf '%-52s %9.3fs %8s %8s %5s\n' "backup of the same table (median of $runs)" "$backup_s" \
  "$backup_ratio" "<= 1.15" "$(meets "$backup_ratio" 1.15)"
verify_ratio=$(ratio "$verify_s" "$backup_s")
printf '%-52s %9.3fs %8s %8s %5s\n' "its read-back verification pass (median)" "$verify_s" \
  "$verify_ratio" "<= .05" "$(meets "$verify_ratio" 0.05)"
printf '%-52s %9.3fs %8s %8s %5s\n' "aws dynamodb scan, 4 in parallel, into files" "$aws_s" \
  "$aws_ratio" "< 1" "$(meets "$aws_ratio" 0.999)"
printf '%-52s %8sKiB\n' "maximum RSS of the backup, 20,000 items" "$rss_small"
printf '%-52s %8sKiB %8s %8s %5s\n' "maximum RSS of the backup, 200,000 items" "$rss_large" \
  "$rss_ratio" "<= 1.2" "$(meets "$rss_ratio" 1.2)"
