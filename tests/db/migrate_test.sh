#!/usr/bin/env bash
# `tarvolacrypt migrate` against real databases, one behaviour per run:
#
#   migrate_test.sh TOOL BACKEND CASE
#
# TOOL runs through $TARVOLA_TOOL_LOADER when set (Wine, for the Windows
# build, whose ODBC calls reach the host's driver manager).
# BACKEND: sqlite, postgres, odbc-postgres, odbc-sqlite, odbc-mariadb. The
# PostgreSQL ones expect the server of scripts/pg-test-server.sh (TARVOLA_PG_*
# variables), odbc-mariadb the one of scripts/mariadb-test-server.sh
# (TARVOLA_MARIADB_SOCKET).
# CASE: mixed (atomic failure, dry run, migration, re-run), names (hostile and
# awkward identifiers), batch_failure (a failing batch is rolled back, earlier
# ones stay), concurrent (a writer changes a row meanwhile),
# kill (kill -9 during a batched run on a large table, then a re-run),
# stored (what the database keeps is what was verified: narrow columns,
# rewriting triggers, a shared --id),
# scan (counts and failures read with SELECT rights only, then scan, migrate,
# scan), readonly (a read-only SQLite file, and one another program is
# writing), plan (two tables rolled back together, then migrated in paced
# batches), interrupt (SIGTERM, SIGINT), refused (the database refuses a
# write), blanks (padded and blank values), left_behind (rows arriving during a
# batched run), secrets (the address from a file or the environment),
# statements (a --where smuggling in a second statement), schema (qualified
# table names), locks (another session holds a lock: --lock-timeout, and the
# notice on a terminal), sqlite_files (BLOB values, WITHOUT ROWID, a file that
# is no database), paged_reads (ODBC rows read page by page by id),
# rewriters (views, triggers, rules and deferred triggers that keep something
# else than the verified value), row_security (rows hidden from a role),
# composite (a key of two columns), failure_ids (awkward keys pasted back into
# WHERE … IN), types (columns that hold no text), collation (MariaDB's
# case-insensitive comparison), widths (psqlODBC's made-up widths, domains),
# stop (SIGINT while waiting for a lock), readonly_session (scan's ODBC session
# cannot write).
set -euo pipefail
tool_path=$1 backend=$2 case=$3
# shellcheck disable=SC2086 # the loader may be a command with arguments
tool() { ${TARVOLA_TOOL_LOADER:-} "$tool_path" "$@"; }
# Wine without its 32-bit part exits 0 having run nothing: look at the output.
if [ -n "${TARVOLA_TOOL_LOADER:-}" ] && ! tool --version 2>/dev/null | grep -q '^tarvolacrypt '; then
    echo "SKIPPED: $TARVOLA_TOOL_LOADER cannot start $tool_path"
    exit 77
fi
# Key and address files as a careful user writes them: for the owner only.
umask 077
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'old key text\n' > old.key
printf 'new key text\n' > new.key

fail() { echo "FAIL ($backend $case): $*" >&2; exit 1; }
expect_status() {
    local want=$1; shift
    local got=0
    "$@" 2>err.txt || got=$?
    [ "$got" = "$want" ] || { cat err.txt >&2; fail "exit status $got, expected $want: $*"; }
}
expect_err() { grep -qF -- "$1" err.txt || { cat err.txt >&2; fail "no '$1' on standard error"; }; }

# SQL through the database's own client; the tool reaches the same data
# through `address`.
case $backend in
    sqlite | odbc-sqlite)
        sqlite3 db.sqlite 'PRAGMA journal_mode=DELETE' >/dev/null
        # The migration holds the write lock between batches: wait for it.
        sql() { sqlite3 -batch -cmd '.timeout 10000' db.sqlite "$1"; }
        ;;
    postgres | odbc-postgres)
        [ -n "${TARVOLA_PG_URI:-}" ] || fail "no PostgreSQL server (run under scripts/pg-test-server.sh)"
        export PGOPTIONS='-c client_min_messages=warning'
        psql -XqAt -v ON_ERROR_STOP=1 -c 'DROP SCHEMA public CASCADE; CREATE SCHEMA public' >/dev/null
        sql() { psql -XqAt -v ON_ERROR_STOP=1 -c "$1"; }
        ;;
    odbc-mariadb)
        [ -n "${TARVOLA_MARIADB_SOCKET:-}" ] || fail "no MariaDB server (run under scripts/mariadb-test-server.sh)"
        mariadb_client() { mariadb --no-defaults --socket="$TARVOLA_MARIADB_SOCKET" -u root "$@"; }
        mariadb_client -e 'DROP DATABASE IF EXISTS tarvola; CREATE DATABASE tarvola'
        # Identifiers in double quotes, as the other databases take them;
        # tab-separated output with "|" like the other clients.
        sql() {
            mariadb_client -N -B tarvola -e "SET sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES'); $1" |
                tr '\t' '|'
        }
        ;;
    *) fail "unknown backend" ;;
esac

# ODBC: our own driver and data source files, nothing of the system's. The
# drivers are the host's, of the tool's architecture (a 32-bit Windows tool
# under Wine reaches i386 ones).
multiarch=${TARVOLA_ODBC_MULTIARCH:-$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)}
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini
cat > odbcinst.ini <<INI
[PostgreSQL Unicode]
Driver=/usr/lib/$multiarch/odbc/psqlodbcw.so
[SQLite3]
Driver=/usr/lib/$multiarch/odbc/libsqlite3odbc.so
[MariaDB Unicode]
Driver=/usr/lib/$multiarch/odbc/libmaodbc.so
INI
cat > odbc.ini <<INI
[tarvola_pg]
Driver=PostgreSQL Unicode
Servername=${TARVOLA_PG_HOST:-}
Port=${TARVOLA_PG_PORT:-}
Database=postgres
Username=postgres
[tarvola_sqlite]
Driver=SQLite3
Database=$work/db.sqlite
[tarvola_mariadb]
Driver=MariaDB Unicode
Socket=${TARVOLA_MARIADB_SOCKET:-}
Database=tarvola
User=root
INI

case $backend in
    sqlite) address=sqlite:$work/db.sqlite ;;
    postgres) address=$TARVOLA_PG_URI ;;
    odbc-postgres) address="odbc:DSN=tarvola_pg" ;;
    odbc-sqlite) address="odbc:DSN=tarvola_sqlite" ;;
    odbc-mariadb) address="odbc:DSN=tarvola_mariadb" ;;
esac
# scan connects as a role that may only read, where the database has roles.
case $backend in
    postgres) reader_address=${TARVOLA_PG_URI/user=postgres/user=reader} ;;
    odbc-postgres) reader_address="odbc:DSN=tarvola_pg;UID=reader" ;;
    *) reader_address=$address ;;
esac

# ID,VALUE lines of a CSV file into the table `secrets`.
load_csv() {
    case $backend in
        sqlite | odbc-sqlite) sqlite3 -batch db.sqlite ".import --csv $1 secrets" ;;
        postgres | odbc-postgres) sql "\\copy secrets FROM '$work/$1' CSV" ;;
        odbc-mariadb)
            awk -F, '{ printf "%s(%s,%c%s%c)", NR % 1000 == 1 ? "INSERT INTO secrets VALUES " : ",", $1, 39, $2, 39 }
                     NR % 1000 == 0 { print ";" } END { if (NR % 1000) print ";" }' "$1" |
                mariadb_client tarvola
            ;;
    esac
}

encrypt() { tool encrypt --mode "$1" --key-file "$2" -- "$3"; }
# scan's report lands in census.txt.
scan() { tool scan --db "$reader_address" --key-file old.key --new-key-file new.key "$@" > census.txt; }
grant_reading() {
    case $backend in
        postgres | odbc-postgres)
            [ "$(sql "SELECT count(*) FROM pg_roles WHERE rolname = 'reader'")" = 1 ] ||
                sql "CREATE ROLE reader LOGIN; GRANT USAGE ON SCHEMA public TO reader"
            sql "GRANT SELECT ON $1 TO reader"
            ;;
    esac
}
expect_census() { grep -qF -- "$1" census.txt || { cat census.txt >&2; fail "scan did not report '$1'"; }; }
migrate() { tool migrate --db "$address" --key-file old.key --new-key-file new.key "$@"; }
dump() { sql "SELECT id, coalesce(v, '<null>') FROM secrets ORDER BY id" > "$1"; }
# expect_as_before MESSAGE: the table holds what `dump before.txt` saw.
expect_as_before() { dump after.txt; cmp -s before.txt after.txt || fail "$1"; }

create_secrets() {
    sql "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v VARCHAR(200))"
}

