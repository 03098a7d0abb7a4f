#!/usr/bin/env bash
# clouddb-mover with its bucket on S3: round trips against moto_server (its
# requests' signatures checked by the proxy) and s3rver, through a proxy
# that injects faults, a resumed backup after kills, damaged and missing
# objects, a server that is down, endless throttling, and every upload or
# every read failing.
# Usage: s3_test.sh PATH_TO_CLOUDDB_MOVER
set -uo pipefail
mover=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/servers/servers.sh"
work=$server_work

moto_server=$(start_moto) && s3rver=$(start_s3rver) || exit 1
awsctl s3-mb "$moto_server" backups && awsctl s3-mb "$s3rver" backups || exit 1
# moto checks no signatures: its requests pass a proxy that does.
moto=$(start_proxy "$moto_server" 0 "") &&
  faults=$(start_proxy "$moto_server" 0.2 throttle,error,reset,slow) &&
  throttled=$(start_proxy "$moto_server" 1 throttle) &&
  puts_fail=$(start_proxy "$moto_server" 1 error --only '^PUT ') &&
  reads_throttled=$(start_proxy "$moto_server" 1 throttle --only '^(GET|HEAD) ') &&
  lock_lost=$(start_proxy "$moto_server" 1 lost --only '^PUT .*/lock$' --times 1) || exit 1
source_dir=$work/source
"$here/make_dump.sh" "$source_dir"
# About a dozen cloud files: moto_server and the proxy answer a few hundred
# requests a second between them.
small=(--limit 65536 --buffer 4096)

backup() {  # backup ENDPOINT PREFIX OPTIONS...
  run "$mover" backup "$source_dir" "s3://backups/$2" --endpoint-url "$1" "${@:3}"
}

round_trip() {  # round_trip ENDPOINT PREFIX OPTIONS...
  backup "$@" &&
    run "$mover" restore "s3://backups/$2" "$work/restored-$2" --endpoint-url "$1" &&
    diff -r "$source_dir" "$work/restored-$2"
}
check_async "moto, 8 KiB cloud files" round_trip "$moto" moto-small --limit 8192 --buffer 4096
check_async "moto, 1 MiB cloud files" round_trip "$moto" moto-large
check_async "s3rver, small cloud files" round_trip "$s3rver" s3rver-small "${small[@]}"
check_async "s3rver, 1 MiB cloud files" round_trip "$s3rver" s3rver-large
check_async "20% faults of every kind" round_trip "$faults" faulty "${small[@]}"
# What a store can do wrong, on each server: a PUT acknowledged but not
# stored, one stored cut short (the backup fails, naming the object: a
# backup that exits 0 has been read back), a GET that gives other bytes of
# the same length (the restore writes nothing).
store_faults() {  # store_faults NAME URL
  local acked truncated flipped
  acked=$(start_proxy "$2" 1 ack --only '^PUT .*/part-000001$') &&
    truncated=$(start_proxy "$2" 1 truncate --only '^PUT .*/part-000002$') &&
    flipped=$(start_proxy "$2" 1 flip --only '^GET .*/part-') || return 1
  check_async "$1: a PUT acknowledged but not stored fails the backup naming the object" \
    fails_with "missing cloud file: s3://backups/acked/part-000001" \
    "$mover" backup "$source_dir" s3://backups/acked --endpoint-url "$acked" "${small[@]}"
  check_async "$1: a PUT stored cut short fails the backup naming the object" \
    fails_with "PutObject of s3://backups/truncated/part-000002 failed: the stored object's ETag" \
    "$mover" backup "$source_dir" s3://backups/truncated --endpoint-url "$truncated" "${small[@]}"
  check_async "$1: a GET of other bytes of the same length restores nothing" \
    flipped_reads "$2" "$flipped" "$work/flipped-$1"
}
flipped_reads() {  # flipped_reads ENDPOINT FLIPPING_ENDPOINT TARGET
  backup "$1" flipped "${small[@]}" &&
    fails_with "corrupt cloud file: s3://backups/flipped/part-0000" "$mover" restore \
      s3://backups/flipped "$3" --endpoint-url "$2" &&
    [ -z "$(ls -A "$3" 2> /dev/null)" ]
}
store_faults moto "$moto_server" && store_faults s3rver "$s3rver" || exit 1
# Neither local server checks Content-MD5 (AWS refuses such a body with
# BadDigest): here the ETag comparison is what catches a changed body.
for server in moto_server s3rver; do
  check_async "$server stores a body whose Content-MD5 does not match" \
    eval '[ "$(awsctl s3-put-wrong-md5 "${!server}" s3://backups/wrong-md5)" = stored ]'
