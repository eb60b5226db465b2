#!/usr/bin/env bash
# A throwaway three-node MariaDB Galera cluster on loopback, for tests and
# benchmarks.
#
#   scripts/cluster.sh start DIR        start (or find running) all three nodes
#                                       under DIR; prints the VELTRO_CLUSTER_*
#                                       variables, also written to DIR/env.sh
#   scripts/cluster.sh stop DIR         stop every node cleanly
#   scripts/cluster.sh kill DIR N       end node N (1..3) at once (SIGKILL, as a
#                                       crash)
#   scripts/cluster.sh freeze DIR N     stop node N's process (SIGSTOP): its
#                                       sockets stay open and nothing answers,
#                                       as on a paused machine
#   scripts/cluster.sh thaw DIR N       continue a frozen node (SIGCONT) without
#                                       waiting for it
#   scripts/cluster.sh resume DIR N     start (or thaw) node N again and wait
#                                       until it is Synced; a killed node
#                                       rejoins by IST
#   scripts/cluster.sh stop-node DIR N  stop node N cleanly
#   scripts/cluster.sh status DIR       one line per node: name, port, running
#                                       or stopped, state, cluster size
#   scripts/cluster.sh wait DIR         wait until every running node is Synced
#                                       in one cluster of them all
#
# Node N listens on 127.0.0.1, on the first port plus N - 1, and on
# DIR/nodeN/mysqld.sock; its data, log (DIR/nodeN/error.log) and settings
# (DIR/nodeN/my.cnf) live in DIR/nodeN. The first port is 3311 unless
# VELTRO_CLUSTER_FIRST_PORT gives another when the cluster starts; DIR keeps
# it (DIR/env.sh gives it as VELTRO_CLUSTER_PORT, which is where tests and
# benchmarks take it from). Group communication uses the first port plus
# 1256, 1266 and 1276 (4567/4577/4587 by default), IST the port above, SST
# the one above that. The cluster holds the database veltro_test and the account
# veltro (password in DIR/env.sh) with every privilege. Waits end after
# VELTRO_CLUSTER_TIMEOUT seconds (60); extra mariadbd options may be given in
# VELTRO_CLUSTER_OPTS.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
arg=${3:-}
usage="usage: $0 start|stop|status|wait DIR | $0 kill|freeze|thaw|resume|stop-node DIR N"
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "$usage" >&2; exit 2; }
case "$cmd" in
  kill | freeze | thaw | resume | stop-node)
    [[ "$arg" =~ ^[123]$ ]] || { echo "$usage (N is 1, 2 or 3)" >&2; exit 2; } ;;
esac
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
timeout=${VELTRO_CLUSTER_TIMEOUT:-60}
nodes=(1 2 3)
# The one place that chooses the cluster's ports: a directory keeps the first
# port it was started with, unless it is given again while every node is down.
recorded_port=$(sed -n 's/^export VELTRO_CLUSTER_PORT=//p' "$dir/env.sh" 2>/dev/null || true)
first_port=${VELTRO_CLUSTER_FIRST_PORT:-${recorded_port:-3311}}
if ! [[ "$first_port" =~ ^[0-9]+$ ]] || [ "$first_port" -lt 1024 ] || [ "$first_port" -gt 64000 ]; then
  echo "VELTRO_CLUSTER_FIRST_PORT is '$first_port': a port from 1024 to 64000" >&2
  exit 2
fi

port() { echo $((first_port + $1 - 1)); }
gcomm_port() { echo $((first_port + 1246 + 10 * $1)); }
home() { echo "$dir/node$1"; }
cnf() { echo "$dir/node$1/my.cnf"; }
sock() { echo "$dir/node$1/mysqld.sock"; }
log() { echo "$dir/node$1/error.log"; }

provider() {
  local p
  p=$(dpkg -L galera-4 2>/dev/null | grep '/libgalera_smm\.so$' | head -1 || true)
  if [ -n "$p" ] && [ -f "$p" ]; then echo "$p"; return 0; fi
  for p in /usr/lib/galera/libgalera_smm.so /usr/lib/libgalera_smm.so \
    /usr/lib/galera-4/libgalera_smm.so /usr/lib64/galera-4/libgalera_smm.so \
    /usr/lib64/galera/libgalera_smm.so /usr/lib/x86_64-linux-gnu/galera/libgalera_smm.so; do
    if [ -f "$p" ]; then echo "$p"; return 0; fi
  done
  echo "libgalera_smm.so not found (scripts/setup.sh installs galera-4)" >&2
  return 1
}

