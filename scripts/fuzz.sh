#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, build/fuzz) and runs each for
# the given number of seconds, FUZZ_JOBS of them at a time (default: one per
# core), then prints the executions per target.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     e.g. scripts/fuzz.sh 3600
#
# SECONDS defaults to $FUZZ_SECONDS, else 60. Every target runs when none is
# named. Each target keeps a growing working corpus in build/fuzz/corpus/
# (seeded from fuzz/corpus/, which is never written to); crashes land in
# build/fuzz/artifacts/, logs in build/fuzz/logs/. Exits non-zero when a
# target finds a fault or cannot run; the log's tail is printed then.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib.sh
source "$root/scripts/lib.sh"

seconds=${1:-${FUZZ_SECONDS:-60}}
[ $# -gt 0 ] && shift
jobs=${FUZZ_JOBS:-$(nproc)}
all_targets=(fuzz_decrypt_hex fuzz_decrypt_envelope fuzz_roundtrip_hex fuzz_roundtrip_envelope
    fuzz_aes_differential fuzz_sql_condition)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

step "build fuzz targets"
cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=$root/build/fuzz
mkdir -p "$build/logs" "$build/artifacts"
# A fault must stop the run with a report, and a slow input is a fault too.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
    local target=$1
    mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
    "$build/fuzz/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1024 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target/" \
        "$build/corpus/$target" "$root/fuzz/corpus/$target" >"$build/logs/$target.log" 2>&1
}

step "fuzz ${targets[*]} for ${seconds}s each, $jobs at a time"
declare -A pid_of
for target in "${targets[@]}"; do
    [ -x "$build/fuzz/$target" ] || { echo "no such fuzz target: $target" >&2; exit 2; }
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    run_target "$target" &
    pid_of[$target]=$!
done

failed=0
printf '\n%-26s %15s %10s  %s\n' target executions exec/s result
for target in "${targets[@]}"; do
    result=ok
    wait "${pid_of[$target]}" || result=FAILED
    log=$build/logs/$target.log
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
    printf '%-26s %15s %10s  %s\n' "$target" "${runs:-?}" "${rate:-?}" "$result"
    if [ "$result" != ok ]; then
        failed=1
        echo "---- tail of $log"
        tail -n 40 "$log"
        echo "----"
    fi
done
exit "$failed"