case_mixed() {
    create_secrets
    local long migrated
    long=$(encrypt 0 old.key 'a value long enough for three mode-0 blocks')
    migrated=$(encrypt 1 new.key 'already migrated')
    sql "INSERT INTO secrets VALUES
        (1, '$(encrypt 0 old.key 'mode 0 under the old key')'),
        (2, '$migrated'),
        (3, '$(encrypt 1 old.key 'mode 1 under the old key')'),
        (4, NULL), (5, ''), (6, '${long:0:40}')"
    dump before.txt

    expect_status 1 migrate --table secrets --column v
    expect_err "row 6: "
    expect_err "nothing was written"
    expect_as_before "a failed run changed the table"

    sql "UPDATE secrets SET v = '$long' WHERE id = 6"
    dump before.txt
    expect_status 0 migrate --table secrets --column v --dry-run
    expect_err "6 values, 3 done, 0 failed, 1 unchanged, 2 null or empty"
    expect_as_before "--dry-run changed the table"

    expect_status 0 migrate --table secrets --column v --jobs 2
    expect_err "6 values, 3 done, 0 failed, 1 unchanged, 2 null or empty"
    sql "SELECT v FROM secrets WHERE id IN (1, 2, 3, 6) ORDER BY id" |
        tool decrypt --key-file new.key > opened.txt
    printf '%s\n' 'mode 0 under the old key' 'already migrated' 'mode 1 under the old key' \
        'a value long enough for three mode-0 blocks' | cmp -s - opened.txt ||
        fail "the migrated values do not open under the new key"
    [ "$(sql 'SELECT v FROM secrets WHERE id = 2')" = "$migrated" ] || fail "a migrated value was rewritten"
    [ "$(sql "SELECT count(*) FROM secrets WHERE id = 4 AND v IS NULL OR id = 5 AND v = ''")" = 2 ] ||
        fail "NULL or empty values were touched"

    dump before.txt
    expect_status 0 migrate --table secrets --column v
    expect_err "6 values, 0 done, 0 failed, 4 unchanged, 2 null or empty"
    expect_as_before "a re-run changed the table"
}

case_names() {
    create_secrets
    sql "INSERT INTO secrets VALUES (1, '$(encrypt 0 old.key 'x')')"
    dump before.txt
    expect_status 2 migrate --table 'secrets; DROP TABLE secrets' --column v
    expect_err "no table 'secrets; DROP TABLE secrets'"
    expect_status 2 migrate --table secrets --column 'v = NULL; DROP TABLE secrets; --'
    expect_err "has no column"
    expect_status 2 migrate --table secrets --column v --id 'id; DELETE FROM secrets'
    expect_err "has no column"
    expect_as_before "a hostile name changed the table"
    # MySQL and MariaDB call a schema a database, which their driver takes as
    # the catalogue.
    if [ "$backend" = odbc-mariadb ]; then
        expect_status 0 migrate --table tarvola.secrets --column v --dry-run
        expect_err "1 value, 1 done"
    fi
    expect_status 2 tool migrate --db "sqlite:$work/missing.db" --table secrets --column v \
        --key-file old.key
    expect_err "cannot open"

    # Names that need quoting work: a quote, a blank, mixed case.
    sql "CREATE TABLE \"We\"\"ird Table\" (\"Row Id\" INTEGER PRIMARY KEY, \"va\"\"lue\" VARCHAR(200))"
    sql "INSERT INTO \"We\"\"ird Table\" VALUES (7, '$(encrypt 0 old.key 'quoted')')"
    expect_status 0 migrate --table 'We"ird Table' --column 'va"lue' --id 'Row Id'
    expect_err "1 value, 1 done"
    [ "$(sql "SELECT \"va\"\"lue\" FROM \"We\"\"ird Table\"" | tool decrypt --key-file new.key)" = quoted ] ||
        fail "the value in the awkwardly named table did not migrate"
}

# Batches 1-2, 3-4, 5: the damaged row 4 stops the run in the second batch,
# which is rolled back whole; the first stays written.
case_batch_failure() {
    create_secrets
    local id
    for id in 1 2 3 5; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    sql "INSERT INTO secrets VALUES (4, '0A000000$(printf '%064d' 0)')"
    expect_status 1 migrate --table secrets --column v --batch-size 2
    expect_err "row 4: "
    expect_err "4 values, 2 done, 1 failed"
    [ "$(sql "SELECT count(*), min(id), max(id) FROM secrets WHERE v LIKE '%\$%'")" = "2|1|2" ] ||
        fail "not exactly the first batch was written"

    # The same with rows read and judged far ahead of the writing, on several
    # threads: batches of 1500 that are not whole chunks, a damaged row 3700
    # in the third; the first two batches stay written, nothing after them.
    sql "DELETE FROM secrets"
    seq -f 'value %g' 1 6000 | tool encrypt --mode 0 --key-file old.key | awk '{ print NR "," $0 }' > rows.csv
    load_csv rows.csv
    sql "UPDATE secrets SET v = '0A000000$(printf '%064d' 0)' WHERE id = 3700"
    expect_status 1 migrate --table secrets --column v --batch-size 1500 --jobs 3
    expect_err "row 3700: "
    expect_err "3000 done, 1 failed"
    [ "$(sql "SELECT count(*), min(id), max(id) FROM secrets WHERE v LIKE '%\$%'")" = "3000|1|3000" ] ||
        fail "not exactly the first two batches were written"
}

# A writer holds row 3 changed but uncommitted while the migration reaches
# it; the migration's conditional update then finds the writer's value. Where
# a statement writes several rows (PostgreSQL, MariaDB), row 3 is one of them:
# the rows beside it are written, the writer's value never.
case_concurrent() {
    create_secrets
    local id
    for id in 1 2 3 4 5; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    local theirs
    theirs=$(encrypt 1 new.key 'written by someone else')
    write_meanwhile() {
        if [ "$backend" = odbc-mariadb ]; then
            mariadb_client tarvola -e "BEGIN; UPDATE secrets SET v = '$1' WHERE id = 3;
                                       SELECT SLEEP(3); COMMIT;" >/dev/null &
            writer=$!
            until [ "$(sql "SELECT count(*) FROM information_schema.innodb_trx
                            WHERE trx_rows_modified > 0")" -gt 0 ]; do
                sleep 0.05
            done
            return
        fi
        psql -XqAt -v ON_ERROR_STOP=1 >/dev/null <<SQL &
BEGIN;
UPDATE secrets SET v = '$1' WHERE id = 3;
SELECT pg_sleep(3);
COMMIT;
SQL
        writer=$!
        # The writer's row lock must be taken before the migration starts.
        until [ "$(sql "SELECT count(*) FROM pg_locks WHERE relation = 'secrets'::regclass
                        AND mode = 'RowExclusiveLock' AND pid <> pg_backend_pid()")" -gt 0 ]; do
            sleep 0.1
        done
    }

    dump before.txt
    write_meanwhile "$theirs"
    expect_status 1 migrate --table secrets --column v
    wait "$writer"
    expect_err "row 3: changed by someone else"
    expect_err "nothing was written"
    ! grep -q "run again" err.txt || fail "a rolled-back run told to run again for one row"
    sql "UPDATE secrets SET v = '$(sed -n 3p before.txt | cut -d'|' -f2)' WHERE id = 3"
    expect_as_before "the atomic run wrote despite the conflict"

    write_meanwhile "$theirs"
    expect_status 1 migrate --table secrets --column v --batch-size 2
    wait "$writer"
    expect_err "row 3: changed by someone else"
    expect_err "5 values, 4 done, 1 failed"
    [ "$(sql 'SELECT v FROM secrets WHERE id = 3')" = "$theirs" ] || fail "the writer's value was overwritten"
    expect_status 0 migrate --table secrets --column v
    expect_err "5 values, 0 done, 0 failed, 5 unchanged"
}

