#!/usr/bin/env bash
# Runs clouddb-mover as a user would: round trips at several limits and
# buffer sizes, an interrupted backup resumed, a damaged bucket refused (its
# errors on the command line are errors_test.sh's).
# Usage: mover_test.sh PATH_TO_CLOUDDB_MOVER
set -uo pipefail
mover=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

source=$work/source
"$(dirname "$0")/make_dump.sh" "$source"
printf 'not part of the dump\n' > "$source/notes.txt"

same_dump() {  # same_dump TARGET
  run diff -r --exclude=notes.txt "$source" "$1"
}

round_trip() {  # round_trip LIMIT BUFFER
  local bucket=$work/bucket-$1-$2 target=$work/target-$1-$2
  run "$mover" backup "$source" "$bucket" --limit "$1" --buffer "$2" &&
    run "$mover" restore "$bucket" "$target" --buffer "$2" &&
    same_dump "$target"
}

for limit in 0 1000 65536; do
  for buffer in 7 4096 1048576; do
    check "round trip, limit $limit, buffer $buffer" round_trip "$limit" "$buffer"
  done
done

# The concatenated cloud files of a bucket, in manifest order.
stream_of() {
  awk 'NR > 1 && $1 != "complete" { print $1 }' "$1/manifest" | while read -r part; do
    cat "$1/$part"
  done
}

interrupted_resume() {
  local bucket=$work/interrupted
  expect_status 3 "$mover" backup "$source" "$bucket" --limit 5000 --buffer 4096 --stop-after 3 ||
    return 1
  run "$mover" backup "$source" "$bucket" --limit 5000 --buffer 4096 --resume || return 1
  run "$mover" restore "$bucket" "$work/resumed" || return 1
  same_dump "$work/resumed" || return 1
  # Nothing stored twice: the stream equals that of an uninterrupted backup.
  cmp -s <(stream_of "$bucket") <(stream_of "$work/bucket-1000-4096") || return 1
  [ -z "$(awk 'NR > 1 { print $1 }' "$bucket/manifest" | sort | uniq -d)" ]
}
check "interrupted backup resumed" interrupted_resume

refuses_damage() {  # refuses_damage DAMAGE EXPECTED_MESSAGE
  local bucket=$work/damaged
  rm -rf "$bucket" "$work/refused"
  cp -r "$work/bucket-1000-4096" "$bucket"
  eval "$1"
  fails_with "$2" "$mover" restore "$bucket" "$work/refused" &&
    [ -z "$(ls -A "$work/refused" 2>/dev/null)" ]
}
check "corrupt cloud file refused" refuses_damage \
  'printf X | dd of="$bucket/part-000001" bs=1 seek=10 conv=notrunc 2>/dev/null' \
  "corrupt cloud file: $work/damaged/part-000001"
check "missing cloud file refused" refuses_damage 'rm "$bucket/part-000002"' \
  "missing cloud file: $work/damaged/part-000002"

# Whatever the umask, everything written is owner-only: the bucket, the
# restored files, the debug copy and the debug log.
private_files() {
  local dir=$work/private
  mkdir -p "$dir/log"
  (
    umask 022
    run env EVDEBUG_LEVEL=2 EVDEBUG_FILE="$dir/log/debug.log" "$mover" backup "$source" \
      "$dir/bucket" --debug-copy "$dir/copy/stream" --limit 5000 &&
      run "$mover" restore "$dir/bucket" "$dir/restored"
  ) &&
    [ -s "$dir/copy/stream" ] && [ -s "$dir/restored/metadata.json" ] && [ -s "$dir/log/debug.log" ] &&
    [ -z "$(find "$dir/bucket" "$dir/restored" "$dir/copy" "$dir/log"/* -perm /077)" ]
}
check "everything written is owner-only under umask 022" private_files

# A hand-edited manifest whose restart string names a file past the last.
resume_past_the_end() {
  local one=$work/one bucket=$work/one-bucket
  mkdir -p "$one" && printf 'a\nb\nc\n' > "$one/T-0.dynamodump" || return 1
  expect_status 3 "$mover" backup "$one" "$bucket" --limit 1 --buffer 7 --stop-after 1 &&
    sed -i '$ s/[^ ]*$/1:0:0/' "$bucket/manifest" &&
    fails_with "cannot resume from restart string '1:0:0'" "$mover" backup "$one" "$bucket" --resume
}
check "a restart string past the last file is refused" resume_past_the_end

report
