#!/usr/bin/env bash
# Rows per second of `tarvolacrypt migrate` (short values, mode 0 -> 1, one
# transaction) beside the tool's own `reencrypt` of the same values as lines:
# 1,000,000 SQLite rows and 200,000 PostgreSQL rows by default, and the peak
# memory of each run at the full and at a tenth of the row count (flat means
# the same). Then two ways of writing the PostgreSQL rows, timed through psql
# without the tool: multi-row UPDATE ... FROM (VALUES ...) as the tool does,
# and COPY into a temporary table with one joined UPDATE. Last, the same
# SAME_ROWS values (200,000 by default) through every backend, ROUNDS rounds
# (3) alternating SQLite, PostgreSQL through libpq, MariaDB through
# odbc-mariadb and PostgreSQL through psqlODBC, each in one transaction and in
# batches of 10,000, all into a TEXT column (TARVOLA_BENCH_COLUMN names
# another type, such as VARCHAR(200)): rows/s, the tool's CPU seconds,
# the ratio to SQLite's rows/s of the same round and the batched run's to the
# one-transaction run's, as medians with their spread; a tool with --verbose
# also says how long its count of rows left behind took. Run as root (the
# servers run as postgres and mysql through scripts/pg-test-server.sh and
# scripts/mariadb-test-server.sh). The tool's runs use JOBS threads, by
# default one per processor as the tool does; TARVOLA_BENCH_TOOL names a
# tool to time instead of the one built from this tree. A count of 0 rows
# leaves its part out: `bash bench/migrate_bench.sh 0 0 2` runs the last only.
#
#   bash bench/migrate_bench.sh [SQLITE_ROWS [PG_ROWS [JOBS [SAME_ROWS [ROUNDS]]]]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/lib.sh"
sqlite_rows=${1:-1000000} pg_rows=${2:-200000} jobs=${3:-$(nproc)}
same_rows=${4:-200000} rounds=${5:-3} same_type=${TARVOLA_BENCH_COLUMN:-TEXT}

ensure_packages "${BUILD_PACKAGES[@]}" "${MIGRATE_PACKAGES[@]}" time
cd "$ROOT"
tool=${TARVOLA_BENCH_TOOL:-$(build_default_tool "$ROOT")}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
printf 'benchmark key\n' > "$work/key"
chmod 600 "$work/key"

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

if [ "$sqlite_rows" != 0 ]; then
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
fi

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

if [ "$pg_rows" != 0 ]; then
    step "PostgreSQL: $pg_rows rows (jobs $jobs)"
    bash scripts/pg-test-server.sh bash -c "pg_part $pg_rows"
fi

# One run of the tool on a fresh copy of the rows: "ROUND BACKEND MODE
# rows/s CPU-seconds count-seconds" into $work/results (count-seconds "-"
# where the tool does not say).
same_run() {
    local round=$1 backend=$2 mode=$3 address args=() s user sys
    case $backend in
        sqlite) cp "$work/pristine.sqlite" "$work/db.sqlite"; address=sqlite:$work/db.sqlite ;;
        postgres | odbc-postgres)
            PGOPTIONS='-c client_min_messages=warning' psql -XqAt -c "DROP TABLE IF EXISTS secrets" \
                -c "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v $same_type)" \
                -c "INSERT INTO secrets SELECT * FROM pristine" -c "VACUUM ANALYZE secrets"
            address=$TARVOLA_PG_URI
            [ "$backend" = postgres ] || address="odbc:DSN=bench_pg" ;;
        odbc-mariadb)
            mariadb_client -e "DROP TABLE IF EXISTS secrets; CREATE TABLE secrets LIKE pristine;
                               INSERT INTO secrets SELECT * FROM pristine; ANALYZE TABLE secrets" >/dev/null
            address="odbc:DSN=bench_mariadb" ;;
    esac
    [ "$mode" = batched ] && args+=(--batch-size 10000)
    "$tool" migrate --help 2>&1 | grep -q -- --verbose && args+=(--verbose)
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$tool" migrate --db "$address" --table secrets \
        --column v --key-file "$work/key" --jobs "$jobs" --quiet "${args[@]}" >/dev/null 2>"$work/stderr" || {
        cat "$work/stderr" >&2
        exit 1
    }
    read -r s user sys < "$work/time"
    local count
    count=$(sed -n 's/^tarvolacrypt: .*rows left to migrate counted in \([0-9.]*\) s.*/\1/p' "$work/stderr")
    printf '%s %s %s %s %s %s\n' "$round" "$backend" "$mode" "$(rate "$same_rows" "$s")" \
        "$(awk -v u="$user" -v y="$sys" 'BEGIN { printf "%.1f", u + y }')" "${count:--}" |
        tee -a "$work/results"
}

