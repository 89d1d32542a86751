#!/usr/bin/env bash
# Rows per second of `tarvolacrypt migrate` (short values, mode 0 -> 1, one
# transaction) beside the tool's own `reencrypt` of the same values as lines:
# 1,000,000 SQLite rows and 200,000 PostgreSQL rows by default, and the peak
# memory of each run at the full and at a tenth of the row count (flat means
# the same). Then two ways of writing the PostgreSQL rows, timed through psql
# without the tool: multi-row UPDATE ... FROM (VALUES ...) as the tool does,
# and COPY into a temporary table with one joined UPDATE. Run as root (the PostgreSQL server
# runs as postgres through scripts/pg-test-server.sh). Both the tool's runs use
# JOBS threads, by default one per processor as the tool does.
#
#   bash bench/migrate_bench.sh [SQLITE_ROWS [PG_ROWS [JOBS]]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/lib.sh"
sqlite_rows=${1:-1000000} pg_rows=${2:-200000} jobs=${3:-$(nproc)}

ensure_packages "${BUILD_PACKAGES[@]}" "${MIGRATE_PACKAGES[@]}" time
cd "$ROOT"
tool=$(build_default_tool "$ROOT")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
printf 'benchmark key\n' > "$work/key"

# seconds and peak kilobytes of a command, as "S KB"
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
        cat "$work/stderr" >&2
        exit 1
    }
    cat "$work/time"
}
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / (s > 0 ? s : 0.01) }'; }

make_values() { # N FILE: "N,mode-0 value" lines
    seq -f 'value %g' 1 "$1" | "$tool" encrypt --mode 0 --key-file "$work/key" --quiet |
        awk '{ print NR "," $0 }' > "$2"
}

sqlite_run() { # N -> "rows/s KB"
    make_values "$1" "$work/rows.csv"
    rm -f "$work/db.sqlite"
    sqlite3 "$work/db.sqlite" "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v TEXT)" \
        ".import --csv $work/rows.csv secrets"
    read -r s kb < <(measure "$tool" migrate --db "sqlite:$work/db.sqlite" --table secrets \
        --column v --key-file "$work/key" --jobs "$jobs" --quiet)
    echo "$(rate "$1" "$s") $kb"
}

step "SQLite: $sqlite_rows rows (jobs $jobs)"
make_values "$sqlite_rows" "$work/rows.csv"
lines=$(cut -d, -f2 "$work/rows.csv" > "$work/lines"
    read -r s _ < <(measure sh -c "'$tool' reencrypt --from-mode 0 --to-mode 1 --key-file '$work/key' --jobs '$jobs' --quiet < '$work/lines'")
    rate "$sqlite_rows" "$s")
read -r small_rate small_kb < <(sqlite_run $((sqlite_rows / 10)))
read -r sqlite_rate sqlite_kb < <(sqlite_run "$sqlite_rows")
echo "reencrypt lines:  $lines values/s"
echo "migrate sqlite:   $sqlite_rate rows/s = $(awk -v a="$sqlite_rate" -v b="$lines" 'BEGIN { printf "%.2f", a / b }')x the line rate (target >= 0.6x)"
echo "peak memory:      $small_kb KB at $((sqlite_rows / 10)) rows, $sqlite_kb KB at $sqlite_rows rows"

pg_part() {
    local n=$1 s kb
    psql -XqAt -c "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v VARCHAR(200))"
    make_values "$n" "$work/pg.csv"
    psql -XqAt -c "\\copy secrets FROM '$work/pg.csv' CSV"
    read -r s kb < <(measure "$tool" migrate --db "$TARVOLA_PG_URI" --table secrets --column v \
        --key-file "$work/key" --jobs "$jobs" --quiet)
    echo "migrate postgres: $(rate "$n" "$s") rows/s (target >= 25000), peak memory $kb KB"

    # The writing alone, three ways, from the same (id, old, new) rows.
    psql -XqAt -c "SELECT id, v, v || 'x' FROM secrets ORDER BY id" -F, > "$work/triples.csv"
    awk -F, -v rows=500 '
        NR % rows == 1 { if (NR > 1) print ") AS v(i, o, n) WHERE t.id = v.i AND t.v = v.o;"
                         printf "UPDATE secrets AS t SET v = v.n FROM (VALUES " ; sep = "" }
        { printf "%s(%s,%c%s%c,%c%s%c)", sep, $1, 39, $2, 39, 39, $3, 39; sep = "," }
        END { print ") AS v(i, o, n) WHERE t.id = v.i AND t.v = v.o;" }' "$work/triples.csv" |
        sed '1i BEGIN;' > "$work/values.sql"
    echo 'ROLLBACK;' >> "$work/values.sql"
    cat > "$work/copy.sql" <<SQL
BEGIN;
CREATE TEMP TABLE changes (i integer, o text, n text) ON COMMIT DROP;
\\copy changes FROM '$work/triples.csv' CSV
UPDATE secrets AS t SET v = c.n FROM changes c WHERE t.id = c.i AND t.v = c.o;
ROLLBACK;
SQL
    timed() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'; }
    echo "writing $n rows, server round trips included (rolled back):"
    echo "  multi-row UPDATE ... FROM (VALUES ...), 500 rows each: $(rate "$n" "$(timed psql -XqAt -v ON_ERROR_STOP=1 -f "$work/values.sql")") rows/s"
    echo "  COPY into a temporary table, one joined UPDATE:         $(rate "$n" "$(timed psql -XqAt -v ON_ERROR_STOP=1 -f "$work/copy.sql")") rows/s"
}
export -f pg_part make_values measure rate step
export tool work jobs

step "PostgreSQL: $pg_rows rows (jobs $jobs)"
bash scripts/pg-test-server.sh bash -c "pg_part $pg_rows"
