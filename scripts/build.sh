#!/usr/bin/env bash
# Configures and builds into build/ (programs in build/bin/).
#   scripts/build.sh            normal build
#   scripts/build.sh asan       AddressSanitizer + UBSan build into build/asan
#   scripts/build.sh release    optimised build (as benchmarks want) into build/release
#   scripts/build.sh KIND TARGET...   only those targets
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-normal}"
shift || true
case "$kind" in
  normal) dir=build; extra=() ;;
  asan) dir=build/asan; extra=(-DDOWNSQL_SANITIZE=ON -DDOWNSQL_BENCH=OFF) ;;
  release) dir=build/release; extra=(-DCMAKE_BUILD_TYPE=Release) ;;
  *) echo "usage: $0 [normal|asan|release] [target...]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$dir" --target "$@"
else
  cmake --build "$dir"
fi