write_cnf() {
  local n=$1 g lib peers
  g=$(gcomm_port "$n")
  lib=$(provider)
  peers=127.0.0.1:$(gcomm_port 1),127.0.0.1:$(gcomm_port 2),127.0.0.1:$(gcomm_port 3)
  # Short evs timeouts so that a killed node is evicted within seconds; PT1S
  # already split the cluster of a busy two-core machine.
  cat >"$(cnf "$n")" <<CNF
[mysqld]
user=$(id -un)
datadir=$(home "$n")/data
socket=$(sock "$n")
pid-file=$(home "$n")/mysqld.pid
log-error=$(log "$n")
port=$(port "$n")
bind-address=127.0.0.1
skip-log-bin
max-allowed-packet=64M
innodb-buffer-pool-size=64M
innodb-flush-log-at-trx-commit=${VELTRO_FLUSH:-2}
performance-schema=OFF
binlog-format=ROW
default-storage-engine=InnoDB
innodb-autoinc-lock-mode=2
wsrep-on=ON
wsrep-provider=$lib
wsrep-cluster-name=veltro_test
wsrep-cluster-address=gcomm://$peers
wsrep-node-name=node$n
wsrep-node-address=127.0.0.1:$g
wsrep-node-incoming-address=127.0.0.1:$(port "$n")
wsrep-sst-receive-address=127.0.0.1:$((g + 2))
wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:$g;ist.recv_addr=127.0.0.1:$((g + 1));gcache.size=64M;gcache.recover=yes;evs.suspect_timeout=PT2S;evs.inactive_timeout=PT4S;evs.inactive_check_period=PT0.5S;evs.keepalive_period=PT0.5S;evs.join_retrans_period=PT0.5S;evs.install_timeout=PT3.5S"
# rsync SST refuses a server running as root; mariabackup connects to the
# donor as root over its socket, which needs no password.
wsrep-sst-method=mariabackup
wsrep-sst-auth=root:
CNF
}

# Only a mariadbd started with this node's settings file is the node: a pid
# file may be stale, and the SST tools are given the same settings file.
is_node() {
  local pid=$1 n=$2 exe
  exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || return 1
  case "${exe##*/}" in mariadbd | mysqld) ;; *) return 1 ;; esac
  grep -Fxqz -- "--defaults-file=$(cnf "$n")" "/proc/$pid/cmdline" 2>/dev/null
}

node_pid() {
  local n=$1 pid f
  pid=$(cat "$(home "$n")/mysqld.pid" 2>/dev/null || true)
  if [ -n "$pid" ] && is_node "$pid" "$n"; then echo "$pid"; return 0; fi
  # A joining node writes its pid file only after the state transfer.
  for f in $(grep -lFxz -- "--defaults-file=$(cnf "$n")" /proc/[0-9]*/cmdline 2>/dev/null || true); do
    pid=${f#/proc/}
    pid=${pid%/cmdline}
    if is_node "$pid" "$n"; then echo "$pid"; return 0; fi
  done
  return 1
}

running() { node_pid "$1" >/dev/null; }

# A killed node stays a zombie until init reaps it, which may take a second;
# it is gone all the same once its last thread has ended (and with it its
# ports and files).
alive() {
  local stat tasks
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ] && return 0
  tasks=("/proc/$1/task/"*)
  [ "${#tasks[@]}" -gt 1 ]
}

sql() {
  local n=$1
  shift
  mariadb --no-defaults -uroot -S "$(sock "$n")" --connect-timeout=2 -N -B "$@"
}

# Node N's wsrep state, readiness, cluster size and state comment, on one
# line in that order ("-" for what it does not say); read it with
#   read -r state ready size comment < <(node_status N)
node_status() {
  local n=$1 name value state=- ready=- comment=- size=-
  while IFS=$'\t' read -r name value; do
    case "$name" in
      wsrep_local_state) state=$value ;;
      wsrep_ready) ready=$value ;;
      wsrep_local_state_comment) comment=$value ;;
      wsrep_cluster_size) size=$value ;;
    esac
  done < <(sql "$n" -e "SHOW GLOBAL STATUS WHERE Variable_name IN
    ('wsrep_local_state','wsrep_ready','wsrep_local_state_comment','wsrep_cluster_size')" 2>/dev/null || true)
  echo "$state $ready $size $comment"
}

