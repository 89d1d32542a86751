#!/usr/bin/env bash
# The checks beyond the plain and ASan+UBSan test runs:
#   1. ThreadSanitizer build (tsan preset) running the unit tests, whose
#      concurrency test has 8 threads mixing both modes and both entry points,
#      and the tool's --jobs test (worker threads handing results back);
#   2. valgrind memcheck with leak checking over the GoogleTest programs of the
#      default build (built when missing): zero errors, zero leaks, no
#      suppressions; then the constant-time tests (ctest label constant-time),
#      which mark secrets undefined for memcheck;
#   3. every fuzz target for FUZZ_SECONDS (default 20) seconds, two at a time
#      (a smoke test that keeps CI short; scripts/fuzz.sh runs them longer).
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"
cd "$ROOT"

ensure_packages "${BUILD_PACKAGES[@]}" valgrind

step "ThreadSanitizer: unit tests and the tool with --jobs"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target unit_tests tarvolacrypt_tool
# halt_on_error: a race fails the run instead of being printed and passed.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --preset tsan -R '^(unit_tests|tool\.parallel_jobs)$'

step "valgrind memcheck: GoogleTest programs of the default build"
# Configured again even when it exists: the constant-time tests are only
# built once valgrind (installed above) provides valgrind/memcheck.h.
cmake --preset default >/dev/null
cmake --build --preset default
# The wipe proof reads freed blocks and dead stack on purpose (label
# no-valgrind); everything else runs under memcheck.
mapfile -t programs < <(cd build/default && ctest -N -LE no-valgrind --show-only=json-v1 |
    python3 -c '
import json, sys
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command", [])
    if command and command[0].endswith("_tests"):
        print(command[0])')
[ ${#programs[@]} -gt 0 ] || { echo "no test programs found for valgrind" >&2; exit 1; }
for program in "${programs[@]}"; do
    echo "valgrind: ${program#"$ROOT"/}"
    valgrind --quiet --error-exitcode=1 --leak-check=full \
        --show-leak-kinds=definite,indirect,possible \
        --errors-for-leak-kinds=definite,indirect,possible \
        "$program" --gtest_brief=1
done
ctest --preset default -L constant-time

step "fuzz targets, ${FUZZ_SECONDS:-20} s each"
FUZZ_JOBS=${FUZZ_JOBS:-2} bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
