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
#include <unordered_map>
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
    // As --table takes it: "table" or "schema.table", a part holding a dot
    // in double quotes.
    std::string table;
    std::string column;
    // As --id takes it: empty for SQLite's rowid or the table's primary key,
    // else one column or several separated by commas ("tenant_id,id"), a
    // name holding a comma in double quotes.
    std::string id;
    // Raw SQL limiting the rows; empty for all rows.
    std::string where;
};

// A table's name split at its dot: schema (empty when not given) and table,
// each as the catalogue names it.
struct QualifiedName {
    std::string schema;
    std::string table;
};

// One column of the key a row is found by.
struct KeyColumn {
    // The name as the catalogue has it; empty for SQLite's rowid.
    std::string name;
    std::string quoted;
    // Where parameters are cast (PostgreSQL): the type to cast to.
    std::string cast_type;
    // The SQL type an ODBC driver gives the column, to bind its values as.
    int odbc_type = 0;
    // Numbers are written back bare in the failures file.
    bool is_integer = false;
};

// A target as Database::Resolve found it in the catalogue: the names quoted
// for SQL, and what the columns are. Everything a backend needs to work on
// the target is here, so that the targets of a plan never share state.
struct ResolvedTarget : Target {
    explicit ResolvedTarget(Target named) : Target(std::move(named)) {}

    QualifiedName name;
    std::string quoted_table;
    std::string quoted_column;
    // The columns that identify a row, in the order of the key: what --id
    // named, or the primary key (SQLite's rowid by default).
    std::vector<KeyColumn> key;
    // The value column's type as the catalogue names it.
    std::string column_type;
    int column_odbc_type = 0;
    // The column's maximum length in characters as far as the catalogue
    // declares one (VARCHAR(200): 200; through a PostgreSQL domain, the
    // least of its levels); none for types without one.
    std::optional<std::uint64_t> width;
    // The longest value the database accepts in the column, which a
    // migration checks before its first write: `width` where the database
    // enforces it (not SQLite's, which it ignores).
    std::optional<std::uint64_t> enforced_width;
    // Where parameters are cast (PostgreSQL): the type to cast the value to,
    // without the length an explicit cast would cut a value to.
    std::string column_cast_type;
    // Whether the column pads a shorter value with blanks (char(n)), which a
    // read-back then drops.
    bool blank_padded = false;
    // The key is the primary key or has a unique index of its own, so no two
    // rows can share one.
    bool key_is_unique = false;
    // Row-level security applies to this session's role: rows it cannot see
    // are neither read nor written, and nothing can be said about them.
    bool hidden_by_row_security = false;
    // The target is a view: its INSTEAD OF triggers (or PostgreSQL's rules)
    // may carry out an update, and the row counts they report do not tell
    // what they wrote.
    bool is_view = false;
    // Rules rewrite an UPDATE of the relation (PostgreSQL), which then takes
    // no RETURNING.
    bool rewritten_by_rules = false;
};

// One key value of a row, in the database's own text form: shown in
// messages and bound back as text.
struct KeyValue {
    std::string text;
    bool is_null = false;
    // Stored as an integer (SQLite's dynamic typing), so bound back as one.
    bool is_integer = false;
};
using RowKey = std::vector<KeyValue>;

struct Row {
    RowKey key;
    bool value_is_null = false;
    // A value stored as bytes rather than text (a SQLite BLOB): reported and
    // never rewritten, since a text value in its place would change its type.
    bool value_is_blob = false;
    std::string value;
};

// How messages name a row: its key value, several in parentheses.
[[nodiscard]] std::string RowName(const RowKey& key);

// A row whose value is to become `new_value`, unless someone else changed it
// since it was read.
struct Update {
    const Row* row;
    std::string_view new_value;
};

// What a row holds when it is read again.
struct Stored {
    // False: the row is gone (deleted, or its key changed).
    bool found = false;
    bool is_null = false;
    std::string value;
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

// How statements reach the database, which decides what --where may hold.
enum class Route {
    // Exactly one statement by protocol: libpq's extended protocol,
    // SQLite's check of the unparsed rest.
    kOneStatement,
    // ODBC, where nothing guarantees it: psqlODBC runs every statement of
    // the text, MariaDB's driver does with its multi-statement option.
    kOdbc,
};

// The dialect of a database by the name its ODBC driver gives it
// ("PostgreSQL", "MariaDB", "MySQL", "Microsoft SQL Server", "SQLite", …).
[[nodiscard]] Dialect DialectOfDbmsName(std::string_view name) noexcept;

// How long to wait for a lock another session holds. A timeout of zero
// waits as long as it takes; `on_long_wait`, when set, is called once a
// statement has waited a few seconds, so that a terminal can say why nothing
// moves. `stop_requested`, when set, is asked while a statement runs: once
// it says true, the statement is cancelled (and throws), so that a run asked
// to stop does not wait for a lock first.
struct LockWait {
    std::uint64_t timeout_seconds = 0;
    std::function<void()> on_long_wait;
    std::function<bool()> stop_requested;

