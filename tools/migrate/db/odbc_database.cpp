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
#include <thread>
#include <unordered_map>

#include "migrate/db/database.h"
#include "migrate/db/sql_condition.h"

namespace tarvola::tool::db {
namespace {

constexpr std::size_t kChunk = 4096;
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

// SQLSTATEs of a statement the query timeout ended: ODBC's own, and what
// drivers pass on from PostgreSQL (canceled, lock not available).
bool EndedByTimeout(const Handle& handle) {
    std::array<SQLCHAR, 6> state{};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(handle.type, handle.handle, 1, state.data(), &native, nullptr,
                                     0, &length)))
        return false;
    const std::string_view code(reinterpret_cast<const char*>(state.data()));
    return code == "HYT00" || code == "HYT01" || code == "HY008" || code == "57014" ||
           code == "55P03";
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

// Calls `tell` from a second thread when the call it guards lasts a few
// seconds: an ODBC call blocks without a word while it waits for a lock.
class LongWaitNotice {
  public:
    explicit LongWaitNotice(const std::function<void()>& tell) {
        if (!tell) return;
        thread_ = std::thread([this, &tell] {
            std::unique_lock lock(mutex_);
            if (!ended_.wait_for(lock, std::chrono::seconds(kLongWaitSeconds),
                                 [this] { return done_; }))
                tell();
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

// A character parameter for a column of `sql_type`; `length` must live as
// long as the binding.
void BindText(const Handle& statement, SQLUSMALLINT number, std::string_view text,
              SQLSMALLINT sql_type, SQLLEN& length) {
    length = static_cast<SQLLEN>(text.size());
    const SQLSMALLINT type =
        sql_type == SQL_WVARCHAR || sql_type == SQL_WLONGVARCHAR ? SQL_VARCHAR : sql_type;
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
    std::array<char, kChunk> piece{};
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

// How the rows are read and what bounds a wait.
struct ReadPlan {
    SQLHANDLE connection = SQL_NULL_HANDLE;
    std::string sql;
    // Empty: one cursor for the whole run. Otherwise the rows after the last
    // id read, a page at a time, each page read whole and its statement
    // closed before the caller goes on (and commits).
    std::string page_sql;
    SQLSMALLINT id_type = SQL_VARCHAR;
    std::uint64_t lock_timeout = 0;
    const std::function<void()>* on_long_wait = nullptr;
    // Whether ids are numbers, so that they can be written back bare.
    bool integer_ids = false;
};

void ReadRow(const Handle& statement, bool integer_ids, Row& row) {
    if (!GetText(statement, 1, row.id)) row.id.clear();
    row.id_is_integer = integer_ids;
    row.value_is_null = !GetText(statement, 2, row.value);
}

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
        ReadRow(*statement_, plan_.integer_ids, row);
        return true;
    }

  private:
    std::unique_ptr<Handle> Execute(const std::string& sql, bool after_last_id) {
        auto statement = NewStatement(plan_.connection, plan_.lock_timeout);
        SQLLEN length = 0;
        if (after_last_id) BindText(*statement, 1, last_id_, plan_.id_type, length);
        const LongWaitNotice notice(*plan_.on_long_wait);
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
            ReadRow(*statement, plan_.integer_ids, page_[count++]);
        }
        SQLCloseCursor(statement->handle);
        page_.resize(count);
        next_ = 0;
        last_page_ = count < kPageRows;
        if (count != 0) {
            last_id_ = page_.back().id;
            read_any_ = true;
        }
    }

    ReadPlan plan_;
    std::unique_ptr<Handle> statement_;
    std::vector<Row> page_;
    std::size_t next_ = 0;
    std::string last_id_;
    bool read_any_ = false;
    bool last_page_ = false;
};

class OdbcDatabase final : public Database {
  public:
    OdbcDatabase(std::unique_ptr<Handle> environment, std::unique_ptr<Handle> connection)
        : environment_(std::move(environment)),
          connection_(std::move(connection)),
          dialect_(DialectOfDbmsName(Info(SQL_DBMS_NAME))) {}

    ~OdbcDatabase() override {
        update_.reset();
        select_.reset();
        SQLEndTran(SQL_HANDLE_DBC, connection_->handle, SQL_ROLLBACK);
        SQLDisconnect(connection_->handle);
    }

    Dialect dialect() const noexcept override { return dialect_; }
    void SetLockWait(LockWait wait) override { wait_ = std::move(wait); }

    ResolvedTarget Resolve(const Target& named) override {
        ResolvedTarget target(named);
        CheckSingleCondition(target.where, dialect_, Route::kOdbc);
        const QualifiedName qualified = SplitTableName(target.table);
        const std::string escape = Info(SQL_SEARCH_PATTERN_ESCAPE);
        Handle columns(SQL_HANDLE_STMT, connection_->handle);
        std::string pattern = EscapePattern(qualified.table, escape);
        std::string schema_pattern = EscapePattern(qualified.schema, escape);
        Check(SQLColumns(columns.handle, nullptr, 0,
                         qualified.schema.empty() ? nullptr : Chars(schema_pattern), SQL_NTS,
                         Chars(pattern), SQL_NTS, nullptr, 0),
              columns, "cannot read the catalogue");
        bool any = false;
        bool id_found = target.id.empty();
        std::string schema;
        std::string table;
        std::string name;
        while (SQL_SUCCEEDED(SQLFetch(columns.handle))) {
            // Column 2 TABLE_SCHEM, 3 TABLE_NAME, 4 COLUMN_NAME, 5 DATA_TYPE.
            GetText(columns, 3, table);
            if (table != qualified.table) continue;
            if (!qualified.schema.empty() &&
                (!GetText(columns, 2, schema) || schema != qualified.schema))
                continue;
            any = true;
            GetText(columns, 4, name);
            if (name == target.column) {
                target.column_type = "found";
                DescribeWidth(columns, target);
            }
            id_found = id_found || name == target.id;
        }
        SQLCloseCursor(columns.handle);
        if (!any) throw NoSuchTable(target.table);
        if (target.column_type.empty()) throw NoSuchColumn(target.table, target.column);
        if (!id_found) throw NoSuchColumn(target.table, target.id);
        if (target.id.empty()) {
            target.id = PrimaryKey(target.table, qualified);
            target.id_is_unique = true;
        }
        const std::string quote = Info(SQL_IDENTIFIER_QUOTE_CHAR);
        target.quoted_table = QuoteIdentifier(qualified.table, quote);
        if (!qualified.schema.empty())
            target.quoted_table =
                QuoteIdentifier(qualified.schema, quote) + "." + target.quoted_table;
        target.quoted_column = QuoteIdentifier(target.column, quote);
        target.quoted_id = QuoteIdentifier(target.id, quote);
        DescribeTypes(target);
        return target;
    }

    std::uint64_t CountRows(const ResolvedTarget& target) override {
        return Count(CountRowsSql(target), "cannot count the rows");
    }

    std::uint64_t CountSharedIds(const ResolvedTarget& target) override {
        return Count(CountSharedIdsSql(target), "cannot count the ids");
    }

    void Begin() override {}
    void Commit() override { EndTransaction(SQL_COMMIT, "COMMIT"); }
    void Rollback() override { EndTransaction(SQL_ROLLBACK, "ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) override {
        const bool integer_ids = id_type_ == SQL_INTEGER || id_type_ == SQL_SMALLINT ||
                                 id_type_ == SQL_BIGINT || id_type_ == SQL_TINYINT;
        ReadPlan plan{connection_->handle,   SelectRowsSql(target), {},         id_type_,
                      wait_.timeout_seconds, &wait_.on_long_wait,   integer_ids};
        if (!CursorSurvivesCommit()) plan.page_sql = SelectRowsAfterSql(target, "?");
        return std::make_unique<OdbcCursor>(std::move(plan));
    }

    std::vector<Applied> Apply(const ResolvedTarget& target,
                               std::span<const Update> updates) override {
        // One statement per target: a plan updates several tables in turn.
        std::string sql = UpdateRowSql(target, "?", "?", "?");
        if (!update_ || sql != update_sql_) {
            update_ = Prepared(sql, "cannot prepare the update");
            update_sql_ = std::move(sql);
            select_ = Prepared(ReadBackSql(target), "cannot prepare the read-back");
        }
        std::vector<Applied> applied(updates.size());
        const LongWaitNotice notice(wait_.on_long_wait);
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const Update& update = updates[i];
            BindText(*update_, 1, update.new_value, value_type_, lengths_[0]);
            BindText(*update_, 2, update.row->id, id_type_, lengths_[1]);
            BindText(*update_, 3, update.row->value, value_type_, lengths_[2]);
            const SQLRETURN status = SQLExecute(update_->handle);
            SQLLEN rows = 0;
            if (status != SQL_NO_DATA) {
                Check(status, *update_, "cannot update row " + update.row->id, Error::Kind::kQuery,
                      wait_.timeout_seconds);
                Check(SQLRowCount(update_->handle, &rows), *update_, "cannot count updated rows");
            }
            applied[i].rows = rows > 0 ? static_cast<std::uint64_t>(rows) : 0;
        }
        // Read back once every row is written, so that what a trigger did to
        // any of them shows.
        std::vector<std::size_t> changed;
        for (std::size_t i = 0; i < updates.size(); ++i) {
            if (applied[i].rows != 0) changed.push_back(i);
        }
        for (std::size_t first = 0; first < changed.size(); first += kReadBackRows) {
            const auto group =
                std::span(changed).subspan(first, std::min(kReadBackRows, changed.size() - first));
            ReadBack(updates, group, applied);
        }
        return applied;
    }

  private:
    // The number a counting query gives; the terminal hears of a long wait
    // for a lock, as for every statement that may wait on one.
    std::uint64_t Count(const std::string& sql, const char* failure) {
        const auto handle = NewStatement(connection_->handle, wait_.timeout_seconds);
        const Handle& statement = *handle;
        {
            const LongWaitNotice notice(wait_.on_long_wait);
            Check(SQLExecDirect(statement.handle, Chars(sql), SQL_NTS), statement, failure,
                  Error::Kind::kQuery, wait_.timeout_seconds);
        }
        std::string count;
        Check(SQLFetch(statement.handle), statement, failure);
        GetText(statement, 1, count);
        return std::stoull(count);
    }

    std::string Info(SQLUSMALLINT what) {
        std::array<char, 64> text{};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetInfo(connection_->handle, what, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length)))
            return {};
        return text.data();
    }

