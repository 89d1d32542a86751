#!/usr/bin/env bash
# Builds the benchmarks (default preset) and runs them against OpenSSL's
# portable C code (AES-NI and SSSE3 paths off through OPENSSL_ia32cap), then
# prints the ratios the performance targets are stated in. Extra arguments go
# to the benchmark program, e.g. --benchmark_repetitions=5.
#
# Ratios compare throughput (higher is better for us) or time per call
# (lower is better), always between two benchmarks of the same run.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"
cd "$ROOT"

ensure_packages "${BUILD_PACKAGES[@]}"
cmake --preset default >/dev/null
cmake --build --preset default --target tarvola_bench

results=$(mktemp)
trap 'rm -f "$results"' EXIT

step "benchmarks, OpenSSL without AES-NI and SSSE3"
OPENSSL_ia32cap='~0x200020000000000' build/default/bench/tarvola_bench \
    --benchmark_min_time=0.5 --benchmark_out="$results" --benchmark_out_format=json "$@"

step "ratios against the targets"
python3 - "$results" <<'EOF'
import json, sys

runs = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    # With repetitions, keep the median; otherwise the single run.
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
        continue
    runs[b["run_name"]] = b

def rate(name):
    return runs[name]["bytes_per_second"]

def time(name):
    return runs[name]["real_time"]

MiB = 1 << 20
checks = [
    ("block encryption vs OpenSSL ECB", rate(f"AesEncryptBlocks/{MiB}") / rate(f"OpenSslEcbEncrypt/{MiB}"), ">=", 1.15),
    ("block decryption vs OpenSSL ECB", rate(f"AesDecryptBlocks/{MiB}") / rate(f"OpenSslEcbDecrypt/{MiB}"), ">=", 1.0),
    ("Encrypt mode 0, 1 MiB vs bare cipher", rate(f"Mode0Encrypt/{MiB}") / rate(f"AesEncryptBlocks/{MiB}"), ">=", 0.85),
    ("Decrypt mode 0, 1 MiB vs bare cipher", rate(f"Mode0Decrypt/{MiB}") / rate(f"AesDecryptBlocks/{MiB}"), ">=", 0.85),
    ("Encrypt mode 1, 32 B time vs bare OpenSSL", time("Mode1Encrypt/32") / time("BareMode1Encrypt/32"), "<=", 1.3),
    ("Decrypt mode 1, 32 B time vs bare OpenSSL", time("Mode1Decrypt/32") / time("BareMode1Decrypt/32"), "<=", 1.3),
    ("Encrypt mode 1, 1 MiB time vs bare OpenSSL", time(f"Mode1Encrypt/{MiB}") / time(f"BareMode1Encrypt/{MiB}"), "<=", 1.15),
    ("Decrypt mode 1, 1 MiB time vs bare OpenSSL", time(f"Mode1Decrypt/{MiB}") / time(f"BareMode1Decrypt/{MiB}"), "<=", 1.15),
]
for what, ratio, op, target in checks:
    met = ratio >= target if op == ">=" else ratio <= target
    print(f"{what:44} {ratio:5.2f}x  (target {op} {target:.2f}x)  {'met' if met else 'NOT MET'}")
EOF
