#!/usr/bin/env bash
# The tool on a demo database of its own, in one command:
#
#   scripts/demo.sh            install the packages, build, start the demo
#                              server (created and filled on the first run),
#                              and open the window on it
#   scripts/demo.sh --server   the same without opening the window
#   scripts/demo.sh --stop     stop the demo server (its data stays)
#   scripts/demo.sh --remove   stop it and remove its data
#
# The demo server is a MariaDB server of its own: data in .demo/ (ignored by
# git, kept between runs, so a change scheduled in one run is listed in the
# next), listening on 127.0.0.1 on a port of its own and on its own socket,
# started with --no-defaults so that it reads no configuration of another
# server and never touches one. It keeps running after the window closes
# until --stop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=$root/.demo
build=$root/build-demo
sock=$demo/mysqld.sock
conf=$demo/agendaiva.conf
identity=$demo/identidade.conf

CENTRAL_DB=agendaiva
DEMO_USER=agendaiva
DEMO_PASSWORD=demo-agendaiva

say() { printf 'demo: %s\n' "$*"; }

find_bin() {
  for name in "$@"; do
    for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
      [ -x "$d/$name" ] && { echo "$d/$name"; return 0; }
    done
    command -v "$name" 2>/dev/null && return 0
  done
  return 1
}

# True while PID runs; a zombie counts as gone.
alive() {
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 1
  local state; state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null || echo R)
  [ "$state" != Z ]
}

server_pid() { cat "$demo/mariadbd.pid" 2>/dev/null || true; }

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The server's administrator is the user running this script, logged in
# through the socket (no password anywhere).
client() { "$(find_bin mariadb mysql)" --no-defaults -u"$(id -un)" --socket="$sock" --default-character-set=utf8mb4 "$@"; }

running() { alive "$(server_pid)" && client -e 'SELECT 1' >/dev/null 2>&1; }

stop_server() {
  local pid; pid=$(server_pid)
  if alive "$pid"; then
    kill -TERM "$pid"
    for _ in $(seq 1 300); do alive "$pid" || break; sleep 0.1; done
    alive "$pid" && kill -KILL "$pid"
    say "demo server stopped"
  else
    say "the demo server is not running"
  fi
  rm -f "$demo/mariadbd.pid"
}

# Starts the server on the port it had (or a new free one when that one is
# taken now), creating its data directory on the first run.
start_server() {
  local mariadbd install_db
  mariadbd=$(find_bin mariadbd mysqld) || { say "mariadbd not found: install mariadb-server" >&2; exit 1; }
  install_db=$(find_bin mariadb-install-db mysql_install_db) || { say "mariadb-install-db not found" >&2; exit 1; }
  local as_user=(); [ "$(id -u)" = 0 ] && as_user=(--user=root)
  mkdir -p "$demo/tmp"
  if [ ! -d "$demo/data/mysql" ]; then
    rm -rf "$demo/data" "$demo/seeded"
    say "creating the demo server's data directory in $demo/data"
    "$install_db" --no-defaults "${as_user[@]}" --datadir="$demo/data" \
      --auth-root-authentication-method=socket --auth-root-socket-user="$(id -un)" --skip-test-db >"$demo/install.log" 2>&1 \
      || { cat "$demo/install.log" >&2; exit 1; }
  fi
  local port; port=$(cat "$demo/port" 2>/dev/null || true)
  local started=""
  for _ in $(seq 1 20); do
    if [ -z "$port" ] || port_in_use "$port"; then
      port=$(( 20000 + RANDOM % 40000 ))
      port_in_use "$port" && { port=""; continue; }
    fi
    "$mariadbd" --no-defaults "${as_user[@]}" --datadir="$demo/data" --tmpdir="$demo/tmp" \
      --socket="$sock" --pid-file="$demo/mariadbd.pid" --port="$port" --bind-address=127.0.0.1 \
      --skip-name-resolve --character-set-server=latin1 --collation-server=latin1_swedish_ci \
      --innodb-log-file-size=16M --skip-log-bin --log-error="$demo/error.log" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 300); do
      if [ -S "$sock" ] && client -e 'SELECT 1' >/dev/null 2>&1; then started=yes; break; fi
      alive "$pid" || break
      sleep 0.1
    done
    [ -n "$started" ] && break
    kill -KILL "$pid" 2>/dev/null || true
    # The port was taken between the check and the bind: try another.
    grep -q -i 'bind\|address already in use' "$demo/error.log" 2>/dev/null || break
    port=""
  done
  [ -n "$started" ] || { say "the demo server did not start:" >&2; tail -n 30 "$demo/error.log" >&2 || true; exit 1; }
  echo "$port" >"$demo/port"
  say "demo server on 127.0.0.1:$port (data in $demo)"
}

