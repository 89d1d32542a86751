// One small interface over the databases `tarvolacrypt migrate` works on:
// connect, check the table and columns against the catalogue, stream rows in
// id order, update a value only where it still holds what was read, and the
// transaction around it. One backend per database (sqlite, postgresql, odbc),
// each compiled in when its client library was found.
//
// Values travel only as bound parameters. Identifiers reach SQL only after
// the catalogue confirmed them, and then quoted the database's way. The
// `where` condition is the one raw piece of SQL, given by the user on purpose.
#ifndef TARVOLA_TOOLS_MIGRATE_DB_DATABASE_H
#define TARVOLA_TOOLS_MIGRATE_DB_DATABASE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvola::tool::db {

// kUsage: a table or column that is not there, or an unusable address (the
// user's mistake, exit 2, before anything ran); kUnreachable: no connection
// (exit 2); kQuery: the database refused a statement while working (exit 1).
class Error : public std::runtime_error {
  public:
    enum class Kind { kUsage, kUnreachable, kQuery };
    Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    [[nodiscard]] Kind kind() const noexcept { return kind_; }

  private:
    Kind kind_;
};

// What to migrate, as the user named it.
struct Target {
    std::string table;
    std::string column;
    // Empty: SQLite's rowid, or the table's single-column primary key.
    std::string id;
    // Raw SQL limiting the rows; empty for all rows.
    std::string where;
};

// A target as Database::Resolve found it in the catalogue: the names quoted
// for SQL, and what the columns are. `id` names the column found for an
// empty one (the primary key; still empty for SQLite's rowid).
struct ResolvedTarget : Target {
    explicit ResolvedTarget(Target named) : Target(std::move(named)) {}

    std::string quoted_table;
    std::string quoted_column;
    std::string quoted_id;
    // Each column's type where the backend needs it to bind a text parameter.
    std::string column_type;
    std::string id_type;
    // The column's declared maximum length in characters (VARCHAR(200):
    // 200); none for types without one.
    std::optional<std::uint64_t> width;
    // The longest value the database accepts in the column, which a
    // migration checks before its first write: the declared width where the
    // database enforces it (not SQLite's, which it ignores), the least of a
    // domain's levels on PostgreSQL.
    std::optional<std::uint64_t> enforced_width;
    // Where parameters are cast (PostgreSQL): the types to cast them to,
    // without the length an explicit cast would cut a value to.
    std::string column_cast_type;
    std::string id_cast_type;
    // Whether the column pads a shorter value with blanks (char(n)), which a
    // read-back then drops.
    bool blank_padded = false;
    // The id is the primary key or has a unique index of its own, so no two
    // rows can share one.
    bool id_is_unique = false;
};

struct Row {
    // The id in the database's own text form: shown in messages and bound
    // back as text in the update.
    std::string id;
    bool id_is_integer = false;
    bool value_is_null = false;
    // A value stored as bytes rather than text (a SQLite BLOB): reported and
    // never rewritten, since a text value in its place would change its type.
    bool value_is_blob = false;
    std::string value;
};

// A row whose value is to become `new_value`, unless someone else changed it
// since it was read.
struct Update {
    const Row* row;
    std::string_view new_value;
};

// What one update did, read back in the same transaction before anything is
// committed: the number of rows it changed (1, or 0 when the row no longer
// held the value read) and, for a changed row, what the database now holds.
struct Applied {
    std::uint64_t rows = 0;
    bool stored_is_null = false;
    std::string stored;
};

class RowCursor {
  public:
    virtual ~RowCursor() = default;
    // False at the end. Rows come in id order; memory does not grow with the
    // number of rows.
    [[nodiscard]] virtual bool Next(Row& row) = 0;
};

// The SQL a connection speaks where databases differ: how they quote, escape
// and comment (what --where may hold), how a session is made read-only or
// bounds its lock waits, how a string literal is written. Through ODBC it is
// read from the driver's SQL_DBMS_NAME; kOther where nothing more is known.
enum class Dialect { kSqlite, kPostgres, kMySql, kSqlServer, kOther };

// The dialect of a database by the name its ODBC driver gives it
// ("PostgreSQL", "MariaDB", "MySQL", "Microsoft SQL Server", "SQLite", …).
[[nodiscard]] Dialect DialectOfDbmsName(std::string_view name) noexcept;

// How long to wait for a lock another session holds. A timeout of zero
// waits as long as it takes; `on_long_wait`, when set, is called once a
// statement has waited a few seconds, so that a terminal can say why nothing
// moves.
struct LockWait {
    std::uint64_t timeout_seconds = 0;
    std::function<void()> on_long_wait;
};

// How long a statement waits before `on_long_wait` is called.
inline constexpr int kLongWaitSeconds = 3;

