#!/bin/sh
# Runs a program (a window test) against a private Xvfb server, then stops
# the server. Exits 77, which ctest counts as skipped, when no X server can
# be started here; otherwise exits with the program's status.
#   run_with_xvfb.sh PROGRAM [ARGS...]
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "SKIPPED: Xvfb is not installed (scripts/setup.sh installs it); the window test needs an X server"
  exit 77
fi
work=$(mktemp -d) || exit 1
# -displayfd: the server picks a free display number and writes it once it
# accepts connections.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
tries=0
while [ ! -s "$work/display" ] && kill -0 "$server" 2>/dev/null && [ "$tries" -lt 100 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
if [ ! -s "$work/display" ]; then
  echo "SKIPPED: no X server could be started; Xvfb said:"
  cat "$work/xvfb.log"
  kill "$server" 2>/dev/null
  rm -rf "$work"
  exit 77
fi
display=":$(cat "$work/display")"
# X11 only, and no accessibility bus to look for.
env -u WAYLAND_DISPLAY DISPLAY="$display" GDK_BACKEND=x11 NO_AT_BRIDGE=1 "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$work"
exit "$status"
