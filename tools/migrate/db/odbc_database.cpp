// Any database with an ODBC driver, through the driver manager (unixODBC on
// Linux, odbc32 on Windows). Autocommit is off, so a transaction begins by
// itself and ends with SQLEndTran. Names are checked with SQLColumns and the
// key found with SQLPrimaryKeys; the driver says how it quotes identifiers.
// Where the driver closes cursors at a commit, or runs one statement at a
// time, rows are read page by page by id instead of through one cursor.
#if defined(_WIN32)
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "migrate/db/database.h"
#include "migrate/db/postgres_catalogue.h"
#include "migrate/db/sql_condition.h"

namespace tarvola::tool::db {
namespace {

// Bytes of a value read by one SQLGetData.
constexpr std::size_t kPieceBytes = 4096;
// Rows read back by one statement after they were written.
constexpr std::size_t kReadBackRows = 100;
// Rows per page where rows are read page by page.
constexpr std::size_t kPageRows = 1000;

struct Handle {
    SQLSMALLINT type = 0;
    SQLHANDLE handle = SQL_NULL_HANDLE;

    Handle(SQLSMALLINT handle_type, SQLHANDLE parent) : type(handle_type) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle))) handle = SQL_NULL_HANDLE;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (handle != SQL_NULL_HANDLE) SQLFreeHandle(type, handle);
    }
};

// The driver's own messages, "[driver] text" joined with "; ".
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string messages;
    for (SQLSMALLINT record = 1;; ++record) {
        std::array<SQLCHAR, 6> state{};
        std::array<SQLCHAR, 1024> text{};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, record, state.data(), &native, text.data(),
                                         static_cast<SQLSMALLINT>(text.size()), &length)))
            break;
        if (!messages.empty()) messages += "; ";
        messages += reinterpret_cast<const char*>(text.data());
    }
    return messages.empty() ? "no message from the driver" : messages;
}

// A statement the query timeout or the database's own lock wait ended: ODBC's
// SQLSTATEs, what drivers pass on from PostgreSQL (canceled, lock not
// available), and the native errors of MySQL/MariaDB (1205, lock wait
// timeout) and SQL Server (1222, lock request time out).
bool EndedByTimeout(const Handle& handle) {
    std::array<SQLCHAR, 6> state{};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(handle.type, handle.handle, 1, state.data(), &native, nullptr,
                                     0, &length)))
        return false;
    const std::string_view code(reinterpret_cast<const char*>(state.data()));
    return code == "HYT00" || code == "HYT01" || code == "HY008" || code == "57014" ||
           code == "55P03" || native == 1205 || native == 1222;
}

// `lock_timeout`: the --lock-timeout in force, which turns a statement the
// timeout ended into the lock message.
void Check(SQLRETURN status, const Handle& handle, std::string_view what,
           Error::Kind kind = Error::Kind::kQuery, std::uint64_t lock_timeout = 0) {
    if (SQL_SUCCEEDED(status)) return;
    if (lock_timeout != 0 && EndedByTimeout(handle))
        throw Error(Error::Kind::kQuery, LockTimeoutMessage(lock_timeout));
    throw Error(kind, std::string(what) + ": " + Diagnostics(handle.type, handle.handle));
}

// Watches the calls made while it lives from a second thread, since an ODBC
// call blocks without a word while it waits for a lock: calls on_long_wait
// once they last a few seconds, and cancels `statement` (SQLCancel, which
// ODBC allows from another thread) once the run is asked to stop.
class LongWaitNotice {
  public:
    explicit LongWaitNotice(const LockWait& wait, SQLHANDLE statement = SQL_NULL_HANDLE) {
        // Nothing to tell and nothing to cancel: no thread.
        if (!wait.on_long_wait && (statement == SQL_NULL_HANDLE || !wait.stop_requested)) return;
        thread_ = std::thread([this, &wait, statement] {
            const auto start = std::chrono::steady_clock::now();
            bool told = false;
            bool cancelled = false;
            std::unique_lock lock(mutex_);
            while (!ended_.wait_for(lock, std::chrono::milliseconds(kStopPollMilliseconds),
                                    [this] { return done_; })) {
                if (!told && wait.on_long_wait &&
                    std::chrono::steady_clock::now() - start >=
                        std::chrono::seconds(kLongWaitSeconds)) {
                    told = true;
                    wait.on_long_wait();
                }
                if (!cancelled && statement != SQL_NULL_HANDLE && wait.StopRequested()) {
                    cancelled = true;
                    SQLCancel(statement);
                }
            }
        });
    }
    LongWaitNotice(const LongWaitNotice&) = delete;
    LongWaitNotice& operator=(const LongWaitNotice&) = delete;
    ~LongWaitNotice() {
        if (!thread_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_;
};

// A statement that gives up after the --lock-timeout (0: never).
std::unique_ptr<Handle> NewStatement(SQLHANDLE connection, std::uint64_t timeout_seconds) {
    auto statement = std::make_unique<Handle>(SQL_HANDLE_STMT, connection);
    if (timeout_seconds != 0)
        Check(
            SQLSetStmtAttr(statement->handle, SQL_ATTR_QUERY_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), 0),
            *statement, "cannot set the query timeout", Error::Kind::kUsage);
    return statement;
}

// The SQL type text is bound as for a column of `sql_type`: the wide
// character types as their narrow ones, since the text is bound as bytes.
SQLSMALLINT TextParameterType(SQLSMALLINT sql_type) noexcept {
    return sql_type == SQL_WVARCHAR || sql_type == SQL_WLONGVARCHAR ? SQL_VARCHAR : sql_type;
}

// A character parameter for a column of `sql_type`; `length` must live as
// long as the binding.
void BindText(const Handle& statement, SQLUSMALLINT number, std::string_view text,
              SQLSMALLINT sql_type, SQLLEN& length) {
    length = static_cast<SQLLEN>(text.size());
    const SQLSMALLINT type = TextParameterType(sql_type);
    Check(SQLBindParameter(statement.handle, number, SQL_PARAM_INPUT, SQL_C_CHAR, type,
                           text.empty() ? 1 : text.size(), 0, const_cast<char*>(text.data()),
                           static_cast<SQLLEN>(text.size()), &length),
          statement, "cannot bind a value");
}

SQLCHAR* Chars(const std::string& text) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// Reads a character column whole, however long, in pieces.
bool GetText(const Handle& statement, SQLUSMALLINT column, std::string& text) {
    text.clear();
    std::array<char, kPieceBytes> piece{};
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN status = SQLGetData(statement.handle, column, SQL_C_CHAR, piece.data(),
                                            static_cast<SQLLEN>(piece.size()), &indicator);
        if (status == SQL_NO_DATA) return true;
        Check(status, statement, "cannot read a value");
        if (indicator == SQL_NULL_DATA) return false;
        const std::size_t room = piece.size() - 1;
        const std::size_t got =
            (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > room)
                ? room
                : static_cast<std::size_t>(indicator);
        text.append(piece.data(), got);
        if (status == SQL_SUCCESS) return true;
    }
}

