#!/usr/bin/env bash
# The Windows build at work, under wine:
#   - downsql.dll exports DoUpdate and imports nothing but system DLLs;
#   - testhost.exe loads the library and runs the whole road of an update against
#     draws-service on loopback, with the database on a Windows path
#     (Z:\...\ with a trailing backslash), driving the dialog in Xvfb;
#   - the table files it wrote verify and read back in the Linux build
#     exactly as the service's, and a screenshot of the dialog lands in build/;
#   - one Linux and one wine process inserting into one table at the same
#     time lose no row (the same bytes are locked on both sides).
#
# The product is the 32-bit DLL (build/windows). Wine runs it where the
# kernel runs 32-bit programs; where it does not (a kernel without IA-32
# emulation), the same code is cross-built for 64-bit Windows
# (build/windows64) and runs under wine64 instead.
#
# Installs wine (32 and 64-bit) and Xvfb when they are missing. What lies outside
# our code and may pass by itself (the package mirror, wine unable to start
# its prefix, no X server, the service's port taken) ends the script with a
# SKIPPED line and status 0; every failure of our code fails it.
# Uses build/ (Linux programs) and build/windows (the cross-build).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

skip() {
  echo "test-windows: SKIPPED: $*"
  exit 0
}
fail() {
  echo "test-windows: FAILED: $*" >&2
  exit 1
}

# --- the end-to-end run; the script calls itself with "e2e" inside a
# network namespace of its own, where port 80 of loopback is free. ---
if [ "${1:-}" = "e2e" ]; then
  work="$2"
  ip link set lo up 2>/dev/null || true
  service_pid=""
  xvfb_pid=""
  cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    "$WINESERVER" -k 2>/dev/null || true
  }
  trap cleanup EXIT
  # The library asks the service on localhost, port 80.
  build/bin/draws-service --db "$work/service" --port 80 >"$work/service.log" 2>&1 &
  service_pid=$!
  for _ in $(seq 1 100); do
    grep -q "listening" "$work/service.log" && break
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "listening" "$work/service.log" || {
    cat "$work/service.log"
    exit 77
  }
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || {
    cat "$work/xvfb.log"
    exit 78
  }
  export DISPLAY=":$(cat "$work/display")"
  host_dir="Z:$(echo "$work/host" | tr / '\\')\\"
  timeout 900 "$WINE" "$WINBUILD/bin/testhost.exe" "$WINBUILD/bin/downsql.dll" "$host_dir" \
    "Z:$(echo "$root/build/windows-dialog.bmp" | tr / '\\')" >"$work/testhost.out" 2>"$work/wine.log"
  exit $?
fi

# --- what the run needs ---
need=()
command -v wine >/dev/null 2>&1 || need+=(wine wine32 wine64)
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
command -v Xvfb >/dev/null 2>&1 || need+=(xvfb)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "test-windows: installing ${need[*]}"
  if ! {
    $sudo dpkg --add-architecture i386 &&
      $sudo apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${need[@]}"
  } >/tmp/test-windows-install.log 2>&1; then
    tail -n 20 /tmp/test-windows-install.log
    skip "wine or Xvfb could not be installed (see above)"
  fi
fi

# configure DIR TOOLCHAIN TESTS(ON|OFF)
configure() {
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2" \
    -DDOWNSQL_TESTS="$3" -DDOWNSQL_BENCH=OFF -DDOWNSQL_FUZZ=OFF --no-warn-unused-cli >/dev/null
}
echo "== cross-build: downsql.dll (32-bit)"
configure build/windows mingw-w64-i686.cmake OFF
cmake --build build/windows --target downsql

# Which wine runs our programs here.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  export WINE=/usr/lib/wine/wine WINEARCH=win32 WINBUILD=build/windows-wine
  export WINESERVER=/usr/lib/wine/wineserver
  echo "== cross-build: testhost.exe and the unit tests (32-bit)"
  configure build/windows-wine mingw-w64-i686.cmake ON
