#!/usr/bin/env bash
# nettle-source.sh DIR: fetches Debian's source package of nettle (the
# version of the installed libnettle8, if any), unpacks its upstream tarball
# into DIR and prints the unpacked directory. The benchmarks compile nettle's
# generic C rounds from it (bench/CMakeLists.txt), which Debian's amd64
# library does not contain: it runs nettle's assembly instead.
#
# The package lists of source packages go to a private directory in DIR,
# made from the system's own entries with "deb" turned into "deb-src", so
# the system's apt state is not touched. A second run reuses what the first
# unpacked. On failure it prints one "SKIPPED: ..." line to standard error
# and exits 1: the benchmarks then build without nettle's C code.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"

mkdir -p "$1"
dest=$(cd "$1" && pwd)
fail() {
    skip_step "benchmarks beside nettle's C code" "$*" >&2
    exit 1
}

version=$(dpkg-query -W -f='${source:Version}' libnettle8 2>/dev/null) || version=""
upstream=${version%-*}
upstream=${upstream#*:}
if [ -n "$upstream" ] && [ -f "$dest/nettle-$upstream/aes-encrypt-internal.c" ]; then
    echo "$dest/nettle-$upstream"
    exit 0
fi

apt_dir="$dest/apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && sed 's/^Types:.*/Types: deb-src/' "$file" >"$apt_dir/sources/$(basename "$file")"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] && sed -n 's/^deb /deb-src /p' "$file" >"$apt_dir/sources/$(basename "$file")"
done
apt_options=(-q -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
# apt's unprivileged download user cannot write into a build directory.
[ "$(id -u)" = 0 ] && apt_options+=(-o APT::Sandbox::User=root)

APT_LOG="$apt_dir/apt.log"
apt_with_retries apt-get update "${apt_options[@]}" || fail "nettle: apt-get update: $(apt_error)"
(cd "$dest" && apt_with_retries apt-get source "${apt_options[@]}" --download-only \
    "nettle${version:+=$version}") || fail "nettle${version:+=$version}: $(apt_error)"

tarball=$(find "$dest" -maxdepth 1 -name 'nettle_*.orig.tar.gz' | sort | tail -n 1)
[ -n "$tarball" ] || fail "nettle: apt-get source gave no upstream tarball"
tar -xzf "$tarball" -C "$dest"
upstream=$(basename "$tarball" .orig.tar.gz)
upstream=${upstream#nettle_}
[ -f "$dest/nettle-$upstream/aes-encrypt-internal.c" ] ||
    fail "nettle: $tarball holds no nettle-$upstream/aes-encrypt-internal.c"
echo "$dest/nettle-$upstream"