# What the database keeps must be what was verified. Short mode-0 values (40
# characters) become 49 in mode 1: a column of 45 cannot take them, and the run
# must stop before writing anything rather than let the database cut them. A
# trigger that rewrites a value is caught by reading the rows back before the
# commit. An --id that rows share is refused before anything runs.
case_stored() {
    local id short narrow_types=()
    short=$(encrypt 0 old.key 'short')
    case $backend in
        postgres | odbc-postgres)
            sql "CREATE DOMAIN narrow_text AS VARCHAR(45)"
            narrow_types=("VARCHAR(45)" "CHAR(45)" narrow_text)
            ;;
        odbc-mariadb)
            # Without strict mode the server cuts an over-long value with
            # only a warning.
            mariadb_client -e "SET GLOBAL sql_mode = ''"
            narrow_types=("VARCHAR(45)" "CHAR(45)")
            ;;
    esac
    local type
    for type in "${narrow_types[@]}"; do
        sql "DROP TABLE IF EXISTS narrow"
        sql "CREATE TABLE narrow (id INTEGER PRIMARY KEY, v $type)"
        sql "INSERT INTO narrow VALUES (1, '$short'), (2, '$short'), (3, NULL)"
        sql "SELECT id, v FROM narrow ORDER BY id" > before.txt
        for dry in "" --dry-run; do
            expect_status 1 migrate --table narrow --column v $dry
            expect_err "column 'v' takes at most 45 characters, but 2 values need up to 49 once migrated: nothing was written"
        done
        sql "SELECT id, v FROM narrow ORDER BY id" | cmp -s - before.txt || fail "a run changed the $type column"
    done

    if [ "$backend" = odbc-mariadb ]; then
        # No declared width to check: TINYTEXT holds 255 bytes, and a mode-1
        # value of 150 characters (241) becomes 328 in mode 0. The read-back
        # sees what the non-strict server kept.
        sql "CREATE TABLE tiny (id INTEGER PRIMARY KEY, v TINYTEXT)"
        sql "INSERT INTO tiny VALUES (1, '$(encrypt 1 old.key "$(printf '%0150d' 7)")')"
        sql "SELECT v FROM tiny" > before.txt
        expect_status 1 migrate --table tiny --column v --to-mode 0
        expect_err "row 1: the database stored 255 of 328 characters: the column is too narrow"
        expect_err "nothing was written"
        sql "SELECT v FROM tiny" | cmp -s - before.txt || fail "the cut value was committed"
    fi

    # A trigger that rewrites row 3 as it is stored.
    create_secrets
    for id in 1 2 3 4 5 100; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    case $backend in
        sqlite | odbc-sqlite)
            sql "CREATE TRIGGER rewrite AFTER UPDATE OF v ON secrets WHEN new.id = 3
                 BEGIN UPDATE secrets SET v = lower(v) WHERE id = new.id; END"
            ;;
        postgres | odbc-postgres)
            sql "CREATE FUNCTION rewrite() RETURNS trigger LANGUAGE plpgsql AS
                 \$\$BEGIN IF NEW.id = 3 THEN NEW.v := upper(NEW.v); END IF; RETURN NEW; END\$\$;
                 CREATE TRIGGER rewrite BEFORE UPDATE ON secrets FOR EACH ROW EXECUTE FUNCTION rewrite()"
            ;;
        odbc-mariadb)
            sql "CREATE TRIGGER rewrite BEFORE UPDATE ON secrets FOR EACH ROW
                 SET NEW.v = IF(NEW.id = 3, upper(NEW.v), NEW.v)"
            ;;
    esac
    dump before.txt
    expect_status 1 migrate --table secrets --column v
    expect_err "row 3: the database changed the value as it stored it: a trigger or rule?"
    expect_err "nothing was written"
    if grep -q "key is probably wrong" err.txt; then fail "a rewritten value blamed on the key"; fi
    expect_as_before "a rewritten value was committed"
    # Rows far apart are read back one by one rather than as a range.
    expect_status 1 migrate --table secrets --column v --where "id IN (3, 100)"
    expect_err "row 3: the database changed the value"
    expect_as_before "a rewritten value was committed"
    expect_status 1 migrate --table secrets --column v --batch-size 2
    expect_err "row 3: the database changed the value"
    [ "$(sql "SELECT count(*), min(id), max(id) FROM secrets WHERE v LIKE '%\$%'")" = "2|1|2" ] ||
        fail "not exactly the batch before the rewritten row was written"

    # Rows sharing an id: one conditional update would overwrite them all.
    sql "CREATE TABLE shared (k INTEGER, v VARCHAR(200))"
    sql "INSERT INTO shared VALUES (1, '$short'), (1, '$short'), (2, '$short')"
    expect_status 2 migrate --table shared --column v --id k
    expect_err "--id 'k' is not unique: 1 value is held by more than one row"
    [ "$(sql "SELECT count(*) FROM shared WHERE v = '$short'")" = 3 ] || fail "a shared id was written"
}

case_kill() {
    local rows=300000
    create_secrets
    seq -f 'value %g' 1 "$rows" > plain.txt
    tool encrypt --mode 0 --key-file old.key < plain.txt | awk '{ print NR "," $0 }' > rows.csv
    sqlite3 -batch db.sqlite ".import --csv rows.csv secrets"

    # Under one key: see docs/MIGRATE.md on re-runs that change the key.
    same_key_migrate() { tool migrate --db "$address" --key-file old.key "$@"; }
    ${TARVOLA_TOOL_LOADER:-} "$tool_path" migrate --db "$address" --key-file old.key --table secrets --column v \
        --batch-size 1000 --quiet 2>/dev/null &
    local run=$!
    until [ "$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")" -ge 5000 ]; do
        kill -0 "$run" 2>/dev/null || fail "the run ended before it could be killed"
        sleep 0.05
    done
    kill -9 "$run"
    wait "$run" 2>/dev/null || true

    [ "$(sql 'PRAGMA integrity_check')" = ok ] || fail "the database is damaged"
    local new
    new=$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")
    [ $((new % 1000)) = 0 ] && [ "$new" -lt "$rows" ] || fail "$new values migrated: not whole batches"

    expect_status 0 same_key_migrate --table secrets --column v --batch-size 1000
    expect_err "$rows values, $((rows - new)) done, 0 failed, $new unchanged"
    sql "SELECT v FROM secrets ORDER BY id" | tool decrypt --key-file old.key | cmp -s - plain.txt ||
        fail "after the re-run not every value opens under the new key"
}

# Counts, failures and width read with SELECT rights only, the database left
# byte for byte as it was; the exit status turns 0 once migrate is done.
case_scan() {
    create_secrets
    grant_reading secrets
    sql "INSERT INTO secrets VALUES
        (1, '$(encrypt 0 old.key 'mode 0 under the old key')'),
        (2, '$(encrypt 1 new.key 'already migrated')'),
        (3, '$(encrypt 1 old.key 'a mode-1 value under the old key, longer than the rest')'),
        (4, NULL), (5, '   '), (6, 'not a value'), (7, '0A000000$(printf '%064d' 0)')"
    dump before.txt
    # SQLite directly or through ODBC: the file itself stays as it was.
    [ ! -e db.sqlite ] || sha256sum db.sqlite > file.sum

    expect_status 1 scan --table secrets --column v --format json --failures failing.txt --jobs 2
    expect_census '{"table": "secrets", "column": "v", "rows": 7, "empty": 2, "mode0": 2, "mode1": 2, "unrecognised": 1, "done": 1, "to_migrate": 2, "ambiguous": 0, "failing": 2, "width": 200, '
    [ "$(cut -f1 failing.txt | tr '\n' ' ')" = "6 7 " ] || fail "failures file: $(cat failing.txt)"
    grep -qF "neither a mode-0 nor a mode-1 value" failing.txt || fail "failures file without reasons"
    [ "$(sql "SELECT count(*) FROM secrets WHERE id IN ($(cut -f1 failing.txt | paste -sd,))")" = 2 ] ||
        fail "the ids of the failures file do not select the failing rows"
    expect_as_before "scan changed the table"
    [ ! -e db.sqlite ] || sha256sum -c --quiet file.sum || fail "scan changed the database file"
    local predicted
    predicted=$(grep -o '"longest_new": [0-9]*' census.txt | head -n 1 | grep -o '[0-9]*$')

    # With the failing values out of the way, migrate writes what scan predicted.
    sql "UPDATE secrets SET v = NULL WHERE id IN (5, 6, 7)"
    expect_status 0 migrate --table secrets --column v
    [ "$(sql 'SELECT max(length(v)) FROM secrets')" = "$predicted" ] ||
        fail "longest_new said $predicted, the longest migrated value has $(sql 'SELECT max(length(v)) FROM secrets')"
    expect_status 0 scan --table secrets --column v
    expect_census "every value is done"
}

# A file the user cannot write, then a writer holding a write transaction
# while scan reads the committed rows beside it.
case_readonly() {
    create_secrets
    sql "INSERT INTO secrets VALUES (1, '$(encrypt 0 old.key one)'), (2, '$(encrypt 0 old.key two)')"
    # As root every file is writable: read as nobody, in a directory nobody may not write.
    local -a reader=()
    [ "$(id -u)" != 0 ] || reader=(runuser -u nobody --)
    chmod 755 "$work"
    chmod 644 old.key new.key
    chmod 444 db.sqlite
    sha256sum db.sqlite > file.sum
    as_reader() { "${reader[@]}" "$tool_path" "$1" --db "$address" --table secrets --column v \
        --key-file old.key --new-key-file new.key "${@:2}" > census.txt; }
    expect_status 1 as_reader scan --format json
    expect_census '"rows": 2, "empty": 0, "mode0": 2, "mode1": 0, "unrecognised": 0, "done": 0, "to_migrate": 2, '
    # The same user cannot write it: the census above proves something.
    expect_status 1 as_reader migrate
    expect_err "readonly"
    sha256sum -c --quiet file.sum || fail "the read-only file changed"
    [ ! -e db.sqlite-journal ] || fail "scan left a journal"
    chmod 644 db.sqlite

    mkfifo to_writer
    sqlite3 db.sqlite < to_writer > writer.txt 2>&1 &
    local writer=$!
    exec 3> to_writer
    echo "BEGIN IMMEDIATE; INSERT INTO secrets VALUES (3, '$(encrypt 0 old.key three)');" >&3
    until ! sqlite3 -cmd '.timeout 0' db.sqlite 'BEGIN IMMEDIATE; ROLLBACK' 2>/dev/null; do sleep 0.05; done
    expect_status 1 scan --table secrets --column v --format json
    expect_census '"rows": 2, '
    echo "COMMIT;" >&3
    exec 3>&-
    wait "$writer" || fail "the writer failed: $(cat writer.txt)"
    [ "$(sql 'SELECT count(*) FROM secrets')" = 3 ] || fail "the writer's row is missing"
}

