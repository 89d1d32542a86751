#!/usr/bin/env bash
# Builds TarvolaCrypt.dll for 32-bit and for 64-bit Windows with mingw-w64 and
# tests each under Wine's loader for its architecture, in a Wine prefix of its
# own: the unit tests, the loader test, the module check (format, machine,
# exports, imports, version resource) and the cross-platform test against the
# Linux build (build/default, built here when missing) and the other DLL.
# Run as root on Debian 12; installs what it needs. Works headless.
#
# The 32-bit tests need wine32, an i386 package (and for the tool's ODBC
# test the i386 ODBC driver manager and SQLite driver). When it cannot be installed,
# or its loader cannot run a trivial 32-bit program natively in time, they
# are skipped with one "SKIPPED:" line giving the reason; the 32-bit DLL is
# still built and its module checked, and the 64-bit DLL, which needs no
# i386 package, is tested in full.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

step "Windows: toolchains and Wine"
ensure_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
    wine wine64 python3-pefile googletest
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    unset TARVOLA_APT_UPDATED  # the new architecture needs a fresh package list
fi
wine32=0
wine32_step="32-bit Windows tests under Wine (unit, loader, tool, cross-platform)"
if ensure_packages_for "$wine32_step" wine32; then
    wine32=1
fi

# Wine needs a home directory; a bare CI shell may not set one.
export HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export WINEDEBUG=-all
# No display: Wine must not try to open windows (wineboot's dialogs).
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tarvolacrypt
prefix32=${TARVOLA_WINEPREFIX:-$cache/wine32}
prefix64=${TARVOLA_WINEPREFIX64:-$cache/wine64}

# use_wine_prefix BITS PREFIX LOADER: exports the prefix for BITS-bit Windows,
# creating it when missing. Prefixes live outside the source tree and are
# kept between runs: creating one takes most of a minute.
use_wine_prefix() {
    export WINEARCH=win$1 WINEPREFIX=$2
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "== creating the Wine prefix $WINEPREFIX"
        mkdir -p "$(dirname "$WINEPREFIX")"
        timeout 600 "$3" wineboot -i
        timeout 600 wineserver -w
    fi
}

# Wine's server lingers for a few seconds after the last program; let it go
# rather than hold a prefix after the script has ended.
stop_wine_servers() {
    local prefix
    for prefix in "$prefix32" "$prefix64"; do
        if [ -d "$prefix" ]; then WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; fi
    done
}
trap stop_wine_servers EXIT

# Installed is not enough: the kernel may not run the 32-bit loader at all,
# or only through emulation, so it must first run a trivial program.
if [ "$wine32" = 1 ]; then
    probe_dir=$(mktemp -d)
    mkdir -p "$(dirname "$prefix32")"
    printf 'int main(void) { return 0; }\n' >"$probe_dir/probe.c"
    i686-w64-mingw32-gcc-posix -o "$probe_dir/probe.exe" "$probe_dir/probe.c"
    if ! WINEARCH=win32 WINEPREFIX=$prefix32 wine32_loader_for "$wine32_step" wine \
        "$probe_dir/probe.exe"; then
        wine32=0
    fi
    rm -rf "$probe_dir"
fi

step "Linux build for the cross-platform test"
if [ ! -f build/default/CMakeCache.txt ]; then
    cmake --preset default >/dev/null
fi
cmake --build --preset default --target tarvola_compat_tool
host_tool=$PWD/build/default/tests/windows/tarvola_compat_tool

step "Windows 32-bit: configure, build, test"
cmake --preset windows -DTARVOLA_HOST_COMPAT_TOOL="$host_tool" >/dev/null
cmake --build --preset windows
if [ "$wine32" = 1 ]; then
    use_wine_prefix 32 "$prefix32" wine
    # Wine's 32-bit odbc32 hands the tool's calls to the host's i386 driver
    # manager, which reads the data sources with i386 libodbcinst.
    odbc32=()
    ensure_packages_for "32-bit Windows tool through ODBC under Wine" \
        libodbc2:i386 libodbcinst2:i386 libsqliteodbc:i386 || odbc32=(-E '^migrate\.windows\.')
    ctest --preset windows "${odbc32[@]}"
    peer="win32=env WINEARCH=win32 WINEPREFIX=$prefix32 wine $PWD/build/windows/bin/tarvola_compat_tool.exe"
else
    # The module check reads the file and needs no Wine.
    ctest --preset windows -R '^windows_module$'
    peer=""
fi

step "Windows 64-bit: configure, build, test"
use_wine_prefix 64 "$prefix64" /usr/lib/wine/wine64
cmake --preset windows64 -DTARVOLA_HOST_COMPAT_TOOL="$host_tool" \
    -DTARVOLA_PEER_COMPAT_TOOL="$peer" >/dev/null
cmake --build --preset windows64
ctest --preset windows64

echo
echo "Windows checks passed"
