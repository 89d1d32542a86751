#!/usr/bin/env bash
# Builds and runs every test of the project on a Debian 12 machine, as root:
# the default and ASan+UBSan builds, ThreadSanitizer, valgrind and the fuzz
# targets, the installed package, and the Windows DLL under Wine. Installs the
# Debian packages each step needs when they are missing. Exits non-zero on the
# first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_packages "${BUILD_PACKAGES[@]}"

# ctest's summary lines, added up for the closing line.
passed=0
failed=0
count_ctest() {
    local log=$1 line
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1) || true
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        failed=$((failed + BASH_REMATCH[1]))
        passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
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

run_preset default
run_preset asan

step "ThreadSanitizer, valgrind, fuzzing"
bash scripts/check-hardening.sh

step "install, consumer programs, Debian package"
bash scripts/check-package.sh

step "Windows DLL under Wine"
log=$(mktemp)
bash scripts/check-windows.sh 2>&1 | tee "$log"
count_ctest "$log"
rm -f "$log"

echo
echo "all checks passed"
echo "ctest: $passed passed, $failed failed"
