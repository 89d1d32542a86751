#!/usr/bin/env bash
# Rows per second of `tarvolacrypt migrate` built from this tree against the
# tool built from git revision BASE, side by side on the same PostgreSQL
# server and the same rows: ROWS short values in a text column, mode 0 -> 1,
# in one transaction and in batches of 10,000, ROUNDS rounds alternating
# the two tools so that a drift of the machine hits both alike. Prints each
# round and the median of each; run as root (the server runs as postgres
# through scripts/pg-test-server.sh).
#
#   bash bench/migrate_compare.sh BASE [ROWS [ROUNDS [JOBS]]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/lib.sh"
base=${1:?usage: migrate_compare.sh BASE [ROWS [ROUNDS [JOBS]]]}
rows=${2:-200000} rounds=${3:-3} jobs=${4:-$(nproc)}

ensure_packages "${BUILD_PACKAGES[@]}" "${MIGRATE_PACKAGES[@]}"
work=$(mktemp -d)
base_tree=$work/base
trap 'git -C "$ROOT" worktree remove --force "$base_tree" 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"
git -C "$ROOT" worktree add --detach -q "$base_tree" "$base"
export new_tool base_tool
new_tool=$(build_default_tool "$ROOT")
base_tool=$(build_default_tool "$base_tree")
printf 'benchmark key\n' > "$work/key"
seq -f 'value %g' 1 "$rows" | "$new_tool" encrypt --mode 0 --key-file "$work/key" --quiet |
    awk '{ print NR "," $0 }' > "$work/rows.csv"

compare() {
    psql -XqAt -c "CREATE TABLE pristine (id INTEGER PRIMARY KEY, v TEXT)" \
        -c "\\copy pristine FROM '$work/rows.csv' CSV"
    # One run: a fresh copy of the rows, then the tool; prints rows/s.
    run() {
        local tool=$1 t0 t1
        shift
        psql -XqAt -c "DROP TABLE IF EXISTS secrets" \
            -c "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v TEXT)" \
            -c "INSERT INTO secrets SELECT * FROM pristine" -c "VACUUM ANALYZE secrets"
        t0=$(date +%s.%N)
        "$tool" migrate --db "$TARVOLA_PG_URI" --table secrets --column v --key-file "$work/key" \
            --jobs "$jobs" --quiet "$@" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
        t1=$(date +%s.%N)
        awk -v n="$rows" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", n / (b - a) }'
    }
    median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
    local mode round new base
    for mode in atomic batched; do
        local args=() news="" bases="" ratios=""
        [ "$mode" = batched ] && args=(--batch-size 10000)
        for round in $(seq "$rounds"); do
            new=$(run "$new_tool" "${args[@]}")
            base=$(run "$base_tool" "${args[@]}")
            echo "$mode round $round: this tree $new rows/s, base $base rows/s"
            news="$news $new" bases="$bases $base"
            ratios="$ratios $(awk -v a="$new" -v b="$base" 'BEGIN { printf "%.3f", a / b }')"
        done
        # Each round's ratio is formed within the round, so that a drift of
        # the machine between rounds cancels out.
        echo "$mode: this tree $(echo $news | median) rows/s, base $(echo $bases | median) rows/s;" \
            "this tree / base per round: median $(echo $ratios | median)" \
            "[$(echo $ratios | tr ' ' '\n' | sort -n | head -n 1)-$(echo $ratios | tr ' ' '\n' | sort -n | tail -n 1)]"
    done
}
export -f compare
export work rows rounds jobs
step "PostgreSQL text column, $rows rows, this tree against $base (jobs $jobs)"
bash "$ROOT/scripts/pg-test-server.sh" bash -c compare
