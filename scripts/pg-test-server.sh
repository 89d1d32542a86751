#!/usr/bin/env bash
# Runs COMMAND... with a throw-away PostgreSQL server up, then stops it and
# removes it, also when the command fails or the script is interrupted.
#
#   bash scripts/pg-test-server.sh COMMAND [ARG...]
#
# The server is Debian's PostgreSQL 15, initialised as the `postgres` user in
# a temporary directory, listening only on a Unix socket in that directory
# (no TCP port, so parallel runs cannot collide). COMMAND sees
#   TARVOLA_PG_URI   postgresql:///postgres?host=DIR&port=PORT&user=postgres
#   TARVOLA_PG_HOST  the socket directory, TARVOLA_PG_PORT the port
# and PGHOST/PGPORT/PGUSER/PGDATABASE for psql. Needs root (runuser); exits
# 77 (ctest's "skipped") without root or without a server installed.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "$0: no PostgreSQL server installed (Debian: postgresql)" >&2; exit 77; }
[ "$(id -u)" = 0 ] || { echo "$0: needs root to start the server as postgres" >&2; exit 77; }

dir=$(mktemp -d /tmp/tarvola-pg.XXXXXX)
chmod 755 "$dir"
chown postgres: "$dir"
port=$((50000 + RANDOM % 10000))
as_postgres() { runuser -u postgres -- "$@"; }

stop() {
    as_postgres "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

# initdb takes a few seconds; the first run of a server version keeps a
# pristine data directory in /tmp that later runs copy (moved into place
# whole, so parallel runs never see half of one).
template=/tmp/tarvola-pg-template-$("$bin/postgres" --version | awk '{ print $3 }')
# initdb works in this run's own directory, which stop() removes also when
# it fails; only a finished data directory becomes the template.
if [ ! -d "$template" ]; then
    as_postgres "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 \
        >/dev/null
    fresh=$(mktemp -d /tmp/tarvola-pg-template.XXXXXX)
    cp -a "$dir/data" "$fresh/data"
    mv -T "$fresh" "$template" 2>/dev/null || rm -rf "$fresh"
else
    cp -a "$template/data" "$dir/data"
fi
as_postgres "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-c listen_addresses='' -c unix_socket_directories='$dir' -p $port -c fsync=off" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }

export TARVOLA_PG_HOST=$dir TARVOLA_PG_PORT=$port
export TARVOLA_PG_URI="postgresql:///postgres?host=$dir&port=$port&user=postgres"
export PGHOST=$dir PGPORT=$port PGUSER=postgres PGDATABASE=postgres
# Not exec: the trap must still stop the server afterwards.
"$@"
