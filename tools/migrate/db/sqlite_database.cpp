// SQLite through libsqlite3: the default id is the rowid, which every
// ordinary table has; a writer waits for another one as long as --lock-timeout
// allows, without limit by default.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "migrate/db/database.h"

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
        // Giving up ends the statement with SQLITE_BUSY.
        if (wait_.StopRequested()) return 0;
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

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

// Whether a column type names a character type (CHAR, VARCHAR, NCHAR, …).
bool IsCharacterType(std::string_view type) {
    return Upper(type).find("CHAR") != std::string::npos;
}

// Whether SQLite turns text stored in a column of this declared type into a
// number where it can: INTEGER and REAL affinity, and the NUMERIC names of
// numbers, truth values and dates. Text, BLOB, no type at all, and the odd
// names (STRING, JSON) keep a text as it is.
bool HoldsNoText(std::string_view type) {
    const std::string upper = Upper(type);
    const auto has = [&upper](std::string_view part) {
        return upper.find(part) != std::string::npos;
    };
    if (has("INT")) return true;
    if (has("CHAR") || has("CLOB") || has("TEXT") || has("BLOB")) return false;
    for (const std::string_view numeric :
         {"REAL", "FLOA", "DOUB", "NUMERIC", "DECIMAL", "BOOL", "DATE", "TIME"})
        if (has(numeric)) return true;
    return false;
}

class SqliteCursor final : public RowCursor {
  public:
    SqliteCursor(std::size_t key_columns, sqlite3* db, Statement statement, const BusyWait& busy)
        : key_columns_(key_columns), db_(db), statement_(std::move(statement)), busy_(busy) {}

    bool Next(Row& row) override {
        // Stepping a finished statement would start it over.
        if (finished_) return false;
        const int status = sqlite3_step(statement_.get());
        if (status == SQLITE_DONE) {
            finished_ = true;
            return false;
        }
        if (status != SQLITE_ROW) Fail(db_, Error::Kind::kQuery, "cannot read the rows", &busy_);
        row.key.resize(key_columns_);
        for (std::size_t i = 0; i < key_columns_; ++i) {
            const int column = static_cast<int>(i);
            const int type = sqlite3_column_type(statement_.get(), column);
            ReadColumnText(statement_.get(), column, row.key[i].text);
            row.key[i].is_null = type == SQLITE_NULL;
            row.key[i].is_integer = type == SQLITE_INTEGER;
        }
        const int value = static_cast<int>(key_columns_);
        row.value_is_null = sqlite3_column_type(statement_.get(), value) == SQLITE_NULL;
        row.value_is_blob = sqlite3_column_type(statement_.get(), value) == SQLITE_BLOB;
        ReadColumnText(statement_.get(), value, row.value);
        return true;
    }

  private:
    std::size_t key_columns_;
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