same_part() {
    mariadb_client() { mariadb --no-defaults --socket="$TARVOLA_MARIADB_SOCKET" -u root tarvola "$@"; }
    local multiarch
    multiarch=$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
    export ODBCSYSINI=$work ODBCINI=$work/odbc.ini
    cat > "$work/odbcinst.ini" <<INI
[PostgreSQL Unicode]
Driver=/usr/lib/$multiarch/odbc/psqlodbcw.so
[MariaDB Unicode]
Driver=/usr/lib/$multiarch/odbc/libmaodbc.so
INI
    cat > "$work/odbc.ini" <<INI
[bench_pg]
Driver=PostgreSQL Unicode
Servername=$TARVOLA_PG_HOST
Port=$TARVOLA_PG_PORT
Database=postgres
Username=postgres
UseDeclareFetch=1
[bench_mariadb]
Driver=MariaDB Unicode
Socket=$TARVOLA_MARIADB_SOCKET
Database=tarvola
User=root
INI
    make_values "$same_rows" "$work/same.csv"
    sqlite3 "$work/pristine.sqlite" "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v $same_type)" \
        ".import --csv $work/same.csv secrets"
    psql -XqAt -c "CREATE TABLE pristine (id INTEGER PRIMARY KEY, v $same_type)" \
        -c "\\copy pristine FROM '$work/same.csv' CSV"
    mariadb_client --local-infile=1 -e "CREATE TABLE pristine (id INTEGER PRIMARY KEY, v $same_type);
        LOAD DATA LOCAL INFILE '$work/same.csv' INTO TABLE pristine FIELDS TERMINATED BY ','"
    : > "$work/results"
    echo "round backend mode rows/s tool-CPU-s count-s"
    local round backend mode
    # A backend's two modes run back to back, so that a change of load
    # between them, which this machine sees, shifts both alike.
    for round in $(seq "$rounds"); do
        for backend in sqlite postgres odbc-mariadb odbc-postgres; do
            for mode in atomic batched; do
                same_run "$round" "$backend" "$mode"
            done
        done
    done
    # Medians and spread; ratios are formed within a round, then summarised.
    awk '
        function summary(list,   n, v, i, j, t, median) {
            n = split(list, v, " ")
            for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            if (n == 0) return "-"
            median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            return median " (" v[1] "-" v[n] ")"
        }
        { rate[$1, $2, $3] = $4; cpu[$2, $3] = cpu[$2, $3] " " $5; if ($6 != "-") count[$2, $3] = count[$2, $3] " " $6
          rates[$2, $3] = rates[$2, $3] " " $4; rounds[$1] = 1 }
        END {
            printf "%-14s %-8s %-26s %-16s %-22s %-22s %s\n", "backend", "mode", "rows/s median (range)", "tool CPU s", "x SQLite (range)", "batched/atomic", "count s"
            split("sqlite postgres odbc-mariadb odbc-postgres", order, " ")
            for (b = 1; b <= 4; ++b) for (m = 1; m <= 2; ++m) {
                backend = order[b]; mode = m == 1 ? "atomic" : "batched"
                if (!((backend, mode) in rates)) continue
                ratio = ""; against = ""
                for (r in rounds) {
                    if (rate[r, "sqlite", mode] > 0) ratio = ratio " " sprintf("%.2f", rate[r, backend, mode] / rate[r, "sqlite", mode])
                    if (mode == "batched" && rate[r, backend, "atomic"] > 0) against = against " " sprintf("%.3f", rate[r, backend, "batched"] / rate[r, backend, "atomic"])
                }
                printf "%-14s %-8s %-26s %-16s %-22s %-22s %s\n", backend, mode, summary(rates[backend, mode]), summary(cpu[backend, mode]),
                    summary(ratio), mode == "batched" ? summary(against) : "", summary(count[backend, mode])
            }
        }' "$work/results"
}
export -f same_part same_run
export same_rows rounds same_type

if [ "$same_rows" != 0 ]; then
    step "The same $same_rows values through every backend, $same_type, $rounds rounds (jobs $jobs)"
    bash scripts/pg-test-server.sh bash scripts/mariadb-test-server.sh bash -c same_part
fi
