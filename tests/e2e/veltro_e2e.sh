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
# A session that lives as long as the run: killing the program's session must
# never end the tmux server while the next session is being made on it.
tmux new-session -d -s keeper "sleep 86400"

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
start() {  # DIR [SHELL-PREFIX [SHELL-SUFFIX]]
  local dir=$1 prefix=${2:-} suffix=${3:-}
  tmux kill-session -t "$session" >/dev/null 2>&1 || true
  rm -f "$dir/rc.txt"
  tmux new-session -d -s "$session" -x 100 -y 30 \
    "cd '$dir' && $prefix '$veltro' $suffix 2>'$dir/stderr.txt'; echo EXIT=\$? >'$dir/rc.txt'; sleep 3600"
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

# The same for an extended regular expression.
wait_for_re() {
  for _ in $(seq 1 400); do
    screen | grep -qE -- "$1" && return 0
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
  [ "$rc" = 0 ] || { fail "$name: exit code $rc"; cat "$dir/stderr.txt"; return; }
  # tmux may still be drawing the program's last output when the exit code is written.
  wait_for "Opcion: $name" || fail "$name: no Opcion line"
  local expect=$rows; [ "$rows" = default ] && expect=100
  wait_for_re "Process Time: .* Row $expect of $expect  [0-9]+ rows/s" || { fail "$name: no progress line"; screen; }
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
if [ "$rc" = 0 ] && wait_for "Opcion: Sentence UPDATE" && ! screen | grep -qF "Process Time"; then
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
  sql "${db}_empty" -e "CREATE TABLE clientes (notes VARCHAR(20)); INSERT INTO clientes VALUES ('a')"
  dir=$work/run-rejected; mkdir -p "$dir"
  write_ini "$dir"; sed -i "s/^dbname = .*/dbname = ${db}_empty/" "$dir/connect.ini"
  start "$dir"; wait_for "Method Update"; keys Enter; wait_for "How many records?"; keys Enter
  if wait_for "Quit" && screen | grep -qF "1054"; then
    keys Escape
    if screen | grep -qF "Quit"; then pass "Esc shows the alert again"; else fail "the alert went away on Esc"; fi
    keys Enter
    rc=$(wait_exit "$dir")
    [ "$rc" = 1 ] && grep -qF "Error MYSQL/1054" "$dir/stderr.txt" && grep -qF "Called from" "$dir/stderr.txt" \
      && pass "rejected statement: Quit, error output, exit code 1" \
      || { fail "rejected statement (rc $rc)"; cat "$dir/stderr.txt"; }
  else
    fail "no alert for a rejected statement"; screen
  fi
  sql -e "DROP DATABASE IF EXISTS ${db}_empty"

  # --- the table missing: said so, with the command that makes it -----------------------
  sql -e "DROP DATABASE IF EXISTS ${db}_none; CREATE DATABASE ${db}_none"
  dir=$work/run-notable; mkdir -p "$dir"
  write_ini "$dir"; sed -i "s/^dbname = .*/dbname = ${db}_none/" "$dir/connect.ini"
  start "$dir"; wait_for "Method Update"; keys Enter; wait_for "How many records?"; keys Enter
  rc=$(wait_exit "$dir")
  [ "$rc" = 1 ] && grep -qF "the table clientes does not exist in database ${db}_none" "$dir/stderr.txt" \
    && grep -qF "seed_clientes --ini $dir/connect.ini" "$dir/stderr.txt" \
    && pass "missing clientes: said so, seeding command named, exit code 1" \
    || { fail "missing clientes (rc $rc)"; cat "$dir/stderr.txt"; }
  sql -e "DROP DATABASE IF EXISTS ${db}_none"
fi

# --- settings checked before the menu: file, section, key ----------------------------------
settings_case() {  # NAME EXPECTED-TEXT PREPARE-COMMAND
  local name=$1 want=$2
  local dir=$work/run-settings-$RANDOM; mkdir -p "$dir"
  want=${want//@DIR@/$dir}
  write_ini "$dir"
  (cd "$dir" && eval "$3")
  start "$dir"
  local rc; rc=$(wait_exit "$dir")
  if [ "$rc" = 1 ] && grep -qF -- "$want" "$dir/stderr.txt" && ! screen | grep -qF "Method Update"; then
    pass "$name: reported before the menu, exit code 1"
  else
    fail "$name (rc $rc)"; cat "$dir/stderr.txt"
  fi
}
settings_case "missing settings file" "the settings file @DIR@/connect.ini does not exist" "rm connect.ini"
settings_case "missing section" "has no section [mysql]" "sed -i 's/^\\[mysql\\]/[other]/' connect.ini"
settings_case "missing key" 'has no key "psw" in section [mysql]' "sed -i '/^psw = /d' connect.ini"
settings_case "port out of range" 'port = "70000" is not a port number' "sed -i 's/^port = .*/port = 70000/' connect.ini"
settings_case "port not a number" 'port = "33o6" is not a port number' "sed -i 's/^port = .*/port = 33o6/' connect.ini"

# --- no terminal to draw on: refused with exit code 2 ---------------------------------------
dir=$(run_dir dumb)
start "$dir" "TERM=dumb"
rc=$(wait_exit "$dir")
[ "$rc" = 2 ] && grep -qF "needs an interactive terminal" "$dir/stderr.txt" && pass "TERM=dumb: refused, exit code 2" \
  || { fail "TERM=dumb (rc $rc)"; cat "$dir/stderr.txt"; }
dir=$(run_dir notty)
start "$dir" "" ">'$dir/out.txt'"
rc=$(wait_exit "$dir")
[ "$rc" = 2 ] && grep -qF "needs an interactive terminal" "$dir/stderr.txt" && [ ! -s "$dir/out.txt" ] \
  && pass "standard output not a terminal: refused, exit code 2" || { fail "stdout to a file (rc $rc)"; cat "$dir/stderr.txt"; }

# --- the mode for scripts: one method, its summary line, exit codes ---------------------------
for pos in 1 2 3 4; do
  reseed 40
  dir=$(run_dir batch$pos)
  out=$(cd "$dir" && "$veltro" --method $pos --rows 25 2>"$dir/stderr.txt"); rc=$?
  if [ $pos = 3 ]; then want="age = 30 AND salary = 20"; else want="age = 40 AND salary = 10"; fi
  if [ "$rc" = 0 ] && [[ "$out" =~ ^[A-Za-z\ ]+:\ Rows:\ 25\ \ Time:\ [0-9.]+\ ms\ \ Rows/s:\ [0-9]+$ ]] \
    && [ "$(count_where "$want")" = 25 ]; then
    pass "--method $pos --rows 25: $out"
  else
    fail "--method $pos (rc $rc): $out"; cat "$dir/stderr.txt"
  fi
done
dir=$(run_dir batchini)
out=$("$veltro" --method 4 --rows 3 --ini "$dir/connect.ini" 2>/dev/null); rc=$?
[ "$rc" = 0 ] && [[ "$out" == "Sentence UPDATE: Rows: 3 "* ]] && pass "--ini names the settings file" \
  || fail "--ini (rc $rc): $out"
usage_case() {  # EXPECTED-CODE EXPECTED-TEXT ARGS...
  local code=$1 text=$2; shift 2
  local err; err=$(cd "$work" && "$veltro" "$@" 2>&1 >/dev/null); local rc=$?
  [ "$rc" = "$code" ] && [[ "$err" == *"$text"* ]] && pass "Veltro $*: exit code $code" \
    || fail "Veltro $* (rc $rc, wanted $code): $err"
}
usage_case 2 "--method takes 1, 2, 3 or 4" --method 5 --rows 3
usage_case 2 "--rows takes a whole number" --method 1 --rows -3
usage_case 2 "--method needs --rows" --method 1
usage_case 2 "unknown argument" --fast
usage_case 1 "connect.ini does not exist" --method 1 --rows 3
[ "$("$veltro" --help)" != "" ] && "$veltro" --help | grep -qF -- "--method N --rows N" && pass "--help" || fail "--help"
"$veltro" --version | grep -qE '^Veltro [0-9]+\.[0-9]+' && pass "--version" || fail "--version"
if [ "$mode" = server ]; then
  dir=$(run_dir batchfail); sed -i "s/^psw = .*/psw = wrong-$RANDOM/" "$dir/connect.ini"
  err=$("$veltro" --method 1 --rows 3 --ini "$dir/connect.ini" 2>&1 >/dev/null); rc=$?
  [ "$rc" = 1 ] && [[ "$err" == *"Error MYSQL/1045"* ]] && pass "--method with a refused login: exit code 1" \
    || fail "--method with a refused login (rc $rc): $err"
fi

# --- ./run's arguments, checked before anything is installed or built ---------------------
top=$(cd "$(dirname "$0")/../.." && pwd)
fakebin=$work/fakebin; mkdir -p "$fakebin"
for tool in cmake ninja apt-get dpkg-query sudo; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/called.txt"\nexit 1\n' "$tool" "$work" >"$fakebin/$tool"
  chmod +x "$fakebin/$tool"
done
run_case() {  # NAME EXPECTED-CODE EXPECTED-TEXT ARGS...
  local name=$1 code=$2 text=$3; shift 3
  rm -f "$work/called.txt"
  local out; out=$(cd "$work" && PATH="$fakebin:$PATH" "$top/run" "$@" 2>&1); local rc=$?
  if [ "$rc" = "$code" ] && [[ "$out" == *"$text"* ]] && [ ! -e "$work/called.txt" ]; then
    pass "./run $name"
  else
    fail "./run $name (rc $rc): $out $(cat "$work/called.txt" 2>/dev/null)"
  fi
}
mkdir -p "$work/rel-noini"
run_case "--help prints usage without building" 0 "--here DIR" --help
run_case "--here without a folder" 2 "--here needs a value" --here
run_case "--here with a relative folder that is not there" 2 "no folder nosuch" --here nosuch
run_case "--here relative, read from the caller's folder" 2 "$work/rel-noini/connect.ini is missing" --here rel-noini
echo "$failures failure(s) [$mode]"
[ "$failures" = 0 ]