    [[nodiscard]] bool StopRequested() const { return stop_requested && stop_requested(); }
};

// How long a statement waits before `on_long_wait` is called.
inline constexpr int kLongWaitSeconds = 3;
// How often a running statement looks at `stop_requested`.
inline constexpr int kStopPollMilliseconds = 100;

class Database {
  public:
    virtual ~Database() = default;
    [[nodiscard]] virtual Dialect dialect() const noexcept = 0;
    // Before Resolve. Waiting past the timeout throws Error(kQuery) with
    // LockTimeoutMessage.
    virtual void SetLockWait(LockWait wait) = 0;
    // Checks table, column and key against the catalogue (throws kUsage).
    [[nodiscard]] virtual ResolvedTarget Resolve(const Target& target) = 0;
    [[nodiscard]] virtual std::uint64_t CountRows(const ResolvedTarget& target) = 0;
    // The number of key values that more than one row of the table holds.
    [[nodiscard]] virtual std::uint64_t CountSharedIds(const ResolvedTarget& target) = 0;
    // Begins a transaction, or does nothing inside one. Resolve, counting
    // and reading run in the caller's: a dry run rolls back all of it.
    virtual void Begin() = 0;
    // A transaction that only reads, taking no write lock even on a
    // read-write connection; nothing inside one.
    virtual void BeginReading() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // Opened inside a transaction; stays valid across later Commit and Begin
    // calls (not after Rollback).
    [[nodiscard]] virtual std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) = 0;
    // Sets each row's column to its new value WHERE key = row.key AND column
    // = row.value (compared byte for byte). Per update, the number of rows
    // it changed: 1, or 0 when the row no longer held the value read. Nothing
    // is cast to a length-limited type on the way: a value too long for the
    // column is the database's to refuse, or to cut, which ReadBack shows.
    [[nodiscard]] virtual std::vector<std::uint64_t> Apply(const ResolvedTarget& target,
                                                           std::span<const Update> updates) = 0;
    // Runs now what the database would otherwise run only at the commit
    // (PostgreSQL's deferred constraint triggers), so that a read-back
    // afterwards sees everything the commit would keep.
    virtual void RunDeferredChecks() = 0;
    // What the rows with these keys hold now, read again from the target in
    // the open transaction; one result per key.
    [[nodiscard]] virtual std::vector<Stored> ReadBack(const ResolvedTarget& target,
                                                       std::span<const RowKey> keys) = 0;
    // Whether a backslash escapes the next character in this session's
    // string literals (MySQL and MariaDB unless NO_BACKSLASH_ESCAPES).
    [[nodiscard]] virtual bool backslash_escapes() const noexcept { return false; }
    // For a read-only connection, why the database might still write in it
    // (a function called in --where, say); empty when it cannot.
    [[nodiscard]] virtual std::string read_only_caveat() const { return {}; }
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
// The table `name` quoted with `quote`, its schema before it when given.
[[nodiscard]] std::string QuotedTable(const QualifiedName& name, std::string_view quote);
// "table" or "schema.table" split into {schema, table} (schema empty when
// not given). A part in double quotes is taken literally, with "" for a
// quote, so that a name holding a dot can be written '"a.b"'. Throws kUsage
// for more than two parts or an unclosed quote.
[[nodiscard]] QualifiedName SplitTableName(std::string_view name);
// --id split into its column names: "tenant_id,id" into two; a name in
// double quotes may hold a comma. Nothing for an empty --id. Throws kUsage
// for an empty name, a name given twice or an unclosed quote.
[[nodiscard]] std::vector<std::string> SplitKeyColumns(std::string_view id);
[[nodiscard]] std::string LockTimeoutMessage(std::uint64_t seconds);
// What Resolve throws (kUsage) for a name the catalogue does not hold, in
// the same words whichever database said it.
[[nodiscard]] Error NoSuchTable(std::string_view table);
[[nodiscard]] Error NoSuchColumn(std::string_view table, std::string_view column);
[[nodiscard]] Error NoPrimaryKey(std::string_view table);
// What Resolve throws (kUsage) for a value column whose type holds no text
// (numbers, dates, bytes, JSON, arrays): no stored value can be in it.
[[nodiscard]] Error NotTextColumn(std::string_view column, std::string_view type);

// Keys of one integer column, spread no wider than a few times their number:
// rows are read in key order, so those of one chunk mostly lie in a short
// range, and one scan over it costs a fraction of a look-up per key.
struct KeyRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    // For each integer of the range, the index of the key holding it; -1
    // for none.
    std::vector<std::ptrdiff_t> owner;

