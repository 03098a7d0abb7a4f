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
  garbled=$(start_proxy "$dynalite" 1 garbage --only 'DescribeTable$') || exit 1
for endpoint in "$moto" "$dynalite"; do
  awsctl table-create "$endpoint" indexed-items indexed && awsctl table-fill "$endpoint" indexed-items 40 &&
    awsctl table-create "$endpoint" hash-items hash && awsctl table-fill "$endpoint" hash-items 30 &&
    awsctl table-create "$endpoint" empty-items hash || exit 1
done
awsctl s3-mb "$moto" backups || exit 1
small=(--limit 2048 --buffer 1024)

# round_trip ENDPOINT TABLE BUCKET TARGET OPTIONS...: backup into BUCKET,
# restore into the new table TARGET, compare.
round_trip() {
  run "$mover" backup "dynamodb://$2" "$3" --endpoint-url "$1" "${@:5}" &&
    run "$mover" restore "$3" "dynamodb://$4" --endpoint-url "$1" &&
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
check_async "every Scan throttled fails the backup with the service's error" \
  fails_with "Scan failed: HTTP 400 ThrottlingException" "$mover" backup dynamodb://hash-items \
  "$work/unscanned" --endpoint-url "$scans_throttled" --max-attempts 2 --segments 4
check_async "an answer that is not JSON fails the backup" \
  fails_with "DescribeTable failed: the answer is not a JSON object" \
  "$mover" backup dynamodb://hash-items "$work/garbled" --endpoint-url "$garbled"

# Killed at several points, resumed, restored: equal to the source.
killed_and_resumed() {  # killed_and_resumed POINT
  local name=killed-${1/:/-}
  expect_status 137 env CLOUDDB_MOVER_CRASH_AT="$1" "$mover" backup dynamodb://hash-items \
    "$work/$name" --endpoint-url "$dynalite" "${small[@]}" &&
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
