#!/usr/bin/env bash
# Sets up and runs the whole test suite: installs the packages, configures
# and builds, then runs ctest, which starts and stops its own throwaway
# MariaDB server.
#
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  cmake_args+=(-DDA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja "${cmake_args[@]}"
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
ctest --output-on-failure -j "$(nproc)"