done
# The lock's conditional write took effect and its answer was lost: the
# retry meets the backup's own lock.
check_async "a lock stored whose answer was lost" round_trip "$lock_lost" lock-lost "${small[@]}"
check_async "one unbounded cloud file is refused on S3" fails_with "at most 5 GiB" \
  "$mover" backup "$source_dir" s3://backups/x --limit 0 --endpoint-url "$moto"
check_async "endless throttling gives up after the bounded attempts" \
  fails_with "failed: HTTP 503 SlowDown: Please reduce your request rate. (after 3 attempts)" \
  "$mover" backup "$source_dir" s3://backups/never --endpoint-url "$throttled" --max-attempts 3
check_async "every upload failing fails the backup" \
  fails_with "PutObject failed: HTTP 500 InternalError" \
  "$mover" backup "$source_dir" s3://backups/unstored --endpoint-url "$puts_fail" --max-attempts 2
# A read that fails is an error of the service, not a missing object.
reads_fail() {
  backup "$moto" unread "${small[@]}" &&
    fails_with "HTTP 503" "$mover" restore s3://backups/unread "$work/unread" \
      --endpoint-url "$reads_throttled" --max-attempts 2
}
check_async "every read throttled fails the restore with the service's error" reads_fail
# Slashes around the prefix name the same objects.
slashes_around_the_prefix() {
  backup "$moto" /slashes// "${small[@]}" &&
    run "$mover" restore s3://backups/slashes "$work/slashes" --endpoint-url "$moto" &&
    diff -r "$source_dir" "$work/slashes"
}
check_async "slashes around the prefix" slashes_around_the_prefix
port=$(free_port)
check_async "server down" fails_with "failed: no answer from http://127.0.0.1:$port" \
  "$mover" backup "$source_dir" s3://backups/down --endpoint-url "http://127.0.0.1:$port" \
  --max-attempts 2

refused() {  # refused DAMAGE OBJECT: a damaged backup is refused by name, nothing restored
  local prefix=damaged-$2
  backup "$moto" "$prefix" "${small[@]}" &&
    $1 "$moto_server" "s3://backups/$prefix/$2" garbage &&
    fails_with "cloud file: s3://backups/$prefix/$2" \
      "$mover" restore "s3://backups/$prefix" "$work/refused-$2" --endpoint-url "$moto" &&
    [ -z "$(ls -A "$work/refused-$2" 2> /dev/null)" ]
}
check_async "corrupt object refused" refused "awsctl s3-put" part-000002
check_async "missing object refused" refused "awsctl s3-rm" part-000001

# Killed at several points, resumed, restored: identical to an uninterrupted
# backup, and every object is the manifest or a cloud file that it names.
backup "$moto" reference "${small[@]}" || exit 1
awsctl s3-summary "$moto_server" s3://backups/reference > "$work/reference.summary"
killed_and_resumed() {  # killed_and_resumed POINT
  local prefix=killed-${1/:/-}
  expect_status 137 env CLOUDDB_MOVER_CRASH_AT="$1" "$mover" backup "$source_dir" \
    "s3://backups/$prefix" --endpoint-url "$moto" "${small[@]}" &&
    backup "$moto" "$prefix" "${small[@]}" --resume &&
    run "$mover" restore "s3://backups/$prefix" "$work/$prefix" --endpoint-url "$moto" &&
    diff -r "$source_dir" "$work/$prefix" &&
    cmp -s <(awsctl s3-summary "$moto_server" "s3://backups/$prefix") "$work/reference.summary"
}
for point in read:20 commit:3 committed:5 manifest:7; do
  check_async "killed at $point and resumed" killed_and_resumed "$point"
done
finish_checks
stop_server "$faults"
check "the proxy injected faults" awk '$4 < 5 { exit 1 }' "$server_work/proxy-${faults##*:}.stats"
report