class Database {
  public:
    virtual ~Database() = default;
    [[nodiscard]] virtual Dialect dialect() const noexcept = 0;
    // Before Resolve. Waiting past the timeout throws Error(kQuery) with
    // LockTimeoutMessage.
    virtual void SetLockWait(LockWait wait) = 0;
    // Checks table, column and id against the catalogue (throws kUsage).
    [[nodiscard]] virtual ResolvedTarget Resolve(const Target& target) = 0;
    [[nodiscard]] virtual std::uint64_t CountRows(const ResolvedTarget& target) = 0;
    // The number of id values that more than one row of the table holds.
    [[nodiscard]] virtual std::uint64_t CountSharedIds(const ResolvedTarget& target) = 0;
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // Opened inside a transaction; stays valid across later Commit and Begin
    // calls (not after Rollback).
    [[nodiscard]] virtual std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) = 0;
    // Sets each row's column to its new value WHERE id = row.id AND column =
    // row.value, then reads the changed rows back; one result per update.
    // Nothing is cast to a length-limited type on the way: a value too long
    // for the column is the database's to refuse, or to cut, which the
    // read-back shows.
    [[nodiscard]] virtual std::vector<Applied> Apply(const ResolvedTarget& target,
                                                     std::span<const Update> updates) = 0;
};

// kReadOnly: the connection cannot write, and the database knows it, so a
// program that only looks (scan) needs only the right to read: SQLite opens
// the file read-only, PostgreSQL runs READ ONLY transactions, ODBC sets the
// connection's access mode. Begin then takes no write lock.
enum class Access { kReadWrite, kReadOnly };

// "sqlite:PATH", "postgresql://…" or "postgres://…" (handed to libpq as
// is), "odbc:CONNECTION-STRING" (handed to the ODBC driver manager as is).
[[nodiscard]] std::unique_ptr<Database> Connect(std::string_view address,
                                                Access access = Access::kReadWrite);

// Helpers the backends share.
[[nodiscard]] std::string QuoteIdentifier(std::string_view name, std::string_view quote);
// "table" or "schema.table" split into {schema, table} (schema empty when
// not given). A part in double quotes is taken literally, with "" for a
// quote, so that a name holding a dot can be written '"a.b"'. Throws kUsage
// for more than two parts or an unclosed quote.
struct QualifiedName {
    std::string schema;
    std::string table;
};
[[nodiscard]] QualifiedName SplitTableName(std::string_view name);
[[nodiscard]] std::string LockTimeoutMessage(std::uint64_t seconds);
// What Resolve throws (kUsage) for a name the catalogue does not hold, in
// the same words whichever database said it.
[[nodiscard]] Error NoSuchTable(std::string_view table);
[[nodiscard]] Error NoSuchColumn(std::string_view table, std::string_view column);
[[nodiscard]] Error NoSingleColumnKey(std::string_view table);
// Like SelectRowsSql, only the rows whose id follows `placeholder`: reading
// page by page where a cursor does not survive a commit.
[[nodiscard]] std::string SelectRowsAfterSql(const ResolvedTarget& target,
                                             std::string_view placeholder);
[[nodiscard]] std::string SelectRowsSql(const ResolvedTarget& target);
[[nodiscard]] std::string CountRowsSql(const ResolvedTarget& target);
[[nodiscard]] std::string CountSharedIdsSql(const ResolvedTarget& target);
[[nodiscard]] std::string SelectValueSql(const ResolvedTarget& target,
                                         std::string_view placeholder_id);
[[nodiscard]] std::string UpdateRowSql(const ResolvedTarget& target,
                                       std::string_view placeholder_new,
                                       std::string_view placeholder_id,
                                       std::string_view placeholder_old);

// The backends; each throws Error(kUnreachable) when it cannot connect.
[[nodiscard]] std::unique_ptr<Database> ConnectSqlite(const std::string& path, Access access);
[[nodiscard]] std::unique_ptr<Database> ConnectPostgres(const std::string& uri, Access access);
[[nodiscard]] std::unique_ptr<Database> ConnectOdbc(const std::string& connection_string,
                                                    Access access);

// How Connect finds a backend by the prefix of the address.
struct Backend {
    std::string_view prefix;
    // How "this build of tarvolacrypt has no … support" names it.
    std::string_view name;
    // The address is handed on whole (a URI), else only what follows the
    // prefix.
    bool keeps_prefix;
    // nullptr: this build has no such backend (its client library was not
    // found).
    std::unique_ptr<Database> (*connect)(const std::string& address, Access access);
};
// Every backend --db can name, built or not, in the order the prefixes are
// matched and listed. Defined in the source CMake generates (backends.cpp.in).
[[nodiscard]] std::span<const Backend> Backends() noexcept;

}  // namespace tarvola::tool::db

#endif  // TARVOLA_TOOLS_MIGRATE_DB_DATABASE_H
