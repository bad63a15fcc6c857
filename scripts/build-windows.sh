#!/usr/bin/env bash
# Cross-builds every library (and the DLL once it exists) for 32-bit Windows
# with mingw-w64 into build/windows. Tools, tests and benchmarks are Linux
# programs and are not cross-built.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/windows -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DDOWNSQL_TESTS=OFF -DDOWNSQL_BENCH=OFF -DDOWNSQL_FUZZ=OFF --no-warn-unused-cli >/dev/null
# -k 0: report every file that does not cross-compile, not just the first.
cmake --build build/windows --target libraries -- -k 0
