#!/usr/bin/env bash
# Backups of a table that is being written to: the scan and the table's
# stream records up to the consistency point, restored and replayed into a
# table that equals the source's final state (the writer stops between the
# scan and the consistency point). Against moto_server, which keeps streams;
# also killed during the stream phase and resumed, a table without a stream
# (scan only, marked so), and a shard that closes and gets children during
# the backup (a scripted stream in the proxy), killed and resumed there too;
# and every GetRecords failing.
# Usage: stream_test.sh PATH_TO_CLOUDDB_MOVER
set -uo pipefail
mover=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/servers/servers.sh"
work=$server_work

moto=$(start_moto) || exit 1
small=(--limit 2048 --buffer 1024)

for table in live killed split; do
  awsctl table-create "$moto" $table hash stream && awsctl table-fill "$moto" $table 60 || exit 1
done
awsctl table-create "$moto" plain hash && awsctl table-fill "$moto" plain 10 || exit 1

# backup_under_writes NAME [ENV...]: a table written to during the whole
# scan, backed up; the output of the backup in $work/NAME.out.
backup_under_writes() {
  local name=$1 hold=$work/$1.hold
  python3 "$here/servers/awsctl.py" writer "$moto" "$name" "$hold" > "$work/$name.writes" &
  local writer=$!
  # A writer that has not written within this bound has failed (generous,
  # for a busy machine).
  local deadline=$((SECONDS + 120))
  while [ ! -e "$hold.writing" ]; do
    [ $SECONDS -lt $deadline ] || { echo "the writer made no write in 120 s"; return 1; }
    sleep 0.02
  done
  { (env CLOUDDB_MOVER_HOLD_AFTER_SCAN="$hold" "${@:2}" "$mover" backup "dynamodb://$name" \
    "$work/$name" --endpoint-url "$moto" "${small[@]}") > "$work/$name.out" 2>&1; } 2> /dev/null
  local status=$?
  touch "$hold"  # a backup killed in its scan still lets the writer go
  wait "$writer"
  echo "backup of $name under writes: exit status $status"
  tail -n 5 "$work/$name.out"
  return $status
}

restored_equals_final_state() {  # restored_equals_final_state NAME
  run "$mover" restore "$work/$1" "dynamodb://$1-restored" --endpoint-url "$moto" &&
    run awsctl table-compare "$moto" "$1" "$1-restored"
}

consistent_under_writes() {
  backup_under_writes live &&
    grep -q "consistent as of" "$work/live.out" &&
    # Writes during the scan reach the backup as stream records.
    [ "$(sed -n 's/.* and \([0-9]*\) stream records.*/\1/p' "$work/live.out")" -gt 0 ] &&
    restored_equals_final_state live &&
    # A restore killed in the replay of the records, and resumed.
    expect_status 137 env CLOUDDB_MOVER_CRASH_AT=stream/restored:1 "$mover" restore "$work/live" \
      dynamodb://live-resumed --endpoint-url "$moto" &&
    run "$mover" restore "$work/live" dynamodb://live-resumed --endpoint-url "$moto" --resume &&
    run awsctl table-compare "$moto" live live-resumed
}
check_async "restored table equals the source's final state" consistent_under_writes

killed_in_stream_phase() {
  backup_under_writes killed CLOUDDB_MOVER_CRASH_AT=stream/commit:1
  [ $? -eq 137 ] &&
    "$mover" backup dynamodb://killed "$work/killed" --endpoint-url "$moto" "${small[@]}" \
      --resume > "$work/killed.resumed" &&
    restored_equals_final_state killed &&
    # Every item counts once, in the summary and the metadata, across runs.
    local items
    items=$(cat "$work"/killed/segment-*/part-* | wc -l) &&
    grep -q "^backed up $items items .*(this run: " "$work/killed.resumed" &&
    grep -q "\"Items\":$items," "$work/killed/metadata.json"
}
check_async "killed in the stream phase and resumed" killed_in_stream_phase

scan_only() {  # scan_only TABLE OPTIONS...: marked as such in the summary and the metadata
  "$mover" backup "dynamodb://$1" "$work/$1-scan-only" --endpoint-url "$moto" "${@:2}" \
    > "$work/$1-scan-only.out" &&
    grep -q "0 stream records.*; not consistent under writes" "$work/$1-scan-only.out" &&
    grep -q '"Consistency":"not consistent under writes"' "$work/$1-scan-only/metadata.json" &&
    [ ! -e "$work/$1-scan-only/stream" ]
}
records_throttled=$(start_proxy "$moto" 1 throttle --only 'GetRecords$') || exit 1
check_async "every GetRecords throttled fails the backup" \
  fails_with "GetRecords failed: HTTP 400 ThrottlingException" \
  "$mover" backup dynamodb://split "$work/unread" --endpoint-url "$records_throttled" --max-attempts 2
check_async "a table without a stream backs up scan-only" scan_only plain
check_async "--no-stream backs up scan-only" scan_only split --no-stream

# Killed after the first record of shard "left", so that the resumed backup
# starts inside a shard and then goes on to the next from its beginning.
split_shard_is_followed() {
  local scripted
  scripted=$(start_proxy "$moto" 0 "" --stream-script "$here/servers/split_stream.json") &&
    expect_status 137 env CLOUDDB_MOVER_CRASH_AT=stream/commit:2 "$mover" backup \
      dynamodb://split "$work/split" --endpoint-url "$scripted" --limit 1 --buffer 64 &&
    run "$mover" backup dynamodb://split "$work/split" --endpoint-url "$scripted" --limit 1 \
      --buffer 64 --resume &&
    run "$mover" restore "$work/split" dynamodb://split-restored --endpoint-url "$moto" &&
    run awsctl table-compare-changed "$moto" split split-restored \
      "$here/servers/split_stream_changes.json" &&
    run "$mover" restore "$work/split" "$work/split-files" &&
    [ "$(cat "$work"/split-files/*.dynamostreamdump | wc -l)" -eq 4 ] &&
    [ -s "$work/split-files/1-shardId-2-left.dynamostreamdump" ]
}
check_async "a shard that closes and gets children is followed" split_shard_is_followed
report
