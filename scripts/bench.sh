#!/usr/bin/env bash
# Builds the benchmarks (default preset) and runs them once pinned to each
# processor (taskset -c N), against OpenSSL's portable code (AES-NI and SSSE3
# off through OPENSSL_ia32cap), nettle's generic C code (compiled from
# Debian's source package of nettle, which scripts/nettle-source.sh fetches
# into the build directory) and the installed libnettle without AES-NI
# (NETTLE_FAT_OVERRIDE), then prints the ratios the performance targets are
# stated in, per processor: on a shared machine one processor can be
# persistently slower (a busy neighbour), and the ratios shift with it.
#
# Every benchmark times our side and a reference side alternately within the
# same run (see RunPaired in bench/bench_support.h): a shared machine's speed
# drifts by more than the differences measured, so only paired times compare.
# Each ratio is the median of 9 repetitions, with their lowest and highest in
# brackets. Extra arguments go to the benchmark program, e.g.
# --benchmark_filter=Block to run the block cipher alone. TARVOLA_BENCH_CPUS
# names the processors (default: all).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"
cd "$ROOT"

ensure_packages "${BUILD_PACKAGES[@]}"
# Without nettle, or without its source, the benchmarks build and run
# without those comparisons.
nettle_source=""
if ensure_packages_for "benchmarks beside nettle" "${BENCH_PACKAGES[@]}"; then
    nettle_source=$(bash scripts/nettle-source.sh build/default/nettle-source) || nettle_source=""
fi
cmake --preset default -DTARVOLA_NETTLE_SOURCE_DIR="$nettle_source" >/dev/null
cmake --build --preset default --target tarvola_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpus=${TARVOLA_BENCH_CPUS:-$(seq -s ' ' 0 $(($(nproc) - 1)))}
for cpu in $cpus; do
    step "benchmarks on processor $cpu, OpenSSL without AES-NI and SSSE3, libnettle without AES-NI"
    OPENSSL_ia32cap='~0x200020000000000' NETTLE_FAT_OVERRIDE=none \
        taskset -c "$cpu" build/default/bench/tarvola_bench \
        --benchmark_min_time=0.5 --benchmark_repetitions=9 --benchmark_display_aggregates_only=true \
        --benchmark_out="$work/cpu$cpu.json" --benchmark_out_format=json "$@"
done

step "ratios against the targets: median [lowest-highest] of the repetitions, per processor"
python3 - "$work" "$nettle_source" $cpus <<'PYTHON'
import json, statistics, sys

work, nettle_source, cpus = sys.argv[1], sys.argv[2], sys.argv[3:]
MiB = 1 << 20

# time_ratio (our time over the reference's) of each repetition, per processor.
ratios = {}
for cpu in cpus:
    for b in json.load(open(f"{work}/cpu{cpu}.json"))["benchmarks"]:
        if b.get("run_type") == "iteration" and "time_ratio" in b:
            ratios.setdefault(b["run_name"], {}).setdefault(cpu, []).append(b["time_ratio"])

def cell(values, speed):
    values = sorted(1 / v for v in values) if speed else sorted(values)
    return f"{statistics.median(values):5.2f}x [{values[0]:.2f}-{values[-1]:.2f}]"

def row(what, name, speed, target=""):
    if name not in ratios:
        return
    cells = "  ".join(cell(ratios[name][cpu], speed) if cpu in ratios[name] else f"{'-':^20}"
                      for cpu in cpus)
    print(f"{what:52} {cells}  {target}")

def check(what, name, speed, op, target):
    if name not in ratios:
        return
    medians = [statistics.median(1 / v if speed else v for v in ratios[name][cpu])
               for cpu in cpus if cpu in ratios[name]]
    met = all(m >= target if op == ">=" else m <= target for m in medians)
    row(what, name, speed, f"(target {op} {target:.2f}x) {'met' if met else 'NOT MET'}")

print(f"{'':52} " + "  ".join(f"{'processor ' + cpu:^20}" for cpu in cpus))
# what, benchmark, speed (1 / time ratio) or time ratio, comparison, target
if not nettle_source:
    print("nettle's C code: not measured (no nettle source, see scripts/nettle-source.sh)")