// The catalogue functions take patterns: '_' and '%' in a name are escaped
// so that they match only themselves.
std::string EscapePattern(std::string_view name, std::string_view escape) {
    std::string escaped;
    for (const char c : name) {
        if (!escape.empty() && (c == '_' || c == '%' || escape.find(c) == 0)) escaped += escape;
        escaped += c;
    }
    return escaped;
}

// Whether a value of this SQL type is text.
bool IsTextType(SQLSMALLINT type) noexcept {
    switch (type) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
            return true;
        default:
            return false;
    }
}

bool IsIntegerType(SQLSMALLINT type) noexcept {
    return type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_BIGINT || type == SQL_TINYINT;
}

// A key as one string, each value preceded by its length: equal exactly
// when the keys are, whatever bytes the values hold.
std::string KeyText(const RowKey& key) {
    std::string text;
    for (const KeyValue& value : key) {
        text += std::to_string(value.text.size());
        text += value.is_null ? '!' : ':';
        text += value.text;
    }
    return text;
}

// The key values and the value of a row of SELECT key…, column.
void ReadRow(const Handle& statement, std::size_t key_columns, Row& row) {
    row.key.resize(key_columns);
    for (std::size_t i = 0; i < key_columns; ++i) {
        row.key[i].is_null = !GetText(statement, static_cast<SQLUSMALLINT>(i + 1), row.key[i].text);
        row.key[i].is_integer = false;
    }
    row.value_is_null = !GetText(statement, static_cast<SQLUSMALLINT>(key_columns + 1), row.value);
}

// UPDATE (SELECT t0.k0 AS k0, …, t0.column AS o, t0.column AS n FROM table
// AS t0 WHERE FALSE UNION ALL VALUES (?, …, ?, ?), …) AS v STRAIGHT_JOIN
// table AS t FORCE INDEX (PRIMARY) ON t.k0 = v.k0 … AND BINARY t.column =
// v.o SET t.column = v.n: `rows` updates in one statement, MariaDB's way.
// The empty first part names the list's columns and gives them the table's
// own types (a list alone takes its first row's, and would cut longer values
// to fit), so that keys compare as the key does. The list drives the join
// and each of its rows finds its row by the primary key: a scan of the table
// (which the optimizer prefers for a small one) would lock every row it
// passes, and wait for any another session holds. The parameters, row after
// row: the key values, the value read, the new value; the value read
// compares byte for byte, as in the per-row UPDATE.
std::string JoinedUpdateSql(const ResolvedTarget& target, std::size_t rows) {
    std::string columns;
    std::string row = "(";
    std::string join;
    for (std::size_t j = 0; j < target.key.size(); ++j) {
        const std::string name = std::string("k").append(std::to_string(j));
        columns.append("t0.").append(target.key[j].quoted).append(" AS ").append(name).append(", ");
        row += "?, ";
        join.append("t.").append(target.key[j].quoted).append(" = v.").append(name).append(" AND ");
    }
    row += "?, ?)";
    std::string sql = "UPDATE (SELECT " + columns + "t0." + target.quoted_column + " AS o, t0." +
                      target.quoted_column + " AS n FROM " + target.quoted_table +
                      " AS t0 WHERE FALSE UNION ALL VALUES " + row;
    for (std::size_t i = 1; i < rows; ++i) sql.append(", ").append(row);
    return sql + ") AS v STRAIGHT_JOIN " + target.quoted_table + " AS t FORCE INDEX (PRIMARY) ON " +
           join + SameBytesSql(Dialect::kMySql, "t." + target.quoted_column, "v.o") + " SET t." +
           target.quoted_column + " = v.n";
}

// How the rows are read and what bounds a wait.
struct ReadPlan {
    SQLHANDLE connection = SQL_NULL_HANDLE;
    std::string sql;
    // Empty: one cursor for the whole run. Otherwise the rows after the last
    // key read, a page at a time, each page read whole and its statement
    // closed before the caller goes on (and commits).
    std::string page_sql;
    // The key columns' SQL types.
    std::vector<SQLSMALLINT> key_types;
    std::uint64_t lock_timeout = 0;
    const LockWait* wait = nullptr;
};

class OdbcCursor final : public RowCursor {
  public:
    explicit OdbcCursor(ReadPlan plan) : plan_(std::move(plan)) {
        if (plan_.page_sql.empty()) statement_ = Execute(plan_.sql, false);
    }

    bool Next(Row& row) override {
        if (!plan_.page_sql.empty()) return NextInPage(row);
        const SQLRETURN status = SQLFetch(statement_->handle);
        if (status == SQL_NO_DATA) return false;
        Check(status, *statement_, "cannot read the rows", Error::Kind::kQuery, plan_.lock_timeout);
        ReadRow(*statement_, plan_.key_types.size(), row);
        return true;
    }

