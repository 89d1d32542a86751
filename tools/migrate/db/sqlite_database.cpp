// SQLite through libsqlite3: the default id is the rowid, which every
// ordinary table has; a writer waits for another one as long as --lock-timeout
// allows, without limit by default.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "migrate/db/database.h"
#include "migrate/db/sql_condition.h"

namespace tarvola::tool::db {
namespace {

// The longest pause between two looks at a lock held elsewhere.
constexpr int kLongestPauseMs = 50;

// Waits while another connection holds the lock SQLite needs: SQLite calls
// Retry with the number of calls so far in this wait; 0 gives up (SQLITE_BUSY).
class BusyWait {
  public:
    void Set(LockWait wait) { wait_ = std::move(wait); }
    [[nodiscard]] std::uint64_t timeout_seconds() const noexcept { return wait_.timeout_seconds; }

    static int Retry(void* self, int calls) { return static_cast<BusyWait*>(self)->Retry(calls); }

  private:
    int Retry(int calls) {
        const auto now = std::chrono::steady_clock::now();
        if (calls == 0) {
            start_ = now;
            told_ = false;
        }
        const auto waited = now - start_;
        if (wait_.timeout_seconds != 0 && waited >= std::chrono::seconds(wait_.timeout_seconds))
            return 0;
        if (!told_ && wait_.on_long_wait && waited >= std::chrono::seconds(kLongWaitSeconds)) {
            told_ = true;
            wait_.on_long_wait();
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min(1 + calls, kLongestPauseMs)));
        return 1;
    }

    LockWait wait_;
    std::chrono::steady_clock::time_point start_;
    bool told_ = false;
};

using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

// `busy`, when given, turns a lock wait it ended into the lock message.
[[noreturn]] void Fail(sqlite3* db, Error::Kind kind, std::string_view what,
                       const BusyWait* busy = nullptr) {
    if (busy != nullptr && busy->timeout_seconds() != 0 && sqlite3_errcode(db) == SQLITE_BUSY)
        throw Error(Error::Kind::kQuery, LockTimeoutMessage(busy->timeout_seconds()));
    throw Error(kind, std::string(what) + ": " + sqlite3_errmsg(db));
}

// Exactly one statement: SQLite prepares the first and points at the rest,
// which must be nothing but blanks.
Statement Prepare(sqlite3* db, const std::string& sql, Error::Kind kind = Error::Kind::kQuery) {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, &tail) !=
        SQLITE_OK) {
        Fail(db, kind, "cannot prepare " + sql);
    }
    Statement prepared(statement, &sqlite3_finalize);
    if (std::string_view(tail).find_first_not_of(" \t\r\n") != std::string_view::npos)
        throw Error(Error::Kind::kUsage, "more than one statement in " + sql);
    return prepared;
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
    SqliteCursor(sqlite3* db, Statement statement, const BusyWait& busy)
        : db_(db), statement_(std::move(statement)), busy_(busy) {}

    bool Next(Row& row) override {
        // Stepping a finished statement would start it over.
        if (finished_) return false;
        const int status = sqlite3_step(statement_.get());
        if (status == SQLITE_DONE) {
            finished_ = true;
            return false;
        }
        if (status != SQLITE_ROW) Fail(db_, Error::Kind::kQuery, "cannot read the rows", &busy_);
        ReadColumnText(statement_.get(), 0, row.id);
        row.id_is_integer = sqlite3_column_type(statement_.get(), 0) == SQLITE_INTEGER;
        row.value_is_null = sqlite3_column_type(statement_.get(), 1) == SQLITE_NULL;
        row.value_is_blob = sqlite3_column_type(statement_.get(), 1) == SQLITE_BLOB;
        ReadColumnText(statement_.get(), 1, row.value);
        return true;
    }

  private:
    sqlite3* db_;
    Statement statement_;
    const BusyWait& busy_;
    bool finished_ = false;
};

class SqliteDatabase final : public Database {
  public:
    SqliteDatabase(Connection db, Access access) : db_(std::move(db)), access_(access) {
        sqlite3_busy_handler(db_.get(), &BusyWait::Retry, &busy_);
    }

    Dialect dialect() const noexcept override { return Dialect::kSqlite; }
    void SetLockWait(LockWait wait) override { busy_.Set(std::move(wait)); }

