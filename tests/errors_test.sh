#!/usr/bin/env bash
# Every error a user can cause from the command line, one row each: the
# command fails with one line on standard error that names the cause (and,
# where there is one, what to do). Against moto_server (S3 and DynamoDB),
# dynalite (a DynamoDB server given as the S3 endpoint), and proxies that
# refuse every signature or throttle every HEAD.
# Usage: errors_test.sh PATH_TO_CLOUDDB_MOVER
set -uo pipefail
mover=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/servers/servers.sh"
work=$server_work

moto=$(start_moto) && dynalite=$(start_dynalite) || exit 1
wrong_secret=$(AWS_SECRET_ACCESS_KEY=other start_proxy "$moto" 0 "") &&
  heads_throttled=$(start_proxy "$moto" 1 throttle --only '^HEAD ') || exit 1
awsctl s3-mb "$moto" backups && awsctl table-create "$moto" items hash &&
  awsctl table-fill "$moto" items 5 && awsctl table-create "$moto" numbered number || exit 1
"$here/make_dump.sh" "$work/dump" 20
printf 'x\n' > "$work/file"
run "$mover" backup "$work/dump" "$work/dump-bucket" &&
  run "$mover" backup dynamodb://items "$work/items" --endpoint-url "$moto" &&
  expect_status 3 "$mover" backup dynamodb://items "$work/partial" --endpoint-url "$moto" \
    --stop-after 1 --limit 1 --buffer 64 || exit 1
port=$(free_port)
n=0  # each row its own bucket

# row EXPECTED ARGUMENTS...: clouddb-mover ARGUMENTS fails with one line
# holding EXPECTED.
row() {
  check_async "$*" fails_with "$1" "$mover" "${@:2}"
}
# row_in ENV EXPECTED ARGUMENTS...: the same with env's arguments ENV.
row_in() {
  # shellcheck disable=SC2086
  check_async "$*" fails_with "$2" env $1 "$mover" "${@:3}"
}
# Usage.
row "A subcommand is required (see --help)"
row "unknown command frobnicate (the commands are backup, restore, dump and demo" frobnicate
row "BUCKET is required" backup "$work/dump"
row "--buffer: Value 0 not in range" backup "$work/dump" "$work/b$((++n))" --buffer 0
row "--segments: Value 0 not in range" backup dynamodb://items "$work/b$((++n))" --segments 0
row "dump takes dynamodb://TABLE, not $work/dump" dump "$work/dump" "$work/d"
row "--resume continues a restore into a table" restore "$work/dump-bucket" "$work/r" --resume
# Settings.
row_in "-u AWS_ACCESS_KEY_ID" "no AWS credentials: set AWS_ACCESS_KEY_ID" backup \
  dynamodb://items "$work/b$((++n))"
row "endpoint is not an http or https URL: localhost:1" backup dynamodb://items "$work/b$((++n))" \
  --endpoint-url localhost:1
row_in AWS_MAX_ATTEMPTS=zero "AWS_MAX_ATTEMPTS must be a positive number" backup \
  dynamodb://items "$work/b$((++n))"
row "at most 5 GiB" backup "$work/dump" s3://backups/x --limit 0 --endpoint-url "$moto"
# Sources and targets.
row "no such directory: $work/nowhere" backup "$work/nowhere" "$work/b$((++n))"
row "no table missing in region us-east-1 at $moto (check the table's name, AWS_REGION" \
  backup dynamodb://missing "$work/b$((++n))" --endpoint-url "$moto"
row "already holds a backup (use --resume" backup "$work/dump" "$work/dump-bucket"
row "cannot create $work/file/target" restore "$work/dump-bucket" "$work/file/target"
row "no backup in $work/empty" restore "$work/empty" "$work/r"
row "no bucket no-such-bucket at $moto (create it first" restore s3://no-such-bucket/p \
  "$work/r" --endpoint-url "$moto"
row "the server at $dynalite does not answer as S3 does (check --endpoint-url" \
  restore s3://backups/p "$work/r" --endpoint-url "$dynalite"
row "no interrupted restore of $work/items into table copy to resume" \
  restore "$work/items" dynamodb://copy --resume --endpoint-url "$moto"
row "$work/dump is not empty (use --force to restore among its files)" \
  restore "$work/dump-bucket" "$work/dump"
row "has 4 segments: resume it without --segments" backup dynamodb://items "$work/partial" \
  --resume --segments 2 --endpoint-url "$moto"
row "is not empty (use --into-existing to write into it, or --resume" \
  restore "$work/items" dynamodb://items --endpoint-url "$moto"
# The agent's own failure, as the service gave it to the agent.
row "closing cloud file part-000000 failed: BatchWriteItem failed: HTTP 400 ValidationException" \
  restore "$work/items" dynamodb://numbered --into-existing --endpoint-url "$moto"
# The network and the service.
row "failed: no answer from http://127.0.0.1:$port" backup dynamodb://items "$work/b$((++n))" \
  --endpoint-url "http://127.0.0.1:$port" --max-attempts 1
row "HeadObject failed: HTTP 403 Forbidden: access denied or a wrong signature" \
  restore s3://backups/p "$work/r" --endpoint-url "$wrong_secret"
row "HeadObject failed: HTTP 503 Service Unavailable: the service is busy or down (a HEAD" \
  restore s3://backups/p "$work/r" --endpoint-url "$heads_throttled" --max-attempts 1

says() {  # says EXPECTED ARGUMENTS...: exits 0, printing EXPECTED first
  "$mover" "${@:2}" > "$work/says.out" 2>&1 && [ "$(head -n 1 "$work/says.out")" = "$1" ]
}
check "--version" says "clouddb-mover 0.1.0" --version
report
