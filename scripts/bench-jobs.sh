#!/usr/bin/env bash
# Times the tool on 1,000,000 short values in mode 1 with --jobs 1 and with
# --jobs 2, alternately in one run (the machine's speed drifts between runs),
# and prints the throughput ratio against its target. Not a test: the ratio
# depends on the machine having two idle cores.
#
#   scripts/bench-jobs.sh [ROUNDS]     ROUNDS pairs of runs, default 3; medians
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"
cd "$ROOT"

rounds=${1:-3}
values=1000000
ensure_packages "${BUILD_PACKAGES[@]}"
tool=$(build_default_tool "$ROOT")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'bench key text\n' >"$work/key"
awk -v n=$values 'BEGIN { for (i = 1; i <= n; i++) printf "value %07d\n", i }' >"$work/values"

step "tarvolacrypt encrypt --mode 1, $values values, --jobs 1 and --jobs 2 alternately"
python3 - "$tool" "$work" $values "$rounds" <<'PYTHON'
import os, statistics, subprocess, sys, time
tool, work, values, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def seconds(jobs):
    with open(f"{work}/values", "rb") as values_in, open(f"{work}/out", "wb") as out:
        start = time.monotonic()
        subprocess.run([tool, "encrypt", "--quiet", "--key-file", f"{work}/key", "--jobs", str(jobs)],
                       stdin=values_in, stdout=out, check=True)
        elapsed = time.monotonic() - start
    with open(f"{work}/out", "rb") as out:
        if sum(1 for _ in out) != values:
            sys.exit(f"the run with --jobs {jobs} lost values")
    return elapsed

one, two = [], []
for r in range(1, rounds + 1):
    one.append(seconds(1))
    two.append(seconds(2))
    print(f"round {r}: --jobs 1 {one[-1]:.2f} s, --jobs 2 {two[-1]:.2f} s", flush=True)
one, two = statistics.median(one), statistics.median(two)
print(f"--jobs 1: {values / one:10.0f} values/s  (median {one:.2f} s)")
print(f"--jobs 2: {values / two:10.0f} values/s  (median {two:.2f} s)")
ratio = one / two
print(f"--jobs 2 vs --jobs 1 {ratio:6.3f}x  (target >= 1.60x)  {'met' if ratio >= 1.6 else 'NOT MET'}")
PYTHON