  private:
    std::unique_ptr<Handle> Execute(const std::string& sql, bool after_last_key) {
        auto statement = NewStatement(plan_.connection, plan_.lock_timeout);
        std::vector<SQLLEN> lengths;
        if (after_last_key) {
            const std::vector<std::size_t> order = KeyAfterParameters(last_key_.size());
            lengths.resize(order.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                BindText(*statement, static_cast<SQLUSMALLINT>(i + 1), last_key_[order[i]].text,
                         plan_.key_types[order[i]], lengths[i]);
        }
        const LongWaitNotice notice(*plan_.wait, statement->handle);
        Check(SQLExecDirect(statement->handle, Chars(sql), SQL_NTS), *statement,
              "cannot read the rows", Error::Kind::kQuery, plan_.lock_timeout);
        return statement;
    }

    bool NextInPage(Row& row) {
        if (next_ == page_.size()) {
            if (last_page_) return false;
            ReadPage();
            if (page_.empty()) return false;
        }
        // Swapped, so that both sides keep reusing their buffers.
        std::swap(row, page_[next_++]);
        return true;
    }

    void ReadPage() {
        const auto statement = Execute(read_any_ ? plan_.page_sql : plan_.sql, read_any_);
        page_.resize(kPageRows);
        std::size_t count = 0;
        while (count < kPageRows) {
            const SQLRETURN status = SQLFetch(statement->handle);
            if (status == SQL_NO_DATA) break;
            Check(status, *statement, "cannot read the rows", Error::Kind::kQuery,
                  plan_.lock_timeout);
            ReadRow(*statement, plan_.key_types.size(), page_[count++]);
        }
        SQLCloseCursor(statement->handle);
        page_.resize(count);
        next_ = 0;
        last_page_ = count < kPageRows;
        if (count != 0) {
            last_key_ = page_.back().key;
            read_any_ = true;
        }
    }

    ReadPlan plan_;
    std::unique_ptr<Handle> statement_;
    std::vector<Row> page_;
    std::size_t next_ = 0;
    RowKey last_key_;
    bool read_any_ = false;
    bool last_page_ = false;
};

class OdbcDatabase final : public Database {
  public:
    OdbcDatabase(std::unique_ptr<Handle> environment, std::unique_ptr<Handle> connection,
                 Access access)
        : environment_(std::move(environment)),
          connection_(std::move(connection)),
          dialect_(DialectOfDbmsName(Info(SQL_DBMS_NAME))) {
        if (access == Access::kReadOnly) MakeReadOnly();
        mariadb_ = Info(SQL_DBMS_NAME).find("MariaDB") != std::string::npos;
        if (dialect_ == Dialect::kMySql) {
            // The session's own rule for backslashes in string literals,
            // which the failures file has to follow.
            try {
                std::string mode;
                Select("SELECT @@SESSION.sql_mode", "cannot read the SQL mode", mode);
                backslash_escapes_ = mode.find("NO_BACKSLASH_ESCAPES") == std::string::npos;
            } catch (const Error&) {
                backslash_escapes_ = true;
            }
        }
    }

    ~OdbcDatabase() override {
        statements_.Clear();
        RollBackQuietly();
        SQLDisconnect(connection_->handle);
    }

    Dialect dialect() const noexcept override { return dialect_; }
    bool backslash_escapes() const noexcept override { return backslash_escapes_; }
    std::string read_only_caveat() const override { return read_only_caveat_; }

    // The database's own session lock wait where the dialect has one, so
    // that a wait ends as the database's own error after the timeout; the
    // query timeout of every statement stays as the bound for the others.
    void SetLockWait(LockWait wait) override {
        wait_ = std::move(wait);
        if (wait_.timeout_seconds == 0) return;
        const std::string seconds = std::to_string(wait_.timeout_seconds);
        const std::string milliseconds = std::to_string(wait_.timeout_seconds * 1000);
        switch (dialect_) {
            case Dialect::kMySql:
                Execute("SET SESSION innodb_lock_wait_timeout = " + seconds,
                        "cannot set the lock wait");
                Execute("SET SESSION lock_wait_timeout = " + seconds, "cannot set the lock wait");
                break;
            case Dialect::kSqlServer:
                Execute("SET LOCK_TIMEOUT " + milliseconds, "cannot set the lock wait");
                break;
            case Dialect::kPostgres:
                Execute("SET lock_timeout = " + milliseconds, "cannot set the lock wait");
                break;
            case Dialect::kSqlite:
            case Dialect::kOther:
                return;
        }
        // PostgreSQL's SET belongs to the transaction it ran in.
        EndTransaction(SQL_COMMIT, "COMMIT");
    }

    ResolvedTarget Resolve(const Target& named) override {
        Catalogued table;
        ResolvedTarget target =
            ResolveNames(named, dialect_, Route::kOdbc, Info(SQL_IDENTIFIER_QUOTE_CHAR),
                         [&](const QualifiedName& name) {
                             table = FindColumns(name, named.column);
                             // The primary key is the one unique key ODBC tells of for sure.
                             TableCatalogue catalogue{table.names, PrimaryKey(name), {}, {}, {}};
                             if (!catalogue.primary_key.empty())
                                 catalogue.unique_keys.push_back(catalogue.primary_key);
                             return catalogue;
                         });
        target.column_type = table.column_type;
        target.is_view = IsView(target.name);
        DescribeTypes(target);
        if (dialect_ == Dialect::kPostgres) {
            // A driver reports a width for types that have none (psqlODBC:
            // 255 for an unbounded varchar or text): the server's catalogue
            // is the authority.
            DescribeFromPostgres(target);
        } else {
            if (!IsTextType(table.column_data_type))
                throw NotTextColumn(target.column, table.column_type);
            target.width = table.width;
            target.enforced_width = table.width;
            target.blank_padded = table.fixed_width;
        }
        return target;
    }

    std::uint64_t CountRows(const ResolvedTarget& target) override {
        return Count(CountRowsSql(target), "cannot count the rows");
    }

    std::uint64_t CountSharedIds(const ResolvedTarget& target) override {
        return Count(CountSharedIdsSql(target), "cannot count the ids");
    }

