#!/usr/bin/env bash
# Throwaway MariaDB server for the test suite.
#
#   testserver.sh start DIR   create DIR, start a private server in it, write DIR/server.env
#   testserver.sh stop DIR    stop the server started in DIR and remove its data
#
# The server listens on 127.0.0.1 on a free port and on its own socket in DIR,
# so it never touches a server already running on the machine. `start` also
# leaves a watchdog behind that stops the server when the process that asked
# for it (ctest, normally) goes away without calling `stop`, so an interrupted
# run leaves nothing behind.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

# Fixed test accounts; tests read them from server.env.
DB=datest
USER_PW=da_user;    PASSWORD=da_secret
USER_NOPW=da_nopw
USER_OLD=da_old;    OLD_PASSWORD=old_secret
USER_X509=da_x509;  X509_PASSWORD=x509_secret

find_bin() {
  for name in "$@"; do
    for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
      [ -x "$d/$name" ] && { echo "$d/$name"; return 0; }
    done
    command -v "$name" 2>/dev/null && return 0
  done
  return 1
}

# True while PID runs; a zombie that nobody has reaped yet counts as gone.
alive() {
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 1
  local state; state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null || echo R)
  [ "$state" != Z ]
}

server_pid() {
  [ -f "$dir/mariadbd.pid" ] && cat "$dir/mariadbd.pid" 2>/dev/null || true
}

