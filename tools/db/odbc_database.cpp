// Any database with an ODBC driver, through the driver manager (unixODBC on
// Linux, odbc32 on Windows). Autocommit is off, so a transaction begins by
// itself and ends with SQLEndTran. Names are checked with SQLColumns and the
// key found with SQLPrimaryKeys; the driver says how it quotes identifiers.
#if defined(_WIN32)
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <array>

#include "database.h"

namespace tarvola::tool::db {
namespace {

constexpr std::size_t kChunk = 4096;

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

void Check(SQLRETURN status, const Handle& handle, std::string_view what,
           Error::Kind kind = Error::Kind::kQuery) {
    if (!SQL_SUCCEEDED(status))
        throw Error(kind, std::string(what) + ": " + Diagnostics(handle.type, handle.handle));
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

class OdbcCursor final : public RowCursor {
  public:
    OdbcCursor(SQLHANDLE connection, const std::string& sql, bool integer_ids)
        : statement_(SQL_HANDLE_STMT, connection), integer_ids_(integer_ids) {
        Check(SQLExecDirect(statement_.handle, Chars(sql), SQL_NTS), statement_,
              "cannot read the rows");
    }

    bool Next(Row& row) override {
        const SQLRETURN status = SQLFetch(statement_.handle);
        if (status == SQL_NO_DATA) return false;
        Check(status, statement_, "cannot read the rows");
        if (!GetText(statement_, 1, row.id)) row.id.clear();
        row.id_is_integer = integer_ids_;
        row.value_is_null = !GetText(statement_, 2, row.value);
        return true;
    }

  private:
    Handle statement_;
    bool integer_ids_;
};

class OdbcDatabase final : public Database {
  public:
    OdbcDatabase(std::unique_ptr<Handle> environment, std::unique_ptr<Handle> connection)
        : environment_(std::move(environment)), connection_(std::move(connection)) {}

    ~OdbcDatabase() override {
        update_.reset();
        SQLEndTran(SQL_HANDLE_DBC, connection_->handle, SQL_ROLLBACK);
        SQLDisconnect(connection_->handle);
    }

    void Resolve(Target& target) override {
        const std::string escape = Info(SQL_SEARCH_PATTERN_ESCAPE);
        Handle columns(SQL_HANDLE_STMT, connection_->handle);
        std::string pattern = EscapePattern(target.table, escape);
        Check(
            SQLColumns(columns.handle, nullptr, 0, nullptr, 0, Chars(pattern), SQL_NTS, nullptr, 0),
            columns, "cannot read the catalogue");
        bool any = false;
        bool id_found = target.id.empty();
        std::string table;
        std::string name;
        while (SQL_SUCCEEDED(SQLFetch(columns.handle))) {
            // Column 3 TABLE_NAME, 4 COLUMN_NAME, 5 DATA_TYPE.
            GetText(columns, 3, table);
            if (table != target.table) continue;
            any = true;
            GetText(columns, 4, name);
            if (name == target.column) target.column_type = "found";
            id_found = id_found || name == target.id;
        }
        SQLCloseCursor(columns.handle);
        if (!any) throw Error(Error::Kind::kUsage, "no table '" + target.table + "'");
        if (target.column_type.empty())
            throw Error(Error::Kind::kUsage,
                        "table '" + target.table + "' has no column '" + target.column + "'");
        if (!id_found)
            throw Error(Error::Kind::kUsage,
                        "table '" + target.table + "' has no column '" + target.id + "'");
        if (target.id.empty()) target.id = PrimaryKey(target.table);
        const std::string quote = Info(SQL_IDENTIFIER_QUOTE_CHAR);
        target.quoted_table = QuoteIdentifier(target.table, quote);
        target.quoted_column = QuoteIdentifier(target.column, quote);
        target.quoted_id = QuoteIdentifier(target.id, quote);
        DescribeTypes(target);
    }

    std::uint64_t CountRows(const Target& target) override {
        Handle statement(SQL_HANDLE_STMT, connection_->handle);
        Check(SQLExecDirect(statement.handle, Chars(CountRowsSql(target)), SQL_NTS), statement,
              "cannot count the rows");
        std::string count;
        Check(SQLFetch(statement.handle), statement, "cannot count the rows");
        GetText(statement, 1, count);
        return std::stoull(count);
    }

    void Begin() override {}
    void Commit() override { EndTransaction(SQL_COMMIT, "COMMIT"); }
    void Rollback() override { EndTransaction(SQL_ROLLBACK, "ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const Target& target) override {
        const bool integer_ids = id_type_ == SQL_INTEGER || id_type_ == SQL_SMALLINT ||
                                 id_type_ == SQL_BIGINT || id_type_ == SQL_TINYINT;
        return std::make_unique<OdbcCursor>(connection_->handle, SelectRowsSql(target),
                                            integer_ids);
    }

    std::vector<bool> Apply(const Target& target, std::span<const Update> updates) override {
        // One statement per target: a plan updates several tables in turn.
        std::string sql = UpdateRowSql(target, "?", "?", "?");
        if (!update_ || sql != update_sql_) {
            update_ = std::make_unique<Handle>(SQL_HANDLE_STMT, connection_->handle);
            Check(SQLPrepare(update_->handle, Chars(sql), SQL_NTS), *update_,
                  "cannot prepare the update");
            update_sql_ = std::move(sql);
        }
        std::vector<bool> applied;
        applied.reserve(updates.size());
        for (const Update& update : updates) {
            Bind(1, update.new_value, value_type_);
            Bind(2, update.row->id, id_type_);
            Bind(3, update.row->value, value_type_);
            const SQLRETURN status = SQLExecute(update_->handle);
            SQLLEN rows = 0;
            if (status != SQL_NO_DATA) {
                Check(status, *update_, "cannot update row " + update.row->id);
                Check(SQLRowCount(update_->handle, &rows), *update_, "cannot count updated rows");
            }
            applied.push_back(rows == 1);
        }
        return applied;
    }

  private:
    std::string Info(SQLUSMALLINT what) {
        std::array<char, 64> text{};
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetInfo(connection_->handle, what, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length)))
            return {};
        return text.data();
    }

    std::string PrimaryKey(const std::string& table) {
        Handle keys(SQL_HANDLE_STMT, connection_->handle);
        Check(SQLPrimaryKeys(keys.handle, nullptr, 0, nullptr, 0, Chars(table), SQL_NTS), keys,
              "cannot read the primary key");
        std::vector<std::string> names;
        std::string name;
        while (SQL_SUCCEEDED(SQLFetch(keys.handle))) {
            GetText(keys, 4, name);
            names.push_back(name);
        }
        if (names.size() != 1)
            throw Error(Error::Kind::kUsage, "table '" + table +
                                                 "' has no single-column primary key: name the "
                                                 "id column with --id");
        return names.front();
    }

    // The SQL types of id and value, to bind text parameters as what the
    // columns hold (a driver may refuse to compare an integer with text).
    void DescribeTypes(Target& target) {
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

    void Bind(SQLUSMALLINT number, std::string_view text, SQLSMALLINT sql_type) {
        lengths_.at(number - 1) = static_cast<SQLLEN>(text.size());
        const SQLSMALLINT type =
            sql_type == SQL_WVARCHAR || sql_type == SQL_WLONGVARCHAR ? SQL_VARCHAR : sql_type;
        Check(SQLBindParameter(update_->handle, number, SQL_PARAM_INPUT, SQL_C_CHAR, type,
                               text.empty() ? 1 : text.size(), 0, const_cast<char*>(text.data()),
                               static_cast<SQLLEN>(text.size()), &lengths_.at(number - 1)),
              *update_, "cannot bind a value");
    }

    void EndTransaction(SQLSMALLINT how, std::string_view what) {
        Check(SQLEndTran(SQL_HANDLE_DBC, connection_->handle, how), *connection_, what);
    }

    std::unique_ptr<Handle> environment_;
    std::unique_ptr<Handle> connection_;
    std::unique_ptr<Handle> update_;
    std::string update_sql_;
    SQLSMALLINT id_type_ = SQL_VARCHAR;
    SQLSMALLINT value_type_ = SQL_VARCHAR;
    std::array<SQLLEN, 3> lengths_{};
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