grastate() { sed -n "s/^$2:[[:space:]]*//p" "$(home "$1")/data/grastate.dat" 2>/dev/null || true; }

fail_node() {
  echo "node $1 (port $(port "$1")): $2; see $(log "$1"):" >&2
  tail -20 "$(log "$1")" >&2 2>/dev/null || true
  exit 1
}

# The position of a node that crashed is only in InnoDB (grastate.dat says
# seqno -1); without it the node would ask for a full SST. Sets recovered[N].
declare -A recovered=()
recover() {
  local n=$1 out=$dir/node$1/recover.log
  rm -f "$out"
  timeout "$timeout" mariadbd --defaults-file="$(cnf "$n")" --wsrep-recover --log-error="$out" \
    </dev/null >/dev/null 2>&1 || true
  recovered[$n]=$(sed -n 's/.*WSREP: Recovered position: *\([0-9a-f-]*:-\{0,1\}[0-9]*\).*/\1/p' \
    "$out" 2>/dev/null | tail -1)
}

# Where node N has to start from, by the position recover found for it;
# nothing when grastate.dat knows.
start_position() {
  local n=$1
  [ -f "$(home "$n")/data/grastate.dat" ] || return 0
  [ "$(grastate "$n" seqno)" = -1 ] || return 0
  case "${recovered[$n]}" in
    *:-1 | 00000000-0000-0000-0000-000000000000:* | '') ;;
    *) echo "${recovered[$n]}" ;;
  esac
}

# Starts node N in the background; "bootstrap" makes it a new cluster of its own.
launch() {
  local n=$1 mode=${2:-join} pos opts=()
  write_cnf "$n"
  mkdir -p "$(home "$n")/data"
  [ "$mode" = bootstrap ] && opts+=(--wsrep-new-cluster)
  # Recovered here, not inside $(...), so that recovered[] keeps what it found.
  [ -n "${recovered[$n]+set}" ] || [ "$(grastate "$n" seqno)" != -1 ] || recover "$n"
  pos=$(start_position "$n")
  if [ -n "$pos" ]; then
    opts+=(--wsrep-start-position="$pos")
    echo "cluster.sh: starting at the recovered position $pos (see recover.log)" >>"$(log "$n")"
  fi
  # Its own session, so that an interrupt of this script leaves it running.
  # shellcheck disable=SC2086
  setsid mariadbd --defaults-file="$(cnf "$n")" "${opts[@]}" ${VELTRO_CLUSTER_OPTS:-} \
    </dev/null >>"$(log "$n")" 2>&1 &
  # Until the exec is done the node is not to be found by its settings file.
  for _ in $(seq 1 100); do
    running "$n" && return 0
    sleep 0.05
  done
  fail_node "$n" "mariadbd did not start"
}

wait_synced() {
  local n=$1 end=$((SECONDS + timeout)) state ready size comment
  while :; do
    running "$n" || fail_node "$n" "mariadbd ended while starting"
    read -r state ready size comment < <(node_status "$n")
    [ "$state" = 4 ] && [ "$ready" = ON ] && return 0
    [ $SECONDS -lt $end ] || fail_node "$n" "not Synced after ${timeout}s (state ${comment:-unknown})"
    sleep 0.2
  done
}

# Every running node Synced, and all of them in one cluster of the size given.
wait_cluster() {
  local expected=$1 end=$((SECONDS + timeout)) n up ok state ready size comment
  while :; do
    up=0 ok=0
    for n in "${nodes[@]}"; do
      running "$n" || continue
      up=$((up + 1))
      read -r state ready size comment < <(node_status "$n")
      [ "$state" = 4 ] && [ "$ready" = ON ] && [ "$size" = "$expected" ] && ok=$((ok + 1))
    done
    [ "$up" -gt 0 ] && [ "$ok" = "$up" ] && return 0
    if [ $SECONDS -ge $end ]; then
      echo "the cluster under $dir did not settle within ${timeout}s:" >&2
      status >&2
      exit 1
    fi
    sleep 0.2
  done
}

count_running() {
  local n c=0
  for n in "${nodes[@]}"; do running "$n" && c=$((c + 1)); done
  echo "$c"
}

