#!/usr/bin/env bash
# Runs COMMAND... with a throw-away MariaDB server up, then stops it and
# removes it, also when the command fails or the script is interrupted.
#
#   bash scripts/mariadb-test-server.sh COMMAND [ARG...]
#
# The server is Debian's mariadb-server, its data in a temporary directory,
# running as the `mysql` user, reachable only through a Unix socket in that
# directory (skip-networking: no TCP port, so parallel runs cannot collide).
# It starts in strict mode, as Debian configures it; a client turns strict
# mode off for its session with SET sql_mode = ''. COMMAND sees
#   TARVOLA_MARIADB_SOCKET  the socket, user root without a password,
#                           database `tarvola`
# Needs root (runuser); exits 77 (ctest's "skipped") without root, without a
# server installed, or when the server does not start.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
server=$(command -v mariadbd || echo /usr/sbin/mariadbd)
if ! [ -x "$server" ] || ! command -v mariadb-install-db >/dev/null ||
    ! command -v mariadb >/dev/null; then
    echo "$0: no MariaDB server installed (Debian: mariadb-server)" >&2
    exit 77
fi
[ "$(id -u)" = 0 ] || { echo "$0: needs root to start the server as mysql" >&2; exit 77; }
id mysql >/dev/null 2>&1 || { echo "$0: no mysql user to run the server as" >&2; exit 77; }

dir=$(mktemp -d /tmp/tarvola-mariadb.XXXXXX)
chmod 755 "$dir"
chown mysql: "$dir"
socket=$dir/mysqld.sock
pid=""

stop() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        # A few seconds for a clean shutdown, then no more waiting.
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

# --no-defaults: nothing of the machine's own configuration applies.
options=(--no-defaults --datadir="$dir/data" --socket="$socket" --skip-networking
    --pid-file="$dir/mysqld.pid" --log-error="$dir/server.log" --innodb-buffer-pool-size=32M
    --innodb-log-file-size=16M --skip-log-bin --innodb-flush-log-at-trx-commit=0)
# A fresh data directory takes mariadb-install-db several seconds; the first
# run of a server version keeps a pristine copy in /tmp that later runs copy
# (moved into place whole, so parallel runs never see half of one).
template=/tmp/tarvola-mariadb-template-$("$server" --version | awk '{ print $3 }')
if [ ! -d "$template" ]; then
    runuser -u mysql -- mariadb-install-db "${options[@]}" --auth-root-authentication-method=normal \
        --skip-test-db >"$dir/install.log" 2>&1 || {
        cat "$dir/install.log" >&2
        echo "$0: cannot initialise a MariaDB data directory" >&2
        exit 77
    }
    fresh=$(mktemp -d /tmp/tarvola-mariadb-template.XXXXXX)
    cp -a "$dir/data/." "$fresh/"
    mv -T "$fresh" "$template" 2>/dev/null || rm -rf "$fresh"
else
    cp -a "$template" "$dir/data"
fi
# Started as root, the server drops to the mysql user itself before it opens
# anything; so the signals of stop() reach it and not a wrapper.
"$server" "${options[@]}" --user=mysql 2>>"$dir/server.log" &
pid=$!
for _ in $(seq 300); do
    mariadb --no-defaults --socket="$socket" -u root -e 'SELECT 1' >/dev/null 2>&1 && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
mariadb --no-defaults --socket="$socket" -u root -e 'CREATE DATABASE tarvola' || {
    cat "$dir/server.log" >&2
    echo "$0: the MariaDB server did not start" >&2
    exit 77
}

export TARVOLA_MARIADB_SOCKET=$socket
# Not exec: the trap must still stop the server afterwards.
"$@"