    void Begin() override {}
    void BeginReading() override {}
    void Commit() override { EndTransaction(SQL_COMMIT, "COMMIT"); }
    void Rollback() override { EndTransaction(SQL_ROLLBACK, "ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) override {
        ReadPlan plan{
            connection_->handle, SelectRowsSql(target), {}, {}, wait_.timeout_seconds, &wait_};
        for (const KeyColumn& key : target.key)
            plan.key_types.push_back(static_cast<SQLSMALLINT>(key.odbc_type));
        if (!CursorSurvivesCommit()) plan.page_sql = SelectRowsAfterSql(target);
        return std::make_unique<OdbcCursor>(std::move(plan));
    }

    std::vector<std::uint64_t> Apply(const ResolvedTarget& target,
                                     std::span<const Update> updates) override {
        std::vector<std::uint64_t> applied(updates.size());
        const Handle* joined = nullptr;
        const WriteMethod method = WriteMethodFor(target, joined);
        const std::size_t step =
            method == WriteMethod::kRowByRow ? updates.size() : RowsPerStatement(target);
        for (std::size_t first = 0; first < updates.size(); first += step) {
            const std::size_t rows = std::min(step, updates.size() - first);
            const auto part = updates.subspan(first, rows);
            const auto counts = std::span(applied).subspan(first, rows);
            switch (method) {
                case WriteMethod::kRowByRow:
                    WriteRowByRow(target, part, counts);
                    break;
                case WriteMethod::kParameterArray:
                    WriteParameterArray(target, part, counts);
                    break;
                case WriteMethod::kJoinedUpdate:
                    WriteJoined(target, *joined, part, counts);
                    break;
            }
        }
        return applied;
    }

    void RunDeferredChecks() override {
        if (dialect_ == Dialect::kPostgres)
            Execute("SET CONSTRAINTS ALL IMMEDIATE", "cannot run the deferred checks");
    }

    std::vector<Stored> ReadBack(const ResolvedTarget& target,
                                 std::span<const RowKey> keys) override {
        std::vector<Stored> stored(keys.size());
        const Handle& select = Prepared(ReadBackSql(target));
        std::vector<SQLLEN> lengths(kReadBackRows * target.key.size());
        const LongWaitNotice notice(wait_, select.handle);
        Row row;
        for (std::size_t first = 0; first < keys.size(); first += kReadBackRows) {
            const auto group = keys.subspan(first, std::min(kReadBackRows, keys.size() - first));
            std::unordered_map<std::string, std::size_t> owner;
            for (std::size_t k = 0; k < kReadBackRows; ++k) {
                // A smaller group repeats its last key in the slots left over.
                const std::size_t index = std::min(k, group.size() - 1);
                BindKey(select, static_cast<SQLUSMALLINT>(k * target.key.size() + 1), target,
                        group[index], std::span(lengths).subspan(k * target.key.size()));
                owner.emplace(KeyText(group[index]), first + index);
            }
            Check(SQLExecute(select.handle), select, "cannot read back the rows",
                  Error::Kind::kQuery, wait_.timeout_seconds);
            for (;;) {
                const SQLRETURN status = SQLFetch(select.handle);
                if (status == SQL_NO_DATA) break;
                Check(status, select, "cannot read back the rows");
                ReadRow(select, target.key.size(), row);
                const auto found = owner.find(KeyText(row.key));
                if (found == owner.end()) continue;
                stored[found->second] = Stored{true, row.value_is_null, row.value};
            }
            SQLCloseCursor(select.handle);
        }
        return stored;
    }

  private:
    // How the updates of a chunk reach the database. Each gives every update
    // its own count of rows changed, exactly as one statement per row would.
    enum class WriteMethod {
        // One UPDATE per row: any driver, and the way to the exact count of
        // each row where another way leaves it open.
        kRowByRow,
        // The per-row UPDATE with an array of parameter sets, one round trip;
        // only where the driver gives a count per set (psqlODBC).
        kParameterArray,
        // MariaDB: one UPDATE … JOIN over the rows, which counts only their
        // total (see WriteJoined).
        kJoinedUpdate,
    };

    // The way verified with each database's driver; the others write row by
    // row. A joined update needs MariaDB (10.3 or later: a server that
    // refuses the statement gets rows one by one), a key no two rows can
    // share, and a table: a view's update may not take a join.
    // `joined`: the joined update's statement, where that is the way.
    WriteMethod WriteMethodFor(const ResolvedTarget& target, const Handle*& joined) {
        if (target.key_is_unique && !target.is_view && (joined = JoinedUpdate(target)) != nullptr)
            return WriteMethod::kJoinedUpdate;
        if (dialect_ == Dialect::kPostgres && CountsEachParameterSet())
            return WriteMethod::kParameterArray;
        return WriteMethod::kRowByRow;
    }

    // The joined update prepared, where the server is MariaDB and takes it;
    // otherwise null.
    const Handle* JoinedUpdate(const ResolvedTarget& target) {
        if (!mariadb_) return nullptr;
        const std::string sql = JoinedUpdateSql(target, RowsPerStatement(target));
        if (refused_.contains(sql)) return nullptr;
        try {
            return &Prepared(sql);
        } catch (const Error&) {
            refused_.insert(sql);
            return nullptr;
        }
    }

    // Whether the driver gives a row count for each set of an array of
    // parameters, stepped through with SQLMoreResults.
    bool CountsEachParameterSet() {
        if (!array_row_counts_) {
            SQLUINTEGER counts = 0;
            if (!SQL_SUCCEEDED(SQLGetInfo(connection_->handle, SQL_PARAM_ARRAY_ROW_COUNTS, &counts,
                                          sizeof counts, nullptr)))
                counts = 0;
            array_row_counts_ = counts;
        }
        return *array_row_counts_ == SQL_PARC_BATCH;
    }

    // Rows one write statement takes: each binds the key, the value read
    // and the new value.
    static std::size_t RowsPerStatement(const ResolvedTarget& target) {
        return db::RowsPerStatement(target.key.size() + 2);
    }

    void WriteRowByRow(const ResolvedTarget& target, std::span<const Update> updates,
                       std::span<std::uint64_t> counts) {
        const Handle& update = Prepared(UpdateRowSql(target, dialect_));
        const auto value_type = static_cast<SQLSMALLINT>(target.column_odbc_type);
        std::vector<SQLLEN> lengths(target.key.size() + 2);
        const LongWaitNotice notice(wait_, update.handle);
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const Row& row = *updates[i].row;
            BindText(update, 1, updates[i].new_value, value_type, lengths[0]);
            BindKey(update, 2, target, row.key, std::span(lengths).subspan(1));
            BindText(update, static_cast<SQLUSMALLINT>(target.key.size() + 2), row.value,
                     value_type, lengths.back());
            counts[i] =
                Changed(update, SQLExecute(update.handle), "cannot update row " + RowName(row.key));
        }
    }

