#!/usr/bin/env bash
# The Veltro program driven as a person uses it: in tmux, keys sent, the
# screen read back; the table checked afterwards through a separate client.
#
#   veltro_e2e.sh BUILD_DIR [server|embedded]
#
# Needs the VELTRO_TEST_* variables of the throwaway server (./test sets them).
set -uo pipefail

build=$(cd "$1" && pwd)
mode=${2:-server}
veltro=$build/Veltro/Veltro
seed=$build/tools/seed_clientes
: "${VELTRO_TEST_SOCKET:?run through ./test: the throwaway server is missing}"

work=$(mktemp -d "${VELTRO_TEST_TMP:-/tmp}/e2e-$mode-XXXXXX")
session=veltro-e2e-$$-$mode
# A tmux server of this run's own: killing the last session of a shared one
# ends that server while another run may be starting a session on it.
tmuxsock=veltro-e2e-$$-$mode
tmux() { command tmux -L "$tmuxsock" "$@"; }
failures=0
db=e2e_${mode}_$$

sql() { mariadb --no-defaults -N -B -uroot -S "$VELTRO_TEST_SOCKET" "$@"; }

cleanup() {
  tmux kill-server >/dev/null 2>&1
  sql -e "DROP DATABASE IF EXISTS $db" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL [$mode] $*"; failures=$((failures + 1)); }
pass() { echo "ok   [$mode] $*"; }

write_ini() {  # DIR [extra lines...]
  local dir=$1; shift
  mkdir -p "$dir"
  {
    echo "[mysql]"
    echo "host = $VELTRO_TEST_HOST"
    echo "user = $VELTRO_TEST_USER"
    echo "psw = $VELTRO_TEST_PASSWORD"
    echo "port = $VELTRO_TEST_PORT"
    echo "dbname = $db"
    echo "flags = 0"
    for line in "$@"; do echo "$line"; done
  } >"$dir/connect.ini"
}

# Starts the program in a fresh tmux session in DIR. The pane stays after the
# program ends (sleep), so its last screen can still be read.
start() {
  local dir=$1
  tmux kill-session -t "$session" >/dev/null 2>&1 || true
  rm -f "$dir/rc.txt"
  tmux new-session -d -s "$session" -x 100 -y 30 \
    "cd '$dir' && '$veltro' 2>'$dir/stderr.txt'; echo EXIT=\$? >'$dir/rc.txt'; sleep 3600"
}

keys() { tmux send-keys -t "$session" "$@"; sleep 0.3; }
screen() { tmux capture-pane -p -t "$session"; }

# Waits until the screen shows a text (up to 40 s: CI machines can be slow).
wait_for() {
  local text=$1
  for _ in $(seq 1 400); do
    screen | grep -qF -- "$text" && return 0
    sleep 0.1
  done
  return 1
}

# Waits until the program has ended and prints its exit code.
wait_exit() {
  local dir=$1
  for _ in $(seq 1 600); do
    [ -s "$dir/rc.txt" ] && { sed 's/EXIT=//' "$dir/rc.txt"; return 0; }
    sleep 0.1
  done
  echo timeout
}

connections() { sql -e "SHOW GLOBAL STATUS LIKE 'Connections'" | awk '{print $2}'; }

reseed() {
  sql -e "DROP DATABASE IF EXISTS $db; CREATE DATABASE $db"
  if [ "$mode" = embedded ]; then
    rm -rf "$work/data" && mkdir -p "$work/data"
    write_ini "$work/seed" "embedded = $work/data"
  else
    write_ini "$work/seed"
  fi
  "$seed" --ini "$work/seed/connect.ini" --rows "${1:-150}" --reset >/dev/null || fail "seeding"
}

# Table checks read the server, or, in embedded mode, a dump taken through the library.
count_where() {
  if [ "$mode" = embedded ]; then
    "$build/tools/veltro_sql" --ini "$work/seed/connect.ini" "SELECT COUNT(*) FROM clientes WHERE $1"
  else
    sql "$db" -e "SELECT COUNT(*) FROM clientes WHERE $1"
  fi
}

run_dir() {
  local dir=$work/run-$1
  rm -rf "$dir"
  if [ "$mode" = embedded ]; then write_ini "$dir" "embedded = $work/data"; else write_ini "$dir"; fi
  echo "$dir"
}

# --- one method over N rows -----------------------------------------------------
method_case() {  # POSITION NAME ROWS EXPECT_WHERE
  local pos=$1 name=$2 rows=$3 where=$4
  reseed 150
  local dir; dir=$(run_dir "m$pos")
  start "$dir"
  wait_for "Method Update" || { fail "$name: no menu"; return; }
  for _ in $(seq 2 "$pos"); do keys Down; done
  keys Enter
  wait_for "How many records?" || { fail "$name: no prompt"; return; }
  if [ "$rows" != default ]; then keys "$rows"; fi
  keys Enter
  local rc; rc=$(wait_exit "$dir")
  local shown; shown=$(screen)
  [ "$rc" = 0 ] || { fail "$name: exit code $rc"; cat "$dir/stderr.txt"; return; }
  echo "$shown" | grep -qF "Opcion: $name" || fail "$name: no Opcion line"
  local expect=$rows; [ "$rows" = default ] && expect=100
  local changed; changed=$(count_where "$where")
  [ "$changed" = "$expect" ] && pass "$name updates $expect rows" || fail "$name: $changed rows hold its values, expected $expect"
}

method_case 1 "Method Update" 20 "married = 0 AND age = 40 AND salary = 10"
method_case 2 "Build Sentence" 20 "married = 0 AND age = 40 AND salary = 10"
method_case 3 "Method Save" 20 "married = 1 AND age = 30 AND salary = 20"
method_case 4 "Sentence UPDATE" default "married = 0 AND age = 40 AND salary = 10"

# --- Esc in the menu and in the prompt: no connection -------------------------------
esc_case() {  # NAME KEYS...
  local name=$1; shift
  local dir; dir=$(run_dir esc)
  local before; before=$(connections)
  start "$dir"
  wait_for "Method Update" || { fail "$name: no menu"; return; }
  for k in "$@"; do keys "$k"; done
  local rc; rc=$(wait_exit "$dir")
  [ "$rc" = 0 ] || fail "$name: exit code $rc"
  if [ "$mode" = server ]; then
    # The two counts themselves connect once each.
    local after; after=$(connections)
    [ "$after" = "$((before + 1))" ] || fail "$name: a connection was made ($before -> $after)"
  fi
  screen | grep -qF "Opcion" && fail "$name: the run happened"
  pass "$name ends without connecting"
}
esc_case "Esc in the menu" Escape
esc_case "Esc in the prompt" Enter 4 2 Escape

# --- typing 0, and more rows than exist ---------------------------------------------
reseed 30
dir=$(run_dir zero)
start "$dir"; wait_for "Method Update"; keys Down Down Down Enter; wait_for "How many records?"
keys 0 Enter
rc=$(wait_exit "$dir")
if [ "$rc" = 0 ] && screen | grep -qF "Opcion: Sentence UPDATE" && ! screen | grep -qF "Process Time"; then
  pass "0 records: only the Opcion line"
else
  fail "0 records (rc $rc)"; screen
fi
[ "$(count_where "age = 40 AND salary = 10")" = 0 ] || fail "0 records changed rows"

dir=$(run_dir more)
start "$dir"; wait_for "Method Update"; keys Enter; wait_for "How many records?"
keys 9 9 9
rc=$(wait_exit "$dir")
[ "$rc" = 0 ] && [ "$(count_where "age = 40 AND salary = 10")" = 30 ] && pass "999 requested, all 30 updated" \
  || fail "more rows than exist (rc $rc, $(count_where "age = 40 AND salary = 10") updated)"

# --- a notes text with a quote, each method --------------------------------------------
for pos in 1 2 3 4; do
  reseed 5
  if [ "$mode" = embedded ]; then
    "$build/tools/veltro_sql" --ini "$work/seed/connect.ini" "UPDATE clientes SET notes = 'O''Brien''s \\\\ note' WHERE id = 3" >/dev/null
  else
    sql "$db" -e "UPDATE clientes SET notes = 'O''Brien''s \\\\ note' WHERE id = 3"
  fi
  dir=$(run_dir quote$pos)
  start "$dir"; wait_for "Method Update"
  for _ in $(seq 2 $pos); do keys Down; done
  keys Enter; wait_for "How many records?"; keys 5 Enter
  rc=$(wait_exit "$dir")
  if [ $pos = 3 ]; then want="age = 30 AND salary = 20"; else want="age = 40 AND salary = 10"; fi
  got=$(count_where "notes = 'O''Brien''s \\\\ note' AND $want")
  all=$(count_where "$want")
  [ "$rc" = 0 ] && [ "$got" = 1 ] && [ "$all" = 5 ] && pass "quote in notes, method $pos" \
    || { fail "quote in notes, method $pos (rc $rc, row $got, all $all)"; cat "$dir/stderr.txt"; }
done

if [ "$mode" = server ]; then
  # --- a failed connection is reported after the terminal is restored: exit code 1 --
  failed_connect() {  # NAME SED-EXPRESSION EXPECTED-NUMBER
    local dir=$work/run-failed-$RANDOM; mkdir -p "$dir"
    write_ini "$dir"; sed -i "$2" "$dir/connect.ini"
    start "$dir"; wait_for "Method Update"; keys Enter; wait_for "How many records?"; keys Enter
    local rc; rc=$(wait_exit "$dir")
    if [ "$rc" = 1 ] && grep -qF "Error MYSQL/$3" "$dir/stderr.txt" && grep -qF "port" "$dir/stderr.txt" \
      && ! grep -qF "$VELTRO_TEST_PASSWORD" "$dir/stderr.txt"; then
      pass "$1: error shown, exit code 1"
    else
      fail "$1 (rc $rc)"; cat "$dir/stderr.txt"
    fi
  }
  failed_connect "refused connection" "s/^port = .*/port = 1/" 200
  failed_connect "wrong password" "s/^psw = .*/psw = wrong-$RANDOM/" 1045
  failed_connect "unknown database" "s/^dbname = .*/dbname = no_such_db_$$/" 1049

  # --- a statement the server rejects: alert, Esc shows it again, Quit ----------------
  sql -e "DROP DATABASE IF EXISTS ${db}_empty; CREATE DATABASE ${db}_empty"
  dir=$work/run-rejected; mkdir -p "$dir"
  write_ini "$dir"; sed -i "s/^dbname = .*/dbname = ${db}_empty/" "$dir/connect.ini"
  start "$dir"; wait_for "Method Update"; keys Enter; wait_for "How many records?"; keys Enter
  if wait_for "Quit" && screen | grep -qF "1146"; then
    keys Escape
    if screen | grep -qF "Quit"; then pass "Esc shows the alert again"; else fail "the alert went away on Esc"; fi
    keys Enter
    rc=$(wait_exit "$dir")
    [ "$rc" = 1 ] && grep -qF "Error MYSQL/1146" "$dir/stderr.txt" && grep -qF "Called from" "$dir/stderr.txt" \
      && pass "rejected statement: Quit, error output, exit code 1" \
      || { fail "rejected statement (rc $rc)"; cat "$dir/stderr.txt"; }
  else
    fail "no alert for a rejected statement"; screen
  fi
  sql -e "DROP DATABASE IF EXISTS ${db}_empty"

  # --- a missing key in the settings file -------------------------------------------------
  dir=$work/run-nokey; mkdir -p "$dir"
  write_ini "$dir"; sed -i "/^psw = /d" "$dir/connect.ini"
  start "$dir"; wait_for "Method Update"; keys Enter; wait_for "How many records?"; keys Enter
  wait_for "Quit" && keys Enter
  rc=$(wait_exit "$dir")
  [ "$rc" = 1 ] && grep -qF '"psw"' "$dir/stderr.txt" && pass "missing key named in the report" \
    || { fail "missing key (rc $rc)"; cat "$dir/stderr.txt"; }
fi

echo "$failures failure(s) [$mode]"
[ "$failures" = 0 ]
