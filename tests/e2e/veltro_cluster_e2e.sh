#!/usr/bin/env bash
# The Veltro program on the three-node cluster (scripts/cluster.sh), in tmux:
# connect.ini names the nodes as a host list, the node the program is on is
# killed in the middle of a run, and the run completes with every row updated.
#
#   veltro_cluster_e2e.sh BUILD_DIR
#
# Needs the VELTRO_CLUSTER_* variables (./test sets them).
set -uo pipefail

build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
: "${VELTRO_CLUSTER_HOSTS:?run through ./test: the cluster is missing}"
work=$(mktemp -d "${TMPDIR:-/tmp}/e2e-cluster-XXXXXX")
tmuxsock=veltro-e2e-cluster-$$
session=veltro-cluster
tmux() { command tmux -L "$tmuxsock" "$@"; }
db=e2e_cluster_$$
failures=0

# A statement on one node, after it has applied what the cluster committed.
sql() {  # NODE SQL
  mariadb --no-defaults -N -B -uroot -S "$VELTRO_CLUSTER_DIR/node$1/mysqld.sock" \
    -e "SET SESSION wsrep_sync_wait = 1; $2"
}
cleanup() {
  tmux kill-server >/dev/null 2>&1
  for n in 1 2 3; do bash "$top/scripts/cluster.sh" resume "$VELTRO_CLUSTER_DIR" "$n" >/dev/null 2>&1; done
  sql 2 "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL [cluster] $*"; failures=$((failures + 1)); }
pass() { echo "ok   [cluster] $*"; }

cat >"$work/connect.ini" <<INI
[mysql]
host = $VELTRO_CLUSTER_HOSTS
user = $VELTRO_CLUSTER_USER
psw = $VELTRO_CLUSTER_PASSWORD
port = $VELTRO_CLUSTER_PORT
dbname = $db
flags = 0
INI
sql 1 "CREATE DATABASE $db"
"$build/tools/seed_clientes" --ini "$work/connect.ini" --rows 999 >/dev/null || fail "seeding through the host list"
# Each update waits a little on the server, so that the run lasts long enough
# to lose its node in the middle.
sql 1 "CREATE TRIGGER $db.slow BEFORE UPDATE ON $db.clientes FOR EACH ROW SET @pause = SLEEP(0.005)"

tmux new-session -d -s "$session" -x 100 -y 30 \
  "cd '$work' && '$build/Veltro/Veltro' 2>'$work/stderr.txt'; echo EXIT=\$? >'$work/rc.txt'; sleep 3600"
screen() { tmux capture-pane -p -t "$session"; }
wait_for() {
  for _ in $(seq 1 400); do screen | grep -qE -- "$1" && return 0; sleep 0.1; done
  return 1
}
wait_for "Method Update" || fail "no menu"
tmux send-keys -t "$session" Down Down Down Enter; sleep 0.3
wait_for "How many records?" || fail "no prompt"
tmux send-keys -t "$session" 9 9 9 Enter
if wait_for "Row [0-9]{3} of 999"; then
  # The program connected to the first ready host of the list: node 1.
  bash "$top/scripts/cluster.sh" kill "$VELTRO_CLUSTER_DIR" 1 || fail "kill node 1"
  pass "node 1 killed at: $(screen | grep -oE 'Row [0-9]+ of 999')"
else
  fail "the run never showed its progress"; screen
fi
for _ in $(seq 1 1200); do [ -s "$work/rc.txt" ] && break; sleep 0.1; done
rc=$(sed 's/EXIT=//' "$work/rc.txt" 2>/dev/null)
if [ "$rc" = 0 ] && wait_for "Rows: 999"; then
  pass "the run completed after the failover"
else
  fail "the run (rc ${rc:-none})"; screen; cat "$work/stderr.txt"
fi
updated=$(sql 2 "SELECT COUNT(*) FROM $db.clientes WHERE married = 0 AND age = 40 AND salary = 10")
[ "$updated" = 999 ] && pass "every row updated on the survivors" || fail "$updated of 999 rows updated"
bash "$top/scripts/cluster.sh" resume "$VELTRO_CLUSTER_DIR" 1 >/dev/null || fail "node 1 did not rejoin"
[ "$(sql 1 "SELECT COUNT(*) FROM $db.clientes WHERE age = 40")" = 999 ] && pass "node 1 rejoined holding every row" \
  || fail "node 1 after rejoining"

echo "$failures failure(s) [cluster]"
[ "$failures" = 0 ]