    ResolvedTarget Resolve(const Target& named) override {
        ResolvedTarget target(named);
        CheckSingleCondition(target.where, Dialect::kSqlite, Route::kOneStatement);
        // The schema is that of an attached database ("main" for the file
        // itself); none searches them all.
        const QualifiedName qualified = SplitTableName(target.table);
        Statement columns = Prepare(db_.get(), "SELECT name, type FROM pragma_table_info(?1, ?2)");
        BindText(db_.get(), columns.get(), 1, qualified.table);
        if (!qualified.schema.empty()) BindText(db_.get(), columns.get(), 2, qualified.schema);
        bool any = false;
        bool column_found = false;
        bool id_found = target.id.empty();
        while (sqlite3_step(columns.get()) == SQLITE_ROW) {
            any = true;
            const std::string name = ColumnText(columns.get(), 0);
            if (name == target.column) {
                column_found = true;
                const std::string type = ColumnText(columns.get(), 1);
                // No enforced_width: SQLite keeps any length whatever the
                // declared type says.
                if (IsCharacterType(type)) target.width = DeclaredWidth(type);
            }
            id_found = id_found || name == target.id;
        }
        if (!any) throw NoSuchTable(target.table);
        if (!column_found) throw NoSuchColumn(target.table, target.column);
        if (!id_found) throw NoSuchColumn(target.table, target.id);
        target.quoted_table = QuoteIdentifier(qualified.table, "\"");
        if (!qualified.schema.empty())
            target.quoted_table =
                QuoteIdentifier(qualified.schema, "\"") + "." + target.quoted_table;
        target.quoted_column = QuoteIdentifier(target.column, "\"");
        target.quoted_id = target.id.empty() ? "rowid" : QuoteIdentifier(target.id, "\"");
        if (target.id.empty()) {
            sqlite3_stmt* probe = nullptr;
            const std::string sql = "SELECT rowid FROM " + target.quoted_table;
            const int status = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &probe, nullptr);
            sqlite3_finalize(probe);
            if (status != SQLITE_OK)
                throw Error(Error::Kind::kUsage, "table '" + target.table +
                                                     "' has no rowid (WITHOUT ROWID): name "
                                                     "the id column with --id");
        }
        target.id_is_unique = target.id.empty() || IsUniqueColumn(qualified, target.id);
        // Fails here, before any work, for a bad --where.
        Prepare(db_.get(), SelectRowsSql(target), Error::Kind::kUsage);
        return target;
    }

    std::uint64_t CountRows(const ResolvedTarget& target) override {
        Statement count = Prepare(db_.get(), CountRowsSql(target));
        if (sqlite3_step(count.get()) != SQLITE_ROW)
            Fail(db_.get(), Error::Kind::kQuery, "count", &busy_);
        return static_cast<std::uint64_t>(sqlite3_column_int64(count.get(), 0));
    }

    std::uint64_t CountSharedIds(const ResolvedTarget& target) override {
        Statement count = Prepare(db_.get(), CountSharedIdsSql(target));
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

    std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) override {
        return std::make_unique<SqliteCursor>(db_.get(), Prepare(db_.get(), SelectRowsSql(target)),
                                              busy_);
    }

    std::vector<Applied> Apply(const ResolvedTarget& target,
                               std::span<const Update> updates) override {
        // One statement per target: a plan updates several tables in turn.
        std::string sql = UpdateRowSql(target, "?1", "?2", "?3");
        if (!update_ || sql != update_sql_) {
            update_ = Prepare(db_.get(), sql);
            update_sql_ = std::move(sql);
            select_ = Prepare(db_.get(), SelectValueSql(target, "?1"));
            select_range_.reset();
        }
        sqlite3_stmt* statement = update_.get();
        std::vector<Applied> applied(updates.size());
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const Update& update = updates[i];
            sqlite3_reset(statement);
            BindText(db_.get(), statement, 1, update.new_value);
            BindId(statement, 2, *update.row);
            BindText(db_.get(), statement, 3, update.row->value);
            if (sqlite3_step(statement) != SQLITE_DONE)
                Fail(db_.get(), Error::Kind::kQuery, "cannot update row " + update.row->id, &busy_);
            applied[i].rows = static_cast<std::uint64_t>(sqlite3_changes(db_.get()));
        }
        sqlite3_reset(statement);
        // Read back once every row is written, so that what a trigger did to
        // any of them shows.
        if (ReadBackRange(target, updates, applied)) return applied;
        for (std::size_t i = 0; i < updates.size(); ++i) {
            if (applied[i].rows == 0) continue;
            sqlite3_stmt* select = select_.get();
            sqlite3_reset(select);
            BindId(select, 1, *updates[i].row);
            const int status = sqlite3_step(select);
            if (status == SQLITE_ROW) {
                applied[i].stored_is_null = sqlite3_column_type(select, 0) == SQLITE_NULL;
                ReadColumnText(select, 0, applied[i].stored);
            } else if (status == SQLITE_DONE) {
                // A trigger deleted the row.
                applied[i].stored_is_null = true;
            } else {
                Fail(db_.get(), Error::Kind::kQuery, "cannot read back row " + updates[i].row->id,
                     &busy_);
            }
        }
        sqlite3_reset(select_.get());
        return applied;
    }

  private:
    // Rows come in id order, so the rows of one chunk mostly hold the ids
    // of one short range: one scan over it costs a fraction of a look-up per
    // row. Only for integer ids spread no wider than a few times the rows
    // (a sparse --where falls back to look-ups); false when not used.
    bool ReadBackRange(const ResolvedTarget& target, std::span<const Update> updates,
                       std::vector<Applied>& applied) {
        constexpr std::int64_t kMaxSpread = 4;
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::int64_t changed = 0;
        for (std::size_t i = 0; i < updates.size(); ++i) {
            if (applied[i].rows == 0) continue;
            if (!updates[i].row->id_is_integer) return false;
            const std::int64_t id = std::stoll(updates[i].row->id);
            first = changed == 0 ? id : std::min(first, id);
            last = changed == 0 ? id : std::max(last, id);
            ++changed;
        }
        if (changed == 0) return true;
        if (last - first >= kMaxSpread * changed) return false;
        // Which update each id of the range belongs to, -1 for none.
        std::vector<std::ptrdiff_t> owner(static_cast<std::size_t>(last - first + 1), -1);
        for (std::size_t i = 0; i < updates.size(); ++i) {
            if (applied[i].rows == 0) continue;
            owner[static_cast<std::size_t>(std::stoll(updates[i].row->id) - first)] =
                static_cast<std::ptrdiff_t>(i);
            // Until the scan finds it: a row a trigger deleted holds nothing.
            applied[i].stored_is_null = true;
        }
        if (!select_range_)
            select_range_ =
                Prepare(db_.get(), "SELECT " + target.quoted_id + ", " + target.quoted_column +
                                       " FROM " + target.quoted_table + " WHERE " +
                                       target.quoted_id + " BETWEEN ?1 AND ?2");
        sqlite3_stmt* select = select_range_.get();
        sqlite3_reset(select);
        sqlite3_bind_int64(select, 1, first);
        sqlite3_bind_int64(select, 2, last);
        int status = SQLITE_ROW;
        while ((status = sqlite3_step(select)) == SQLITE_ROW) {
            if (sqlite3_column_type(select, 0) != SQLITE_INTEGER) continue;
            const std::int64_t id = sqlite3_column_int64(select, 0);
            if (id < first || id > last) continue;
            const std::ptrdiff_t index = owner[static_cast<std::size_t>(id - first)];
            if (index < 0) continue;
            Applied& row = applied[static_cast<std::size_t>(index)];
            row.stored_is_null = sqlite3_column_type(select, 1) == SQLITE_NULL;
            ReadColumnText(select, 1, row.stored);
        }
        if (status != SQLITE_DONE)
            Fail(db_.get(), Error::Kind::kQuery, "cannot read back rows", &busy_);
        sqlite3_reset(select);
        return true;
    }

    void BindId(sqlite3_stmt* statement, int index, const Row& row) {
        if (row.id_is_integer) {
            sqlite3_bind_int64(statement, index, std::stoll(row.id));
        } else {
            BindText(db_.get(), statement, index, row.id);
        }
    }

    // The table's only primary-key column, or the one column of a unique
    // index that covers every row.
    bool IsUniqueColumn(const QualifiedName& table, const std::string& column) {
        Statement unique = Prepare(
            db_.get(),
            "SELECT (SELECT COUNT(*) FROM pragma_table_info(?1, ?3) WHERE pk > 0) = 1 AND EXISTS "
            "(SELECT 1 FROM pragma_table_info(?1, ?3) WHERE pk > 0 AND name = ?2) OR EXISTS "
            "(SELECT 1 FROM pragma_index_list(?1, ?3) AS l WHERE l.\"unique\" AND NOT l.partial "
            "AND (SELECT COUNT(*) FROM pragma_index_info(l.name, ?3)) = 1 AND (SELECT name FROM "
            "pragma_index_info(l.name, ?3)) = ?2)");
        BindText(db_.get(), unique.get(), 1, table.table);
        BindText(db_.get(), unique.get(), 2, column);
        if (!table.schema.empty()) BindText(db_.get(), unique.get(), 3, table.schema);
        return sqlite3_step(unique.get()) == SQLITE_ROW && sqlite3_column_int(unique.get(), 0) != 0;
    }

    void Execute(const char* sql) {
        if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(db_.get(), Error::Kind::kQuery, sql, &busy_);
    }

    Connection db_;
    Access access_;
    BusyWait busy_;
    Statement update_{nullptr, &sqlite3_finalize};
    Statement select_{nullptr, &sqlite3_finalize};
    Statement select_range_{nullptr, &sqlite3_finalize};
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
    // SQLite reads the file only when first asked: ask now, so that a file
    // that is no database is as unusable as one that cannot be opened.
    if (sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) ==
        SQLITE_NOTADB)
        throw Error(Error::Kind::kUnreachable,
                    "cannot open " + path + ": " + sqlite3_errmsg(db.get()));
    return std::make_unique<SqliteDatabase>(std::move(db), access);
}

}  // namespace tarvola::tool::db
