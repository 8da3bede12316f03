#!/bin/sh
# Installs the built library into a temporary prefix, builds the consumer
# against it twice (CMake package and pkg-config) and runs both against the
# throwaway server.
#   run_consumer.sh BUILD_DIR CONSUMER_SOURCE WORK_DIR SERVER_ENV CXX [CXXFLAGS]
set -eu
build=$1 src=$2 work=$3 env=$4 cxx=$5 flags=${6:-}
rm -rf "$work"
mkdir -p "$work"
# Staged under DESTDIR: a whole install also writes files at absolute paths
# (the tool's deployment file), which must not land on this machine.
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /opt/dataaccess >"$work/install.log"
prefix=$stage/opt/dataaccess

# CMake package.
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log"
cmake --build "$work/build" >"$work/build.log"

# pkg-config.
pc=$(find "$prefix" -name dataaccess.pc | head -n 1)
[ -n "$pc" ] || { echo "no dataaccess.pc installed" >&2; exit 1; }
PKG_CONFIG_PATH=$(dirname "$pc")
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
"$cxx" $flags -o "$work/consumer_pc" "$src/consumer.cpp" $(pkg-config --cflags --libs dataaccess)

set -a
. "$env"
set +a
for bin in "$work/build/consumer" "$work/consumer_pc"; do
  out=$("$bin")
  [ "$out" = "42" ] || { echo "$bin printed '$out', expected 42" >&2; exit 1; }
done
echo "both consumers printed 42"