# Two tables in one plan: a failing value in the second rolls back the first.
case_plan() {
    create_secrets
    sql "CREATE TABLE \"Other Table\" (code VARCHAR(20) PRIMARY KEY, w VARCHAR(200))"
    grant_reading "secrets, \"Other Table\""
    local id
    for id in 1 2 3; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    sql "INSERT INTO \"Other Table\" VALUES ('a', '$(encrypt 1 old.key other)'), ('b''c', 'damaged\$x')"
    printf '# both in one transaction\n\nsecrets v\n  "Other Table" w code\n' > plan.txt
    dumps() { dump "$1"; sql "SELECT code, w FROM \"Other Table\" ORDER BY code" >> "$1"; }
    dumps before.txt

    expect_status 1 migrate --plan plan.txt
    expect_err "\"Other Table\".w: row b'c: "
    expect_err "nothing was written"
    expect_err "secrets.v: 3 values, 0 done"
    dumps after.txt
    cmp -s before.txt after.txt || fail "the plan wrote despite a failing value"

    expect_status 1 scan --plan plan.txt --failures failing.txt
    grep -Eq '^total +5 +0 +3 +2 +0 +0 +4 +0 +1 ' census.txt || { cat census.txt >&2; fail "no total line"; }
    [ "$(grep -v '^#' failing.txt | cut -f1)" = "'b''c'" ] || fail "failures file: $(cat failing.txt)"
    [ "$(grep -c '^# ' failing.txt)" = 2 ] || fail "the failures file does not name the targets"
    expect_status 2 migrate --plan plan.txt --where "1 = 1"

    # Batches of 2 at 4 rows a second: at least half a second per table.
    sql "UPDATE \"Other Table\" SET w = NULL WHERE code = 'b''c'"
    local start elapsed
    start=$(date +%s%N)
    expect_status 0 migrate --plan plan.txt --batch-size 2 --max-rate 4 --pause 1
    elapsed=$((($(date +%s%N) - start) / 1000000))
    [ "$elapsed" -ge 950 ] || fail "--max-rate 4 ran 5 rows in $elapsed ms"
    expect_err "secrets.v: 3 values, 3 done"
    expect_status 0 scan --plan plan.txt --format json
    expect_census '"totals": {"rows": 5, "empty": 1, "mode0": 0, "mode1": 4, "unrecognised": 0, "done": 4, '
}

# Another session locks row ID of `secrets` (SQLite: the whole file) and
# holds the lock until release_lock.
hold_lock() {
    case $backend in
        sqlite | odbc-sqlite)
            # Holds the lock until its input ends, when release_lock ends
            # the process feeding it.
            rm -f hold.fifo
            mkfifo hold.fifo
            sqlite3 -batch db.sqlite < hold.fifo > holder.txt 2>&1 &
            holder=$!
            { echo "BEGIN IMMEDIATE; SELECT 'locked';"; exec sleep 60; } > hold.fifo 2>/dev/null &
            feeder=$!
            until grep -q locked holder.txt; do sleep 0.05; done ;;
        odbc-mariadb)
            mariadb_client tarvola -e "BEGIN; SELECT id FROM secrets WHERE id = $1 FOR UPDATE;
                                       SELECT SLEEP(60); COMMIT;" >/dev/null 2>&1 &
            holder=$!
            until [ "$(sql "SELECT count(*) FROM information_schema.innodb_trx WHERE trx_rows_locked > 0")" -gt 0 ]; do
                sleep 0.05
            done ;;
        *)
            psql -XqAt -c "BEGIN; SELECT id FROM secrets WHERE id = $1 FOR UPDATE; SELECT pg_sleep(60)" \
                >/dev/null 2>&1 &
            holder=$!
            until [ "$(sql "SELECT count(*) FROM pg_locks WHERE locktype = 'transactionid'
                            AND pid <> pg_backend_pid()")" -gt 0 ]; do
                sleep 0.05
            done ;;
    esac
}
release_lock() {
    case $backend in
        sqlite | odbc-sqlite) kill "$feeder" ;;
        odbc-mariadb) sql "SELECT id FROM information_schema.processlist WHERE info LIKE '%SLEEP(60)%'
                           AND id <> CONNECTION_ID()" |
            while read -r id; do mariadb_client -e "KILL $id" 2>/dev/null || true; done ;;
        *) sql "SELECT pg_terminate_backend(pid) FROM pg_stat_activity
                WHERE query LIKE '%pg_sleep(60)%' AND pid <> pg_backend_pid()" >/dev/null ;;
    esac
    wait "$holder" 2>/dev/null || true
    # A killed session's transaction ends a moment after its client: wait
    # for it, or the next holder queues behind it and looks like a waiting run.
    case $backend in
        odbc-mariadb) until [ "$(sql "SELECT count(*) FROM information_schema.innodb_trx")" = 0 ]; do
            sleep 0.05; done ;;
        postgres | odbc-postgres) until [ "$(sql "SELECT count(*) FROM pg_locks WHERE locktype = 'transactionid'
                            AND pid <> pg_backend_pid()")" = 0 ]; do sleep 0.05; done ;;
    esac
}

# Until the migration in process $1 has written inside its open transaction.
wait_for_writes() {
    case $backend in
        sqlite | odbc-sqlite) until [ -e db.sqlite-journal ]; do
            kill -0 "$1" 2>/dev/null || fail "the run ended before it wrote"
            sleep 0.02
        done ;;
        *) until [ "$(sql "SELECT count(*) FROM pg_locks WHERE relation = 'secrets'::regclass
                            AND mode = 'RowExclusiveLock' AND pid <> pg_backend_pid()")" -gt 0 ]; do
            kill -0 "$1" 2>/dev/null || fail "the run ended before it wrote"
            sleep 0.05
        done ;;
    esac
}

# SIGTERM during one transaction leaves the table as it was; SIGINT during a
# batched run keeps the committed batches and says how many; both end with
# the summary and the shells' status for the signal.
case_interrupt() {
    local rows=200000 run new
    create_secrets
    seq -f 'value %g' 1 "$rows" > plain.txt
    tool encrypt --mode 0 --key-file old.key < plain.txt | awk '{ print NR "," $0 }' > rows.csv
    load_csv rows.csv
    dump before.txt

    # The tool itself in the background, so that $! is its process.
    ${TARVOLA_TOOL_LOADER:-} "$tool_path" migrate --db "$address" --key-file old.key \
        --new-key-file new.key --table secrets --column v --jobs 1 2>err.txt &
    run=$!
    wait_for_writes "$run"
    kill -TERM "$run"
    local got=0
    wait "$run" || got=$?
    [ "$got" = 143 ] || { cat err.txt >&2; fail "exit status $got after SIGTERM, expected 143"; }
    expect_err "interrupted: rolled back, nothing was written"
    expect_err " values, 0 done, 0 failed"
    expect_as_before "an interrupted one-transaction run changed the table"

    ${TARVOLA_TOOL_LOADER:-} "$tool_path" migrate --db "$address" --key-file old.key \
        --new-key-file new.key --table secrets --column v --batch-size 1000 --quiet 2>err.txt &
    run=$!
    until [ "$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")" -ge 5000 ]; do
        kill -0 "$run" 2>/dev/null || fail "the run ended before it could be interrupted"
        sleep 0.05
    done
    kill -INT "$run"
    got=0
    wait "$run" || got=$?
    [ "$got" = 130 ] || { cat err.txt >&2; fail "exit status $got after SIGINT, expected 130"; }
    new=$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")
    [ $((new % 1000)) = 0 ] && [ "$new" -lt "$rows" ] || fail "$new values migrated: not whole batches"
    expect_err "interrupted: $new rows committed in $((new / 1000)) batches, the rest left as they were"
    expect_err ", $new done, 0 failed"

    # A connection lost in the middle ends the run the same way.
    [ "$backend" = postgres ] || return 0
    local before=$new
    ${TARVOLA_TOOL_LOADER:-} "$tool_path" migrate --db "$address" --key-file old.key \
        --new-key-file new.key --table secrets --column v --batch-size 1000 --quiet 2>err.txt &
    run=$!
    until [ "$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")" -ge $((before + 5000)) ]; do
        kill -0 "$run" 2>/dev/null || fail "the run ended before its connection could be cut"
        sleep 0.05
    done
    sql "SELECT pg_terminate_backend(pid) FROM pg_stat_activity
         WHERE pid <> pg_backend_pid() AND backend_type = 'client backend'" >/dev/null
    got=0
    wait "$run" || got=$?
    [ "$got" = 1 ] || { cat err.txt >&2; fail "exit status $got after a lost connection, expected 1"; }
    new=$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")
    # The run starts at the first row: its committed batches hold every
    # migrated row, the earlier run's as unchanged ones.
    expect_err "stopped: $new rows committed in $((new / 1000)) batches, the rest left as they were"
    expect_err ", $((new - before)) done, 0 failed, $before unchanged"
}

