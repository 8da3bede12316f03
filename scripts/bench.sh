#!/usr/bin/env bash
# Builds the benchmarks and runs them in full against a throwaway server of
# their own (started and stopped here). Extra arguments go to wire_bench.
#
#   scripts/bench.sh                 1 000 000 rows, 20 000 inserts, best of 3
#   scripts/bench.sh --rows 100000   a shorter run
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

server_dir=$PWD/build/benchserver
tunnel_dir=$PWD/build/benchtunnel
trap 'tests/server/testserver.sh stop "$server_dir" >/dev/null 2>&1 || true
      tests/transports/tunnel.sh stop "$tunnel_dir" >/dev/null 2>&1 || true' EXIT
TESTSERVER_OWNER_PID=$$ tests/server/testserver.sh start "$server_dir"
TUNNEL_OWNER_PID=$$ tests/transports/tunnel.sh start "$tunnel_dir"

for b in build/bench/*/*_bench; do
  [ -x "$b" ] || continue
  case "$b" in
    */wire_bench) "$b" --env "$server_dir/server.env" --tunnel-env "$tunnel_dir/tunnel.env" "$@" ;;
    */components_bench) "$b" --env "$server_dir/server.env" "$@" ;;
    */driver_bench) "$b" --env "$server_dir/server.env" ;;
    */discovery_bench) "$b" --env "$server_dir/server.env" ;;
    */dataset_bench) "$b" --env "$server_dir/server.env" ;;
    *) "$b" ;;
  esac
done
