#!/usr/bin/env bash
# Checks the installable package end to end:
#   1. builds the library and the tool for prefix /usr in build/package-deb
#      and makes the .deb (scripts/package.sh);
#   2. installs that build into a temporary prefix, runs the installed tool
#      from there without LD_LIBRARY_PATH (man page and completion checked
#      too), and builds a consumer program against it with find_package and
#      with pkg-config, and runs it;
#   3. installs the .deb with dpkg -i, runs the installed tool, finds its man
#      page and bash completion, imports the Python module with Debian's
#      python3 and reads its help, and runs the consumer against /usr;
#   4. removes the package again with dpkg -r (also when a step fails), and
#      with it the module's byte code.
# Needs root (dpkg -i) and installs missing Debian packages.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib.sh
source "$ROOT/scripts/lib.sh"

BUILD_DIR=$ROOT/build/package-deb
PACKAGE=tarvolacrypt

step "Packages the checks need"
# The installed man page is checked with groff, the completion with
# bash-completion's own helpers, the Python module with Debian's python3.
ensure_packages groff bash-completion python3

bash "$ROOT/scripts/package.sh"
DEB=$(ls "$BUILD_DIR"/${PACKAGE}_*.deb)

step "The tool installed into a temporary prefix, run without LD_LIBRARY_PATH"
bash "$ROOT/tests/tool/install_test.sh" "$BUILD_DIR"

step "Consumer against an install in a temporary prefix"
bash "$ROOT/tests/package/consumer_test.sh" temp "$BUILD_DIR"

step "Debian package"
dpkg-deb --field "$DEB" Package Version Architecture Depends
dpkg-deb --contents "$DEB" | sed -E 's/^([^ ]+ +){5}//' | grep -v '/$'

if dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -q 'install ok installed'; then
    echo "note: $PACKAGE was installed already; it is replaced and removed at the end"
fi
remove_package() {
    if dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -q 'install ok installed'; then
        step "Removing the package"
        dpkg -r "$PACKAGE" >/dev/null
        echo "removed $PACKAGE"
    fi
}
trap remove_package EXIT

step "dpkg -i"
dpkg -i "$DEB" >/dev/null
echo "installed $(dpkg-query -W -f='${Package} ${Version}' "$PACKAGE")"

step "The installed tool"
INSTALLED_TOOL=$(command -v tarvolacrypt)
[ "$INSTALLED_TOOL" = /usr/bin/tarvolacrypt ] || { echo "tarvolacrypt is $INSTALLED_TOOL" >&2; exit 1; }
tarvolacrypt --version
KEY_DIR=$(mktemp -d)
trap 'rm -rf "$KEY_DIR"; remove_package' EXIT
printf 'package check key\n' >"$KEY_DIR/key"
for mode in 0 1; do
    result=$(echo value | tarvolacrypt encrypt --mode $mode --key-file "$KEY_DIR/key" |
        tarvolacrypt decrypt --mode $mode --key-file "$KEY_DIR/key")
    [ "$result" = value ] || { echo "mode $mode round trip gave '$result'" >&2; exit 1; }
    echo "mode $mode: echo value | encrypt | decrypt -> $result"
done

# migrate links the database clients: the package must pull them in.
depends=$(dpkg-deb --field "$DEB" Depends)
for library in libsqlite3-0 libpq5 libodbc2; do
    [[ $depends == *"$library"* ]] || { echo "the package does not depend on $library" >&2; exit 1; }
done
sqlite3 "$KEY_DIR/db" "CREATE TABLE t (v TEXT); INSERT INTO t VALUES
    ('$(tarvolacrypt encrypt --mode 0 --key-file "$KEY_DIR/key" value)')"
tarvolacrypt migrate --db "sqlite:$KEY_DIR/db" --table t --column v --key-file "$KEY_DIR/key"
[ "$(sqlite3 "$KEY_DIR/db" 'SELECT v FROM t' | tarvolacrypt decrypt --key-file "$KEY_DIR/key")" = value ] ||
    { echo "the installed tool did not migrate an SQLite table" >&2; exit 1; }

for shipped in /usr/share/man/man1/tarvolacrypt.1 /usr/share/bash-completion/completions/tarvolacrypt; do
    [ -f "$shipped" ] || { echo "the package does not ship $shipped" >&2; exit 1; }
done
echo "man page and bash completion installed"

step "The installed Python module, with Debian's python3"
# Found where python3 looks for packages' modules, the library by its soname.
opened=$(tarvolacrypt encrypt --quiet --key-file "$KEY_DIR/key" value |
    env -u TARVOLACRYPT_LIBRARY /usr/bin/python3 -c '
import sys, tarvolacrypt
key = "package check key"
value = sys.stdin.read().strip()
assert tarvolacrypt.decrypt(tarvolacrypt.encrypt("ünïcode", key, 0), key, 0) == "ünïcode"
print(tarvolacrypt.decrypt(value, key, "auto"))')
[ "$opened" = value ] || { echo "the Python module opened the tool's value as '$opened'" >&2; exit 1; }
help=$(PAGER=cat /usr/bin/python3 -c 'import tarvolacrypt; help(tarvolacrypt)')
for name in 'encrypt(plaintext, key, mode=' 'decrypt_bytes(' 'class Error(' TARVOLACRYPT_LIBRARY; do
    grep -qF "$name" <<<"$help" || { echo "help(tarvolacrypt) does not show $name" >&2; exit 1; }
done
echo "python3: import tarvolacrypt opens the tool's value; help(tarvolacrypt) documents it"

step "Consumer against the installed package in /usr"
bash "$ROOT/tests/package/consumer_test.sh" /usr

trap - EXIT
rm -rf "$KEY_DIR"
remove_package
[ ! -e /usr/bin/tarvolacrypt ] || { echo "the tool is still there after dpkg -r" >&2; exit 1; }
[ ! -e /usr/lib/python3/dist-packages/tarvolacrypt ] ||
    { echo "the Python module is still there after dpkg -r" >&2; exit 1; }
step "Package check passed"