    // The rows the statement just run changed: nothing when `status` is
    // SQL_NO_DATA (ODBC's word for an UPDATE that found no row).
    std::uint64_t Changed(const Handle& statement, SQLRETURN status, const std::string& what) {
        if (status == SQL_NO_DATA) return 0;
        Check(status, statement, what, Error::Kind::kQuery, wait_.timeout_seconds);
        return RowCount(statement);
    }

    static std::uint64_t RowCount(const Handle& statement) {
        SQLLEN rows = 0;
        Check(SQLRowCount(statement.handle, &rows), statement, "cannot count updated rows");
        return rows > 0 ? static_cast<std::uint64_t>(rows) : 0;
    }

    // The per-row UPDATE once for all `updates`. The driver answers with a
    // count for each set: the first at once, each next one after
    // SQLMoreResults.
    void WriteParameterArray(const ResolvedTarget& target, std::span<const Update> updates,
                             std::span<std::uint64_t> counts) {
        const Handle& update = Prepared(UpdateRowSql(target, dialect_));
        BindByColumn(update, target, updates);
        const std::string what = "cannot update the rows from " + RowName(updates.front().row->key);
        const LongWaitNotice notice(wait_, update.handle);
        const SQLRETURN executed = SQLExecute(update.handle);
        if (executed != SQL_NO_DATA)
            Check(executed, update, what, Error::Kind::kQuery, wait_.timeout_seconds);
        for (std::size_t i = 0; i < updates.size(); ++i) {
            if (array_status_[i] != SQL_PARAM_SUCCESS &&
                array_status_[i] != SQL_PARAM_SUCCESS_WITH_INFO)
                throw Error(Error::Kind::kQuery, "cannot update row " +
                                                     RowName(updates[i].row->key) + ": " +
                                                     Diagnostics(update.type, update.handle));
            if (i != 0) {
                const SQLRETURN more = SQLMoreResults(update.handle);
                if (more == SQL_NO_DATA)
                    throw Error(Error::Kind::kQuery, "the ODBC driver gave " + std::to_string(i) +
                                                         " row counts for " +
                                                         std::to_string(updates.size()) + " rows");
                Check(more, update, what);
            }
            counts[i] = RowCount(update);
        }
        while (SQL_SUCCEEDED(SQLMoreResults(update.handle))) {
        }
    }

    // The parameters of the per-row UPDATE for every update at once, bound
    // by column: each parameter's values side by side, as wide as the
    // longest, with a status for each set.
    void BindByColumn(const Handle& update, const ResolvedTarget& target,
                      std::span<const Update> updates) {
        const std::size_t parameters = target.key.size() + 2;
        const auto text_of = [&](const Update& row, std::size_t parameter) -> std::string_view {
            if (parameter == 0) return row.new_value;
            if (parameter == parameters - 1) return row.row->value;
            return row.row->key[parameter - 1].text;
        };
        array_values_.resize(parameters);
        array_lengths_.resize(parameters);
        array_status_.resize(updates.size());
        SetStatementAttribute(update, SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN);
        SetStatementAttribute(update, SQL_ATTR_PARAMSET_SIZE, updates.size());
        Check(SQLSetStmtAttr(update.handle, SQL_ATTR_PARAM_STATUS_PTR, array_status_.data(), 0),
              update, "cannot set a statement attribute");
        for (std::size_t p = 0; p < parameters; ++p) {
            std::size_t width = 1;
            for (const Update& row : updates) width = std::max(width, text_of(row, p).size());
            std::string& values = array_values_[p];
            std::vector<SQLLEN>& lengths = array_lengths_[p];
            values.assign(width * updates.size(), '\0');
            lengths.resize(updates.size());
            for (std::size_t i = 0; i < updates.size(); ++i) {
                const std::string_view text = text_of(updates[i], p);
                std::copy(text.begin(), text.end(),
                          values.begin() + static_cast<std::ptrdiff_t>(i * width));
                lengths[i] = static_cast<SQLLEN>(text.size());
            }
            const bool key = p != 0 && p != parameters - 1;
            const int type = key ? target.key[p - 1].odbc_type : target.column_odbc_type;
            Check(SQLBindParameter(update.handle, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT,
                                   SQL_C_CHAR, TextParameterType(static_cast<SQLSMALLINT>(type)),
                                   width, 0, values.data(), static_cast<SQLLEN>(width),
                                   lengths.data()),
                  update, "cannot bind a value");
        }
    }

    // MariaDB: one UPDATE … JOIN over the rows (see JoinedUpdateSql),
    // after a savepoint. It reports only how many rows it changed in all; with
    // a key no two rows share, each update changes one row at most, so a
    // total of one per update means each changed its row. Any other total
    // takes the statement back to the savepoint and writes the rows one by
    // one, for the exact count of each: a row someone else changed meanwhile,
    // or one the database did not keep (a trigger), is then told apart, and
    // nothing is overwritten either way. The statement always takes a full
    // set of rows, so that one prepared statement serves every chunk: the
    // last update fills the sets left over, and repeating it changes nothing
    // more, since an UPDATE … JOIN changes each row once.
    void WriteJoined(const ResolvedTarget& target, const Handle& update,
                     std::span<const Update> updates, std::span<std::uint64_t> counts) {
        const std::size_t rows = RowsPerStatement(target);
        const auto value_type = static_cast<SQLSMALLINT>(target.column_odbc_type);
        const std::size_t parameters = target.key.size() + 2;
        std::vector<SQLLEN> lengths(rows * parameters);
        for (std::size_t i = 0; i < rows; ++i) {
            const Update& row = updates[std::min(i, updates.size() - 1)];
            const auto number = static_cast<SQLUSMALLINT>(i * parameters + 1);
            const auto row_lengths = std::span(lengths).subspan(i * parameters, parameters);
            BindKey(update, number, target, row.row->key, row_lengths);
            BindText(update, static_cast<SQLUSMALLINT>(number + parameters - 2), row.row->value,
                     value_type, row_lengths[parameters - 2]);
            BindText(update, static_cast<SQLUSMALLINT>(number + parameters - 1), row.new_value,
                     value_type, row_lengths[parameters - 1]);
        }
        Execute("SAVEPOINT tarvola_write", "cannot set a savepoint");
        std::uint64_t changed = 0;
        {
            const LongWaitNotice notice(wait_, update.handle);
            changed = Changed(update, SQLExecute(update.handle),
                              "cannot update the rows from " + RowName(updates.front().row->key));
        }
        if (changed == updates.size()) {
            std::fill(counts.begin(), counts.end(), 1);
            return;
        }
        Execute("ROLLBACK TO SAVEPOINT tarvola_write", "cannot roll back to the savepoint");
        WriteRowByRow(target, updates, counts);
    }