    std::unique_ptr<Handle> Prepared(const std::string& sql, std::string_view what) {
        auto statement = NewStatement(connection_->handle, wait_.timeout_seconds);
        Check(SQLPrepare(statement->handle, Chars(sql), SQL_NTS), *statement, what);
        return statement;
    }

    // SELECT id, column FROM table WHERE id IN (?, …): a round trip per row
    // would double the cost of a run, so the rows are read back in groups.
    static std::string ReadBackSql(const ResolvedTarget& target) {
        std::string sql = "SELECT " + target.quoted_id + ", " + target.quoted_column + " FROM " +
                          target.quoted_table + " WHERE " + target.quoted_id + " IN (";
        for (std::size_t i = 0; i < kReadBackRows; ++i) sql += i == 0 ? "?" : ",?";
        return sql + ")";
    }

    // The rows of `group` (indexes into `updates`), by their id text as the
    // driver gives it, like the reading cursor. A smaller group repeats its
    // last id in the parameters left over.
    void ReadBack(std::span<const Update> updates, std::span<const std::size_t> group,
                  std::vector<Applied>& applied) {
        std::unordered_map<std::string_view, std::size_t> owner;
        for (std::size_t k = 0; k < kReadBackRows; ++k) {
            const std::size_t index = group[std::min(k, group.size() - 1)];
            BindText(*select_, static_cast<SQLUSMALLINT>(k + 1), updates[index].row->id, id_type_,
                     select_lengths_.at(k));
            owner.emplace(updates[index].row->id, index);
            // Until the query finds it: a row a trigger deleted holds nothing.
            applied[index].stored_is_null = true;
        }
        Check(SQLExecute(select_->handle), *select_, "cannot read back the rows",
              Error::Kind::kQuery, wait_.timeout_seconds);
        std::string id;
        for (;;) {
            const SQLRETURN status = SQLFetch(select_->handle);
            if (status == SQL_NO_DATA) break;
            Check(status, *select_, "cannot read back the rows");
            GetText(*select_, 1, id);
            const auto found = owner.find(id);
            if (found == owner.end()) continue;
            Applied& row = applied[found->second];
            row.stored_is_null = !GetText(*select_, 2, row.stored);
        }
        SQLCloseCursor(select_->handle);
    }

