#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer
# configurations, runs every test in both, builds the release
# configuration (so that it keeps building), cross-builds for Windows and
# runs that build under wine, and runs every fuzz target for a bounded time.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"

bash scripts/setup.sh

echo "== normal build"
bash scripts/build.sh normal
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build (ASan + UBSan)"
bash scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== release build (built, not tested: the benchmarks' configuration)"
bash scripts/build.sh release

echo "== Windows cross-build"
bash scripts/build-windows.sh

echo "== the Windows build under wine (the DLL, its dialog, tests, two-process inserts)"
bash scripts/test-windows.sh

echo "== fuzzing (bounded; FUZZ_SECONDS per target)"
bash scripts/fuzz.sh
echo "test.sh: all passed"
