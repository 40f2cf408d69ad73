#!/usr/bin/env bash
# Installs what is needed, builds the normal flavour and starts the daemon in
# the foreground on the stand-in board. Extra arguments go to the daemon.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_TESTS=OFF
cmake --build build/release -j"$(nproc)" --target server
exec build/release/core/server "$@"