    void SetStatementAttribute(const Handle& statement, SQLINTEGER attribute, SQLULEN value) {
        Check(SQLSetStmtAttr(statement.handle, attribute, reinterpret_cast<SQLPOINTER>(value), 0),
              statement, "cannot set a statement attribute");
    }

    // What SQLColumns says of a table: its column names, and of the value
    // column its SQL type, its type's name and its declared width.
    struct Catalogued {
        std::vector<std::string> names;
        SQLSMALLINT column_data_type = 0;
        std::string column_type;
        std::optional<std::uint64_t> width;
        bool fixed_width = false;
    };

    // MySQL and MariaDB call a database what others call a schema, and
    // their drivers take it as the catalogue's name.
    bool SchemaIsCatalog() const noexcept { return dialect_ == Dialect::kMySql; }

    // The columns of the table `qualified`, and what SQLColumns says of
    // `column` among them.
    Catalogued FindColumns(const QualifiedName& qualified, const std::string& column) {
        const std::string escape = Info(SQL_SEARCH_PATTERN_ESCAPE);
        Handle columns(SQL_HANDLE_STMT, connection_->handle);
        std::string pattern = EscapePattern(qualified.table, escape);
        std::string schema = qualified.schema;
        std::string schema_pattern = EscapePattern(qualified.schema, escape);
        SQLCHAR* const in_schema = qualified.schema.empty() ? nullptr : Chars(schema_pattern);
        SQLCHAR* const in_catalog = qualified.schema.empty() ? nullptr : Chars(schema);
        Check(SQLColumns(columns.handle, SchemaIsCatalog() ? in_catalog : nullptr, SQL_NTS,
                         SchemaIsCatalog() ? nullptr : in_schema, SQL_NTS, Chars(pattern), SQL_NTS,
                         nullptr, 0),
              columns, "cannot read the catalogue");
        Catalogued found;
        std::string owner;
        std::string table;
        std::string name;
        while (SQL_SUCCEEDED(SQLFetch(columns.handle))) {
            // Column 1 TABLE_CAT, 2 TABLE_SCHEM, 3 TABLE_NAME, 4 COLUMN_NAME,
            // 5 DATA_TYPE, 6 TYPE_NAME, 7 COLUMN_SIZE in characters.
            GetText(columns, 3, table);
            if (table != qualified.table) continue;
            if (!qualified.schema.empty() &&
                (!GetText(columns, SchemaIsCatalog() ? 1 : 2, owner) || owner != qualified.schema))
                continue;
            GetText(columns, 4, name);
            if (name == column) Describe(columns, found);
            found.names.push_back(name);
        }
        SQLCloseCursor(columns.handle);
        return found;
    }

    // From a row of SQLColumns: the value column's type, and the declared
    // width of a character type; long types such as TEXT have none.
    static void Describe(const Handle& columns, Catalogued& found) {
        SQLSMALLINT type = 0;
        SQLINTEGER size = 0;
        SQLLEN indicator = 0;
        GetText(columns, 6, found.column_type);
        if (!SQL_SUCCEEDED(
                SQLGetData(columns.handle, 5, SQL_C_SSHORT, &type, sizeof type, &indicator)))
            return;
        found.column_data_type = type;
        const bool fixed = type == SQL_CHAR || type == SQL_WCHAR;
        if (!fixed && type != SQL_VARCHAR && type != SQL_WVARCHAR) return;
        if (!SQL_SUCCEEDED(
                SQLGetData(columns.handle, 7, SQL_C_SLONG, &size, sizeof size, &indicator)) ||
            indicator == SQL_NULL_DATA || size <= 0)
            return;
        found.width = static_cast<std::uint64_t>(size);
        found.fixed_width = fixed;
    }

    // PostgreSQL behind its driver: width (through any domain), padding,
    // whether the type holds text, and row security, from its catalogue.
    void DescribeFromPostgres(ResolvedTarget& target) {
        const Handle& describe = Prepared(DescribeColumnSql("?", "?"));
        std::array<SQLLEN, 2> lengths{};
        BindText(describe, 1, target.quoted_table, SQL_VARCHAR, lengths[0]);
        BindText(describe, 2, target.column, SQL_VARCHAR, lengths[1]);
        Check(SQLExecute(describe.handle), describe, "cannot read the catalogue",
              Error::Kind::kUsage);
        std::string width;
        std::string padded;
        std::string category;
        if (SQL_SUCCEEDED(SQLFetch(describe.handle))) {
            // Column 1, the base type, is the native backend's; the columns
            // read here still come in increasing order, as ODBC requires.
            if (GetText(describe, 2, width)) target.width = std::stoull(width);
            GetText(describe, 3, padded);
            GetText(describe, 4, category);
            GetText(describe, 5, target.column_type);
        }
        SQLCloseCursor(describe.handle);
        if (category != kStringCategory) throw NotTextColumn(target.column, target.column_type);
        target.enforced_width = target.width;
        // psqlODBC gives a boolean as "1" or "t", depending on its settings.
        target.blank_padded = padded == "1" || padded == "t";
        const Handle& security = Prepared(RowSecuritySql("?"));
        BindText(security, 1, target.quoted_table, SQL_VARCHAR, lengths[0]);
        Check(SQLExecute(security.handle), security, "cannot read the catalogue",
              Error::Kind::kUsage);
        std::string active;
        if (SQL_SUCCEEDED(SQLFetch(security.handle))) GetText(security, 1, active);
        SQLCloseCursor(security.handle);
        target.hidden_by_row_security = active == "1" || active == "t";
    }