# The database refuses a write in the second batch: the first stays, and the
# closing lines say so, as they do after a refusal in one transaction.
case_refused() {
    sql "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v VARCHAR(200),
                               CHECK (id <> 3 OR v NOT LIKE '%\$%'))"
    local id
    for id in 1 2 3 4 5; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    dump before.txt
    expect_status 1 migrate --table secrets --column v
    expect_err "stopped: rolled back, nothing was written"
    expect_err "5 values, 0 done, 0 failed"
    expect_as_before "a refused one-transaction run changed the table"

    expect_status 1 migrate --table secrets --column v --batch-size 2 --quiet
    expect_err "stopped: 2 rows committed in 1 batch, the rest left as they were"
    expect_err "4 values, 2 done, 0 failed"
    [ "$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")" = 2 ] ||
        fail "not exactly the first batch was written"
}

# A fixed-width column pads every value with blanks and gives an empty one
# back as blanks only; values may also carry a line end: none of it is part
# of the value.
case_blanks() {
    sql "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v CHAR(60))"
    local padded
    padded=$(encrypt 0 old.key 'padded')
    sql "INSERT INTO secrets VALUES (1, '$padded'), (2, ''), (3, '   '), (4, NULL),
                                    (5, '$(printf '\t%s\r\n' "$padded")')"
    expect_status 0 migrate --table secrets --column v
    expect_err "5 values, 2 done, 0 failed, 0 unchanged, 3 null or empty"
    [ "$(sql "SELECT v FROM secrets WHERE id IN (1, 5) ORDER BY id" | tool decrypt --key-file new.key)" = \
        $'padded\npadded' ] || fail "the padded values did not migrate"
    expect_status 0 migrate --table secrets --column v
    expect_err "5 values, 0 done, 0 failed, 2 unchanged, 3 null or empty"
}

# An application still under the old key writes a row while a batched run
# goes on (a trigger here, behind the reading): the run says so at the end.
case_left_behind() {
    create_secrets
    local id
    for id in 1 2 3 4 5; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    sql "CREATE TABLE stash (v VARCHAR(200))"
    sql "INSERT INTO stash VALUES ('$(encrypt 1 old.key 'arrived meanwhile')')"
    case $backend in
        sqlite | odbc-sqlite)
            sql "CREATE TRIGGER arrive AFTER UPDATE ON secrets WHEN NEW.id = 2
                 BEGIN INSERT INTO secrets SELECT -NEW.id, v FROM stash; END" ;;
        *)
            sql "CREATE FUNCTION arrive() RETURNS trigger LANGUAGE plpgsql AS
                 \$\$ BEGIN INSERT INTO secrets SELECT -NEW.id, v FROM stash; RETURN NULL; END \$\$"
            sql "CREATE TRIGGER arrive AFTER UPDATE ON secrets FOR EACH ROW WHEN (NEW.id = 2)
                 EXECUTE FUNCTION arrive()" ;;
    esac
    # Not done while a row is left under the old key: exit 1, run again.
    expect_status 1 migrate --table secrets --column v --batch-size 2
    expect_err "5 values, 5 done"
    expect_err "1 row still to migrate"
    expect_status 0 migrate --table secrets --column v --batch-size 2
    expect_err "6 values, 1 done, 0 failed, 5 unchanged"
    ! grep -q "still to migrate" err.txt || fail "a complete run reported rows still to migrate"

    # Keeping the key, the count reads only the values without mode 1's "$"
    # (--verbose says how many): the row arriving in mode 0 among them.
    sql "DELETE FROM secrets WHERE id < 0"
    sql "UPDATE stash SET v = '$(encrypt 0 new.key 'arrived meanwhile')'"
    for id in 1 2 3 4 5; do sql "UPDATE secrets SET v = '$(encrypt 0 new.key "value $id")' WHERE id = $id"; done
    sql "DELETE FROM secrets WHERE id < 0"
    expect_status 1 tool migrate --db "$address" --key-file new.key --table secrets --column v \
        --batch-size 2 --verbose
    expect_err "1 row still to migrate"
    expect_err "rows left to migrate counted in "
    expect_err " s (1 row read)"
}

# The address from a file or the environment; a password in --db is warned
# about, also under --quiet, and never shown in a message.
case_secrets() {
    create_secrets
    sql "INSERT INTO secrets VALUES (1, '$(encrypt 0 old.key 'x')')"
    printf '%s\n' "$address" > db.address
    expect_status 0 tool migrate --db-file db.address --table secrets --column v --key-file old.key \
        --new-key-file new.key
    expect_err "1 value, 1 done"
    ! grep -q warning err.txt || fail "a private address file was warned about"
    chmod go+r db.address
    expect_status 0 tool migrate --db-file db.address --table secrets --column v --key-file new.key
    expect_err "database file 'db.address' can be read by other users"
    TARVOLA_TEST_DB=$address expect_status 0 tool migrate --db-env TARVOLA_TEST_DB --table secrets \
        --column v --key-file new.key
    expect_err "1 value, 0 done, 0 failed, 1 unchanged"
    TARVOLA_TEST_DB=$address expect_status 0 tool scan --db-env TARVOLA_TEST_DB --table secrets \
        --column v --key-file new.key
    expect_status 2 tool migrate --db-file missing.address --table secrets --column v --key-file new.key
    expect_err "cannot open database file 'missing.address'"
    case $backend in
        postgres)
            # libpq quotes a bad option value in its message: here the password.
            expect_status 2 tool migrate --quiet --table secrets --column v --key-file new.key \
                --db "postgresql://postgres:pw-s3cr3t@/postgres?host=$TARVOLA_PG_HOST&port=pw-s3cr3t"
            expect_err "warning: --db holds a password"
            expect_err "cannot connect"
            ! grep -q s3cr3t err.txt || fail "the password was shown: $(cat err.txt)"
            expect_status 0 tool migrate --quiet --table secrets --column v --key-file new.key \
                --db "$address&password=pw-s3cr3t"
            expect_err "warning: --db holds a password"
            # libpq's password runs to the first '@' before the first '/',
            # '?' and '#' included; it quotes one it cannot decode, and takes
            # the rest of one holding '@' for a host name.
            local uri
            for uri in "postgresql://postgres:ab?c%zz-s3cr3t@/postgres?host=$TARVOLA_PG_HOST" \
                "postgresql://postgres:Qw#9-s3cr3t%zz@/postgres?host=$TARVOLA_PG_HOST" \
                "postgresql://postgres:pw@s3cr3t@/postgres"; do
                expect_status 2 tool migrate --quiet --table secrets --column v --key-file new.key \
                    --db "$uri"
                expect_err "warning: --db holds a password"
                expect_err "cannot connect"
                ! grep -q s3cr3t err.txt || fail "the password was shown: $(cat err.txt)"
            done
            expect_err "write '@' in a password as %40" ;;
        odbc-mariadb)
            # ODBC's braces around a password holding ';' and '}' ("}}"),
            # blanks around the '=': the driver gets it whole, and it shows
            # in no message, the one of a wrong password included.
            mariadb_client -e "CREATE USER app@localhost IDENTIFIED BY 'Qw#9;s3cr3t}x';
                               GRANT ALL ON tarvola.* TO app@localhost"
            expect_status 0 tool migrate --quiet --table secrets --column v --key-file new.key \
                --db "$address;UID=app;Pwd = {Qw#9;s3cr3t}}x}"
            expect_err "warning: --db holds a password"
            expect_status 2 tool migrate --quiet --table secrets --column v --key-file new.key \
                --db "$address;UID=app;PWD={Qw#9;s3cr3t}}y}"
            expect_err "Access denied"
            ! grep -q s3cr3t err.txt || fail "the password was shown: $(cat err.txt)" ;;
        odbc-*)
            local pwd
            for pwd in PWD=pw-s3cr3t "Pwd = {pw}}s3cr3t;x}"; do
                expect_status 0 tool migrate --quiet --table secrets --column v --key-file new.key \
                    --db "$address;$pwd"
                expect_err "warning: --db holds a password"
                ! grep -q s3cr3t err.txt || fail "the password was shown: $(cat err.txt)"
            done ;;
    esac
}

