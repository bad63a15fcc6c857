#!/usr/bin/env bash
# The main job: the whole road of an update on one machine.
#
# Builds the programs, writes a year of sample draws into a results
# service's database and into a host database that stops four weeks
# earlier, starts draws-service on a free loopback port, and runs
# "downsql update --yes" against it: the summary before, the request, the
# answer's size and first lines, the import with its status texts and the
# summary after with the new last draws. Then a second update finds nothing
# new. The service is stopped and the scratch directory removed however the
# script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal downsql_cli draws-history draws-service

work="$(mktemp -d)"
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== sample draws: the service's database and a host database four weeks behind"
build/bin/draws-history --seed 2025 --from 2025-01-01 --to 2025-12-31 --host-until 2025-12-03 \
  --db "$work/service" --host-db "$work/host"

echo
echo "== draws-service on a free loopback port"
build/bin/draws-service --db "$work/service" --port 0 >"$work/service.log" 2>&1 &
service_pid=$!
port=""
for _ in $(seq 1 100); do
  port="$(sed -n 's/^draws-service: listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$work/service.log")"
  [ -n "$port" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: draws-service did not start:" >&2
  cat "$work/service.log" >&2
  exit 1
fi
head -n 1 "$work/service.log"

echo
echo "== downsql update --yes"
build/bin/downsql update "$work/host/" --service "127.0.0.1:$port" --yes

echo
echo "== downsql update --yes, once more"
build/bin/downsql update "$work/host/" --service "127.0.0.1:$port" --yes

echo
echo "== the service's log"
tail -n +2 "$work/service.log"