settle() {
  local up
  up=$(count_running)
  [ "$up" -gt 0 ] || return 0
  wait_cluster "$up"
}

stop_node() {
  local n=$1 pid
  if pid=$(node_pid "$n"); then
    kill "$pid" 2>/dev/null || true
    kill -CONT "$pid" 2>/dev/null || true  # a frozen node takes the signal once thawed
    for _ in $(seq 1 $((timeout * 10))); do alive "$pid" || break; sleep 0.1; done
    if alive "$pid"; then
      echo "node $n did not stop within ${timeout}s; killed (see $(log "$n"))" >&2
      kill -9 "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do alive "$pid" || break; sleep 0.1; done
    fi
  fi
  rm -f "$(home "$n")/mysqld.pid"
}

# Stopped one after another, the last one (node 1) knows it holds every
# transaction and is marked safe to bootstrap the next start.
stop_all() {
  local n
  for n in 3 2 1; do stop_node "$n"; done
}

freeze_node() {
  local n=$1 pid
  pid=$(node_pid "$n") || { echo "node $n is not running" >&2; exit 1; }
  kill -STOP "$pid"
}

thaw_node() {
  local n=$1 pid
  pid=$(node_pid "$n") || { echo "node $n is not running" >&2; exit 1; }
  kill -CONT "$pid"
}

kill_node() {
  local n=$1 pid
  if pid=$(node_pid "$n"); then
    kill -9 "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do alive "$pid" || break; sleep 0.1; done
  fi
  rm -f "$(home "$n")/mysqld.pid"
}

