#!/usr/bin/env bash
# Prepares the demo folder (once) and starts the program in it.
#
#   scripts/run.sh                 the demo: embedded server under var/demo
#   scripts/run.sh --here DIR      DIR/connect.ini of your own (a real server)
#   scripts/run.sh --rows N        seed N demo rows (first preparation only; default 1000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build-release
folder=""
rows=1000
while [ $# -gt 0 ]; do
  case "$1" in
    --here) [ $# -ge 2 ] || { echo "--here needs a folder" >&2; exit 2; }; folder=$(cd "$2" && pwd); shift 2 ;;
    --rows) [ $# -ge 2 ] || { echo "--rows needs a number" >&2; exit 2; }; rows=$2; shift 2 ;;
    *) echo "usage: ./run [--here DIR] [--rows N]" >&2; exit 2 ;;
  esac
done

if [ -n "$folder" ]; then
  [ -f "$folder/connect.ini" ] || { echo "$folder/connect.ini is missing" >&2; exit 2; }
  cd "$folder"
  exec "$bin/Veltro/Veltro"
fi

demo=$top/var/demo
if [ ! -f "$demo/.seeded" ]; then
  echo "Preparing the demo database under var/demo ..."
  rm -rf "$demo"
  mkdir -p "$demo/data"
  cat >"$demo/connect.ini" <<INI
# The demo runs on the embedded server; its data directory is below.
[mysql]
host = localhost
user = demo
psw =
port = 0
dbname = veltro_demo
flags = 0
embedded = $demo/data
INI
  "$bin/tools/seed_clientes" --ini "$demo/connect.ini" --rows "$rows"
  touch "$demo/.seeded"
fi
cd "$demo"
exec "$bin/Veltro/Veltro"