    // The schema is that of an attached database ("main" for the file
    // itself); none searches them all.
    ResolvedTarget Resolve(const Target& named) override {
        std::string column_type;
        ResolvedTarget target = ResolveNames(
            named, Dialect::kSqlite, Route::kOneStatement, "\"", [&](const QualifiedName& name) {
                return ReadCatalogue(name, named.column, column_type);
            });
        if (HoldsNoText(column_type)) throw NotTextColumn(target.column, column_type);
        target.column_type = column_type;
        // No enforced_width: SQLite keeps any length whatever the declared
        // type says.
        if (IsCharacterType(column_type)) target.width = DeclaredWidth(column_type);
        Statement kind = Prepare(
            db_.get(),
            "SELECT type = 'view' FROM pragma_table_list(?1) WHERE ?2 IS NULL OR schema = ?2");
        BindName(kind.get(), target.name);
        target.is_view =
            sqlite3_step(kind.get()) == SQLITE_ROW && sqlite3_column_int(kind.get(), 0) != 0;
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
        if (InTransaction()) return;
        Execute(access_ == Access::kReadOnly ? "BEGIN DEFERRED" : "BEGIN IMMEDIATE");
    }
    void BeginReading() override {
        if (!InTransaction()) Execute("BEGIN DEFERRED");
    }
    void Commit() override { Execute("COMMIT"); }
    void Rollback() override { Execute("ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) override {
        return std::make_unique<SqliteCursor>(target.key.size(), db_.get(),
                                              Prepare(db_.get(), SelectRowsSql(target)), busy_);
    }

    std::vector<std::uint64_t> Apply(const ResolvedTarget& target,
                                     std::span<const Update> updates) override {
        sqlite3_stmt* statement = Cached(UpdateRowSql(target, Dialect::kSqlite));
        std::vector<std::uint64_t> applied(updates.size());
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const Update& update = updates[i];
            sqlite3_reset(statement);
            BindText(db_.get(), statement, 1, update.new_value);
            BindKey(statement, 2, update.row->key);
            BindText(db_.get(), statement, static_cast<int>(update.row->key.size()) + 2,
                     update.row->value);
            if (sqlite3_step(statement) != SQLITE_DONE)
                Fail(db_.get(), Error::Kind::kQuery,
                     "cannot update row " + RowName(update.row->key), &busy_);
            applied[i] = static_cast<std::uint64_t>(sqlite3_changes(db_.get()));
        }
        sqlite3_reset(statement);
        return applied;
    }

    // SQLite runs every trigger with its statement: nothing waits for the
    // commit but foreign keys, which the commit itself checks.
    void RunDeferredChecks() override {}

    std::vector<Stored> ReadBack(const ResolvedTarget& target,
                                 std::span<const RowKey> keys) override {
        std::vector<Stored> stored(keys.size());
        if (ReadBackRange(target, keys, stored)) return stored;
        sqlite3_stmt* select = Cached(SelectValueSql(target));
        for (std::size_t i = 0; i < keys.size(); ++i) {
            sqlite3_reset(select);
            BindKey(select, 1, keys[i]);
            const int status = sqlite3_step(select);
            if (status == SQLITE_ROW) {
                stored[i].found = true;
                stored[i].is_null = sqlite3_column_type(select, 0) == SQLITE_NULL;
                ReadColumnText(select, 0, stored[i].value);
            } else if (status != SQLITE_DONE) {
                Fail(db_.get(), Error::Kind::kQuery, "cannot read back row " + RowName(keys[i]),
                     &busy_);
            }
        }
        sqlite3_reset(select);
        return stored;
    }

  private:
    bool InTransaction() noexcept { return sqlite3_get_autocommit(db_.get()) == 0; }

    // One scan over a dense range of integer keys (stored as integers: a
    // text that reads as a number would not be found by one); false when
    // not used.
    bool ReadBackRange(const ResolvedTarget& target, std::span<const RowKey> keys,
                       std::vector<Stored>& stored) {
        if (std::any_of(keys.begin(), keys.end(),
                        [](const RowKey& key) { return !key.front().is_integer; }))
            return false;
        const std::optional<KeyRange> range = DenseIntegerRange(keys);
        if (!range) return false;
        sqlite3_stmt* select = Cached("SELECT " + target.key.front().quoted + ", " +
                                      target.quoted_column + " FROM " + target.quoted_table +
                                      " WHERE " + target.key.front().quoted + " BETWEEN ?1 AND ?2");
        sqlite3_reset(select);
        sqlite3_bind_int64(select, 1, range->first);
        sqlite3_bind_int64(select, 2, range->last);
        int status = SQLITE_ROW;
        while ((status = sqlite3_step(select)) == SQLITE_ROW) {
            if (sqlite3_column_type(select, 0) != SQLITE_INTEGER) continue;
            const std::ptrdiff_t index = range->OwnerOf(sqlite3_column_int64(select, 0));
            if (index < 0) continue;
            Stored& row = stored[static_cast<std::size_t>(index)];
            row.found = true;
            row.is_null = sqlite3_column_type(select, 1) == SQLITE_NULL;
            ReadColumnText(select, 1, row.value);
        }
        if (status != SQLITE_DONE)
            Fail(db_.get(), Error::Kind::kQuery, "cannot read back rows", &busy_);
        sqlite3_reset(select);
        return true;
    }