    // The key holding `id`, or -1.
    [[nodiscard]] std::ptrdiff_t OwnerOf(std::int64_t id) const noexcept {
        return id < first || id > last ? -1 : owner[static_cast<std::size_t>(id - first)];
    }
};
// Nothing when a key is not one integer, or the keys are spread too far.
[[nodiscard]] std::optional<KeyRange> DenseIntegerRange(std::span<const RowKey> keys);

// What a backend's catalogue says of a table, for the part of Resolve every
// backend shares (ResolveNames).
struct TableCatalogue {
    // Every column's name; none when there is no such table.
    std::vector<std::string> columns;
    // The primary key's columns in key order; none when it has none.
    std::vector<std::string> primary_key;
    // The columns each unique index covers (the primary key among them),
    // where the backend knows them.
    std::vector<std::vector<std::string>> unique_keys;
    // The key of a table without a primary key (SQLite's rowid), if any;
    // when `implicit_key_refusal` is set, why it cannot be used.
    std::optional<KeyColumn> implicit_key;
    std::string implicit_key_refusal;
};

// The part of Resolve every backend shares, around its own reading of the
// catalogue (`read`, given the split table name): --where checked for the
// dialect and route, the names split and found, the key chosen (the columns
// --id names, else the primary key, else the implicit key) and whether it
// is unique, every name quoted with `quote`. The backend then adds what its
// database says of the types.
[[nodiscard]] ResolvedTarget ResolveNames(
    const Target& named, Dialect dialect, Route route, std::string_view quote,
    const std::function<TableCatalogue(const QualifiedName&)>& read);

// Statements prepared once per SQL text, for as long as the connection:
// a plan works on several tables in turn, each with its own.
template <class Prepared>
class StatementCache {
  public:
    template <class Prepare>
    Prepared& Get(const std::string& sql, const Prepare& prepare) {
        auto found = statements_.find(sql);
        if (found == statements_.end()) found = statements_.emplace(sql, prepare(sql)).first;
        return found->second;
    }
    void Clear() noexcept { statements_.clear(); }

  private:
    std::unordered_map<std::string, Prepared> statements_;
};

// Rows one statement writes or reads back, where one takes several: a few
// hundred, fewer for a wide key, as servers bound the parameters of a
// statement (libpq and MySQL: 65,535).
[[nodiscard]] std::size_t RowsPerStatement(std::size_t parameters_per_row);

// SQL text over a resolved target; every placeholder is "?", for the
// backends that bind by position (PostgreSQL writes its own).
// SELECT key…, column FROM table [WHERE (where)] ORDER BY key…
[[nodiscard]] std::string SelectRowsSql(const ResolvedTarget& target);
// Like SelectRowsSql, only the rows whose key follows the one bound:
// reading page by page where a cursor does not survive a commit. The
// parameters are the key values in the order KeyAfterParameters gives.
[[nodiscard]] std::string SelectRowsAfterSql(const ResolvedTarget& target);
// For a key of `columns` columns: which key value each parameter of
// SelectRowsAfterSql takes ("a > ? OR a = ? AND b > ?": 0, 0, 1).
[[nodiscard]] std::vector<std::size_t> KeyAfterParameters(std::size_t columns);
[[nodiscard]] std::string CountRowsSql(const ResolvedTarget& target);
[[nodiscard]] std::string CountSharedIdsSql(const ResolvedTarget& target);
// "k1 = ? AND k2 = ?", each column after `prefix` ("t." or nothing).
[[nodiscard]] std::string KeyMatchSql(const ResolvedTarget& target, std::string_view prefix);
// `column = placeholder` compared byte for byte, whatever the column's
// collation says (case-insensitive, PAD SPACE): a value someone changed in
// case or blanks is not the value read.
[[nodiscard]] std::string SameBytesSql(Dialect dialect, std::string_view column,
                                       std::string_view placeholder);
// UPDATE table SET column = ? WHERE key = ?… AND column = ? (byte for byte):
// the new value, the key values, the old value.
[[nodiscard]] std::string UpdateRowSql(const ResolvedTarget& target, Dialect dialect);
// SELECT column FROM table WHERE key = ?…
[[nodiscard]] std::string SelectValueSql(const ResolvedTarget& target);

// `text` as a string literal the database reads back as exactly `text`,
// on one line whatever it holds (a line break is written as an escape or a
// concatenation), so that a failures file can be pasted into WHERE … IN (…).
[[nodiscard]] std::string SqlLiteral(std::string_view text, Dialect dialect,
                                     bool backslash_escapes);
// A row's key as SQL: a number bare, text as SqlLiteral, several values as
// a row value "(1, 'a')" for WHERE (k1, k2) IN (…).
[[nodiscard]] std::string KeyLiteral(const ResolvedTarget& target, const RowKey& key,
                                     Dialect dialect, bool backslash_escapes);

// How Connect finds a backend by the prefix of the address. Each backend
// is its own source file in migrate/db/ defining its connect function, which
// throws Error(kUnreachable) when it cannot connect, and one registration
// line in tools/CMakeLists.txt.
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
