#!/usr/bin/env bash
# Per-call time of the Python and the .NET binding against the C call they
# wrap (bench/binding_baseline_bench.cpp), at 64 B and 1 MiB, in both modes
# and directions. A shared machine drifts by more than the differences
# measured, so the three programs take turns, ROUNDS times (default 5), and
# each ratio is formed within one round; the table gives the median ratio and
# its range over the rounds. Python is Debian's /usr/bin/python3, the one the
# package serves; .NET is Debian's Mono.
#
# Usage: bench-bindings.sh [ROUNDS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"
cd "$ROOT"
ROUNDS=${1:-5}

ensure_packages "${BUILD_PACKAGES[@]}" "${DOTNET_PACKAGES[@]}"
cmake --preset default >/dev/null
cmake --build --preset default --target tarvola_bench tarvolacrypt
LIBRARY=$ROOT/build/default/src/libtarvolacrypt.so

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mcs -optimize -out:"$WORK/bench.exe" bindings/dotnet/TarvolaCrypt.cs bench/BindingsBench.cs
cp bindings/dotnet/dllmap.config "$WORK/bench.exe.config"

for round in $(seq "$ROUNDS"); do
    step "round $round of $ROUNDS (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    build/default/bench/tarvola_bench --benchmark_filter='^C(En|De)crypt/' \
        --benchmark_min_time=0.2 --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_format=json >"$WORK/c.$round.json"
    TARVOLACRYPT_LIBRARY=$LIBRARY PYTHONPATH=$ROOT/bindings/python \
        /usr/bin/python3 bench/bindings_bench.py >"$WORK/python.$round"
    LD_LIBRARY_PATH=$(dirname "$LIBRARY") mono "$WORK/bench.exe" >"$WORK/dotnet.$round"
done

step "per-call time: binding over the C call (median of $ROUNDS rounds, range)"
python3 - "$WORK" "$ROUNDS" <<'PYTHON'
import json, statistics, sys

work, rounds = sys.argv[1], int(sys.argv[2])
TARGETS = {"python": 3.0, "dotnet": 1.5}  # at 64 B


def binding_times(name, round_):
    with open(f"{work}/{name}.{round_}") as lines:
        return {case: float(ns) for case, ns in (line.split() for line in lines)}


def c_times(round_):
    with open(f"{work}/c.{round_}.json") as report:
        return {b["run_name"][1:]: b["real_time"] for b in json.load(report)["benchmarks"]
                if b.get("aggregate_name") == "median"}


c = [c_times(r) for r in range(1, rounds + 1)]
bindings = {name: [binding_times(name, r) for r in range(1, rounds + 1)] for name in TARGETS}
print(f"{'call':24} {'C µs':>9}   {'Python µs':>9} {'ratio (range)':>20}   {'.NET µs':>9} {'ratio (range)':>20}")
for case in c[0]:
    row = f"{case:24} {statistics.median(r[case] for r in c) / 1000:9.2f}"
    for name, target in TARGETS.items():
        ratios = sorted(b[case] / r[case] for b, r in zip(bindings[name], c))
        median = statistics.median(ratios)
        verdict = ""
        if case.endswith("/64"):
            verdict = " met" if median <= target else " NOT MET"
        row += (f"   {statistics.median(b[case] for b in bindings[name]) / 1000:9.2f}"
                f" {median:6.2f}x ({ratios[0]:.2f}-{ratios[-1]:.2f}){verdict:8}")
    print(row)
print("targets at 64 B: Python <= 3x, .NET <= 1.5x the C call's time")
PYTHON
