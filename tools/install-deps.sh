#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev python3
  libboost-dev libloki-dev
  libgtest-dev libgmock-dev libbenchmark-dev libevent-dev
  erlang-base erlang-asn1 erlang-dev tshark
  libosmocore-dev pkg-config
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
