#!/usr/bin/env bash
# Values per second of `tarvolacrypt scan` beside `decrypt --mode auto` over
# the same values, which scan is to match: once before a migration (mode-0
# values under the old key: one decryption each, as decrypt) and once after it
# (mode-1 values under the new key: two decryptions each, the second proving
# the value does not also open under the old key). Standard input and a SQLite
# table of the same values; JOBS threads each (default one per processor).
#
#   bash bench/scan_bench.sh [VALUES [JOBS]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"
values=${1:-500000} jobs=${2:-$(nproc)}

ensure_packages "${BUILD_PACKAGES[@]}" "${MIGRATE_PACKAGES[@]}"
cd "$ROOT"
tool=$(build_default_tool "$ROOT")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'old benchmark key\n' > "$work/old.key"
printf 'new benchmark key\n' > "$work/new.key"

# Seconds a command takes, its output discarded; a failure is fine for scan
# (exit 1: not done), not for anything else.
seconds() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>"$work/stderr" || [ $? = 1 ] || { cat "$work/stderr" >&2; exit 1; }
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}
rate() { awk -v n="$values" -v s="$1" 'BEGIN { printf "%.0f", n / (s > 0 ? s : 0.01) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }

keys=(--key-file "$work/old.key" --new-key-file "$work/new.key" --jobs "$jobs" --quiet)
measure_set() { # LABEL FILE KEY-FOR-DECRYPT
    local file=$2 decrypt_s input_s db_s
    rm -f "$work/db.sqlite"
    awk '{ print NR "," $0 }' "$file" > "$work/rows.csv"
    sqlite3 "$work/db.sqlite" "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v TEXT)" \
        ".import --csv $work/rows.csv secrets"
    decrypt_s=$(seconds sh -c "'$tool' decrypt --mode auto --key-file '$3' --jobs $jobs --quiet < '$file'")
    input_s=$(seconds sh -c "'$tool' scan ${keys[*]} < '$file'")
    db_s=$(seconds "$tool" scan --db "sqlite:$work/db.sqlite" --table secrets --column v "${keys[@]}")
    echo "$1:"
    echo "  decrypt --mode auto: $(rate "$decrypt_s") values/s"
    echo "  scan, standard input: $(rate "$input_s") values/s = $(ratio "$input_s" "$decrypt_s")x decrypt"
    echo "  scan, SQLite table:   $(rate "$db_s") values/s = $(ratio "$db_s" "$decrypt_s")x decrypt"
}

step "scan: $values values (jobs $jobs)"
seq -f 'value %g' 1 "$values" | "$tool" encrypt --mode 0 --key-file "$work/old.key" --quiet > "$work/before"
"$tool" reencrypt --key-file "$work/old.key" --new-key-file "$work/new.key" --jobs "$jobs" --quiet \
    < "$work/before" > "$work/after"
measure_set "before the migration (mode 0, old key: one decryption)" "$work/before" "$work/old.key"
measure_set "after the migration (mode 1, new key: two decryptions)" "$work/after" "$work/new.key"