else
  echo "this kernel cannot run 32-bit programs ($(/usr/lib/wine/wine --version 2>&1 | tail -n 1));"
  echo "the tests run the 64-bit build under wine64"
  export WINE=/usr/lib/wine/wine64 WINEARCH=win64 WINBUILD=build/windows64
  export WINESERVER=/usr/lib/wine/wineserver64
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
    skip "the 64-bit cross compiler (g++-mingw-w64-x86-64-posix) is missing"
  echo "== cross-build: downsql.dll, testhost.exe and the unit tests (64-bit, for wine64)"
  configure build/windows64 mingw-w64-x86_64.cmake ON
fi
cmake --build "$WINBUILD" --target downsql testhost insert-peer windows_tests -- -k 0
echo "== Linux programs: draws-history, draws-service, tabula, insert-peer"
bash scripts/build.sh normal draws-history draws-service tabula insert-peer >/dev/null

echo "== downsql.dll: exports and imports"
dll=build/windows/bin/downsql.dll
dump="$(i686-w64-mingw32-objdump -p "$dll")"
grep -q -E '^\s*\[ *[0-9]+\] DoUpdate$' <<<"$dump" || fail "downsql.dll does not export DoUpdate"
imports="$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)"
echo "imports: $(echo $imports)"
system_dlls="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll ws2_32.dll
  shell32.dll ole32.dll oleaut32.dll bcrypt.dll crypt32.dll comdlg32.dll"
for d in $imports; do
  grep -q -w -F "$d" <<<"$system_dlls" || fail "downsql.dll imports $d, not a system DLL"
done

echo "== wine"
export WINEPREFIX="$root/$WINBUILD/wineprefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX"
  timeout 600 "$WINE" wineboot -i >/tmp/test-windows-wineboot.log 2>&1 || {
    tail -n 20 /tmp/test-windows-wineboot.log
    skip "wine could not set up its prefix"
  }
  "$WINESERVER" -w || true
fi
"$WINE" --version

echo "== unit tests of platform, base, storage and access under wine"
failed=()
while read -r program; do
  name="$(basename "$program" .exe)"
  if timeout 900 "$WINE" "$program" --gtest_brief=1 >"/tmp/test-windows-$name.log" 2>&1; then
    echo "$name: $(grep -E '^\[  PASSED  \]' "/tmp/test-windows-$name.log" || echo passed)"
  else
    cat "/tmp/test-windows-$name.log"
    failed+=("$name")
  fi
