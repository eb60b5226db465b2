#!/usr/bin/env bash
# A throwaway MariaDB server for tests and benchmarks.
#
#   scripts/testserver.sh start DIR   start (or find running) a server under DIR;
#                                     prints the VELTRO_TEST_* variables, also
#                                     written to DIR/env.sh
#   scripts/testserver.sh stop DIR    stop it by its pid
#   scripts/testserver.sh kill DIR    end it at once by its pid (SIGKILL, as a
#                                     crash), keeping DIR/env.sh
#   scripts/testserver.sh resume DIR  start it again on the same port, socket
#                                     and data directory (nothing when running);
#                                     rewrites VELTRO_TEST_PID in DIR/env.sh
#   scripts/testserver.sh restart DIR stop it by its pid, then resume
#
# The server listens on a free loopback port and on DIR/mysqld.sock, holds the
# database veltro_test and the account veltro (password in DIR/env.sh) with
# every privilege. It offers TLS with a certificate for 127.0.0.1 and
# localhost, signed by a CA made on the first start (DIR/tls/ca.pem, in
# VELTRO_TEST_SSL_CA); the account veltro_tls (same password, every privilege)
# may only connect over TLS. DIR/tls/other-ca.pem (VELTRO_TEST_OTHER_CA) is a
# CA that signed nothing of this server. Extra mariadbd options may be given
# in VELTRO_SERVER_OPTS.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
usage="usage: $0 start|stop|kill|resume|restart DIR"
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "$usage" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
pidfile=$dir/mysqld.pid
sock=$dir/mysqld.sock
tls=$dir/tls

alive() { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }

stop() {
  if alive; then
    pid=$(cat "$pidfile")
    kill "$pid"
    for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

free_port() {
  local p
  for _ in $(seq 1 200); do
    p=$((20000 + RANDOM % 30000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
  done
  echo "no free port found" >&2; return 1
}

# A CA of one's own and a server certificate it signs, for 127.0.0.1 and
# localhost; made once, kept for resume. A second CA signs nothing.
make_tls() {
  [ -f "$tls/server-cert.pem" ] && [ -f "$tls/other-ca.pem" ] && return 0
  command -v openssl >/dev/null || { echo "openssl is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  rm -rf "$tls"
  mkdir -p "$tls"
  (
    cd "$tls"
    for ca in ca other-ca; do
      openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Veltro test $ca" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$ca-key.pem" -out "$ca.pem"
    done
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server-key.pem -out server.csr
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
      >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 3650 \
      -extfile server.ext -out server-cert.pem
  ) >"$dir/tls.log" 2>&1 || { cat "$dir/tls.log" >&2; exit 1; }
}

launch() {
  # shellcheck disable=SC2086
  mariadbd --no-defaults --user="$(id -un)" --datadir="$dir/data" --socket="$sock" \
    --port="$1" --bind-address=127.0.0.1 --pid-file="$pidfile" --log-error="$dir/error.log" \
    --ssl-ca="$tls/ca.pem" --ssl-cert="$tls/server-cert.pem" --ssl-key="$tls/server-key.pem" \
    --skip-log-bin --innodb-buffer-pool-size=128M --max-allowed-packet=64M \
    --innodb-flush-log-at-trx-commit="${VELTRO_FLUSH:-2}" ${VELTRO_SERVER_OPTS:-} \
    >/dev/null 2>&1 &
  for _ in $(seq 1 300); do
    mariadb-admin --no-defaults -uroot -S "$sock" ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb-admin --no-defaults -uroot -S "$sock" ping >/dev/null 2>&1 \
    || { echo "the test server did not start:" >&2; tail -20 "$dir/error.log" >&2; exit 1; }
}

start() {
  # A server started before it offered TLS is started again.
  if alive && grep -q VELTRO_TEST_SSL_CA "$dir/env.sh" 2>/dev/null; then cat "$dir/env.sh"; return 0; fi
  stop
  make_tls
  if [ ! -d "$dir/data/mysql" ]; then
    rm -rf "$dir/data"
    mariadb-install-db --no-defaults --user="$(id -un)" --datadir="$dir/data" \
      --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 \
      || { cat "$dir/install.log" >&2; exit 1; }
  fi
  port=$(free_port)
  launch "$port"
  password=veltro-$RANDOM$RANDOM
  mariadb --no-defaults -uroot -S "$sock" <<SQL
CREATE DATABASE IF NOT EXISTS veltro_test;
CREATE OR REPLACE USER 'veltro'@'%' IDENTIFIED BY '$password';
CREATE OR REPLACE USER 'veltro'@'localhost' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON *.* TO 'veltro'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'veltro'@'localhost' WITH GRANT OPTION;
CREATE OR REPLACE USER 'veltro_tls'@'%' IDENTIFIED BY '$password' REQUIRE SSL;
CREATE OR REPLACE USER 'veltro_tls'@'localhost' IDENTIFIED BY '$password' REQUIRE SSL;
GRANT ALL PRIVILEGES ON *.* TO 'veltro_tls'@'%';
GRANT ALL PRIVILEGES ON *.* TO 'veltro_tls'@'localhost';
SQL
  mkdir -p "$dir/tmp"
  cat >"$dir/env.sh" <<ENV
export VELTRO_TEST_HOST=127.0.0.1
export VELTRO_TEST_PORT=$port
export VELTRO_TEST_SOCKET=$sock
export VELTRO_TEST_USER=veltro
export VELTRO_TEST_PASSWORD=$password
export VELTRO_TEST_DB=veltro_test
export VELTRO_TEST_PID=$(cat "$pidfile")
export VELTRO_TEST_SERVER_DIR=$dir
export VELTRO_TEST_TMP=$dir/tmp
export VELTRO_TEST_SSL_CA=$tls/ca.pem
export VELTRO_TEST_OTHER_CA=$tls/other-ca.pem
export VELTRO_TEST_TLS_USER=veltro_tls
ENV
  cat "$dir/env.sh"
}

# The server of DIR ended at once, as by a crash; its settings stay for resume.
kill_now() {
  if alive; then
    pid=$(cat "$pidfile")
    kill -9 "$pid"
    for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$pidfile"
}

# Starts the server of DIR again where the tests expect it: the port of env.sh.
resume() {
  [ -f "$dir/env.sh" ] || { echo "no server was started under $dir" >&2; exit 1; }
  if alive; then return 0; fi
  rm -f "$pidfile"
  port=$(sed -n 's/^export VELTRO_TEST_PORT=//p' "$dir/env.sh")
  make_tls
  launch "$port"
  sed -i "s/^export VELTRO_TEST_PID=.*/export VELTRO_TEST_PID=$(cat "$pidfile")/" "$dir/env.sh"
}

case "$cmd" in
  start) start ;;
  stop) stop ;;
  kill) kill_now ;;
  resume) resume ;;
  restart) stop; resume ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