check("block decryption, 1 MiB, time vs nettle's C", f"BlockDecryptVsNettleC/{MiB}", False, "<=", 1.1)
check("block decryption, 64 B, time vs nettle's C", "BlockDecryptVsNettleC/64", False, "<=", 1.0)
check("block encryption, 1 MiB, speed vs OpenSSL ECB", f"BlockEncrypt/{MiB}", True, ">=", 1.6)
check("block decryption, 1 MiB, speed vs OpenSSL ECB", f"BlockDecrypt/{MiB}", True, ">=", 1.8)
check("Encrypt mode 0, 1 MiB, speed vs OpenSSL ECB", f"Mode0EncryptVsOpenSslEcb/{MiB}", True, ">=", 1.4)
check("Encrypt mode 0, 64 B, speed vs OpenSSL ECB", "Mode0EncryptVsOpenSslEcb/64", True, ">=", 1.3)
check("Decrypt mode 0, 64 B, speed vs OpenSSL ECB", "Mode0DecryptVsOpenSslEcb/64", True, ">=", 1.3)
check("Encrypt mode 1, 32 B, time vs bare OpenSSL", "Mode1EncryptVsBareOpenSsl/32", False, "<=", 1.3)
check("Decrypt mode 1, 32 B, time vs bare OpenSSL", "Mode1DecryptVsBareOpenSsl/32", False, "<=", 1.3)
check("Encrypt mode 1, 1 MiB, time vs bare OpenSSL", f"Mode1EncryptVsBareOpenSsl/{MiB}", False, "<=", 1.15)
check("Decrypt mode 1, 1 MiB, time vs bare OpenSSL", f"Mode1DecryptVsBareOpenSsl/{MiB}", False, "<=", 1.15)

# Figures without targets: the other sizes and forms, and what the text
# format costs beside the bare cipher.
row("block encryption, 1 MiB, time vs nettle's C", f"BlockEncryptVsNettleC/{MiB}", False)
row("block encryption, 64 B, time vs nettle's C", "BlockEncryptVsNettleC/64", False)
row("block encryption, 64 B, speed vs OpenSSL ECB", "BlockEncrypt/64", True)
row("block decryption, 64 B, speed vs OpenSSL ECB", "BlockDecrypt/64", True)
row("Decrypt mode 0, 1 MiB, speed vs OpenSSL ECB", f"Mode0DecryptVsOpenSslEcb/{MiB}", True)
row("single-block encryption, 1 MiB, time vs nettle's C", f"SingleBlockEncryptVsNettleC/{MiB}", False)
row("single-block decryption, 1 MiB, time vs nettle's C", f"SingleBlockDecryptVsNettleC/{MiB}", False)
row("single-block encryption, 64 B, time vs nettle's C", "SingleBlockEncryptVsNettleC/64", False)
row("single-block decryption, 64 B, time vs nettle's C", "SingleBlockDecryptVsNettleC/64", False)
# The same work beside the installed libnettle (on amd64 its assembly).
row("block decryption, 1 MiB, time vs libnettle", f"BlockDecryptVsLibnettle/{MiB}", False)
row("block decryption, 64 B, time vs libnettle", "BlockDecryptVsLibnettle/64", False)
row("block encryption, 1 MiB, time vs libnettle", f"BlockEncryptVsLibnettle/{MiB}", False)
row("block encryption, 64 B, time vs libnettle", "BlockEncryptVsLibnettle/64", False)
row("single-block decryption, 1 MiB, time vs libnettle", f"SingleBlockDecryptVsLibnettle/{MiB}", False)
row("single-block encryption, 1 MiB, time vs libnettle", f"SingleBlockEncryptVsLibnettle/{MiB}", False)
row("single-block decryption, 64 B, time vs libnettle", "SingleBlockDecryptVsLibnettle/64", False)
row("single-block encryption, 64 B, time vs libnettle", "SingleBlockEncryptVsLibnettle/64", False)
row("block decryption vs own encryption, 1 MiB, speed", f"BlockDecryptVsEncrypt/{MiB}", True)
row("Encrypt mode 0, 1 MiB, speed vs bare cipher", f"Mode0EncryptVsOwnCipher/{MiB}", True)
row("Decrypt mode 0, 1 MiB, speed vs bare cipher", f"Mode0DecryptVsOwnCipher/{MiB}", True)
PYTHON
