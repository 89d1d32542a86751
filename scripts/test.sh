#!/usr/bin/env bash
# Builds and runs every test of the project on a Debian 12 machine, as root:
# the default and ASan+UBSan builds, the portable core on big-endian s390x
# under qemu, ThreadSanitizer, valgrind and the fuzz targets, the installed
# package, and the Windows DLLs under Wine. Installs the Debian packages each
# step needs when they are missing. Exits non-zero on the first failure. A
# step whose package cannot be installed (wine32 while the mirror's i386
# index is mid-sync, say) is skipped with a "SKIPPED:" line and listed again
# in the summary; every other failure fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_packages "${BUILD_PACKAGES[@]}"

# The scripts below add a line here for every step they skip.
TARVOLA_SKIPPED_LOG=$(mktemp)
export TARVOLA_SKIPPED_LOG
trap 'rm -f "$TARVOLA_SKIPPED_LOG"' EXIT

# ctest's summary lines, added up for the closing line (a script may run
# ctest more than once).
passed=0
failed=0
count_ctest() {
    local log=$1 line
    while read -r line; do
        if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
            failed=$((failed + BASH_REMATCH[1]))
            passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
        fi
    done < <(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
}

run_preset() {
    local preset=$1 log
    log=$(mktemp)
    step "$preset: configure, build, test"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" 2>&1 | tee "$log"
    count_ctest "$log"
    rm -f "$log"
}

# The .NET binding's tests, part of the default preset's ctest, run under
# Debian's Mono; where it cannot be installed they report themselves skipped.
ensure_packages_for ".NET binding tests" "${DOTNET_PACKAGES[@]}" || true

run_preset default
run_preset asan

# The portable core on a big-endian host: s390x, run under qemu.
if ensure_packages_for "s390x big-endian core tests" g++-s390x-linux-gnu qemu-user googletest; then
    run_preset s390x
fi

step "ThreadSanitizer, valgrind, fuzzing"
bash scripts/check-hardening.sh

step "install, consumer programs, Debian package"
bash scripts/check-package.sh

step "Windows DLLs (32-bit and 64-bit) under Wine"
log=$(mktemp)
bash scripts/check-windows.sh 2>&1 | tee "$log"
count_ctest "$log"
rm -f "$log"

echo
if [ -s "$TARVOLA_SKIPPED_LOG" ]; then
    echo "all checks that ran passed; skipped:"
    cat "$TARVOLA_SKIPPED_LOG"
else
    echo "all checks passed"
fi
echo "ctest: $passed passed, $failed failed"