# A --where that would end the condition and run statements of its own is
# refused before anything runs, dry run or not, whatever the database: read
# the way its server and its driver read quotes and comments. MariaDB's driver
# gets its multi-statement option here, so a ';' let through would run.
case_statements() {
    create_secrets
    sql "CREATE TABLE victim (id INTEGER)"
    sql "INSERT INTO victim VALUES (1)"
    sql "INSERT INTO secrets VALUES (1, '$(encrypt 0 old.key 'a;b')')"
    dump before.txt
    local -a wheres=('true); create table pwned(id int); select 1 from pwned where (true'
        "v <> 'x' -- '
; create table pwned(id int); select 1 where (true")
    local escaped="v <> 'x' OR v = '\\''; create table pwned(id int); select '\\''"
    local rest="COMMIT; DELETE FROM victim; SELECT (1) FROM secrets WHERE ("
    case $backend in
        postgres | odbc-postgres)
            # A dollar quote or an E'...' string hides the quote that would
            # hide the ';' from a reader without them; psqlODBC ran the
            # DELETE of both.
            wheres+=("\$\$'\$\$ = \$\$x\$\$); $rest'' = ''"
                "E'\\'' || 'a\\' <> 'x'); $rest'' = ''" "$escaped") ;;
        odbc-mariadb)
            wheres+=("v = 1 # '
); $rest 1 = 1" "v = 1 /*!' */ = ''); $rest';' = ';'" "$escaped")
            address="$address;OPTION=67108864" ;;
    esac
    local where dry_run
    for where in "${wheres[@]}"; do
        for dry_run in --dry-run ""; do
            expect_status 2 migrate --table secrets --column v --where "$where" $dry_run
            expect_err "--where must be one condition"
        done
    done
    expect_as_before "a refused --where changed the table"
    local tables="information_schema.tables WHERE table_name"
    case $backend in *sqlite) tables="sqlite_master WHERE name" ;; esac
    [ "$(sql "SELECT count(*) FROM $tables = 'pwned'")" = 0 ] || fail "a --where created a table"
    [ "$(sql "SELECT count(*) FROM victim")" = 1 ] || fail "a --where deleted rows"
    # A ';' inside quotes is part of a value, not the end of a statement;
    # through ODBC only a plain '...' string is sure to be read as one by
    # every driver.
    expect_status 0 migrate --table secrets --column v --where "v <> 'x;y'"
    expect_err "1 value, 1 done"
    case $backend in
        postgres)
            expect_status 0 migrate --table secrets --column v --where "v <> E'x;y'"
            expect_err "1 value, 0 done, 0 failed, 1 unchanged" ;;
        odbc-*)
            expect_status 2 migrate --table secrets --column v --where "v <> '' OR \"x;y\" IS NULL"
            expect_err "through ODBC a ';' may only stand inside a plain '...' string" ;;
    esac
}

# schema.table finds the table in that schema, not a namesake on the search
# path; a name holding a dot is written in double quotes.
case_schema() {
    create_secrets
    sql "INSERT INTO secrets VALUES (1, '$(encrypt 0 old.key 'on the path')')"
    sql "CREATE SCHEMA \"My Schema\""
    sql "CREATE TABLE \"My Schema\".secrets (id INTEGER PRIMARY KEY, v VARCHAR(200))"
    sql "INSERT INTO \"My Schema\".secrets VALUES (2, '$(encrypt 0 old.key 'in the schema')')"
    sql "CREATE TABLE \"a.b\" (id INTEGER PRIMARY KEY, v VARCHAR(200))"
    sql "INSERT INTO \"a.b\" VALUES (3, '$(encrypt 0 old.key 'dotted')')"
    dump before.txt

    expect_status 0 migrate --table 'My Schema.secrets' --column v
    expect_err "1 value, 1 done"
    [ "$(sql 'SELECT v FROM "My Schema".secrets' | tool decrypt --key-file new.key)" = 'in the schema' ] ||
        fail "the table in the schema did not migrate"
    expect_status 0 migrate --table '"a.b"' --column v
    expect_err "1 value, 1 done"
    [ "$(sql 'SELECT v FROM "a.b"' | tool decrypt --key-file new.key)" = dotted ] ||
        fail "the table with a dot in its name did not migrate"
    expect_as_before "the namesake on the search path changed"
    # In a plan the same: "a.b" is the table named a.b, not table b of schema a.
    sql "CREATE SCHEMA a; CREATE TABLE a.b (id INTEGER PRIMARY KEY, v VARCHAR(200))"
    sql "INSERT INTO a.b VALUES (4, '$(encrypt 0 old.key 'in schema a')')"
    sql "UPDATE \"a.b\" SET v = '$(encrypt 0 old.key 'dotted again')'"
    printf '"a.b" v\n' > plan.txt
    expect_status 0 migrate --plan plan.txt
    [ "$(sql 'SELECT v FROM "a.b"' | tool decrypt --key-file new.key)" = 'dotted again' ] ||
        fail "the plan did not migrate the table named a.b"
    [ "$(sql 'SELECT v FROM a.b' | tool decrypt --mode 0 --key-file old.key)" = 'in schema a' ] ||
        fail "the plan migrated table b of schema a"
    expect_status 2 migrate --table 'no_such_schema.secrets' --column v
    expect_err "no table 'no_such_schema.secrets'"
    expect_status 2 migrate --table 'a.b.c' --column v
    expect_err "expected TABLE or SCHEMA.TABLE"
}

# Another session holds a lock the run needs: with --lock-timeout the run
# gives up, rolls back and says why; without, it waits, saying so on a
# terminal, and finishes once the lock is gone.
case_locks() {
    create_secrets
    local id
    for id in 1 2 3; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    expect_status 2 migrate --table secrets --column v --lock-timeout 0
    expect_err "--lock-timeout must be a positive number"
    dump before.txt
    hold_lock 3
    SECONDS=0
    expect_status 1 migrate --table secrets --column v --lock-timeout 1
    [ "$SECONDS" -lt 6 ] || fail "--lock-timeout 1 waited $SECONDS s"
    expect_err "a lock held by another session stopped the run"
    release_lock
    expect_as_before "the run stopped by a lock wrote something"

    # On a terminal (script gives the run one), a wait longer than a few
    # seconds is told; the run then finishes.
    hold_lock 3
    local command got=0 run
    command=$(printf '%q ' ${TARVOLA_TOOL_LOADER:-} "$tool_path" migrate --db "$address" \
        --key-file old.key --new-key-file new.key --table secrets --column v)
    script -qec "$command" /dev/null > tty.txt &
    run=$!
    sleep $((2 + 3))
    release_lock
    wait "$run" || got=$?
    [ "$got" = 0 ] || { cat tty.txt >&2; fail "the waiting run ended with $got"; }
    grep -q "waiting for a lock held by another session" tty.txt ||
        { cat tty.txt >&2; fail "no word on the terminal about the wait"; }
    grep -q "3 values, 3 done" tty.txt || { cat tty.txt >&2; fail "the waiting run did not finish"; }
}

# What only SQLite files hold: values stored as bytes, tables without a
# rowid, and a file that is no database at all.
case_sqlite_files() {
    create_secrets
    sql "INSERT INTO secrets VALUES (1, CAST('$(encrypt 0 old.key 'as bytes')' AS BLOB))"
    dump before.txt
    expect_status 1 migrate --table secrets --column v
    expect_err "row 1: not text but bytes"
    expect_as_before "a BLOB value was rewritten"

    # Without a rowid the primary key is the key.
    sql "CREATE TABLE keyed (k TEXT PRIMARY KEY, v TEXT) WITHOUT ROWID"
    sql "INSERT INTO keyed VALUES ('a', '$(encrypt 0 old.key 'keyed')')"
    expect_status 0 migrate --table keyed --column v
    expect_err "1 value, 1 done"
    # A column of its own named rowid hides SQLite's.
    sql "CREATE TABLE hiding (rowid TEXT, v TEXT)"
    sql "INSERT INTO hiding VALUES ('x', '$(encrypt 0 old.key 'hidden')')"
    expect_status 2 migrate --table hiding --column v
    expect_err "has a column named rowid, which hides SQLite's own"

    head -c 4096 /dev/urandom > not-a-database
    expect_status 2 tool migrate --db "sqlite:$work/not-a-database" --table secrets --column v \
        --key-file old.key
    expect_err "cannot open"
}

# Where a driver closes cursors at a commit, rows are read page by page by id
# (forced here: the drivers at hand keep their cursors). Exactly three pages
# of rows and a --where; a batched run must read every row once.
case_paged_reads() {
    create_secrets
    seq -f 'value %g' 1 3001 | tool encrypt --mode 0 --key-file old.key |
        awk '{ print NR "," $0 }' > rows.csv
    case $backend in
        odbc-sqlite) sqlite3 -batch db.sqlite ".import --csv rows.csv secrets" ;;
        *) psql -XqAt -v ON_ERROR_STOP=1 -c "\\copy secrets FROM rows.csv WITH (FORMAT csv)" ;;
    esac
    TARVOLACRYPT_ODBC_PAGED_READS=1 expect_status 0 migrate --table secrets --column v \
        --batch-size 700 --where 'id <> 7'
    expect_err "3000 values, 3000 done, 0 failed"
    sql "SELECT v FROM secrets WHERE id <> 7 ORDER BY id" | tool decrypt --key-file new.key |
        cmp -s - <(seq -f 'value %g' 1 3001 | sed 7d) || fail "not every row was migrated"
}

