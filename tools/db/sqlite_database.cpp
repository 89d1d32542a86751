// SQLite through libsqlite3: the default id is the rowid, which every
// ordinary table has; a writer waits up to a while for another one.
#include <sqlite3.h>

#include "database.h"

namespace tarvola::tool::db {
namespace {

constexpr int kBusyTimeoutMs = 10000;

using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

[[noreturn]] void Fail(sqlite3* db, Error::Kind kind, std::string_view what) {
    throw Error(kind, std::string(what) + ": " + sqlite3_errmsg(db));
}

Statement Prepare(sqlite3* db, const std::string& sql, Error::Kind kind = Error::Kind::kQuery) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
        Fail(db, kind, "cannot prepare " + sql);
    }
    return Statement(statement, &sqlite3_finalize);
}

void BindText(sqlite3* db, sqlite3_stmt* statement, int index, std::string_view text) {
    if (sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_STATIC) != SQLITE_OK) {
        Fail(db, Error::Kind::kQuery, "cannot bind a value");
    }
}

// Into `out`, whose buffer is reused: rows are read into the same few
// buffers again and again, without an allocation per value.
void ReadColumnText(sqlite3_stmt* statement, int column, std::string& out) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (text == nullptr) {
        out.clear();
        return;
    }
    out.assign(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
    std::string text;
    ReadColumnText(statement, column, text);
    return text;
}

// The length in a declared type such as VARCHAR(200) or NCHAR(12); SQLite
// keeps the declaration without enforcing it, but other programs reading
// the same schema (and the database it was moved from) may.
std::optional<std::uint64_t> DeclaredWidth(std::string_view type) {
    const std::size_t open = type.find('(');
    if (open == std::string_view::npos) return std::nullopt;
    std::uint64_t width = 0;
    std::size_t at = open + 1;
    while (at < type.size() && type[at] == ' ') ++at;
    const std::size_t digits_start = at;
    for (; at < type.size() && type[at] >= '0' && type[at] <= '9'; ++at)
        width = 10 * width + static_cast<std::uint64_t>(type[at] - '0');
    if (at == digits_start) return std::nullopt;
    return width;
}

// Whether a column type names a character type (CHAR, VARCHAR, NCHAR, …).
bool IsCharacterType(std::string_view type) {
    std::string upper(type);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper.find("CHAR") != std::string::npos;
}

class SqliteCursor final : public RowCursor {
  public:
    SqliteCursor(sqlite3* db, Statement statement) : db_(db), statement_(std::move(statement)) {}

    bool Next(Row& row) override {
        // Stepping a finished statement would start it over.
        if (finished_) return false;
        const int status = sqlite3_step(statement_.get());
        if (status == SQLITE_DONE) {
            finished_ = true;
            return false;
        }
        if (status != SQLITE_ROW) Fail(db_, Error::Kind::kQuery, "cannot read the rows");
        ReadColumnText(statement_.get(), 0, row.id);
        row.id_is_integer = sqlite3_column_type(statement_.get(), 0) == SQLITE_INTEGER;
        row.value_is_null = sqlite3_column_type(statement_.get(), 1) == SQLITE_NULL;
        ReadColumnText(statement_.get(), 1, row.value);
        return true;
    }

  private:
    sqlite3* db_;
    Statement statement_;
    bool finished_ = false;
};

class SqliteDatabase final : public Database {
  public:
    SqliteDatabase(Connection db, Access access) : db_(std::move(db)), access_(access) {}