seed() {
  [ -f "$demo/seeded" ] && return 0
  say "creating the demo databases (central '$CENTRAL_DB', customer 'loja_sede')"
  # Not marked as seeded: whatever an interrupted first run left on the
  # demo's own server goes, so that seeding starts clean.
  client <<SQL
DROP DATABASE IF EXISTS $CENTRAL_DB;
DROP DATABASE IF EXISTS loja_sede;
DROP USER IF EXISTS '$DEMO_USER'@'127.0.0.1', '$DEMO_USER'@'localhost';
SQL
  client <"$root/scripts/demo/seed.sql"
  client <<SQL
CREATE USER '$DEMO_USER'@'127.0.0.1' IDENTIFIED BY '$DEMO_PASSWORD';
CREATE USER '$DEMO_USER'@'localhost' IDENTIFIED BY '$DEMO_PASSWORD';
GRANT SELECT, INSERT, UPDATE, DELETE ON $CENTRAL_DB.* TO '$DEMO_USER'@'127.0.0.1', '$DEMO_USER'@'localhost';
GRANT SELECT ON loja_sede.* TO '$DEMO_USER'@'127.0.0.1', '$DEMO_USER'@'localhost';
SQL
  touch "$demo/seeded"
}

# The deployment settings and the installation identity the demo build
# reads (Windows-1252 text; the company name has an accented letter).
write_settings() {
  local port; port=$(cat "$demo/port")
  printf '%s\r\n' "# Demo: written by scripts/demo.sh on every run" \
    "servidor=127.0.0.1" "porta=$port" "basedados=$CENTRAL_DB" \
    "utilizador=$DEMO_USER" "palavrapasse=$DEMO_PASSWORD" "identidade=$identity" >"$conf"
  printf 'empresa=Padaria S\xe3o Jo\xe3o, Lda\r\nserial=DEMO-0001\r\n' >"$identity"
}

build() {
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S "$root" -B "$build" -G Ninja -DDA_BUILD_TESTS=OFF -DDA_BUILD_BENCH=OFF \
    -DAGENDAIVA_DEPLOYMENT_FILE="$conf" -DAGENDAIVA_IDENTITY_FILE="$identity" "${launcher[@]}" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target agendaiva
}

case "${1:-}" in
  --stop) stop_server; exit 0 ;;
  --remove) stop_server; rm -rf "$demo"; say "demo data removed"; exit 0 ;;
  ""|--server) ;;
  *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac

"$root/scripts/install-deps.sh"
build
mkdir -p "$demo"
running || start_server
seed
write_settings
[ "${1:-}" = --server ] && { say "ready; stop the server with scripts/demo.sh --stop"; exit 0; }

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<MSG
demo: the database is ready, but there is no display to open the window on.
      Run scripts/demo.sh from a desktop session (or over ssh -X from one),
      or start a virtual X display and point DISPLAY at it, for example:
        sudo apt-get install xvfb x11vnc
        Xvfb :99 -screen 0 1024x768x24 & export DISPLAY=:99
        x11vnc -display :99 &      (then look at it with any VNC viewer)
        scripts/demo.sh
      (xvfb-run -a scripts/demo.sh runs it without anything to look at.)
      The demo server keeps running; scripts/demo.sh --stop stops it.
MSG
  exit 3
fi
say "opening the window (the demo server keeps running; scripts/demo.sh --stop stops it)"
exec "$build/app/agendaiva"
