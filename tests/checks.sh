# Sourced by the command-line tests: named checks, counted, run in turn
# (check) or side by side (check_async, collected by finish_checks), and a
# summary that is the test's exit status (report). A failed check shows the
# end of what it printed; the commands of a check go through run (or
# expect_status, fails_with), which print nothing when the command does what
# is expected and otherwise the command, its exit status and the end of its
# output.
check_passed=0
check_failed=0
check_pending=()
check_logs=$(mktemp -d)

# The lines of a failed check's output shown.
check_tail=${check_tail:-20}

check() {  # check NAME COMMAND...
  if "${@:2}" > "$check_logs/sync.out" 2>&1; then
    check_passed=$((check_passed + 1))
  else
    echo "FAILED: $1"
    tail -n "$check_tail" "$check_logs/sync.out" | sed 's/^/  /'
    check_failed=$((check_failed + 1))
  fi
}

# Says that a command did not do what was expected: the command, its exit
# status, the end of its output (in the file $3).
command_failed() {  # command_failed WHAT STATUS OUTPUT_FILE COMMAND...
  echo "$1 (exit status $2): ${*:4}"
  tail -n 8 "$3" | sed 's/^/    /'
}

run_count=0
# run COMMAND...: its output aside; true when it exits 0.
run() {
  expect_status 0 "$@"
}

# expect_status STATUS COMMAND...: the command's output aside; true when it
# exits with STATUS (137: killed).
expect_status() {
  local out=$check_logs/run.$BASHPID.$((run_count++))
  # In a subshell, so that a kill's report from the shell goes quiet too.
  { ("${@:2}") > "$out" 2>&1; } 2> /dev/null
  local status=$?
  [ "$status" -eq "$1" ] || command_failed "expected exit status $1" "$status" "$out" "${@:2}"
  rm -f "$out"
  [ "$status" -eq "$1" ]
}

# At most this many background checks at a time; empty: no limit.
check_parallel=${check_parallel:-}

check_async() {  # check_async NAME COMMAND...: in the background
  local log=$check_logs/${#check_pending[@]}
  while [ -n "$check_parallel" ] && [ "$(jobs -rp | wc -l)" -ge "$check_parallel" ]; do
    sleep 0.02
  done
  echo "$1" > "$log.name"
  { "${@:2}" > "$log.out" 2>&1; echo $? > "$log.status"; } &
  echo $! > "$log.pid"
  check_pending+=("$log")
}

finish_checks() {  # waits for the background checks and counts them
  local log
  for log in "${check_pending[@]}"; do
    wait "$(cat "$log.pid")"
    if [ "$(cat "$log.status" 2> /dev/null)" = 0 ]; then
      check_passed=$((check_passed + 1))
    else
      echo "FAILED: $(cat "$log.name")"
      tail -n "$check_tail" "$log.out" | sed 's/^/  /'
      check_failed=$((check_failed + 1))
    fi
  done
  check_pending=()
}

report() {
  finish_checks
  rm -rf "$check_logs"
  echo "$check_passed passed, $check_failed failed"
  [ $check_failed -eq 0 ]
}

# fails_with EXPECTED COMMAND...: the command fails with one line on standard
# error, holding EXPECTED.
fails_with() {
  local out=$check_logs/run.$BASHPID.$((run_count++))
  "${@:2}" > "$out.stdout" 2> "$out"
  local status=$?
  if [ $status -ne 0 ] && [ "$(wc -l < "$out")" -eq 1 ] && grep -qF -- "$1" "$out"; then
    rm -f "$out" "$out.stdout"
    return 0
  fi
  command_failed "expected one line holding '$1'" "$status" "$out" "${@:2}"
  rm -f "$out" "$out.stdout"
  return 1
}
