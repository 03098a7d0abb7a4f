#!/usr/bin/env bash
# Writes a small table dump with the awkward cases into DIR: an empty file,
# no final line feed, carriage returns, NUL bytes, a negative shard number,
# lines longer than one record of the reference agent.
# Usage: make_dump.sh DIR [LINES]   (LINES of the large scan file, default 3000)
set -euo pipefail
source=$1
mkdir -p "$source"
: > "$source/Empty-0.dynamodump"
printf '{"pk":{"S":"a"}}\r\n{"pk":{"S":"b"}}' > "$source/Items-1.dynamodump"
printf 'x\0y\r\n\\n\\\r\r\r\n' > "$source/-7-shard-x.dynamostreamdump"
for i in $(seq 1 "${2:-3000}"); do
  printf '{"pk":{"S":"user%06d"},"data":{"S":"%0200d"}}\n' "$i" "$i"
done > "$source/Items-2.dynamodump"
head -c 20000 /dev/zero | tr '\0' 'L' > "$source/Long-3.dynamodump"
printf '{"table":"Items"}\n' > "$source/metadata.json"
printf '{\r\n "TableName": "Items"\r\n}' > "$source/description.json"
