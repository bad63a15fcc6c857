#!/usr/bin/env bash
# The updater's import beside SQLite's shell: 100,000 single-row INSERTs
# into a keno-like table (id, a draw timestamp and twenty numbers, a unique
# index on the timestamp) inside one transaction, run through build/bin/tabula
# and through sqlite3 on fresh databases. Prints the median of 3 runs of
# each (CPU seconds, user + system; wall-clock beside them) and their ratio.
#
#   bench/import_compare.sh [ROWS]        (default 100000)
#   TABULA=path/to/tabula bench/import_compare.sh
set -euo pipefail
cd "$(dirname "$0")/.."
rows="${1:-100000}"
tabula="${TABULA:-build/bin/tabula}"
[ -x "$tabula" ] || { echo "import_compare: $tabula is not built" >&2; exit 2; }
command -v sqlite3 >/dev/null || { echo "import_compare: sqlite3 is missing (scripts/setup.sh)" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

numbers=""
for i in $(seq 1 20); do numbers+=", n$i SMALLINT"; done
create="CREATE TABLE keno (id INTEGER NOT NULL, date TIMESTAMP$numbers, PRIMARY KEY (id));
CREATE UNIQUE INDEX keno_date ON keno (date);"

# One draw every 5 minutes from 2000-01-01 on, twenty numbers 1..80.
awk -v rows="$rows" '
function civil(days,   z, era, doe, yoe, y, doy, mp, d, m) {  # days since 1970-01-01
  z = days + 719468; era = int(z / 146097); doe = z - era * 146097
  yoe = int((doe - int(doe / 1460) + int(doe / 36524) - int(doe / 146096)) / 365)
  y = yoe + era * 400; doy = doe - (365 * yoe + int(yoe / 4) - int(yoe / 100))
  mp = int((5 * doy + 2) / 153); d = doy - int((153 * mp + 2) / 5) + 1
  m = mp < 10 ? mp + 3 : mp - 9
  return sprintf("%04d-%02d-%02d", m <= 2 ? y + 1 : y, m, d)
}
BEGIN {
  srand(1)
  for (r = 1; r <= rows; r++) {
    t = r * 300; day = int(t / 86400); s = t - day * 86400
    stamp = sprintf("%s %02d:%02d:%02d", civil(10957 + day), int(s / 3600), int(s % 3600 / 60), s % 60)
    line = sprintf("INSERT INTO keno VALUES (%d, \x27%s\x27", r, stamp)
    for (i = 1; i <= 20; i++) line = line sprintf(", %d", 1 + int(rand() * 80))
    print line ");"
  }
}' > "$work/inserts.sql"
{ echo "START TRANSACTION;"; cat "$work/inserts.sql"; echo "COMMIT;"; } > "$work/tabula.sql"
{ echo "BEGIN;"; cat "$work/inserts.sql"; echo "COMMIT;"; } > "$work/sqlite.sql"

# Runs "$@" and prints the CPU seconds it used (user + system), which a busy
# machine does not inflate the way it does wall-clock time, and the
# wall-clock seconds after a colon.
seconds() {
  local TIMEFORMAT='%U %S %R' t
  t=$( { time "$@" >/dev/null; } 2>&1 )
  awk -v t="$t" 'BEGIN { split(t, f, " "); printf "%.3f:%.3f", f[1] + f[2], f[3] }'
}
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

tab=() sql=()
for run in 1 2 3; do
  rm -rf "$work/db" "$work/db.sqlite"
  "$tabula" "$work/db" "$create"
  tab+=("$(seconds "$tabula" -f "$work/tabula.sql" "$work/db")")
  [ "$("$tabula" --csv "$work/db" 'SELECT COUNT(*) AS n FROM keno' | tail -1)" = "$rows" ] ||
    { echo "import_compare: tabula did not store $rows rows" >&2; exit 1; }
  sqlite3 "$work/db.sqlite" "$create"
  sql+=("$(seconds sqlite3 "$work/db.sqlite" ".read $work/sqlite.sql")")
done
cpu() { for x in "$@"; do echo "${x%%:*}"; done; }
wall() { for x in "$@"; do echo "${x##*:}"; done; }
t=$(median $(cpu "${tab[@]}"))
s=$(median $(cpu "${sql[@]}"))
printf 'rows            %d\n' "$rows"
printf 'tabula          %.3f s CPU  (runs: %s; wall %s)\n' "$t" "$(cpu "${tab[@]}" | paste -sd' ')" "$(wall "${tab[@]}" | paste -sd' ')"
printf 'sqlite3         %.3f s CPU  (runs: %s; wall %s)\n' "$s" "$(cpu "${sql[@]}" | paste -sd' ')" "$(wall "${sql[@]}" | paste -sd' ')"
printf 'tabula/sqlite3  %s\n' "$(awk -v a="$t" -v b="$s" 'BEGIN { printf "%.2f", a / b }')"