done <"$WINBUILD/windows_tests.txt"
[ ${#failed[@]} -eq 0 ] || fail "unit tests failed under wine: ${failed[*]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "== one Linux and one wine process inserting into one table at the same time"
# The two sides lock the same bytes of the same files (fcntl locks on Linux,
# LockFileEx under wine, which wine maps onto fcntl locks): neither loses a
# row, no ID is given twice and the table verifies clean.
peers="$work/peers"
mkdir -p "$peers"
build/bin/tabula "$peers" "CREATE TABLE T (ID AUTOINC, NUM INTEGER); CREATE UNIQUE INDEX ByNum ON T (NUM)" >/dev/null
rows=3000
sum=0
base=0
for batch in 0 50; do
  build/bin/insert-peer "$peers/" "$base" "$rows" "$batch" 2>"$work/peer-linux.log" &
  linux_peer=$!
  timeout 900 "$WINE" "$WINBUILD/bin/insert-peer.exe" "Z:$(echo "$peers/" | tr / '\\')" "$((base + 100000))" "$rows" \
    "$batch" >"$work/peer-wine.log" 2>&1 || {
    cat "$work/peer-wine.log"
    fail "the wine inserter failed (transactions of $batch rows)"
  }
  wait "$linux_peer" || {
    cat "$work/peer-linux.log"
    fail "the Linux inserter failed (transactions of $batch rows)"
  }
  sum=$((sum + 2 * base * rows + 100000 * rows + rows * (rows + 1)))
  base=$((base + 200000))
done
want=$((4 * rows))
# NUM is unique by its index; the IDs are counted apart.
got="$(build/bin/tabula "$peers" "SELECT COUNT(*), SUM(NUM) FROM T" | tail -n 1)"
[ "$got" = "$want,$sum" ] || fail "the two inserters left $got (rows, sum of numbers), not $want,$sum"
ids=$(($(build/bin/tabula "$peers" "SELECT DISTINCT ID FROM T" | wc -l) - 1))
[ "$ids" -eq "$want" ] || fail "the two inserters gave $ids different IDs to $want rows"
build/bin/tabula "$peers" "VERIFY TABLE T" >/dev/null || fail "the table of the two inserters does not verify"
echo "both inserters kept every row: $want rows, verified"
# The wine server of these runs has no display; the dialog's run below
# needs one of its own.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true

echo "== the whole road under wine: testhost.exe against draws-service"
build/bin/draws-history --seed 2025 --from 2025-11-01 --to 2025-12-31 --host-until 2025-12-24 \
  --db "$work/service" --host-db "$work/host" >/dev/null
status=0
if unshare --net true 2>/dev/null; then
  unshare --net bash "$0" e2e "$work" || status=$?
elif ! (echo >/dev/tcp/127.0.0.1/80) 2>/dev/null; then
  bash "$0" e2e "$work" || status=$?
else
  skip "no network namespace here and port 80 of loopback is taken"
fi
case "$status" in
  77) cat "$work/service.log"; skip "draws-service could not listen on port 80" ;;
  78) skip "Xvfb could not be started" ;;
esac
cat "$work/testhost.out"
if [ "$status" -ne 0 ]; then
  tail -n 30 "$work/wine.log" >&2
  fail "testhost exited with status $status"
fi

# Windows programs end their lines with CR LF.
out="$work/testhost.txt"
tr -d '\r' <"$work/testhost.out" >"$out"
expect() {
  grep -q -F -x -- "$1" "$out" || fail "testhost did not show: $1"
}
expect "dialog: Import wszystkich brakujących losowań"
expect "client area: 506x340"
expect "host window while the dialog runs: disabled"
expect "| Pobrane będą losowania :"
expect "| Wciśnij przycisk POBIERZ"
expect "status: GOTOWE można wprowadzić losowania do bazy"
expect "host strings: unchanged"
expect "host window after the dialog: enabled"
expect "DoUpdate returned"
imported="$(sed -n 's/^status: Do baz gier wprowadzono \([0-9]*\) nowych wyników losowań$/\1/p' "$out" | head -n 1)"
[ -n "$imported" ] && [ "$imported" -gt 0 ] || fail "no import count in the status bar"
expect "| Razem wprowadzono $imported nowych wyników losowań"

echo "== the table files, read back by the Linux build"
rows=0
for dat in "$work/service"/*.dat; do
  table="$(basename "$dat" .dat)"
  build/bin/tabula "$work/service" "select * from $table order by id" >"$work/want.csv"
  build/bin/tabula "$work/host" "select * from $table order by id" >"$work/got.csv" ||
    fail "the Linux build cannot read table $table written under wine"
  build/bin/tabula "$work/host" "VERIFY TABLE $table" >"$work/verify.log" 2>&1 || {
    cat "$work/verify.log"
    fail "table $table written under wine does not verify"
  }
  cmp -s "$work/want.csv" "$work/got.csv" || {
    diff "$work/want.csv" "$work/got.csv" | head -n 10
    fail "table $table differs from the service's after the import"
  }
  rows=$((rows + $(wc -l <"$work/got.csv") - 1))
done
echo "tables verify and equal the service's: $rows rows; $imported imported under wine"

[ -s build/windows-dialog.bmp ] || fail "testhost saved no screenshot"
echo "test-windows: all passed (screenshot of the dialog: build/windows-dialog.bmp)"