# With nothing running, the cluster restarts from the node marked safe to
# bootstrap; after a crash of all of them, from the one that got furthest.
# Sets boot (a global: what it recovers stays in recovered[] for the launch).
bootstrap_node() {
  local n seqno best_seqno=-2
  boot=1
  for n in "${nodes[@]}"; do
    if [ "$(grastate "$n" safe_to_bootstrap)" = 1 ]; then boot=$n; return 0; fi
  done
  for n in "${nodes[@]}"; do
    [ -f "$(home "$n")/data/grastate.dat" ] || continue
    seqno=$(grastate "$n" seqno)
    if [ "$seqno" = -1 ]; then
      recover "$n"
      seqno=${recovered[$n]##*:}
    fi
    [[ "$seqno" =~ ^-?[0-9]+$ ]] || seqno=-1
    if [ "$seqno" -gt "$best_seqno" ]; then boot=$n best_seqno=$seqno; fi
  done
  sed -i 's/^safe_to_bootstrap:.*/safe_to_bootstrap: 1/' "$(home "$boot")/data/grastate.dat" 2>/dev/null || true
}

password() { sed -n 's/^export VELTRO_CLUSTER_PASSWORD=//p' "$dir/env.sh" 2>/dev/null || true; }

accounts() {
  sql "$1" <<SQL
CREATE DATABASE IF NOT EXISTS veltro_test;
CREATE OR REPLACE USER 'veltro'@'%' IDENTIFIED BY '$2';
CREATE OR REPLACE USER 'veltro'@'localhost' IDENTIFIED BY '$2';
GRANT ALL PRIVILEGES ON *.* TO 'veltro'@'%' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'veltro'@'localhost' WITH GRANT OPTION;
SQL
}

# Node 1 alone makes the cluster's first state, accounts included; nodes 2 and
# 3 start from a copy of it, so they join with nothing to transfer instead of
# waiting for an SST each.
initialize() {
  local n pw
  stop_all
  rm -rf "$dir/node1" "$dir/node2" "$dir/node3" "$dir/env.sh"
  for n in "${nodes[@]}"; do mkdir -p "$(home "$n")"; done
  mariadb-install-db --no-defaults --user="$(id -un)" --datadir="$(home 1)/data" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 \
    || { cat "$dir/install.log" >&2; exit 1; }
  launch 1 bootstrap
  wait_synced 1
  pw=veltro-$RANDOM$RANDOM
  accounts 1 "$pw"
  stop_node 1
  for n in 2 3; do
    cp -a "$(home 1)/data" "$(home "$n")/data"
    rm -f "$(home "$n")/data/galera.cache" "$(home "$n")/data/gvwstate.dat"
    sed -i 's/^safe_to_bootstrap:.*/safe_to_bootstrap: 0/' "$(home "$n")/data/grastate.dat"
  done
  write_env "$pw"
}

write_env() {
  cat >"$dir/env.sh" <<ENV
export VELTRO_CLUSTER_HOSTS=127.0.0.1:$(port 1),127.0.0.1:$(port 2),127.0.0.1:$(port 3)
export VELTRO_CLUSTER_PORTS="$(port 1) $(port 2) $(port 3)"
export VELTRO_CLUSTER_PORT=$(port 1)
export VELTRO_CLUSTER_USER=veltro
export VELTRO_CLUSTER_PASSWORD=$1
export VELTRO_CLUSTER_DB=veltro_test
export VELTRO_CLUSTER_DIR=$dir
ENV
}

# Running nodes know each other by their ports: a cluster moves only while it is down.
check_port() {
  [ -n "$recorded_port" ] && [ "$first_port" != "$recorded_port" ] || return 0
  if running 1 || running 2 || running 3; then
    echo "the cluster under $dir runs from port $recorded_port; stop it before starting it on $first_port" >&2
    exit 1
  fi
}

start() {
  local n pw boot
  check_port
  command -v mariadbd >/dev/null || { echo "mariadbd is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  command -v mariabackup >/dev/null || { echo "mariabackup is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  provider >/dev/null
  if ! running 1 && ! running 2 && ! running 3; then
    [ -f "$(home 1)/data/grastate.dat" ] || [ -f "$(home 2)/data/grastate.dat" ] \
      || [ -f "$(home 3)/data/grastate.dat" ] || initialize
    bootstrap_node
    launch "$boot" bootstrap
    wait_synced "$boot"
  fi
  # One joiner at a time: two joining at once hold each other up for seconds
  # in gcomm's membership rounds.
  for n in "${nodes[@]}"; do
    running "$n" || launch "$n"
    wait_synced "$n"
  done
  settle
  pw=$(password)
  if [ -z "$pw" ]; then
    pw=veltro-$RANDOM$RANDOM
    accounts 1 "$pw"
  fi
  # Written on every start, so that an older cluster directory gets every variable.
  write_env "$pw"
  cat "$dir/env.sh"
}

# Node N back into the running cluster; it says in its log whether it came by
# IST or SST.
resume() {
  local n=$1 m others=0 from='' how since pid
  check_port
  # A frozen node is thawed; it comes back into the group by itself.
  if pid=$(node_pid "$n"); then kill -CONT "$pid" 2>/dev/null || true; fi
  if ! running "$n"; then
    from=$(($(stat -c %s "$(log "$n")" 2>/dev/null || echo 0) + 1))
    for m in "${nodes[@]}"; do [ "$m" != "$n" ] && running "$m" && others=$((others + 1)); done
    if [ "$others" -gt 0 ]; then
      # Right after a crash the others still count the old incarnation, and
      # the new one would wait through install timeouts until it is evicted.
      settle
      launch "$n"
    elif [ "$(grastate "$n" safe_to_bootstrap)" = 1 ]; then
      launch "$n" bootstrap
      wait_synced "$n"
      echo "node$n $(port "$n") started the cluster anew"
      return 0
    else
      echo "no node of the cluster under $dir runs and node $n may not bootstrap it; use: $0 start $dir" >&2
      exit 1
    fi
  fi
  wait_synced "$n"
  settle
  [ -n "$from" ] || return 0
  # The mariabackup method runs its script for an IST too; only a snapshot
  # "proceeds with SST".
  since=$(tail -c +"$from" "$(log "$n")")
  how="with nothing to transfer"
  if grep -q 'Proceeding with SST' <<<"$since"; then
    how="by SST"
  elif grep -q 'IST received' <<<"$since"; then
    how="by IST"
  fi
  echo "node$n $(port "$n") joined $how"
}

status() {
  local n state ready size comment
  for n in "${nodes[@]}"; do
    if running "$n"; then
      read -r state ready size comment < <(node_status "$n")
      echo "node$n $(port "$n") running $comment $size"
    else
      echo "node$n $(port "$n") stopped - -"
    fi
  done
}

case "$cmd" in
  start) start ;;
  stop) stop_all ;;
  kill) kill_node "$arg" ;;
  freeze) freeze_node "$arg" ;;
  thaw) thaw_node "$arg" ;;
  resume) resume "$arg" ;;
  stop-node) stop_node "$arg" ;;
  status) status ;;
  wait) settle ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