    void Resolve(Target& target) override {
        Statement columns = Prepare(db_.get(), "SELECT name, type FROM pragma_table_info(?1)");
        BindText(db_.get(), columns.get(), 1, target.table);
        bool any = false;
        bool column_found = false;
        bool id_found = target.id.empty();
        while (sqlite3_step(columns.get()) == SQLITE_ROW) {
            any = true;
            const std::string name = ColumnText(columns.get(), 0);
            if (name == target.column) {
                column_found = true;
                const std::string type = ColumnText(columns.get(), 1);
                if (IsCharacterType(type)) target.width = DeclaredWidth(type);
            }
            id_found = id_found || name == target.id;
        }
        if (!any) throw Error(Error::Kind::kUsage, "no table '" + target.table + "'");
        if (!column_found)
            throw Error(Error::Kind::kUsage,
                        "table '" + target.table + "' has no column '" + target.column + "'");
        if (!id_found)
            throw Error(Error::Kind::kUsage,
                        "table '" + target.table + "' has no column '" + target.id + "'");
        target.quoted_table = QuoteIdentifier(target.table, "\"");
        target.quoted_column = QuoteIdentifier(target.column, "\"");
        target.quoted_id = target.id.empty() ? "rowid" : QuoteIdentifier(target.id, "\"");
        // Fails here, before any work, for a table WITHOUT ROWID and a bad --where.
        Prepare(db_.get(), SelectRowsSql(target), Error::Kind::kUsage);
    }

    std::uint64_t CountRows(const Target& target) override {
        Statement count = Prepare(db_.get(), CountRowsSql(target));
        if (sqlite3_step(count.get()) != SQLITE_ROW) Fail(db_.get(), Error::Kind::kQuery, "count");
        return static_cast<std::uint64_t>(sqlite3_column_int64(count.get(), 0));
    }

    // IMMEDIATE takes the write lock now, so that a concurrent writer makes
    // us wait at the start instead of failing halfway. A reader takes only
    // the shared lock, when it first reads.
    void Begin() override {
        Execute(access_ == Access::kReadOnly ? "BEGIN DEFERRED" : "BEGIN IMMEDIATE");
    }
    void Commit() override { Execute("COMMIT"); }
    void Rollback() override { Execute("ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const Target& target) override {
        return std::make_unique<SqliteCursor>(db_.get(), Prepare(db_.get(), SelectRowsSql(target)));
    }

    std::vector<bool> Apply(const Target& target, std::span<const Update> updates) override {
        // One statement per target: a plan updates several tables in turn.
        std::string sql = UpdateRowSql(target, "?1", "?2", "?3");
        if (!update_ || sql != update_sql_) {
            update_ = Prepare(db_.get(), sql);
            update_sql_ = std::move(sql);
        }
        sqlite3_stmt* statement = update_.get();
        std::vector<bool> applied;
        applied.reserve(updates.size());
        for (const Update& update : updates) {
            sqlite3_reset(statement);
            BindText(db_.get(), statement, 1, update.new_value);
            if (update.row->id_is_integer) {
                sqlite3_bind_int64(statement, 2, std::stoll(update.row->id));
            } else {
                BindText(db_.get(), statement, 2, update.row->id);
            }
            BindText(db_.get(), statement, 3, update.row->value);
            if (sqlite3_step(statement) != SQLITE_DONE)
                Fail(db_.get(), Error::Kind::kQuery, "cannot update row " + update.row->id);
            applied.push_back(sqlite3_changes(db_.get()) == 1);
        }
        sqlite3_reset(statement);
        return applied;
    }

  private:
    void Execute(const char* sql) {
        if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(db_.get(), Error::Kind::kQuery, sql);
    }

    Connection db_;
    Access access_;
    Statement update_{nullptr, &sqlite3_finalize};
    std::string update_sql_;
};

}  // namespace

std::unique_ptr<Database> ConnectSqlite(const std::string& path, Access access) {
    sqlite3* raw = nullptr;
    // No CREATE: a mistyped path must not become a new empty database.
    const int flags = access == Access::kReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    const int status = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Connection db(raw, &sqlite3_close);
    if (status != SQLITE_OK)
        throw Error(Error::Kind::kUnreachable,
                    "cannot open " + path + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    return std::make_unique<SqliteDatabase>(std::move(db), access);
}

}  // namespace tarvola::tool::db
