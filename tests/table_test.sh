#!/usr/bin/env bash
# clouddb-mover with a live table: backups in 1, 4 and 16 segments restored
# into new tables and compared item for item, against moto_server and
# dynalite; items of every attribute type, a hash-only and an indexed table,
# an empty table; dumps; kills and --resume; throttling, server errors,
# resets and slow answers through the fault proxy; every Scan failing, an
# answer that is not JSON; a non-empty target, a second backup into a bucket.
# Usage: table_test.sh PATH_TO_CLOUDDB_MOVER
set -uo pipefail
mover=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/servers/servers.sh"
work=$server_work

moto=$(start_moto) && dynalite=$(start_dynalite) || exit 1
faults=$(start_proxy "$dynalite" 0.2 throttle,error,reset,slow) &&
  scans_throttled=$(start_proxy "$dynalite" 1 throttle --only 'Scan$') &&
  garbled=$(start_proxy "$dynalite" 1 garbage --only 'DescribeTable$') &&
  unapplied=$(start_proxy "$dynalite" 1 unapplied --only 'BatchWriteItem$') &&
  flipped=$(start_proxy "$moto" 1 flip --only '^GET .*/part-') || exit 1
for endpoint in "$moto" "$dynalite"; do
  awsctl table-create "$endpoint" indexed-items indexed && awsctl table-fill "$endpoint" indexed-items 40 &&
    awsctl table-create "$endpoint" hash-items hash && awsctl table-fill "$endpoint" hash-items 30 &&
    awsctl table-create "$endpoint" empty-items hash || exit 1
done
awsctl s3-mb "$moto" backups || exit 1
small=(--limit 2048 --buffer 1024)

# round_trip ENDPOINT TABLE BUCKET TARGET OPTIONS...: backup into BUCKET,
# restore into the new table TARGET, read back by the restore itself
# (--verify), compare.
round_trip() {
  run "$mover" backup "dynamodb://$2" "$3" --endpoint-url "$1" "${@:5}" &&
    run "$mover" restore "$3" "dynamodb://$4" --endpoint-url "$1" --verify &&
    run awsctl table-compare "$1" "$2" "$4"
}

for server in moto dynalite; do
  endpoint=${!server}
  check_async "$server: indexed table, 4 segments" \
    round_trip "$endpoint" indexed-items "$work/$server-indexed" indexed-4
  check_async "$server: hash-only table, 1 segment" \
    round_trip "$endpoint" hash-items "$work/$server-hash-1" hash-1 --segments 1
  check_async "$server: hash-only table, 16 segments, small cloud files" \
    round_trip "$endpoint" hash-items "$work/$server-hash-16" hash-16 --segments 16 "${small[@]}"
  check_async "$server: empty table" round_trip "$endpoint" empty-items "$work/$server-empty" empty-4
done
# moto_server serves S3 and DynamoDB on one endpoint.
check_async "table backup in an S3 bucket" round_trip "$moto" indexed-items s3://backups/indexed from-s3
# Faults during the scan and during BatchWriteItem.
check_async "20% faults of every kind" \
  round_trip "$faults" hash-items "$work/faults" faults --segments 16 "${small[@]}"
check_async "adaptive retries through 20% faults of every kind" \
  round_trip "$faults" hash-items "$work/adaptive" adaptive --segments 4 "${small[@]}" \
  --retry-mode adaptive --max-attempts 8
check_async "the standard retry mode makes 3 attempts" \
  fails_with "Scan failed: HTTP 400 ThrottlingException: Rate of requests exceeds the allowed throughput. (after 3 attempts)" \
  env AWS_RETRY_MODE=standard "$mover" backup dynamodb://hash-items "$work/standard" \
  --endpoint-url "$scans_throttled" --segments 1
check_async "every Scan throttled fails the backup with the service's error" \
  fails_with "Scan failed: HTTP 400 ThrottlingException" "$mover" backup dynamodb://hash-items \
  "$work/unscanned" --endpoint-url "$scans_throttled" --max-attempts 2 --segments 4
check_async "an answer that is not JSON fails the backup" \
  fails_with "DescribeTable failed: the answer is not a JSON object" \
  "$mover" backup dynamodb://hash-items "$work/garbled" --endpoint-url "$garbled"

