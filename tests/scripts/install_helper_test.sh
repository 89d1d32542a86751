#!/usr/bin/env bash
# The package installer of scripts/lib.sh against a stand-in apt-get that
# fails the way a mirror mid-sync does: retries, an update failure that does
# not stop the install, and the one line that names a package that cannot be
# installed (FAILED for packages every step needs, SKIPPED for those of one
# step), and the probe that lets the 32-bit Wine tests run only where Wine's
# 32-bit loader works. Usage: install_helper_test.sh PATH/TO/scripts/lib.sh
set -euo pipefail
LIB=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

# The stand-in: FAIL_UPDATE / FAIL_INSTALL say how many calls fail before one
# succeeds; every call is counted in $WORK/calls.
mkdir "$WORK/bin"
cat >"$WORK/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$1" >>"$STATE/calls"
n=$(grep -cx "$1" "$STATE/calls")
if [ "$1" = update ] && [ "$n" -le "${FAIL_UPDATE:-0}" ]; then
    echo "E: Failed to fetch http://mirror/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1234 != 5678). Mirror sync in progress? [IP: 10.0.0.1 80]"
    exit 100
fi
if [ "$1" = install ] && [ "$n" -le "${FAIL_INSTALL:-0}" ]; then
    echo "The following packages have unmet dependencies:"
    echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
fi
STUB
chmod +x "$WORK/bin/apt-get"

# Runs CODE in a fresh shell with lib.sh sourced; stdout and stderr to
# $WORK/out, its exit status echoed.
run() {
    rm -f "$WORK/calls" "$WORK/skipped"
    local status=0
    env -u TARVOLA_APT_UPDATED PATH="$WORK/bin:$PATH" STATE="$WORK" TARVOLA_APT_PAUSES="0.01 0.02" \
        TARVOLA_SKIPPED_LOG="$WORK/skipped" FAIL_UPDATE="$1" FAIL_INSTALL="$2" \
        bash -euo pipefail -c "source '$LIB'; $3" >"$WORK/out" 2>&1 || status=$?
    echo "$status"
}

expect() {
    local what=$1 actual=$2 wanted=$3
    if [ "$actual" != "$wanted" ]; then
        echo "FAIL: $what: got [$actual], wanted [$wanted]"
        sed 's/^/    /' "$WORK/out"
        failures=$((failures + 1))
    fi
}
calls() { tr '\n' ' ' <"$WORK/calls" | sed 's/ $//'; }
lines_starting() { grep -c "^$1" "$WORK/out" || true; }

# Fails twice, then works: the third try of each succeeds.
status=$(run 2 2 'ensure_packages tarvola-no-such-package; echo after')
expect "retried update and install" "$status $(calls)" "0 update update update install install install"
expect "went on after installing" "$(tail -n 1 "$WORK/out")" after

# The package lists never refresh, the install still works.
status=$(run 9 0 'ensure_packages tarvola-no-such-package; echo after')
expect "update failing does not stop the install" "$status $(calls)" "0 update update update install"

# Installed packages are not installed again: no apt-get call at all.
status=$(run 9 9 'ensure_packages bash coreutils')
expect "nothing missing, nothing run" "$status $(test -f "$WORK/calls" && calls)" "0 "

# A package every step needs: the run stops with one FAILED line naming it
# and apt's error.
status=$(run 0 9 'ensure_packages tarvola-no-such-package; echo after')
expect "ensure_packages exit status" "$status" 1
expect "one FAILED line" "$(lines_starting FAILED:)" 1
expect "FAILED line" "$(grep '^FAILED:' "$WORK/out")" \
    "FAILED: cannot install tarvola-no-such-package: wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed (and maybe more); E: Unable to correct problems, you have held broken packages."
expect "nothing after the failure" "$(grep -c '^after' "$WORK/out" || true)" 0

# A package of one step: one SKIPPED line, recorded for the summary, the
# caller goes on.
status=$(run 0 9 'ensure_packages_for "32-bit Wine tests" tarvola-no-such-package || echo skipped; echo after')
expect "skip exit status" "$status" 0
expect "one SKIPPED line" "$(lines_starting SKIPPED:)" 1
expect "SKIPPED line names step and package" \
    "$(grep '^SKIPPED:' "$WORK/out" | cut -d: -f1-3)" "SKIPPED: 32-bit Wine tests: tarvola-no-such-package"
expect "recorded for the summary" "$(cat "$WORK/skipped")" "$(grep '^SKIPPED:' "$WORK/out")"
expect "caller skipped and went on" "$(tail -n 2 "$WORK/out" | paste -sd ' ')" "skipped after"

# The 32-bit Wine loader counts only when it runs a trivial program, natively
# and in time. Stand-in loaders: one that runs it, one the kernel cannot
# execute, one that hangs; and the one that runs it, but with i386 programs
# handed to an emulator by binfmt_misc.
mkdir "$WORK/no-binfmt" "$WORK/emulated"
printf '#!/bin/sh\n[ -f "$1" ]\n' >"$WORK/bin/loader-runs"
# An ELF header for 32-bit SPARC, which no PC kernel executes.
{ printf '\177ELF\001\001\001\000\0\0\0\0\0\0\0\0\002\0\002\0\001\0\0\0'
  head -c 28 /dev/zero; } >"$WORK/bin/loader-foreign"
printf '#!/bin/sh\nsleep 10\n' >"$WORK/bin/loader-hangs"
chmod +x "$WORK/bin"/loader-*
printf '%s\n' enabled 'interpreter /usr/libexec/qemu-binfmt/i386-binfmt-P' 'flags: PF' 'offset 0' \
    'magic 7f454c4601010100000000000000000002000300' \
    'mask fffffffffffefe00fffffffffffffffffeffffff' >"$WORK/emulated/qemu-i386"
: >"$WORK/program.exe"
probe_cases=(
    "loader-runs no-binfmt:"
    "loader-foreign no-binfmt:Exec format error"
    "loader-hangs no-binfmt:did not run a trivial program within 0.5s"
    "loader-runs emulated:through /usr/libexec/qemu-binfmt/i386-binfmt-P (binfmt_misc"
)
for probe_case in "${probe_cases[@]}"; do
    read -r loader binfmt <<<"${probe_case%%:*}"
    reason=${probe_case#*:}
    status=$(run 0 0 "TARVOLA_BINFMT_DIR='$WORK/$binfmt' TARVOLA_WINE_PROBE_SECONDS=0.5 \
        wine32_loader_for '32-bit Wine tests' $loader '$WORK/program.exe' || echo skipped; echo after")
    expect "$loader, $binfmt: goes on" "$status $(tail -n 1 "$WORK/out")" "0 after"
    if [ -z "$reason" ]; then
        expect "$loader, $binfmt: not skipped" "$(lines_starting SKIPPED:)" 0
    else
        expect "$loader, $binfmt: one SKIPPED line" "$(lines_starting SKIPPED:)" 1
        grep -q "^SKIPPED: 32-bit Wine tests: .*$reason" "$WORK/out" ||
            expect "$loader, $binfmt: reason" "$(grep '^SKIPPED:' "$WORK/out")" "... $reason ..."
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "install helper: all checks passed"
