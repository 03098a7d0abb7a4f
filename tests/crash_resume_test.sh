#!/usr/bin/env bash
# Kills clouddb-mover backup with SIGKILL at many points (after a read,
# before and after committing a cloud file, while replacing the
# manifest), resumes it, restores, and checks that the restore is identical
# and that no cloud file was stored twice.
# Usage: crash_resume_test.sh PATH_TO_CLOUDDB_MOVER
set -uo pipefail
mover=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check_parallel=4
source "$(dirname "$0")/checks.sh"
options=(--limit 8192 --buffer 4096)

"$(dirname "$0")/make_dump.sh" "$work/source" 600

stream_of() {  # the cloud files of a bucket concatenated in manifest order
  awk 'NR > 1 && $1 != "complete" { print $1 }' "$1/manifest" | while read -r part; do
    cat "$1/$part"
  done
}

run "$mover" backup "$work/source" "$work/reference" "${options[@]}" || exit 1
stream_of "$work/reference" > "$work/reference.stream"

points=()
for n in $(seq 1 30); do points+=("read:$n"); done
for n in $(seq 1 8); do points+=("commit:$n" "committed:$n" "manifest:$n"); done

# killed_and_resumed POINT: killed there (or run to the end if the backup
# never gets there), resumed, restored: equal to the source, and the stored
# stream equals that of an uninterrupted backup.
killed_and_resumed() {
  local bucket=$work/bucket-$1 target=$work/target-$1
  # In a subshell, so that the shell's own "Killed" report goes quiet too.
  (CLOUDDB_MOVER_CRASH_AT=$1 "$mover" backup "$work/source" "$bucket" "${options[@]}") \
    > /dev/null 2>&1
  [ $? -eq 137 ] && touch "$work/killed-$1"
  if [ ! -f "$bucket/manifest" ] || ! grep -qx complete "$bucket/manifest"; then
    run "$mover" backup "$work/source" "$bucket" "${options[@]}" --resume
  fi
  run "$mover" restore "$bucket" "$target" &&
    run diff -r "$work/source" "$target" &&
    cmp -s <(stream_of "$bucket") "$work/reference.stream"
}
for point in "${points[@]}"; do
  check_async "killed at $point" killed_and_resumed "$point"
done
finish_checks
killed=$(ls "$work" | grep -c '^killed-')
echo "$killed kill points survived"
check "at least 50 of the points were reached" [ "$killed" -ge 50 ]
report