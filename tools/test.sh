#!/usr/bin/env bash
# Installs what is needed, builds the sanitizer flavour and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DCMAKE_CXX_FLAGS=-O1
cmake --build build/asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j"$jobs"
# Each test binary once more as one process, shuffled: a test that leaves
# state behind for the next fails here.
for t in build/asan/tests/*/test_*; do
  [ -x "$t" ] || continue
  (cd "$(dirname "$t")" && "./$(basename "$t")" --gtest_shuffle --gtest_brief=1)
done

# Fuzz targets: clang with libFuzzer, each run for a short fixed time.
if [ -f tests/fuzz/CMakeLists.txt ]; then
  cmake -S . -B build/fuzz -DFUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-O1
  cmake --build build/fuzz -j"$jobs"
  ctest --test-dir build/fuzz --output-on-failure -j"$jobs"
fi
