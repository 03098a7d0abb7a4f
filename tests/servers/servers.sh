# Sourced by the tests that need AWS-API servers (it brings checks.sh too):
# starts local servers on free ports and stops them when the test's shell
# exits.
#   start_moto       S3, DynamoDB and DynamoDB Streams (moto_server)
#   start_dynalite   DynamoDB on LevelDB (npm package, installed by npm ci)
#   start_s3rver     S3 (npm package); it insists on the signing headers but
#                    checks no signature
#   start_proxy URL RATE KINDS
#                    the fault-injecting proxy in front of URL
# Each prints the server's URL; stop_server URL stops one early.
servers_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$servers_dir/../checks.sh"
# dynalite and s3rver, as npm ci installed them (a copy of the tree, such as a
# mutation run's, may point at the checkout's).
node_modules=${CLOUDDB_TEST_NODE_MODULES:-$servers_dir/node_modules}
# The credentials that s3rver knows; the other servers take any. Endpoints
# come from each test's command line only.
export AWS_ACCESS_KEY_ID=S3RVER AWS_SECRET_ACCESS_KEY=S3RVER AWS_REGION=us-east-1 AWS_DEFAULT_REGION=us-east-1
unset AWS_SESSION_TOKEN AWS_ENDPOINT_URL AWS_ENDPOINT_URL_S3 AWS_ENDPOINT_URL_DYNAMODB \
  AWS_ENDPOINT_URL_DYNAMODB_STREAMS AWS_MAX_ATTEMPTS AWS_PROFILE
server_work=$(mktemp -d)
trap 'stop_all_servers' EXIT
# Where clouddb-mover keeps the progress of restores.
export XDG_STATE_HOME=$server_work/state

# alive PID: running, and not a zombie that its new parent has yet to reap.
alive() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2> /dev/null) && [ -n "$state" ] && [ "$state" != Z ]
}

# stop PID: asks the process to end, and ends it after 5 seconds.
stop() {
  kill "$1" 2> /dev/null || return 0
  for _ in $(seq 1 100); do
    alive "$1" || return 0
    sleep 0.05
  done
  kill -9 "$1" 2> /dev/null
}

# Servers start in command substitutions, so their ids are kept in files.
stop_all_servers() {
  [ -n "${AWSCTL_PID:-}" ] && stop "$AWSCTL_PID"
  local file
  for file in "$server_work"/*.pid; do
    [ -e "$file" ] && stop "$(cat "$file")"
  done
  rm -rf "$server_work"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# How long a server may take to start: generous, for a machine whose cores
# are busy with other tests (moto_server alone takes seconds to import).
server_start_seconds=${server_start_seconds:-120}

# wait_for URL PID: until something answers at URL, or the server died.
wait_for() {
  local deadline=$((SECONDS + server_start_seconds))
  while [ $SECONDS -lt $deadline ]; do
    curl -s -o /dev/null "$1" && return 0
    alive "$2" || return 1
    sleep 0.05
  done
  return 1
}

# launch NAME PORT COMMAND...: runs the server, waits for it, prints its URL.
launch() {
  local name=$1 port=$2
  shift 2
  "$@" > "$server_work/$name-$port.log" 2>&1 &
  local pid=$!
  echo "$pid" > "$server_work/$port.pid"
  if ! wait_for "http://127.0.0.1:$port/" "$pid"; then
    echo "cannot start $name (it exited, or did not answer within $server_start_seconds s):" \
      "$(tail -n 3 "$server_work/$name-$port.log")" >&2
    return 1
  fi
  echo "http://127.0.0.1:$port"
}

start_moto() {
  local port
  port=$(free_port)
  launch moto "$port" moto_server -H 127.0.0.1 -p "$port"
}

start_dynalite() {
  local port
  port=$(free_port)
  launch dynalite "$port" node "$node_modules/dynalite/cli.js" --port "$port" \
    --host 127.0.0.1 --createTableMs 0 --deleteTableMs 0 --updateTableMs 0
}

start_s3rver() {
  local port
  port=$(free_port)
  mkdir -p "$server_work/s3rver-$port"
  launch s3rver "$port" node "$node_modules/s3rver/bin/s3rver.js" \
    --address 127.0.0.1 --port "$port" --silent --directory "$server_work/s3rver-$port"
}

# start_proxy UPSTREAM RATE KINDS [OPTIONS...]: KINDS is a comma list of
# throttle, error, reset and slow; OPTIONS go to fault_proxy.py. Every request's signature is checked against
# $AWS_SECRET_ACCESS_KEY. Statistics go to $server_work/proxy-PORT.stats at
# the end.
start_proxy() {
  local port
  port=$(free_port)
  launch proxy "$port" python3 "$servers_dir/fault_proxy.py" --port "$port" --upstream "$1" \
    --rate "$2" --faults "$3" --stats "$server_work/proxy-$port.stats" \
    --secret "$AWS_SECRET_ACCESS_KEY" "${@:4}"
}

stop_server() {  # stop_server URL
  local port=${1##*:}
  stop "$(cat "$server_work/$port.pid")"
  rm -f "$server_work/$port.pid"
}

# Setup and inspection through boto3 (see awsctl.py), by one Python process
# that serves the whole test.
coproc AWSCTL { python3 "$servers_dir/awsctl.py" serve; }
# Plain descriptors, which subshells keep (a coprocess's own do not).
exec 7>&"${AWSCTL[1]}" 8<&"${AWSCTL[0]}"
awsctl() {
  # One command at a time, also from checks that run side by side.
  (
    flock 9
    printf '%q ' "$@" >&7
    echo >&7
    while IFS= read -r line <&8; do
      if [[ $line == "__done__ "* ]]; then exit "${line#__done__ }"; fi
      printf '%s\n' "$line"
    done
    exit 1
  ) 9> "$server_work/awsctl.lock"
}

# with_servers COMMAND...: runs COMMAND with moto_server and s3rver started,
# their URLs in CLOUDDB_TEST_MOTO and CLOUDDB_TEST_S3RVER, and a bucket
# "clouddb-tests" on each.
with_servers() {
  CLOUDDB_TEST_MOTO=$(start_moto) && CLOUDDB_TEST_S3RVER=$(start_s3rver) || return 1
  export CLOUDDB_TEST_MOTO CLOUDDB_TEST_S3RVER
  awsctl s3-mb "$CLOUDDB_TEST_MOTO" clouddb-tests && awsctl s3-mb "$CLOUDDB_TEST_S3RVER" clouddb-tests &&
    "$@"
}
