#!/usr/bin/env bash
# Runs the README's example commands as a user would type them, against a
# local moto_server: every block marked "<!-- example: ... -->", in order,
# in one working directory, with clouddb-mover and the aws command line on
# the PATH. The server is the test's own (started on a free port), so a
# block's "moto_server -p 5000 &" is left out and port 5000 is that port; a
# block marked "against a local server (AWS_ENDPOINT_URL)" runs as written,
# with AWS_ENDPOINT_URL pointing at the same server, where the test first
# makes what the example expects to exist on AWS (the table and the buckets).
# Usage: readme_test.sh PATH_TO_CLOUDDB_MOVER PATH_TO_README
set -uo pipefail
mover=$(readlink -f "$1")
readme=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/servers/servers.sh"
work=$server_work

moto=$(start_moto) || exit 1
mkdir -p "$work/bin" "$work/examples" "$work/cwd"
ln -s "$mover" "$work/bin/clouddb-mover"

# What the examples against AWS expect to exist there.
for bucket in my-backups my-backup-bucket; do awsctl s3-mb "$moto" "$bucket" || exit 1; done
AWS_DEFAULT_REGION=eu-west-1 aws --endpoint-url "$moto" dynamodb create-table \
  --table-name Orders --attribute-definitions AttributeName=id,AttributeType=S \
  --key-schema AttributeName=id,KeyType=HASH --billing-mode PAY_PER_REQUEST > /dev/null || exit 1

# Each marked block into examples/N.sh, its first line's number in N.line and
# whether it runs against the endpoint variable in N.aws.
awk -v out="$work/examples" '
  /^<!-- example:/ { n++; marked = 1; aws = /AWS_ENDPOINT_URL/; next }
  marked && /^    / {
    if (!started) { print NR > (out "/" n ".line"); if (aws) print "" > (out "/" n ".aws") }
    started = 1; print substr($0, 5) > (out "/" n ".sh"); next
  }
  marked && started && !/^$/ { marked = 0; started = 0 }
' "$readme"
port=${moto##*:}

run_example() {  # run_example N
  local script=$work/examples/$1.sh
  sed -i -e '/^moto_server -p 5000 &$/d' -e "s/127\.0\.0\.1:5000/127.0.0.1:$port/g" "$script"
  (
    cd "$work/cwd" || exit 1
    export PATH=$work/bin:$PATH
    [ -e "$work/examples/$1.aws" ] && export AWS_ENDPOINT_URL=$moto
    bash -e "$script"
  )
}
count=$(ls "$work"/examples/*.sh 2> /dev/null | wc -l)
check "the README has examples" [ "$count" -ge 4 ]
for n in $(seq 1 "$count"); do
  check "the README's example at line $(cat "$work/examples/$n.line")" run_example "$n"
done
check "the examples restored the table" run awsctl table-compare "$moto" Orders OrdersCopy
report
