#!/usr/bin/env bash
# Builds the consumer program against an installed TarvolaCrypt twice, with
# CMake's find_package and with pkg-config, and runs both builds.
#
# Usage: consumer_test.sh PREFIX [BUILD_DIR]
#   With BUILD_DIR, that build is first installed into PREFIX (which is then
#   made and removed again when PREFIX is "temp").
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
PREFIX=$1
BUILD_DIR=${2:-}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

if [ -n "$BUILD_DIR" ]; then
    [ "$PREFIX" = temp ] && PREFIX=$WORK/prefix
    cmake --install "$BUILD_DIR" --prefix "$PREFIX" >"$WORK/install.log"
    echo "installed $BUILD_DIR into $PREFIX"
fi

GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)

echo "== consumer through find_package(TarvolaCrypt)"
cmake -S "$HERE/consumer" -B "$WORK/cmake-build" "${GENERATOR[@]}" \
    -DCMAKE_PREFIX_PATH="$PREFIX" -DCMAKE_BUILD_TYPE=Release >"$WORK/configure.log" ||
    { cat "$WORK/configure.log"; exit 1; }
grep 'TarvolaCrypt 2018.27.0.1 from' "$WORK/configure.log"
cmake --build "$WORK/cmake-build" >"$WORK/build.log" || { cat "$WORK/build.log"; exit 1; }
"$WORK/cmake-build/consumer"

echo "== consumer through pkg-config"
PC_DIRS=$(find "$PREFIX"/lib* -maxdepth 3 -name tarvolacrypt.pc -printf '%h:' 2>/dev/null || true)
[ -n "$PC_DIRS" ] || { echo "no tarvolacrypt.pc under $PREFIX" >&2; exit 1; }
export PKG_CONFIG_PATH=${PC_DIRS}${PKG_CONFIG_PATH:-}
echo "tarvolacrypt $(pkg-config --modversion tarvolacrypt): $(pkg-config --cflags --libs tarvolacrypt)"
LIBDIR=$(pkg-config --variable=libdir tarvolacrypt)
cc -c "$HERE/consumer/c_round_trip.c" -o "$WORK/c_round_trip.o" $(pkg-config --cflags tarvolacrypt)
c++ -std=c++17 -Wall -Wextra "$HERE/consumer/main.cpp" "$WORK/c_round_trip.o" -o "$WORK/pc-consumer" \
    $(pkg-config --cflags --libs tarvolacrypt) -Wl,-rpath,"$LIBDIR"
"$WORK/pc-consumer"