    // The connection's read-only access mode is only a hint to the driver:
    // the session itself is made read-only in the database's own SQL, and
    // checked, so that not even a function called in --where can write.
    // Where that cannot be done, read_only_caveat says why.
    void MakeReadOnly() {
        const auto made = [this](const char* sql, const char* check, std::string_view expected) {
            try {
                Execute(sql, "cannot make the session read-only");
                EndTransaction(SQL_COMMIT, "COMMIT");
                std::string value;
                Select(check, "cannot check that the session is read-only", value);
                EndTransaction(SQL_ROLLBACK, "ROLLBACK");
                return value == expected;
            } catch (const Error&) {
                RollBackQuietly();
                return false;
            }
        };
        bool read_only = false;
        switch (dialect_) {
            case Dialect::kMySql:
                // transaction_read_only in current servers, tx_read_only in
                // older ones.
                read_only =
                    made("SET SESSION TRANSACTION READ ONLY",
                         "SELECT @@SESSION.transaction_read_only", "1") ||
                    made("SET SESSION TRANSACTION READ ONLY", "SELECT @@SESSION.tx_read_only", "1");
                break;
            case Dialect::kPostgres:
                read_only = made("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY",
                                 "SHOW transaction_read_only", "on");
                break;
            case Dialect::kSqlite:
                read_only = made("PRAGMA query_only = ON", "PRAGMA query_only", "1");
                break;
            case Dialect::kSqlServer:
                read_only_caveat_ =
                    "SQL Server sessions cannot be made read-only: scan as a login that may "
                    "only SELECT, so that nothing in --where can write";
                return;
            case Dialect::kOther:
                break;
        }
        if (!read_only)
            read_only_caveat_ =
                "the session could not be made read-only in the database's own SQL (only the "
                "driver's read-only hint is set): scan as a user that may only SELECT";
    }

    void RollBackQuietly() noexcept {
        SQLEndTran(SQL_HANDLE_DBC, connection_->handle, SQL_ROLLBACK);
    }

    // The key values from parameter `first` on, each as its column's type.
    static void BindKey(const Handle& statement, SQLUSMALLINT first, const ResolvedTarget& target,
                        const RowKey& key, std::span<SQLLEN> lengths) {
        for (std::size_t i = 0; i < key.size(); ++i)
            BindText(statement, static_cast<SQLUSMALLINT>(first + i), key[i].text,
                     static_cast<SQLSMALLINT>(target.key[i].odbc_type), lengths[i]);
    }

    // The number a counting query gives; the terminal hears of a long wait
    // for a lock, as for every statement that may wait on one.
    std::uint64_t Count(const std::string& sql, const char* failure) {
        std::string count;
        Select(sql, failure, count);
        return std::stoull(count);
    }

    // The first column of the first row `sql` gives.
    void Select(const std::string& sql, const char* failure, std::string& result) {
        const auto handle = NewStatement(connection_->handle, wait_.timeout_seconds);
        const Handle& statement = *handle;
        {
            const LongWaitNotice notice(wait_, statement.handle);
            Check(SQLExecDirect(statement.handle, Chars(sql), SQL_NTS), statement, failure,
                  Error::Kind::kQuery, wait_.timeout_seconds);
        }
        Check(SQLFetch(statement.handle), statement, failure);
        GetText(statement, 1, result);
    }

    void Execute(const std::string& sql, const char* failure) {
        const auto handle = NewStatement(connection_->handle, wait_.timeout_seconds);
        const LongWaitNotice notice(wait_, handle->handle);
        Check(SQLExecDirect(handle->handle, Chars(sql), SQL_NTS), *handle, failure,
              Error::Kind::kQuery, wait_.timeout_seconds);
    }

