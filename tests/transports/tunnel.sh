#!/usr/bin/env bash
# The HTTP tunnel script of the tests, as a ctest fixture.
#
#   tunnel.sh start DIR   start httptunnel.py on 127.0.0.1, write DIR/tunnel.env
#   tunnel.sh stop DIR    stop it
#
# The script exits by itself when the process that started it (ctest) is gone.
set -euo pipefail
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)

stop() {
  local pid; pid=$(cat "$dir/tunnel.pid" 2>/dev/null || true)
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -f "$dir/tunnel.pid" "$dir/tunnel.env" "$dir/tunnel.port"
}

case "$cmd" in
  start)
    stop
    mkdir -p "$dir"
    python=/usr/bin/python3; [ -x "$python" ] || python=python3
    "$python" "$here/httptunnel.py" --port-file "$dir/tunnel.port" --owner "${TUNNEL_OWNER_PID:-$PPID}" \
      </dev/null >"$dir/tunnel.log" 2>&1 &
    echo $! >"$dir/tunnel.pid"
    for _ in $(seq 1 100); do [ -s "$dir/tunnel.port" ] && break; sleep 0.1; done
    [ -s "$dir/tunnel.port" ] || { echo "the tunnel script did not start:" >&2; cat "$dir/tunnel.log" >&2; exit 1; }
    echo "DATEST_TUNNEL_URL=http://127.0.0.1:$(cat "$dir/tunnel.port")" >"$dir/tunnel.env"
    echo "tunnel script on $(cat "$dir/tunnel.env")"
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