# Views whose INSTEAD OF triggers cut a value or keep nothing, an AFTER
# trigger that rewrites it, an INSTEAD rule and a trigger deferred to the
# commit: every write is read again before its commit, and a value that is
# not the verified one is never committed, in one transaction or in batches.
case_rewriters() {
    create_secrets
    local id batch
    for id in 1 2 3; do
        sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "a value of some length $id")')"
    done
    dump before.txt
    case $backend in
        sqlite | odbc-sqlite)
            sql "CREATE VIEW cut AS SELECT id, v FROM secrets;
                 CREATE TRIGGER cut INSTEAD OF UPDATE ON cut
                 BEGIN UPDATE secrets SET v = substr(NEW.v, 1, 60) WHERE id = OLD.id; END;
                 CREATE VIEW ignore AS SELECT id, v FROM secrets;
                 CREATE TRIGGER ignore INSTEAD OF UPDATE ON ignore BEGIN SELECT 1; END" ;;
        *)
            sql "CREATE VIEW cut AS SELECT id, v FROM secrets;
                 CREATE FUNCTION cut() RETURNS trigger LANGUAGE plpgsql AS
                 \$\$BEGIN UPDATE secrets SET v = left(NEW.v, 60) WHERE id = OLD.id; RETURN NEW; END\$\$;
                 CREATE TRIGGER cut INSTEAD OF UPDATE ON cut FOR EACH ROW EXECUTE FUNCTION cut();
                 CREATE VIEW ignore AS SELECT id, v FROM secrets;
                 CREATE FUNCTION ignore() RETURNS trigger LANGUAGE plpgsql AS \$\$BEGIN RETURN NEW; END\$\$;
                 CREATE TRIGGER ignore INSTEAD OF UPDATE ON ignore FOR EACH ROW EXECUTE FUNCTION ignore()" ;;
    esac
    for batch in "" "--batch-size 2"; do
        expect_status 1 migrate --table cut --column v --id id $batch
        expect_err "row 1: the database stored 60 of "
        expect_err "nothing was written"
        expect_as_before "a view that cuts values changed the table ($batch)"
        expect_status 1 migrate --table ignore --column v --id id $batch
        expect_err "row 1: the database did not keep the write: a trigger or rule?"
        ! grep -q "run again" err.txt || fail "a write the database dropped was left for a re-run"
        expect_as_before "a view that keeps nothing changed the table ($batch)"
    done
    case $backend in sqlite | odbc-sqlite) return 0 ;; esac

    sql "CREATE FUNCTION shout() RETURNS trigger LANGUAGE plpgsql AS
         \$\$BEGIN UPDATE secrets SET v = upper(v) WHERE id = NEW.id; RETURN NULL; END\$\$;
         CREATE TRIGGER shout AFTER UPDATE ON secrets FOR EACH ROW
         WHEN (pg_trigger_depth() = 0 AND NEW.id = 2) EXECUTE FUNCTION shout()"
    expect_status 1 migrate --table secrets --column v
    expect_err "row 2: the database changed the value as it stored it: a trigger or rule?"
    expect_as_before "what an AFTER trigger made of a value was committed"
    sql "DROP TRIGGER shout ON secrets;
         CREATE CONSTRAINT TRIGGER late AFTER UPDATE ON secrets DEFERRABLE INITIALLY DEFERRED
         FOR EACH ROW WHEN (pg_trigger_depth() = 0 AND NEW.id = 3) EXECUTE FUNCTION shout()"
    expect_status 1 migrate --table secrets --column v
    expect_err "row 3: the database changed the value as it stored it"
    expect_as_before "what a deferred trigger made of a value was committed"
    expect_status 1 migrate --table secrets --column v --batch-size 2
    expect_err "row 3: the database changed the value as it stored it"
    [ "$(sql "SELECT string_agg(id::text, ',' ORDER BY id) FROM secrets WHERE v LIKE '%\$%'")" = 1,2 ] ||
        fail "not exactly the batch before the deferred rewrite was committed"

    sql "CREATE TABLE ruled (id INTEGER PRIMARY KEY, v VARCHAR(200));
         INSERT INTO ruled VALUES (1, '$(encrypt 0 old.key ruled)');
         CREATE RULE keep AS ON UPDATE TO ruled DO INSTEAD NOTHING"
    expect_status 1 migrate --table ruled --column v --batch-size 5
    expect_err "row 1: the database did not keep the write: a trigger or rule?"
}

# Row-level security: a role that sees half the rows migrates those and says
# the rest were not looked at; scan never tells it to retire the old key. The
# owner sees every row, until the table forces its policies on it too.
case_row_security() {
    sql "CREATE ROLE limited LOGIN; CREATE ROLE keeper LOGIN;
         GRANT USAGE ON SCHEMA public TO limited, keeper"
    create_secrets
    local id
    for id in 1 2 3 4; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    sql "ALTER TABLE secrets OWNER TO keeper; ALTER TABLE secrets ENABLE ROW LEVEL SECURITY;
         CREATE POLICY even ON secrets USING (id % 2 = 0); GRANT SELECT, UPDATE ON secrets TO limited"
    as_role() {
        case $backend in
            postgres) echo "${TARVOLA_PG_URI/user=postgres/user=$1}" ;;
            *) echo "odbc:DSN=tarvola_pg;UID=$1" ;;
        esac
    }
    local limited keeper
    limited=$(as_role limited) keeper=$(as_role keeper)
    scan_as() { tool scan --db "$1" --table secrets --column v --key-file old.key \
        --new-key-file new.key "${@:2}" > census.txt; }

    expect_status 1 scan_as "$limited" --format json
    expect_census '"to_migrate": 2, '
    expect_census '"hidden_by_row_security": true}'
    expect_status 0 tool migrate --db "$limited" --table secrets --column v --key-file old.key \
        --new-key-file new.key
    expect_err "warning: secrets.v: row-level security hides rows of this table from this role"
    expect_err "2 values, 2 done"
    expect_err "secrets.v: row-level security hides rows of this table from this role: they were not looked at"
    expect_status 1 scan_as "$limited"
    expect_census "not done: rows hidden by row-level security were not looked at"
    ! grep -q "no longer needed" census.txt || fail "scan told a limited role to retire the key"
    [ "$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")" = 2 ] || fail "hidden rows were written"

    expect_status 1 scan_as "$keeper" --format json
    expect_census '"rows": 4, '
    expect_census '"to_migrate": 2, '
    expect_census '"hidden_by_row_security": false}'
    sql "ALTER TABLE secrets FORCE ROW LEVEL SECURITY"
    expect_status 1 scan_as "$keeper" --format json
    expect_census '"hidden_by_row_security": true}'

    sql "CREATE TABLE nothing (id INTEGER PRIMARY KEY, v VARCHAR(200))"
    grant_reading nothing
    expect_status 0 scan --table nothing --column v
    expect_census "no values: nothing here is stored under either key"
}

# A key of two columns, the way multi-tenant tables are keyed: the default
# when it is the primary key, named in any order with --id, unique only as a
# whole, and in the failures file as row values WHERE (a, b) IN (…) takes.
case_composite() {
    sql "CREATE TABLE tenants (tenant INTEGER, id VARCHAR(20), v VARCHAR(200), PRIMARY KEY (tenant, id))"
    grant_reading tenants
    sql "INSERT INTO tenants VALUES (1, 'a', '$(encrypt 0 old.key one)'), (2, 'a', '$(encrypt 0 old.key two)'),
                                    (2, 'b', 'damaged')"
    expect_status 1 migrate --table tenants --column v
    expect_err "row (2, b): "
    expect_status 1 scan --table tenants --column v --failures failing.txt
    [ "$(cut -f1 failing.txt)" = "(2, 'b')" ] || fail "failures file: $(cat failing.txt)"
    [ "$(sql "SELECT count(*) FROM tenants WHERE (tenant, id) IN ($(cut -f1 failing.txt | paste -sd,))")" = 1 ] ||
        fail "the failures file does not select the failing row"
    expect_status 2 migrate --table tenants --column v --id tenant
    expect_err "--id 'tenant' is not unique: 1 value is held by more than one row"
    sql "UPDATE tenants SET v = NULL WHERE id = 'b'"
    expect_status 0 migrate --table tenants --column v --id 'id,tenant'
    expect_err "3 values, 2 done, 0 failed, 0 unchanged, 1 null or empty"
    [ "$(sql "SELECT v FROM tenants WHERE v IS NOT NULL ORDER BY tenant" | tool decrypt --key-file new.key)" = \
        $'one\ntwo' ] || fail "the values keyed by two columns did not migrate"
}