    std::string Info(SQLUSMALLINT what) {
        std::array<char, 64> text{};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetInfo(connection_->handle, what, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length)))
            return {};
        return text.data();
    }

    const Handle& Prepared(const std::string& sql) {
        return *statements_.Get(sql, [this](const std::string& text) {
            auto statement = NewStatement(connection_->handle, wait_.timeout_seconds);
            Check(SQLPrepare(statement->handle, Chars(text), SQL_NTS), *statement,
                  "cannot prepare " + text);
            return statement;
        });
    }

    // SELECT key…, column FROM table WHERE key IN (?, …), or for a key of
    // several columns (k1 = ? AND k2 = ?) OR …: a round trip per row would
    // double the cost of a run, so the rows are read back in groups. MySQL
    // and MariaDB read in REPEATABLE READ from a snapshot that may predate
    // another session's change, which their UPDATE, a locking read, already
    // met: the rows are read locking too, as they are now (and held so
    // until the commit, which the rows written are anyway).
    std::string ReadBackSql(const ResolvedTarget& target) const {
        std::string keys;
        for (std::size_t i = 0; i < target.key.size(); ++i)
            keys += (i == 0 ? "" : ", ") + target.key[i].quoted;
        std::string sql = "SELECT " + keys + ", " + target.quoted_column + " FROM " +
                          target.quoted_table + " WHERE ";
        if (target.key.size() == 1) {
            sql += target.key.front().quoted + " IN (";
            for (std::size_t i = 0; i < kReadBackRows; ++i) sql += i == 0 ? "?" : ",?";
            sql += ")";
        } else {
            for (std::size_t i = 0; i < kReadBackRows; ++i)
                sql += (i == 0 ? "(" : " OR (") + KeyMatchSql(target, {}) + ")";
        }
        return dialect_ == Dialect::kMySql ? sql + " LOCK IN SHARE MODE" : sql;
    }

    // Whether one reading cursor may stay open across the updates and
    // commits of a run. TARVOLACRYPT_ODBC_PAGED_READS=1 reads page by page
    // whatever the driver says: for a driver that claims more than it does,
    // and for testing the paged reading with drivers that keep their cursors.
    bool CursorSurvivesCommit() {
        const char* forced = std::getenv("TARVOLACRYPT_ODBC_PAGED_READS");
        if (forced != nullptr && std::string_view(forced) == "1") return false;
        SQLUSMALLINT behaviour = SQL_CB_PRESERVE;
        SQLUSMALLINT active = 0;
        SQLGetInfo(connection_->handle, SQL_CURSOR_COMMIT_BEHAVIOR, &behaviour, sizeof behaviour,
                   nullptr);
        SQLGetInfo(connection_->handle, SQL_MAX_CONCURRENT_ACTIVITIES, &active, sizeof active,
                   nullptr);
        // 0: no limit.
        return behaviour == SQL_CB_PRESERVE && active != 1;
    }

    // Whether the catalogue lists the table as a view.
    bool IsView(const QualifiedName& qualified) {
        Handle tables(SQL_HANDLE_STMT, connection_->handle);
        const std::string escape = Info(SQL_SEARCH_PATTERN_ESCAPE);
        std::string owner = qualified.schema;
        std::string owner_pattern = EscapePattern(qualified.schema, escape);
        std::string pattern = EscapePattern(qualified.table, escape);
        SQLCHAR* const in_catalog = owner.empty() ? nullptr : Chars(owner);
        SQLCHAR* const in_schema = owner.empty() ? nullptr : Chars(owner_pattern);
        Check(SQLTables(tables.handle, SchemaIsCatalog() ? in_catalog : nullptr, SQL_NTS,
                        SchemaIsCatalog() ? nullptr : in_schema, SQL_NTS, Chars(pattern), SQL_NTS,
                        nullptr, 0),
              tables, "cannot read the catalogue");
        bool view = false;
        std::string name;
        std::string type;
        while (SQL_SUCCEEDED(SQLFetch(tables.handle))) {
            // Column 3 TABLE_NAME, 4 TABLE_TYPE.
            GetText(tables, 3, name);
            if (name != qualified.table) continue;
            GetText(tables, 4, type);
            view = view || type == "VIEW";
        }
        SQLCloseCursor(tables.handle);
        return view;
    }

    // The primary key's columns in key order; none when there is none.
    std::vector<std::string> PrimaryKey(const QualifiedName& qualified) {
        Handle keys(SQL_HANDLE_STMT, connection_->handle);
        std::string owner = qualified.schema;
        std::string name = qualified.table;
        SQLCHAR* const in_owner = owner.empty() ? nullptr : Chars(owner);
        Check(SQLPrimaryKeys(keys.handle, SchemaIsCatalog() ? in_owner : nullptr, SQL_NTS,
                             SchemaIsCatalog() ? nullptr : in_owner, SQL_NTS, Chars(name), SQL_NTS),
              keys, "cannot read the primary key");
        // Column 4 COLUMN_NAME, 5 KEY_SEQ (from 1).
        std::vector<std::pair<SQLSMALLINT, std::string>> columns;
        while (SQL_SUCCEEDED(SQLFetch(keys.handle))) {
            SQLSMALLINT sequence = 0;
            SQLLEN indicator = 0;
            GetText(keys, 4, name);
            SQLGetData(keys.handle, 5, SQL_C_SSHORT, &sequence, sizeof sequence, &indicator);
            columns.emplace_back(sequence, name);
        }
        std::sort(columns.begin(), columns.end());
        std::vector<std::string> names;
        for (auto& column : columns) names.push_back(std::move(column.second));
        return names;
    }

    // The SQL types of key and value, to bind text parameters as what the
    // columns hold (a driver may refuse to compare an integer with text).
    void DescribeTypes(ResolvedTarget& target) {
        Handle statement(SQL_HANDLE_STMT, connection_->handle);
        Check(SQLPrepare(statement.handle, Chars(SelectRowsSql(target)), SQL_NTS), statement,
              "cannot read the rows", Error::Kind::kUsage);
        for (std::size_t i = 0; i <= target.key.size(); ++i) {
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            std::array<SQLCHAR, 256> name{};
            SQLSMALLINT name_length = 0;
            Check(SQLDescribeCol(statement.handle, static_cast<SQLUSMALLINT>(i + 1), name.data(),
                                 static_cast<SQLSMALLINT>(name.size()), &name_length, &type, &size,
                                 &digits, &nullable),
                  statement, "cannot describe the columns", Error::Kind::kUsage);
            if (i == target.key.size()) {
                target.column_odbc_type = type;
            } else {
                target.key[i].odbc_type = type;
                target.key[i].is_integer = IsIntegerType(type);
            }
        }
    }

    void EndTransaction(SQLSMALLINT how, std::string_view what) {
        const LongWaitNotice notice(wait_);
        Check(SQLEndTran(SQL_HANDLE_DBC, connection_->handle, how), *connection_, what,
              Error::Kind::kQuery, wait_.timeout_seconds);
    }

    std::unique_ptr<Handle> environment_;
    std::unique_ptr<Handle> connection_;
    Dialect dialect_;
    // MariaDB (not MySQL): writes a chunk with one joined update.
    bool mariadb_ = false;
    bool backslash_escapes_ = false;
    std::string read_only_caveat_;
    StatementCache<std::unique_ptr<Handle>> statements_;
    LockWait wait_;
    // Statements the server would not prepare, by their text.
    std::unordered_set<std::string> refused_;
    // SQL_PARAM_ARRAY_ROW_COUNTS, once asked.
    std::optional<SQLUINTEGER> array_row_counts_;
    // The parameters of an array of updates, one buffer per parameter, and
    // the status of each set: bound to the statement, so kept with it.
    std::vector<std::string> array_values_;
    std::vector<std::vector<SQLLEN>> array_lengths_;
    std::vector<SQLUSMALLINT> array_status_;
};

}  // namespace

std::unique_ptr<Database> ConnectOdbc(const std::string& connection_string, Access access) {
    auto environment = std::make_unique<Handle>(SQL_HANDLE_ENV, SQLHANDLE{});
    if (environment->handle == SQL_NULL_HANDLE)
        throw Error(Error::Kind::kUnreachable, "cannot start the ODBC driver manager");
    SQLSetEnvAttr(environment->handle, SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    auto connection = std::make_unique<Handle>(SQL_HANDLE_DBC, environment->handle);
    std::string text = connection_string;
    Check(SQLDriverConnect(connection->handle, nullptr, Chars(text), SQL_NTS, nullptr, 0, nullptr,
                           SQL_DRIVER_NOPROMPT),
          *connection, "cannot connect", Error::Kind::kUnreachable);
    Check(SQLSetConnectAttr(connection->handle, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)),
                            0),
          *connection, "cannot switch autocommit off", Error::Kind::kUnreachable);
    if (access == Access::kReadOnly)
        Check(SQLSetConnectAttr(
                  connection->handle, SQL_ATTR_ACCESS_MODE,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_MODE_READ_ONLY)), 0),
              *connection, "cannot make the connection read-only", Error::Kind::kUnreachable);
    return std::make_unique<OdbcDatabase>(std::move(environment), std::move(connection), access);
}

}  // namespace tarvola::tool::db
