#!/usr/bin/env bash
# Logs in to the throwaway server with the stock client: over TCP without
# TLS, over the socket, with TLS verified against the test CA, with a client
# certificate, with the empty-password and the old-password accounts; and
# checks the settings the suite relies on.
set -euo pipefail
env_file=$1
[ -f "$env_file" ] || { echo "no $env_file: the test server is not running" >&2; exit 1; }
# shellcheck disable=SC1090
. "$env_file"
client=$(command -v mariadb || command -v mysql)
q() { "$client" --no-defaults --batch --skip-column-names "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

tcp=(-h "$DATEST_HOST" -P "$DATEST_PORT")
[ "$(q "${tcp[@]}" --skip-ssl -u"$DATEST_USER" -p"$DATEST_PASSWORD" -e 'SELECT CURRENT_USER()')" = "$DATEST_USER@%" ] \
  || fail "TCP login with the password account"
[ "$(q --socket="$DATEST_SOCKET" -u"$DATEST_USER" -p"$DATEST_PASSWORD" "$DATEST_DATABASE" -e 'SELECT DATABASE()')" = "$DATEST_DATABASE" ] \
  || fail "socket login into the test database"
[ "$(q "${tcp[@]}" --skip-ssl -u"$DATEST_NOPW_USER" -e 'SELECT 1')" = 1 ] || fail "empty-password login"
[ "$(q "${tcp[@]}" --skip-ssl -u"$DATEST_OLD_USER" -p"$DATEST_OLD_PASSWORD" -e 'SELECT 1')" = 1 ] || fail "old-password login"
if q "${tcp[@]}" --skip-ssl -u"$DATEST_USER" -pwrong -e 'SELECT 1' 2>/dev/null; then fail "a wrong password was accepted"; fi

tls=$(q "${tcp[@]}" -u"$DATEST_USER" -p"$DATEST_PASSWORD" --ssl-ca="$DATEST_SSL_CA" --ssl-verify-server-cert \
        -e "SHOW SESSION STATUS LIKE 'Ssl_version'" | cut -f2)
case "$tls" in TLSv1.2|TLSv1.3) ;; *) fail "TLS session expected, got '$tls'" ;; esac
[ -n "$(q "${tcp[@]}" -u"$DATEST_USER" -p"$DATEST_PASSWORD" --ssl-ca="$DATEST_SSL_CA" --ssl-cert="$DATEST_SSL_CERT" \
        --ssl-key="$DATEST_SSL_KEY" -e "SHOW SESSION STATUS LIKE 'Ssl_cipher'" | cut -f2)" ] || fail "client certificate login"

settings=$(q "${tcp[@]}" --skip-ssl -u"$DATEST_USER" -p"$DATEST_PASSWORD" -e 'SELECT @@have_ssl, @@local_infile, @@port')
[ "$settings" = "$(printf 'YES\t1\t%s' "$DATEST_PORT")" ] || fail "server settings: $settings"
echo "server checks passed ($DATEST_HOST:$DATEST_PORT, $tls)"
