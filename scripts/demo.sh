#!/usr/bin/env bash
# The main job on an embedded default: builds the project, makes a sample
# database directory with empty LOTTO and KENO tables (shaped as the host
# keeps them), shows the updater's summary and request, imports a sample
# answer of the results service and shows the summary with the new last
# draws.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal downsql_cli tabula

sample="$(mktemp -d)"
trap 'rm -rf "$sample"' EXIT

# CREATE TABLE of a game table: id, the draw's date (TIMESTAMP for games
# drawn several times a day), the numbers n1..nK, a unique index on the date.
game_table() {  # TABLE DATE_TYPE K
  local sql="CREATE TABLE $1 (id INTEGER NOT NULL, [date] $2" i
  for i in $(seq 1 "$3"); do sql+=", n$i SMALLINT"; done
  echo "$sql, PRIMARY KEY (id)); CREATE UNIQUE INDEX $1_date ON $1 ([date]);"
}
build/bin/tabula "$sample" "$(game_table LOTTO DATE 6)" "$(game_table keno TIMESTAMP 20)"

build/bin/downsql summary "$sample/"
build/bin/downsql request "$sample/"

# What the service answers: SQL text, one INSERT per new draw.
keno_numbers="1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 45, 49, 53, 57, 61, 65, 69, 73, 77"
printf '%s\r\n' \
  "INSERT INTO LOTTO VALUES (7001, '2024-01-02', 3, 11, 19, 27, 35, 43);" \
  "INSERT INTO LOTTO VALUES (7002, '2024-01-04', 4, 12, 20, 28, 36, 44);" \
  "INSERT INTO keno VALUES (1, '2024-01-04 21:40:00', $keno_numbers);" > "$sample/answer.sql"
build/bin/downsql import "$sample/" "$sample/answer.sql"
build/bin/downsql summary "$sample/"
build/bin/tabula --table "$sample" "SELECT * FROM LOTTO"
