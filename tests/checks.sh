# Sourced by the command-line tests: named checks, counted, run in turn
# (check) or side by side (check_async, collected by finish_checks), and a
# summary that is the test's exit status (report).
check_passed=0
check_failed=0
check_pending=()
check_logs=$(mktemp -d)

check() {  # check NAME COMMAND...
  if "${@:2}"; then
    check_passed=$((check_passed + 1))
  else
    echo "FAILED: $1"
    check_failed=$((check_failed + 1))
  fi
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
      sed 's/^/  /' "$log.out" | tail -n 5
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

# fails_with EXPECTED COMMAND...: the command fails with one line holding EXPECTED.
fails_with() {
  local message
  message=$("${@:2}" 2>&1)
  [ $? -ne 0 ] && [ "$(wc -l <<< "$message")" -eq 1 ] && grep -qF -- "$1" <<< "$message"
}
