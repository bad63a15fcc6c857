#!/usr/bin/env bash
# Cross-builds the libraries (and later the DLL) for 32-bit Windows with
# mingw-w64 into build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/windows -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DDOWNSQL_TESTS=OFF -DDOWNSQL_BENCH=OFF >/dev/null
cmake --build build/windows