# Killed at several points, resumed, restored: equal to the source. The
# killed backup's lock stops every other backup but the resumed one.
killed_and_resumed() {  # killed_and_resumed POINT
  local name=killed-${1/:/-}
  expect_status 137 env CLOUDDB_MOVER_CRASH_AT="$1" "$mover" backup dynamodb://hash-items \
    "$work/$name" --endpoint-url "$dynalite" "${small[@]}" &&
    fails_with "$work/$name/ is locked by host $(hostname), process" "$mover" backup \
      dynamodb://hash-items "$work/$name" --endpoint-url "$dynalite" &&
    run "$mover" backup dynamodb://hash-items "$work/$name" --endpoint-url "$dynalite" \
      "${small[@]}" --resume &&
    run "$mover" restore "$work/$name" "dynamodb://$name" --endpoint-url "$dynalite" &&
    run awsctl table-compare "$dynalite" hash-items "$name"
}
for point in read:2 read:9 commit:3 committed:6 manifest:5; do
  check_async "killed at $point and resumed" killed_and_resumed "$point"
done
# A restore killed after some cloud files (of a segment, or of the stream's
# replay) and resumed: the same table as an uninterrupted restore, whose
# count is checked; nothing left to resume afterwards.
restore_killed_and_resumed() {  # restore_killed_and_resumed BUCKET SOURCE POINT
  local name=restored-${3//[:\/]/-}
  expect_status 137 env CLOUDDB_MOVER_CRASH_AT="$3" "$mover" restore "$1" "dynamodb://$name" \
    --endpoint-url "$dynalite" &&
    run "$mover" restore "$1" "dynamodb://$name" --endpoint-url "$dynalite" --resume &&
    run awsctl table-compare "$dynalite" "$2" "$name" &&
    fails_with "no interrupted restore" "$mover" restore "$1" "dynamodb://$name" \
      --endpoint-url "$dynalite" --resume
}
run "$mover" backup dynamodb://hash-items "$work/restore-source" --endpoint-url "$dynalite" \
  --segments 3 "${small[@]}" || exit 1
for point in restored:1 segment-2/restored:2; do
  check_async "restore killed at $point and resumed" \
    restore_killed_and_resumed "$work/restore-source" hash-items "$point"
done

# Two backups into one bucket (a directory, moto's S3): while the first
# holds the lock (held after its scan by the test hook), the second refuses
# at once; the first then finishes.
one_writer() {  # one_writer BUCKET
  local endpoints=(AWS_ENDPOINT_URL_S3="$moto" AWS_ENDPOINT_URL_DYNAMODB="$dynalite")
  local hold=$work/hold-${1//[:\/]/-}
  env "${endpoints[@]}" CLOUDDB_MOVER_HOLD_AFTER_SCAN="$hold" "$mover" backup \
    dynamodb://hash-items "$1" "${small[@]}" > "$hold.out" 2>&1 &
  local first=$! deadline=$((SECONDS + 120))
  until [ -e "$hold.scanned" ]; do
    [ $SECONDS -lt $deadline ] && alive "$first" || { cat "$hold.out"; return 1; }
    sleep 0.05
  done
  fails_with "is locked by host $(hostname), process $first" env "${endpoints[@]}" "$mover" \
    backup dynamodb://hash-items "$1"
  local refused=$?
  touch "$hold"
  wait "$first" && [ $refused -eq 0 ]
}
check_async "two backups into one directory: one runs, the other names the lock" \
  one_writer "$work/contended"
check_async "two backups into one S3 prefix: one runs, the other names the lock" \
  one_writer s3://backups/contended

# What a restore refuses before it writes anything: a backup whose metadata
# was edited, and cloud files that the store gives back changed.
# tampered NAME FILE SED_SCRIPT EXPECTED: a copy of a backup with FILE
# edited is refused with EXPECTED, restored into a table (which is not
# created) and into a directory (which stays empty); nothing appears
# outside either.
tampered() {
  cp -r "$work/restore-source" "$work/$1" && sed -i "$3" "$work/$1/$2" &&
    fails_with "$4" "$mover" restore "$work/$1" "dynamodb://$1" --endpoint-url "$dynalite" &&
    fails_with "no table $1" "$mover" backup "dynamodb://$1" "$work/$1-none" \
      --endpoint-url "$dynalite" &&
    fails_with "$4" "$mover" restore "$work/$1" "$work/$1-dir/target" &&
    [ -z "$(ls -A "$work/$1-dir/target" 2> /dev/null)" ] &&
    [ -z "$(find "$(dirname "$work")" -maxdepth 3 -name '*pwned*' 2> /dev/null | head -n 1)" ]
}
while IFS='|' read -r name file script expected; do
  check_async "a tampered backup is refused: $name" tampered "$name" "$file" "$script" "$expected"
done << 'EOF'
fewer|metadata.json|s/"Segments":3/"Segments":2/|it holds segment-2/, which its metadata.json does not name
overflow|metadata.json|s/"Segments":3/"Segments":4294967299/|Segments is not a number from 1 to 1000
recounted|metadata.json|s/"Items":30/"Items":31/|metadata.json counts 31 items, the manifests 30
traversal|metadata.json|s/"TableName":"hash-items"/"TableName":"..\/..\/..\/pwned-by-tablename"/|its TableName is not a DynamoDB table name
absolute|segment-1/manifest|2 s/^part-000000/\/etc\/hostname/|names /etc/hostname where part-000000 belongs
upwards|segment-1/manifest|2 s/^part-000000/..\/segment-0\/part-000000/|names ../segment-0/part-000000 where part-000000 belongs
EOF
# metadata.json nested a million levels deep: refused, not a crash.
nested_metadata() {
  cp -r "$work/restore-source" "$work/nested" &&
    python3 -c 'print("[" * 1000000 + "]" * 1000000)' > "$work/nested/metadata.json" &&
    fails_with "is not a table backup's metadata" "$mover" restore "$work/nested" "$work/nested-dir"
}
check_async "metadata.json nested a million deep is refused" nested_metadata
# The longest table name DynamoDB allows: its files' names are shortened,
# the same by a dump and by a restore into a directory.
long_table_name() {
  local name dump=$work/long-dump restored=$work/long-restored
  name=$(printf 'x%.0s' $(seq 1 255))
  awsctl table-create "$dynalite" "$name" hash && awsctl table-fill "$dynalite" "$name" 8 &&
    run "$mover" dump "dynamodb://$name" "$dump" --endpoint-url "$dynalite" &&
    run "$mover" backup "dynamodb://$name" "$work/long-bucket" --endpoint-url "$dynalite" &&
    run "$mover" restore "$work/long-bucket" "$restored" &&
    [ "$(ls "$dump" | grep -c '^x*~[0-9a-f]*-[0-3]\.dynamodump$')" -eq 4 ] &&
    for file in "$dump"/*.dynamodump; do
      cmp "$file" "$restored/$(basename "$file")" || return 1
    done &&
    [ -z "$(ls -A "$dump" "$restored" | grep clouddb-restore-partial)" ]
}
check_async "a table of a 255-character name is dumped and restored into a directory" \
  long_table_name
flipped_restore() {
  run "$mover" backup dynamodb://indexed-items s3://backups/flipped --endpoint-url "$moto" &&
    fails_with "corrupt cloud file: s3://backups/flipped/segment-" "$mover" restore \
      s3://backups/flipped dynamodb://flipped --endpoint-url "$flipped" &&
    [ "$(awsctl table-count "$moto" flipped)" = 0 ]
}
check_async "cloud files given back changed: refused, the new table empty" flipped_restore
# Writes acknowledged and not applied: the count check of a new table and
# of an existing one; --verify finds an item that the count cannot (the
# table held every key before, with other values).
unapplied_writes() {
  fails_with "items after the restore, the backup 30" "$mover" restore "$work/restore-source" \
    dynamodb://unapplied-new --endpoint-url "$unapplied" &&
    awsctl table-create "$dynalite" unapplied-existing hash &&
    fails_with "items after the restore, the backup 30" "$mover" \
      restore "$work/restore-source" dynamodb://unapplied-existing --into-existing \
      --endpoint-url "$unapplied" &&
    awsctl table-create "$dynalite" unapplied-other hash &&
    awsctl table-fill "$dynalite" unapplied-other 30 2 &&
    fails_with "differs from the backup" "$mover" restore "$work/restore-source" \
      dynamodb://unapplied-other --into-existing --verify --endpoint-url "$unapplied"
}
check_async "writes acknowledged but not applied fail the restore" unapplied_writes

# Hostile services: every answer that never comes, comes too slowly, loops
# or nests too deep fails with one line within its bound; an answer lost
# after CreateTable took effect is not a failure.
hostile() {  # hostile BOUND_SECONDS FAULT ONLY EXPECTED ARGUMENTS...
  local proxy start=$SECONDS
  proxy=$(start_proxy "$dynalite" 1 "$2" --only "$3") &&
    fails_with "$4" "$mover" "${@:5}" --endpoint-url "$proxy" &&
    [ $((SECONDS - start)) -le "$1" ] || { echo "took $((SECONDS - start)) s"; return 1; }
}
check_async "a Scan never answered fails within 30 s" hostile 30 blackhole 'Scan$' \
  "Scan failed: no answer from" backup dynamodb://hash-items "$work/blackhole" \
  --stall-timeout 2 --max-attempts 2
check_async "an answer at 2 bytes a second fails within 30 s" hostile 30 drip 'DescribeTable$' \
  "no complete answer within the request's deadline of 3 s" backup dynamodb://hash-items \
  "$work/drip" --request-timeout 3 --max-attempts 2
check_async "Scan pages that loop fail the segment" hostile 60 loop 'Scan$' \
  "a second time: the service's pages loop" backup dynamodb://hash-items "$work/loop" \
  --segments 1
check_async "an answer nested 300,000 deep fails within 30 s" hostile 30 deep 'DescribeTable$' \
  "DescribeTable failed: the answer is not a JSON object" backup dynamodb://hash-items \
  "$work/deep"
lost_create_table() {
  local proxy
  proxy=$(start_proxy "$dynalite" 1 lost --only 'CreateTable$' --times 1) &&
    run "$mover" restore "$work/restore-source" dynamodb://lost-create --endpoint-url "$proxy" &&
    run awsctl table-compare "$dynalite" hash-items lost-create
}
check_async "CreateTable whose answer was lost after it took effect" lost_create_table
# A restart string edited into a request: the resume refuses it.
injected_restart() {
  local bucket=$work/injected
  expect_status 3 "$mover" backup dynamodb://hash-items "$bucket" --endpoint-url "$dynalite" \
    --segments 1 --limit 1 --buffer 64 --stop-after 1 &&
    sed -i '$ s/[^ ]*$/{"pk":{"S":"item-0"}},"TableName":"other","Segment":0/' \
      "$bucket/segment-0/manifest" &&
    fails_with "cannot continue segment 0 of hash-items after '{\"pk\":{\"S\":\"item-0\"}}," \
      "$mover" backup dynamodb://hash-items "$bucket" --endpoint-url "$dynalite" --resume
}
check_async "a restart string that is not a key refuses the resume" injected_restart
finish_checks

stop_server "$faults"
check "the proxy injected faults" awk '$4 < 5 { exit 1 }' "$server_work/proxy-${faults##*:}.stats"
for server in moto dynalite; do
  endpoint=${!server}
  check_async "$server: a non-empty table is refused" fails_with "is not empty (use --into-existing" \
    "$mover" restore "$work/$server-indexed" dynamodb://indexed-4 --endpoint-url "$endpoint"
  check_async "$server: a second backup into a bucket is refused" \
    fails_with "already holds a backup (use --resume" \
    "$mover" backup dynamodb://indexed-items "$work/$server-indexed" --endpoint-url "$endpoint"
  dump_equals_restore() {  # dump_equals_restore SERVER ENDPOINT
    run "$mover" dump dynamodb://indexed-items "$work/$1-dump" --endpoint-url "$2" &&
      run "$mover" restore "$work/$1-indexed" "$work/$1-restored" &&
      for segment in 0 1 2 3; do
        cmp "$work/$1-dump/indexed-items-$segment.dynamodump" \
          "$work/$1-restored/indexed-items-$segment.dynamodump" || return 1
      done
  }
  check_async "$server: a dump equals a backup restored into a directory" \
    dump_equals_restore "$server" "$endpoint"
done
report
