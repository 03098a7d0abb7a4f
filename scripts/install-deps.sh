#!/usr/bin/env bash
# Installs what building and testing need, but only what is missing: Debian
# packages, the local AWS-API servers of the tests (moto_server from the
# Python package moto[server]; dynalite and s3rver from npm, pinned by
# tests/servers/package-lock.json). Runs as root (or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
# "demo": only what `make demo` needs (the plug-in, the host stand-in,
# clouddb-mover and moto_server).
only_demo=false
[ "${1:-}" = demo ] && only_demo=true

packages=(
  cmake
  ninja-build
  g++
  rapidjson-dev
  libcli11-dev
  libxxhash-dev
  libcurl4-openssl-dev
  libssl-dev
  pkgconf
)
$only_demo || packages+=(
  binutils
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  clang
  libclang-rt-dev
  dpkg-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

$only_demo || command -v node > /dev/null || missing+=(nodejs npm)
command -v python3 > /dev/null || missing+=(python3 python3-pip)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! command -v moto_server > /dev/null; then
  echo "Installing moto_server (Python package moto[server]) for the tests"
  python3 -m pip install --quiet 'moto[server]' || $sudo python3 -m pip install --quiet \
    --break-system-packages 'moto[server]'
fi

$only_demo && exit 0
servers=tests/servers
if [ ! -d "$servers/node_modules" ] || [ "$servers/package-lock.json" -nt "$servers/node_modules" ]; then
  echo "Installing dynalite and s3rver (npm ci in $servers) for the tests"
  npm ci --prefix "$servers" --no-audit --no-fund --loglevel=error
  touch "$servers/node_modules"
fi
