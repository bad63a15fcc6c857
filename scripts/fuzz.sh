#!/usr/bin/env bash
# Builds every fuzz target (fuzz/*.cmake) with clang, libFuzzer, ASan and
# UBSan into build/fuzz, and runs each for a bounded time.
#
#   FUZZ_SECONDS=60   seconds per target (default 60); one input running
#                     longer than 25 s counts as a hang and fails the run
#   scripts/fuzz.sh [name...]   only the named targets
#
# A target's seeds are read from fuzz/corpus/<name>/ when it exists (never
# written); new inputs go to build/fuzz/corpus/<name>/, crash inputs to
# build/fuzz/artifacts/. Exits non-zero when any target crashes, leaks or
# fails to build. With no fuzz targets it does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"

shopt -s nullglob
parts=(fuzz/*.cmake)
[ ${#parts[@]} -eq 0 ] && exit 0

dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli \
  -DDOWNSQL_FUZZ=ON -DDOWNSQL_TESTS=OFF -DDOWNSQL_BENCH=OFF -DDOWNSQL_SANITIZE=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target fuzz_targets

mkdir -p "$dir/artifacts"
failed=()
while read -r name exe; do
  [ -n "$name" ] || continue
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  work="$dir/corpus/$name"
  mkdir -p "$work"
  args=(-max_total_time="$seconds" -timeout=25 -print_final_stats=0 -artifact_prefix="$dir/artifacts/$name-")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  echo "== fuzz $name (${seconds}s)"
  if ! "$exe" "${args[@]}" "$work" "${seeds[@]}" >"$dir/$name.log" 2>&1; then
    # The report from its first line (sanitizer or libFuzzer), else the tail.
    report="$(awk '/ERROR:|runtime error:/{p=1} p' "$dir/$name.log" | head -n 80)"
    [ -n "$report" ] || report="$(tail -n 40 "$dir/$name.log")"
    printf '%s\n' "$report"
    echo "fuzz: reproduce with $exe $dir/artifacts/$name-<crash file>"
    failed+=("$name")
  fi
done <"$dir/fuzz_targets.txt"

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $dir/artifacts/)" >&2
  exit 1
fi