    // From a row of SQLColumns: the declared width of a character column
    // (column 5 DATA_TYPE, 7 COLUMN_SIZE in characters); long types such as
    // TEXT are left without one.
    static void DescribeWidth(const Handle& columns, ResolvedTarget& target) {
        SQLSMALLINT type = 0;
        SQLINTEGER size = 0;
        SQLLEN indicator = 0;
        if (!SQL_SUCCEEDED(
                SQLGetData(columns.handle, 5, SQL_C_SSHORT, &type, sizeof type, &indicator)))
            return;
        const bool fixed = type == SQL_CHAR || type == SQL_WCHAR;
        if (!fixed && type != SQL_VARCHAR && type != SQL_WVARCHAR) return;
        if (!SQL_SUCCEEDED(
                SQLGetData(columns.handle, 7, SQL_C_SLONG, &size, sizeof size, &indicator)) ||
            indicator == SQL_NULL_DATA || size <= 0)
            return;
        target.enforced_width = static_cast<std::uint64_t>(size);
        target.blank_padded = fixed;
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

    std::string PrimaryKey(const std::string& table, const QualifiedName& qualified) {
        Handle keys(SQL_HANDLE_STMT, connection_->handle);
        std::string schema = qualified.schema;
        std::string name = qualified.table;
        Check(SQLPrimaryKeys(keys.handle, nullptr, 0, schema.empty() ? nullptr : Chars(schema),
                             SQL_NTS, Chars(name), SQL_NTS),
              keys, "cannot read the primary key");
        std::vector<std::string> names;
        while (SQL_SUCCEEDED(SQLFetch(keys.handle))) {
            GetText(keys, 4, name);
            names.push_back(name);
        }
        if (names.size() != 1) throw NoSingleColumnKey(table);
        return names.front();
    }

    // The SQL types of id and value, to bind text parameters as what the
    // columns hold (a driver may refuse to compare an integer with text).
    void DescribeTypes(ResolvedTarget& target) {
        Handle statement(SQL_HANDLE_STMT, connection_->handle);
        Check(SQLPrepare(statement.handle, Chars(SelectRowsSql(target)), SQL_NTS), statement,
              "cannot read the rows", Error::Kind::kUsage);
        for (SQLUSMALLINT column : {SQLUSMALLINT{1}, SQLUSMALLINT{2}}) {
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            std::array<SQLCHAR, 256> name{};
            SQLSMALLINT name_length = 0;
            Check(SQLDescribeCol(statement.handle, column, name.data(),
                                 static_cast<SQLSMALLINT>(name.size()), &name_length, &type, &size,
                                 &digits, &nullable),
                  statement, "cannot describe the columns", Error::Kind::kUsage);
            (column == 1 ? id_type_ : value_type_) = type;
            if (column == 2 && size > 0 &&
                (type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_WCHAR ||
                 type == SQL_WVARCHAR))
                target.width = size;
        }
    }

    void EndTransaction(SQLSMALLINT how, std::string_view what) {
        const LongWaitNotice notice(wait_.on_long_wait);
        Check(SQLEndTran(SQL_HANDLE_DBC, connection_->handle, how), *connection_, what,
              Error::Kind::kQuery, wait_.timeout_seconds);
    }

    std::unique_ptr<Handle> environment_;
    std::unique_ptr<Handle> connection_;
    Dialect dialect_;
    std::unique_ptr<Handle> update_;
    std::unique_ptr<Handle> select_;
    std::string update_sql_;
    SQLSMALLINT id_type_ = SQL_VARCHAR;
    SQLSMALLINT value_type_ = SQL_VARCHAR;
    std::array<SQLLEN, 3> lengths_{};
    std::array<SQLLEN, kReadBackRows> select_lengths_{};
    LockWait wait_;
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
    return std::make_unique<OdbcDatabase>(std::move(environment), std::move(connection));
}

}  // namespace tarvola::tool::db
