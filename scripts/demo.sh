#!/usr/bin/env bash
# The main job on an embedded default: builds the project and runs the
# updater's summary over a sample database directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal downsql_cli
if [ -x build/bin/downsql ]; then
  sample="$(mktemp -d)"
  trap 'rm -rf "$sample"' EXIT
  : > "$sample/LOTTO.dat"
  : > "$sample/keno.dat"
  build/bin/downsql summary "$sample/"
  build/bin/downsql request "$sample/"
else
  echo "demo: build/bin/downsql is not built yet"
fi
