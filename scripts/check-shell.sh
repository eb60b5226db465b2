#!/usr/bin/env bash
# Runs shellcheck (warnings and errors) over the project's shell scripts: the
# helpers in scripts/, ./test, ./run, bench/run, .ci/run and the test scripts.
#   scripts/check-shell.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$top"
command -v shellcheck >/dev/null || { echo "FAIL shellcheck is missing (scripts/setup.sh installs it)" >&2; exit 1; }
scripts=(scripts/*.sh test run bench/run .ci/run tests/cluster/*.sh tests/e2e/*.sh)
shellcheck -S warning -x "${scripts[@]}"
echo "${#scripts[@]} shell scripts pass shellcheck"
