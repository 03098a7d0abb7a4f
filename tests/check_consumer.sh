#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a tiny
# out-of-tree agent against it, once through the CMake package and once
# through pkg-config.
# Usage: check_consumer.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > /dev/null
expected="hello from an installed clouddb"

cmake -S "$source" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/cmake" > /dev/null
"$work/cmake/consumer" | grep -q "$expected"
echo "find_package consumer: ok"

pcdir=$(dirname "$(find "$work/prefix" -name clouddb.pc)")
libdir=$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir clouddb)
# shellcheck disable=SC2046
c++ -std=c++17 "$source/agent.cc" -o "$work/consumer-pc" \
  $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs clouddb) -Wl,-rpath,"$libdir"
"$work/consumer-pc" | grep -q "pk::\*::ok\*/\*/"
echo "pkg-config consumer: ok"