stop_server() {
  local pid; pid=$(server_pid)
  if alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do alive "$pid" || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  local wd; wd=$(cat "$dir/watchdog.pid" 2>/dev/null || true)
  if [ "$wd" != "$$" ] && alive "$wd"; then
    kill "$wd" 2>/dev/null || true
  fi
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

make_certs() {
  local c="$dir/certs"; mkdir -p "$c"
  local subj="/C=PT/O=dataaccess tests"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "$subj/CN=Test CA" \
    -keyout "$c/ca-key.pem" -out "$c/ca.pem" 2>/dev/null
  for who in server client; do
    local cn=$who; [ $who = server ] && cn=127.0.0.1
    openssl req -newkey rsa:2048 -nodes -subj "$subj/CN=$cn" \
      -keyout "$c/$who-key.pem" -out "$c/$who.csr" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > "$c/$who.ext"
    openssl x509 -req -days 3650 -in "$c/$who.csr" -CA "$c/ca.pem" -CAkey "$c/ca-key.pem" \
      -CAcreateserial -extfile "$c/$who.ext" -out "$c/$who-cert.pem" 2>/dev/null
  done
  # A CA the server's certificate does not chain to.
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "$subj/CN=Other CA" \
    -keyout "$c/other-ca-key.pem" -out "$c/other-ca.pem" 2>/dev/null
}

start_server() {
  local mariadbd install_db client
  mariadbd=$(find_bin mariadbd mysqld) || { echo "mariadbd not found: install mariadb-server" >&2; exit 1; }
  install_db=$(find_bin mariadb-install-db mysql_install_db) || { echo "mariadb-install-db not found" >&2; exit 1; }
  client=$(find_bin mariadb mysql) || { echo "mariadb client not found: install mariadb-client" >&2; exit 1; }

  stop_server
  rm -rf "$dir"; mkdir -p "$dir/data" "$dir/tmp"
  local as_user=(); [ "$(id -u)" = 0 ] && as_user=(--user=root)

  "$install_db" --no-defaults "${as_user[@]}" --datadir="$dir/data" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 \
    || { cat "$dir/install.log" >&2; exit 1; }
  make_certs

  local sock="$dir/mysqld.sock" port started=""
  for _ in $(seq 1 20); do
    port=$(( 20000 + RANDOM % 40000 ))
    port_in_use "$port" && continue
    "$mariadbd" --no-defaults "${as_user[@]}" --datadir="$dir/data" --tmpdir="$dir/tmp" \
      --socket="$sock" --pid-file="$dir/mariadbd.pid" --port="$port" --bind-address=127.0.0.1 \
      --skip-name-resolve --local-infile=1 --secure-auth=0 --max-allowed-packet=64M \
      --innodb-buffer-pool-dump-at-shutdown=0 --innodb-buffer-pool-load-at-startup=0 \
      --innodb-log-file-size=16M --skip-log-bin --log-error="$dir/error.log" \
      --ssl-ca="$dir/certs/ca.pem" --ssl-cert="$dir/certs/server-cert.pem" \
      --ssl-key="$dir/certs/server-key.pem" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 300); do
      if [ -S "$sock" ] && "$client" --no-defaults -uroot --socket="$sock" -e 'SELECT 1' >/dev/null 2>&1; then
        started=yes; break
      fi
      alive "$pid" || break
      sleep 0.1
    done
    [ -n "$started" ] && break
    kill -KILL "$pid" 2>/dev/null || true
    # A port taken between the check and the bind: try another one.
    grep -q -i 'bind\|address already in use' "$dir/error.log" 2>/dev/null || break
  done
  [ -n "$started" ] || { echo "the test server did not start:" >&2; tail -n 30 "$dir/error.log" >&2 || true; exit 1; }

  "$client" --no-defaults -uroot --socket="$sock" <<SQL
CREATE DATABASE $DB;
CREATE USER '$USER_PW'@'%' IDENTIFIED VIA mysql_native_password USING PASSWORD('$PASSWORD');
CREATE USER '$USER_PW'@'localhost' IDENTIFIED VIA mysql_native_password USING PASSWORD('$PASSWORD');
CREATE USER '$USER_NOPW'@'%';
CREATE USER '$USER_NOPW'@'localhost';
SET @old_hash = OLD_PASSWORD('$OLD_PASSWORD');
EXECUTE IMMEDIATE CONCAT('CREATE USER ''$USER_OLD''@''%'' IDENTIFIED VIA mysql_old_password USING ''', @old_hash, '''');
CREATE USER '$USER_X509'@'%' IDENTIFIED BY '$X509_PASSWORD' REQUIRE X509;
CREATE USER '$USER_X509'@'localhost' IDENTIFIED BY '$X509_PASSWORD' REQUIRE X509;
GRANT ALL ON *.* TO '$USER_PW'@'%', '$USER_PW'@'localhost', '$USER_NOPW'@'%', '$USER_NOPW'@'localhost', '$USER_OLD'@'%';
GRANT ALL ON *.* TO '$USER_X509'@'%', '$USER_X509'@'localhost';
FLUSH PRIVILEGES;
SQL

  cat >"$dir/server.env" <<ENV
DATEST_HOST=127.0.0.1
DATEST_PORT=$port
DATEST_SOCKET=$sock
DATEST_DATABASE=$DB
DATEST_USER=$USER_PW
DATEST_PASSWORD=$PASSWORD
DATEST_NOPW_USER=$USER_NOPW
DATEST_OLD_USER=$USER_OLD
DATEST_OLD_PASSWORD=$OLD_PASSWORD
DATEST_SSL_CA=$dir/certs/ca.pem
DATEST_SSL_CERT=$dir/certs/client-cert.pem
DATEST_SSL_KEY=$dir/certs/client-key.pem
DATEST_SSL_OTHER_CA=$dir/certs/other-ca.pem
DATEST_X509_USER=$USER_X509
DATEST_X509_PASSWORD=$X509_PASSWORD
ENV

  # Watchdog: stop the server once the requesting process is gone.
  local owner=${TESTSERVER_OWNER_PID:-$PPID}
  ( trap '' HUP; exec </dev/null >/dev/null 2>&1
    while alive "$owner" && [ -f "$dir/server.env" ]; do sleep 1; done
    [ -f "$dir/server.env" ] && "$0" stop "$dir" ) &
  echo $! >"$dir/watchdog.pid"
  echo "test server on 127.0.0.1:$port (socket $sock)"
}

case "$cmd" in
  start) start_server ;;
  stop)  stop_server; rm -f "$dir/server.env"; rm -rf "$dir/data" "$dir/tmp" ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
