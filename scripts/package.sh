#!/usr/bin/env bash
# Builds the Debian package of the library, the tool (with its man page and
# bash completion) and the Python module in build/package-deb, and prints its
# path; with --install, installs it with dpkg -i (as root), which puts
# tarvolacrypt on PATH. Installs the Debian packages the build needs.
#
# Usage: package.sh [--install]
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"

BUILD_DIR=$ROOT/build/package-deb
case ${1:-} in
    "" | --install) ;;
    *) echo "usage: $0 [--install]" >&2; exit 2 ;;
esac

step "Packages the build and the .deb need"
# dpkg-dev and file let cpack compute the package's library dependencies;
# the database client libraries are what tarvolacrypt migrate links.
ensure_packages cmake ninja-build g++ pkg-config libssl-dev dpkg-dev file "${MIGRATE_PACKAGES[@]}"

step "Building for prefix /usr in build/package-deb"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DTARVOLA_WERROR=ON \
    -DTARVOLA_BUILD_TESTS=OFF -DTARVOLA_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR"
rm -f "$BUILD_DIR"/tarvolacrypt_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
DEB=$(ls "$BUILD_DIR"/tarvolacrypt_*.deb)
echo "$DEB"

if [ "${1:-}" = --install ]; then
    step "dpkg -i"
    dpkg -i "$DEB" >/dev/null
    echo "installed $(dpkg-query -W -f='${Package} ${Version}' tarvolacrypt): $(command -v tarvolacrypt)," \
        "man tarvolacrypt, bash completion, python3 -c 'import tarvolacrypt'"
fi
