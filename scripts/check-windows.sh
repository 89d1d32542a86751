#!/usr/bin/env bash
# Builds TarvolaCrypt.dll for 32-bit Windows with mingw-w64 and tests it under
# Wine: the unit tests, the loader test, the module check (exports, imports,
# version resource) and the cross-platform test against the Linux build
# (build/default, built here when missing). Run as root on Debian 12; installs
# what it needs. Works headless.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

step "Windows: toolchain and Wine"
# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    unset TARVOLA_APT_UPDATED  # the new architecture needs a fresh package list
fi
ensure_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-i686 wine wine32 python3-pefile googletest

# Wine needs a home directory; a bare CI shell may not set one.
export HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
# A prefix of our own, outside the source tree, kept between runs: creating
# one takes most of a minute.
export WINEPREFIX=${TARVOLA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvolacrypt/wine32}
export WINEARCH=win32
export WINEDEBUG=-all
# No display: Wine must not try to open windows (wineboot's dialogs).
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 600 wineboot -i
    timeout 600 wineserver -w
fi

step "Linux build for the cross-platform test"
if [ ! -f build/default/CMakeCache.txt ]; then
    cmake --preset default >/dev/null
fi
cmake --build --preset default --target tarvola_compat_tool
linux_tool=$PWD/build/default/tests/windows/tarvola_compat_tool

step "Windows: configure, build, test"
cmake --preset windows -DTARVOLA_HOST_COMPAT_TOOL="$linux_tool" >/dev/null
cmake --build --preset windows
ctest --preset windows
# Wine's server lingers for a few seconds after the last program; let it go
# now rather than hold the prefix after the script has ended.
wineserver -k 2>/dev/null || true

echo
echo "Windows checks passed"