    sqlite3_stmt* Cached(const std::string& sql) {
        return statements_
            .Get(sql, [this](const std::string& text) { return Prepare(db_.get(), text); })
            .get();
    }

    // The key values from parameter `first` on.
    void BindKey(sqlite3_stmt* statement, int first, const RowKey& key) {
        for (std::size_t i = 0; i < key.size(); ++i) {
            const int index = first + static_cast<int>(i);
            if (key[i].is_null) {
                sqlite3_bind_null(statement, index);
            } else if (key[i].is_integer) {
                sqlite3_bind_int64(statement, index, std::stoll(key[i].text));
            } else {
                BindText(db_.get(), statement, index, key[i].text);
            }
        }
    }

    bool HasRowid(const std::string& quoted_table) {
        sqlite3_stmt* probe = nullptr;
        const std::string sql = "SELECT rowid FROM " + quoted_table;
        const int status = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &probe, nullptr);
        sqlite3_finalize(probe);
        return status == SQLITE_OK;
    }

    // The columns of the table `name` (and the declared type of `column`
    // among them), its primary key, its unique indexes, and the rowid that
    // keys a table without a primary key.
    TableCatalogue ReadCatalogue(const QualifiedName& name, const std::string& column,
                                 std::string& column_type) {
        TableCatalogue catalogue;
        Statement columns =
            Prepare(db_.get(), "SELECT name, type, pk FROM pragma_table_info(?1, ?2) ORDER BY pk");
        BindName(columns.get(), name);
        bool shadows_rowid = false;
        while (sqlite3_step(columns.get()) == SQLITE_ROW) {
            std::string text = ColumnText(columns.get(), 0);
            if (text == column) column_type = ColumnText(columns.get(), 1);
            shadows_rowid = shadows_rowid || Upper(text) == "ROWID";
            if (sqlite3_column_int(columns.get(), 2) > 0) catalogue.primary_key.push_back(text);
            catalogue.columns.push_back(std::move(text));
        }
        if (catalogue.columns.empty()) return catalogue;
        if (!catalogue.primary_key.empty()) catalogue.unique_keys.push_back(catalogue.primary_key);
        Statement indexes =
            Prepare(db_.get(),
                    "SELECT l.name, i.name FROM pragma_index_list(?1, ?2) AS l, "
                    "pragma_index_info(l.name, ?2) AS i WHERE l.\"unique\" AND NOT l.partial "
                    "ORDER BY l.name");
        BindName(indexes.get(), name);
        std::string index;
        while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
            const std::string next = ColumnText(indexes.get(), 0);
            if (next != index || catalogue.unique_keys.empty()) {
                catalogue.unique_keys.emplace_back();
                index = next;
            }
            // An expression in the index has no column name: never a match.
            catalogue.unique_keys.back().push_back(sqlite3_column_type(indexes.get(), 1) ==
                                                           SQLITE_NULL
                                                       ? std::string(1, '\0')
                                                       : ColumnText(indexes.get(), 1));
        }
        if (HasRowid(QuotedTable(name, "\""))) {
            catalogue.implicit_key = KeyColumn{{}, "rowid", {}, 0, true};
            if (shadows_rowid)
                catalogue.implicit_key_refusal =
                    "table '" + name.table +
                    "' has a column named rowid, which hides SQLite's own: name the id column "
                    "(or columns) with --id";
        }
        return catalogue;
    }

    // Binds the table and, when given, the schema as parameters 1 and 2.
    void BindName(sqlite3_stmt* statement, const QualifiedName& name) {
        BindText(db_.get(), statement, 1, name.table);
        if (!name.schema.empty()) BindText(db_.get(), statement, 2, name.schema);
    }

    void Execute(const char* sql) {
        if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            Fail(db_.get(), Error::Kind::kQuery, sql, &busy_);
    }

    Connection db_;
    Access access_;
    BusyWait busy_;
    StatementCache<Statement> statements_;
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