# Keys that are awkward as SQL text: each failing one is written as one line
# that, pasted into the database's own WHERE … IN (…), selects exactly the
# failing rows: not the decoys that a backslash read as an escape, a quote
# let out, or a line break split would pick.
case_failure_ids() {
    sql "CREATE TABLE odd (k VARCHAR(40) PRIMARY KEY, v VARCHAR(200))"
    grant_reading odd
    # Keys by their bytes, so that no client reads escapes into them.
    text_of() {
        case $backend in
            sqlite | odbc-sqlite) echo "CAST(X'$1' AS TEXT)" ;;
            odbc-mariadb) echo "CONVERT(X'$1' USING utf8mb4)" ;;
            *) echo "convert_from(decode('$1', 'hex'), 'UTF8')" ;;
        esac
    }
    hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
    local key good
    good=$(encrypt 0 old.key 'fine')
    for key in 'C:\temp' "o'k" $'tab\there' $'two\nlines' "evil') OR 1=1 -- " 'back\\'; do
        sql "INSERT INTO odd VALUES ($(text_of "$(hex "$key")"), 'damaged')"
    done
    # What the keys would select if misread: C:<TAB>emp, a single backslash.
    for key in $'C:\temp' 'back\' 'decoy'; do
        sql "INSERT INTO odd VALUES ($(text_of "$(hex "$key")"), '$good')"
    done
    check_pasted() {
        expect_status 1 scan --table odd --column v --failures failing.txt
        [ "$(wc -l < failing.txt)" = 6 ] || fail "failures file lines: $(cat failing.txt)"
        [ "$(sql "SELECT count(*) FROM odd WHERE k IN ($(cut -f1 failing.txt | paste -sd,))")" = 6 ] ||
            fail "$1: the failures file does not select exactly the failing rows: $(cat failing.txt)"
    }
    check_pasted "default"
    if [ "$backend" = odbc-mariadb ]; then
        mariadb_client -e "SET GLOBAL sql_mode = CONCAT(@@GLOBAL.sql_mode, ',NO_BACKSLASH_ESCAPES')"
        check_pasted "NO_BACKSLASH_ESCAPES"
    fi
}

# A column whose type holds no text is refused before anything runs, naming
# the type, by migrate and scan alike.
case_types() {
    local types=() type i=0
    case $backend in
        sqlite | odbc-sqlite) types=(INTEGER REAL DATE) ;;
        postgres | odbc-postgres) types=(bytea jsonb "integer[]" date) ;;
        odbc-mariadb) types=(INTEGER BLOB DATE) ;;
    esac
    for type in "${types[@]}"; do
        i=$((i + 1))
        sql "CREATE TABLE typed$i (id INTEGER PRIMARY KEY, v $type)"
        grant_reading "typed$i"
        expect_status 2 migrate --table "typed$i" --column v
        expect_err "column 'v' is of type "
        expect_err "which holds no text"
        expect_status 2 scan --table "typed$i" --column v
        expect_err "which holds no text"
    done
}

# MariaDB compares under its case-insensitive, PAD SPACE collation by
# default: a row another session lower-cased and padded meanwhile still
# "equals" the value read, and must not be overwritten.
case_collation() {
    sql "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v VARCHAR(200)) COLLATE utf8mb4_general_ci"
    local id
    for id in 1 2 3 4 5; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    mariadb_client tarvola -e "BEGIN; UPDATE secrets SET v = CONCAT(LOWER(v), '  ') WHERE id = 3;
                               SELECT SLEEP(3); COMMIT;" >/dev/null &
    local writer=$!
    until [ "$(sql "SELECT count(*) FROM information_schema.innodb_trx")" -gt 0 ]; do sleep 0.05; done
    local theirs
    expect_status 1 migrate --table secrets --column v --batch-size 2
    wait "$writer"
    expect_err "row 3: changed by someone else since it was read"
    theirs=$(sql "SELECT v FROM secrets WHERE id = 3")
    [[ $theirs == *'  ' ]] || fail "the other session's value was overwritten: '$theirs'"
}

# A width exists only where the catalogue declares one: psqlODBC reports an
# unbounded varchar, and text read as varchar, as 255 wide; values already
# longer must still migrate. A domain's width is what scan shows.
case_widths() {
    local long
    long=$(encrypt 1 old.key "$(printf '%0440d' 3)")
    sql "CREATE DOMAIN short_text AS VARCHAR(300)"
    sql "CREATE TABLE secrets (id INTEGER PRIMARY KEY, v VARCHAR)"
    sql "CREATE TABLE texts (id INTEGER PRIMARY KEY, v TEXT)"
    sql "CREATE TABLE domained (id INTEGER PRIMARY KEY, v short_text)"
    sql "INSERT INTO secrets VALUES (1, '$long'); INSERT INTO texts VALUES (1, '$long');
         INSERT INTO domained VALUES (1, '$(encrypt 0 old.key short)')"
    grant_reading "secrets, domained"
    [ "${#long}" -gt 255 ] || fail "the test value is too short to matter"
    expect_status 0 migrate --table secrets --column v
    expect_err "1 value, 1 done"
    local texts_address=$address
    [ "$backend" = postgres ] || texts_address="$address;TextAsLongVarchar=0"
    expect_status 0 tool migrate --db "$texts_address" --table texts --column v --key-file old.key \
        --new-key-file new.key
    expect_err "1 value, 1 done"
    expect_status 0 scan --table secrets --column v --format json
    expect_census '"width": null, '
    expect_status 1 scan --table domained --column v --format json
    expect_census '"width": 300, '
}

# SIGINT while the run waits for a lock another session holds on its last
# row (SQLite: on the whole file): the wait is cut short, nothing more is
# committed, the summary says what was, and the status is the shells' 130.
case_stop() {
    create_secrets
    local id batch run got holder
    for id in 1 2 3 4 5; do sql "INSERT INTO secrets VALUES ($id, '$(encrypt 0 old.key "value $id")')"; done
    dump before.txt
    until_waiting() {
        case $backend in
            sqlite | odbc-sqlite) sleep 1 ;;
            odbc-mariadb) until [ "$(sql "SELECT count(*) FROM information_schema.innodb_lock_waits")" -gt 0 ]; do
                    kill -0 "$run" 2>/dev/null || fail "the run ended before it waited"; sleep 0.05; done ;;
            *) until [ "$(sql "SELECT count(*) FROM pg_locks WHERE NOT granted")" -gt 0 ]; do
                    kill -0 "$run" 2>/dev/null || fail "the run ended before it waited"; sleep 0.05; done ;;
        esac
    }
    for batch in "" "--batch-size 2"; do
        hold_lock 5
        # shellcheck disable=SC2086 # $batch is two words or none
        ${TARVOLA_TOOL_LOADER:-} "$tool_path" migrate --db "$address" --key-file old.key \
            --new-key-file new.key --table secrets --column v $batch 2>err.txt &
        run=$!
        until_waiting
        kill -INT "$run"
        SECONDS=0
        got=0
        wait "$run" || got=$?
        release_lock
        [ "$got" = 130 ] || { cat err.txt >&2; fail "exit status $got after SIGINT ($batch), expected 130"; }
        [ "$SECONDS" -lt 10 ] || fail "the run waited $SECONDS s for the lock after SIGINT ($batch)"
        expect_err "interrupted: "
        if [ -z "$batch" ] || [[ $backend == *sqlite ]]; then
            expect_err "interrupted: rolled back, nothing was written"
            expect_as_before "an interrupted run changed the table ($batch)"
        else
            expect_err "interrupted: 4 rows committed in 2 batches, the rest left as they were"
            [ "$(sql "SELECT count(*) FROM secrets WHERE v LIKE '%\$%'")" = 4 ] ||
                fail "not exactly the batches before the lock were committed"
        fi
    done
}

# scan makes its ODBC session read-only in the database's own SQL, checked
# before it reads: the driver's read-only hint alone let a function called
# in --where advance a sequence or insert into a MyISAM table.
case_readonly_session() {
    create_secrets
    sql "INSERT INTO secrets VALUES (1, '$(encrypt 0 old.key one)')"
    # The database refuses the write: while reading (exit 1), or already
    # while the driver prepares the query to describe it (exit 2).
    local where status=1
    case $backend in
        odbc-postgres)
            sql "CREATE SEQUENCE s"
            where="nextval('s') > 0" ;;
        odbc-mariadb)
            sql "CREATE TABLE log (n INTEGER) ENGINE=MyISAM"
            printf 'DELIMITER //\nCREATE FUNCTION note() RETURNS INTEGER MODIFIES SQL DATA
                    BEGIN INSERT INTO log VALUES (1); RETURN 1; END//\n' | mariadb_client tarvola
            where="note() = 1" status=2 ;;
    esac
    # As the owner, who could write anywhere.
    expect_status "$status" tool scan --db "$address" --table secrets --column v --key-file old.key \
        --where "$where"
    ! grep -q "could not be made read-only" err.txt || fail "the session was not made read-only"
    case $backend in
        odbc-postgres) [ "$(sql "SELECT is_called FROM s")" = f ] || fail "scan advanced a sequence" ;;
        odbc-mariadb) [ "$(sql "SELECT count(*) FROM log")" = 0 ] || fail "scan inserted rows" ;;
    esac
    # Without the function the same scan reads as ever (one value to migrate).
    expect_status 1 tool scan --db "$address" --table secrets --column v --key-file old.key \
        --new-key-file new.key
}

"case_$case"
echo "ok: $backend $case"
