// SQLite through libsqlite3: the default id is the rowid, which every
// ordinary table has; a writer waits up to a while for another one.
#include <sqlite3.h>

#include <algorithm>

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
    explicit SqliteDatabase(Connection db) : db_(std::move(db)) {}

    void Resolve(Target& target) override {
        Statement columns = Prepare(db_.get(), "SELECT name FROM pragma_table_info(?1)");
        BindText(db_.get(), columns.get(), 1, target.table);
        bool any = false;
        bool column_found = false;
        bool id_found = target.id.empty();
        while (sqlite3_step(columns.get()) == SQLITE_ROW) {
            any = true;
            const std::string name = ColumnText(columns.get(), 0);
            column_found = column_found || name == target.column;
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
        target.id_is_unique = target.id.empty() || IsUniqueColumn(target.table, target.id);
        // SQLite keeps any length whatever the declared type says.
        target.max_length.reset();
        // Fails here, before any work, for a table WITHOUT ROWID and a bad --where.
        Prepare(db_.get(), SelectRowsSql(target), Error::Kind::kUsage);
    }

    std::uint64_t CountRows(const Target& target) override {
        Statement count = Prepare(db_.get(), CountRowsSql(target));
        if (sqlite3_step(count.get()) != SQLITE_ROW) Fail(db_.get(), Error::Kind::kQuery, "count");
        return static_cast<std::uint64_t>(sqlite3_column_int64(count.get(), 0));
    }

    std::uint64_t CountSharedIds(const Target& target) override {
        Statement count = Prepare(db_.get(), CountSharedIdsSql(target));
        if (sqlite3_step(count.get()) != SQLITE_ROW) Fail(db_.get(), Error::Kind::kQuery, "count");
        return static_cast<std::uint64_t>(sqlite3_column_int64(count.get(), 0));
    }

    // IMMEDIATE takes the write lock now, so that a concurrent writer makes
    // us wait at the start instead of failing halfway.
    void Begin() override { Execute("BEGIN IMMEDIATE"); }
    void Commit() override { Execute("COMMIT"); }
    void Rollback() override { Execute("ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const Target& target) override {
        return std::make_unique<SqliteCursor>(db_.get(), Prepare(db_.get(), SelectRowsSql(target)));
    }

    std::vector<Applied> Apply(const Target& target, std::span<const Update> updates) override {
        if (!update_) update_ = Prepare(db_.get(), UpdateRowSql(target, "?1", "?2", "?3"));
        if (!select_) select_ = Prepare(db_.get(), SelectValueSql(target, "?1"));
        sqlite3_stmt* statement = update_.get();
        std::vector<Applied> applied(updates.size());
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const Update& update = updates[i];
            sqlite3_reset(statement);
            BindText(db_.get(), statement, 1, update.new_value);
            BindId(statement, 2, *update.row);
            BindText(db_.get(), statement, 3, update.row->value);
            if (sqlite3_step(statement) != SQLITE_DONE)
                Fail(db_.get(), Error::Kind::kQuery, "cannot update row " + update.row->id);
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
            if (sqlite3_step(select) == SQLITE_ROW) {
                applied[i].stored_is_null = sqlite3_column_type(select, 0) == SQLITE_NULL;
                ReadColumnText(select, 0, applied[i].stored);
            } else {
                applied[i].stored_is_null = true;
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
    bool ReadBackRange(const Target& target, std::span<const Update> updates,
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
        if (status != SQLITE_DONE) Fail(db_.get(), Error::Kind::kQuery, "cannot read back rows");
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
    bool IsUniqueColumn(const std::string& table, const std::string& column) {
        Statement unique = Prepare(
            db_.get(),
            "SELECT (SELECT COUNT(*) FROM pragma_table_info(?1) WHERE pk > 0) = 1 AND EXISTS "
            "(SELECT 1 FROM pragma_table_info(?1) WHERE pk > 0 AND name = ?2) OR EXISTS (SELECT "
            "1 FROM pragma_index_list(?1) AS l WHERE l.\"unique\" AND NOT l.partial AND (SELECT "
            "COUNT(*) FROM pragma_index_info(l.name)) = 1 AND (SELECT name FROM "
            "pragma_index_info(l.name)) = ?2)");
        BindText(db_.get(), unique.get(), 1, table);
        BindText(db_.get(), unique.get(), 2, column);
        return sqlite3_step(unique.get()) == SQLITE_ROW && sqlite3_column_int(unique.get(), 0) != 0;
    }

    void Execute(const char* sql) {
        if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(db_.get(), Error::Kind::kQuery, sql);
    }

    Connection db_;
    Statement update_{nullptr, &sqlite3_finalize};
    Statement select_{nullptr, &sqlite3_finalize};
    Statement select_range_{nullptr, &sqlite3_finalize};
};

}  // namespace

std::unique_ptr<Database> ConnectSqlite(const std::string& path) {
    sqlite3* raw = nullptr;
    // No CREATE: a mistyped path must not become a new empty database.
    const int status = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    Connection db(raw, &sqlite3_close);
    if (status != SQLITE_OK)
        throw Error(Error::Kind::kUnreachable,
                    "cannot open " + path + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    return std::make_unique<SqliteDatabase>(std::move(db));
}

}  // namespace tarvola::tool::db
