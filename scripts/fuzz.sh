#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for a
# bounded time on its corpus in fuzz/corpus/<target>/. New inputs that libFuzzer
# finds go to build-fuzz/corpus/<target>/, a crash to build-fuzz/artifacts/;
# copy an input worth keeping into fuzz/corpus/ by hand.
#   scripts/fuzz.sh [SECONDS] [TARGET...]    default 60 s each, every target
# Exits non-zero when a target finds a crash or a failed property.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(iniread query_parser clipvalue2sql sqldate2clip number restore_line seek_match sql_lexer)

# clang, and the libFuzzer runtime of whichever clang version that is.
scripts/setup.sh clang
scripts/setup.sh "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"

build=$top/build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELTRO_FUZZ=ON -DVELTRO_TESTS=OFF -DVELTRO_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzzers

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
failed=()
for t in "${targets[@]}"; do
  work=$build/corpus/$t artifacts=$build/artifacts/$t/
  mkdir -p "$work" "$artifacts" "fuzz/corpus/$t"
  log=$build/fuzz_$t.log
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$artifacts" "$work" "$top/fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz $t: ${runs:-?} runs in ${seconds}s, clean"
  else
    echo "fuzz $t: FAILED (log $log, inputs in $artifacts)"
    grep -E 'ERROR|property failed|runtime error' "$log" | head -5 || true
    failed+=("$t")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz: failures in ${failed[*]}"; exit 1; }
