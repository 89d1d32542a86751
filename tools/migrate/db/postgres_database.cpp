// PostgreSQL through libpq. Rows come through a server-side cursor (WITH
// HOLD, so that it survives the commits of a batched run); updates go as one
// multi-row UPDATE … FROM (VALUES …) per chunk, one round trip for many rows,
// and so do the read-backs.
// Every statement goes through the extended protocol, which takes exactly one
// statement, and is awaited on the socket, so that a long wait for a lock can
// be told while it lasts.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "migrate/db/database.h"
#include "migrate/db/postgres_catalogue.h"

namespace tarvola::tool::db {
namespace {

constexpr int kFetchRows = 1000;
// The type of every parameter: text, sent in binary format, which is the
// bytes themselves with their length, so that nothing depends on a
// terminator. The statement casts each to the column's type, less any length.
constexpr Oid kTextOid = 25;
// PostgreSQL's SQLSTATE for a lock wait ended by lock_timeout.
constexpr std::string_view kLockNotAvailable = "55P03";

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string Text(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column),
                       static_cast<std::size_t>(PQgetlength(result, row, column)));
}

// One connection and how it waits for locks; every statement goes through
// it.
class Session {
  public:
    explicit Session(Connection conn) : conn_(std::move(conn)) {}

    [[nodiscard]] PGconn* get() const noexcept { return conn_.get(); }
    void SetLockWait(LockWait wait) { wait_ = std::move(wait); }

    ResultPtr Execute(const std::string& sql, Error::Kind kind = Error::Kind::kQuery) {
        Sent(PQsendQueryParams(conn_.get(), sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0),
             sql, kind);
        return Await(sql, kind);
    }

    // The result of the statement just sent; calls on_long_wait once when it
    // keeps us waiting, and cancels it when the run is asked to stop.
    ResultPtr Await(std::string_view what, Error::Kind kind = Error::Kind::kQuery) {
        const auto start = std::chrono::steady_clock::now();
        bool told = false;
        bool cancelled = false;
        while (PQisBusy(conn_.get()) != 0) {
            pollfd socket{PQsocket(conn_.get()), POLLIN, 0};
            if (poll(&socket, 1, kStopPollMilliseconds) < 0 && errno != EINTR) break;
            if (PQconsumeInput(conn_.get()) == 0) break;
            if (!cancelled && wait_.StopRequested()) {
                cancelled = true;
                Cancel();
            }
            if (!told && wait_.on_long_wait &&
                std::chrono::steady_clock::now() - start >=
                    std::chrono::seconds(kLongWaitSeconds)) {
                told = true;
                wait_.on_long_wait();
            }
        }
        ResultPtr result(PQgetResult(conn_.get()), &PQclear);
        while (PGresult* more = PQgetResult(conn_.get())) PQclear(more);
        return Check(std::move(result), what, kind);
    }

    void Sent(int status, std::string_view what, Error::Kind kind) {
        if (status == 0) Fail(nullptr, what, kind);
    }

  private:
    // Asks the server to cancel the statement running: it then ends with an
    // error, which ends the run.
    void Cancel() noexcept {
        PGcancel* cancel = PQgetCancel(conn_.get());
        if (cancel == nullptr) return;
        std::array<char, 256> error{};
        (void)PQcancel(cancel, error.data(), static_cast<int>(error.size()));
        PQfreeCancel(cancel);
    }

    ResultPtr Check(ResultPtr result, std::string_view what, Error::Kind kind) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(result.get(), what, kind);
        return result;
    }

    [[noreturn]] void Fail(const PGresult* result, std::string_view what, Error::Kind kind) {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        if (state != nullptr && state == kLockNotAvailable && wait_.timeout_seconds != 0)
            throw Error(Error::Kind::kQuery, LockTimeoutMessage(wait_.timeout_seconds));
        std::string message = PQerrorMessage(conn_.get());
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw Error(kind, std::string(what) + ": " + message);
    }

    Connection conn_;
    LockWait wait_;
};

class PostgresCursor final : public RowCursor {
  public:
    PostgresCursor(Session& session, std::string name, std::size_t key_columns)
        : session_(session), name_(std::move(name)), key_columns_(key_columns) {}
    PostgresCursor(const PostgresCursor&) = delete;
    PostgresCursor& operator=(const PostgresCursor&) = delete;
    // A held cursor outlives its transaction: closed here, so that the
    // connection can open the next one. After a rollback it is gone already,
    // and the error is of no interest.
    ~PostgresCursor() override { PQclear(PQexec(session_.get(), ("CLOSE " + name_).c_str())); }

    bool Next(Row& row) override {
        if (next_ == PQntuples(batch_.get())) {
            batch_ =
                session_.Execute("FETCH FORWARD " + std::to_string(kFetchRows) + " FROM " + name_);
            next_ = 0;
            if (PQntuples(batch_.get()) == 0) return false;
        }
        row.key.resize(key_columns_);
        for (std::size_t i = 0; i < key_columns_; ++i) {
            const int column = static_cast<int>(i);
            row.key[i].text = Text(batch_.get(), next_, column);
            row.key[i].is_null = PQgetisnull(batch_.get(), next_, column) != 0;
            row.key[i].is_integer = false;
        }
        const int value = static_cast<int>(key_columns_);
        row.value_is_null = PQgetisnull(batch_.get(), next_, value) != 0;
        row.value = Text(batch_.get(), next_, value);
        ++next_;
        return true;
    }

  private:
    Session& session_;
    std::string name_;
    std::size_t key_columns_;
    ResultPtr batch_{nullptr, &PQclear};
    int next_ = 0;
};

// (0,$1,$2,…),(1,$4,…): each row's place in the chunk, then `columns`
// parameters, as a VALUES list.
std::string ValuesSql(std::size_t rows, std::size_t columns) {
    std::string sql = "(VALUES ";
    std::size_t parameter = 1;
    for (std::size_t i = 0; i < rows; ++i) {
        sql += (i == 0 ? "(" : ",(") + std::to_string(i);
        for (std::size_t j = 0; j < columns; ++j) sql += ",$" + std::to_string(parameter++);
        sql += ')';
    }
    return sql + ')';
}

// v(i, k0, k1, …, rest…) and t.k0 = v.k0::type AND …: the VALUES list's
// names, and the join of its key values to the target's rows.
std::string ValuesNames(const ResolvedTarget& target, std::string_view rest) {
    std::string names = "v(i";
    for (std::size_t j = 0; j < target.key.size(); ++j) names += ", k" + std::to_string(j);
    return names + std::string(rest) + ")";
}

std::string KeyJoinSql(const ResolvedTarget& target) {
    std::string sql;
    for (std::size_t j = 0; j < target.key.size(); ++j)
        sql += (j == 0 ? "t." : " AND t.") + target.key[j].quoted + " = v.k" + std::to_string(j) +
               "::" + target.key[j].cast_type;
    return sql;
}

// UPDATE t SET c = v.n::type FROM (VALUES (0,$1,…,$o,$n),…) AS v(i, k0, …, o, n)
// WHERE t.k0 = v.k0::type … AND t.c = v.o::type RETURNING v.i
// The types carry no length: an explicit cast to varchar(n) or char(n) cuts
// a longer value silently, where assigning it to the column is refused.
// RETURNING names each row the statement changed, so that every update
// gets its own count; what the rows hold is read back before the commit.
std::string MultiRowUpdateSql(const ResolvedTarget& target, std::size_t rows) {
    return "UPDATE " + target.quoted_table + " AS t SET " + target.quoted_column +
           " = v.n::" + target.column_cast_type + " FROM " +
           ValuesSql(rows, target.key.size() + 2) + " AS " + ValuesNames(target, ", o, n") +
           " WHERE " + KeyJoinSql(target) + " AND t." + target.quoted_column +
           " = v.o::" + target.column_cast_type + " RETURNING v.i";
}

// UPDATE t SET c = $1::type WHERE k0 = $2::type … AND c = $n::type: one row
// a statement, for a relation whose rules rewrite an UPDATE and refuse a
// RETURNING; the statement's own count tells what it changed.
std::string SingleRowUpdateSql(const ResolvedTarget& target) {
    std::string sql = "UPDATE " + target.quoted_table + " SET " + target.quoted_column +
                      " = $1::" + target.column_cast_type + " WHERE ";
    for (std::size_t j = 0; j < target.key.size(); ++j)
        sql += target.key[j].quoted + " = $" + std::to_string(j + 2) +
               "::" + target.key[j].cast_type + " AND ";
    return sql + target.quoted_column + " = $" + std::to_string(target.key.size() + 2) +
           "::" + target.column_cast_type;
}

// SELECT v.i, t.c FROM (VALUES (0,$1,…),…) AS v(i, k0, …) JOIN table AS t
// ON t.k0 = v.k0::type …: the rows with these keys as they are now.
std::string MultiRowReadBackSql(const ResolvedTarget& target, std::size_t rows) {
    return "SELECT v.i, t." + target.quoted_column + " FROM " + ValuesSql(rows, target.key.size()) +
           " AS " + ValuesNames(target, {}) + " JOIN " + target.quoted_table + " AS t ON " +
           KeyJoinSql(target);
}

// The integer types, by the catalogue names their casts use.
bool IsIntegerType(std::string_view cast_type) noexcept {
    return cast_type == "pg_catalog.int2" || cast_type == "pg_catalog.int4" ||
           cast_type == "pg_catalog.int8";
}

struct ColumnDescription {
    std::string base_type;
    std::optional<std::uint64_t> width;
    bool blank_padded = false;
    std::string category;
    std::string declared;
};

class PostgresDatabase final : public Database {
  public:
    PostgresDatabase(Connection conn, Access access) : session_(std::move(conn)), access_(access) {
        // Every transaction of this session read-only, also the implicit one
        // of a single statement outside Begin.
        if (access == Access::kReadOnly)
            session_.Execute("SET default_transaction_read_only = on", Error::Kind::kUnreachable);
    }

    Dialect dialect() const noexcept override { return Dialect::kPostgres; }

    void SetLockWait(LockWait wait) override {
        // Session-wide, before any transaction, so that no rollback undoes it.
        if (wait.timeout_seconds != 0)
            session_.Execute("SET lock_timeout = " + std::to_string(wait.timeout_seconds * 1000));
        session_.SetLockWait(std::move(wait));
    }

    // Each part of the name quoted our way and read by to_regclass: the
    // names are taken exactly as given, never parsed as SQL.
    ResolvedTarget Resolve(const Target& named) override {
        ResolvedTarget target =
            ResolveNames(named, Dialect::kPostgres, Route::kOneStatement, "\"",
                         [this](const QualifiedName& name) { return ReadCatalogue(name); });
        const ColumnDescription column = Describe(target.quoted_table, target.column);
        if (column.category != kStringCategory) throw NotTextColumn(target.column, column.declared);
        target.column_type = column.declared;
        target.column_cast_type = column.base_type;
        target.width = column.width;
        target.enforced_width = column.width;
        target.blank_padded = column.blank_padded;
        for (KeyColumn& key : target.key) {
            const ColumnDescription described = Describe(target.quoted_table, key.name);
            key.cast_type = described.base_type;
            key.is_integer = described.category == kNumberCategory;
        }
        ResultPtr security =
            Query(RowSecuritySql("$1"), {target.quoted_table}, Error::Kind::kQuery);
        target.hidden_by_row_security = Text(security.get(), 0, 0) == "t";
        ResultPtr kind = Query(
            "SELECT c.relkind IN ('v', 'm'), EXISTS (SELECT 1 FROM pg_rewrite r WHERE "
            "r.ev_class = c.oid AND r.ev_type = '2') FROM pg_class c WHERE c.oid = to_regclass($1)",
            {target.quoted_table}, Error::Kind::kQuery);
        target.is_view = Text(kind.get(), 0, 0) == "t";
        target.rewritten_by_rules = Text(kind.get(), 0, 1) == "t";
        // A bad --where fails here, before any work.
        session_.Execute("EXPLAIN " + SelectRowsSql(target), Error::Kind::kUsage);
        return target;
    }

    std::uint64_t CountRows(const ResolvedTarget& target) override {
        ResultPtr count = session_.Execute(CountRowsSql(target));
        return std::stoull(Text(count.get(), 0, 0));
    }

    std::uint64_t CountSharedIds(const ResolvedTarget& target) override {
        ResultPtr count = session_.Execute(CountSharedIdsSql(target));
        return std::stoull(Text(count.get(), 0, 0));
    }

    void Begin() override {
        if (!in_transaction_)
            session_.Execute(access_ == Access::kReadOnly ? "BEGIN READ ONLY" : "BEGIN");
        in_transaction_ = true;
    }
    void BeginReading() override {
        if (!in_transaction_) session_.Execute("BEGIN READ ONLY");
        in_transaction_ = true;
    }
    void Commit() override {
        in_transaction_ = false;
        session_.Execute("COMMIT");
    }
    void Rollback() override {
        in_transaction_ = false;
        session_.Execute("ROLLBACK");
    }

    std::unique_ptr<RowCursor> OpenRows(const ResolvedTarget& target) override {
        // A name per cursor: a held one lives on after its commit, and a
        // plan opens one per target on the same connection.
        std::string name = "tarvola_rows_" + std::to_string(++cursors_);
        session_.Execute("DECLARE " + name + " NO SCROLL CURSOR WITH HOLD FOR " +
                         SelectRowsSql(target));
        return std::make_unique<PostgresCursor>(session_, std::move(name), target.key.size());
    }

    std::vector<std::uint64_t> Apply(const ResolvedTarget& target,
                                     std::span<const Update> updates) override {
        PlanForKeys();
        std::vector<std::uint64_t> applied(updates.size());
        if (target.rewritten_by_rules) {
            const std::string sql = SingleRowUpdateSql(target);
            for (std::size_t i = 0; i < updates.size(); ++i) {
                Parameters parameters;
                parameters.Add(updates[i].new_value);
                for (const KeyValue& key : updates[i].row->key) parameters.Add(key.text);
                parameters.Add(updates[i].row->value);
                ResultPtr result = Run(sql, true, parameters, "cannot update the rows");
                const std::string_view count = PQcmdTuples(result.get());
                applied[i] = count.empty() ? 0 : std::stoull(std::string(count));
            }
            return applied;
        }
        const std::size_t step = RowsPerStatement(target.key.size() + 2);
        for (std::size_t first = 0; first < updates.size(); first += step) {
            const auto chunk = updates.subspan(first, std::min(step, updates.size() - first));
            Parameters parameters;
            for (const Update& update : chunk) {
                for (const KeyValue& key : update.row->key) parameters.Add(key.text);
                parameters.Add(update.row->value);
                parameters.Add(update.new_value);
            }
            ResultPtr result = Run(MultiRowUpdateSql(target, chunk.size()), chunk.size() == step,
                                   parameters, "cannot update the rows");
            for (int i = 0; i < PQntuples(result.get()); ++i)
                ++applied[first + std::stoull(Text(result.get(), i, 0))];
        }
        return applied;
    }

    void RunDeferredChecks() override { session_.Execute("SET CONSTRAINTS ALL IMMEDIATE"); }

    std::vector<Stored> ReadBack(const ResolvedTarget& target,
                                 std::span<const RowKey> keys) override {
        PlanForKeys();
        std::vector<Stored> stored(keys.size());
        if (IsIntegerType(target.key.front().cast_type)) {
            if (const std::optional<KeyRange> range = DenseIntegerRange(keys)) {
                ReadBackRange(target, *range, stored);
                return stored;
            }
        }
        const std::size_t step = RowsPerStatement(target.key.size());
        for (std::size_t first = 0; first < keys.size(); first += step) {
            const auto chunk = keys.subspan(first, std::min(step, keys.size() - first));
            Parameters parameters;
            for (const RowKey& key : chunk)
                for (const KeyValue& value : key) parameters.Add(value.text);
            ResultPtr result = Run(MultiRowReadBackSql(target, chunk.size()), chunk.size() == step,
                                   parameters, "cannot read back the rows");
            for (int i = 0; i < PQntuples(result.get()); ++i)
                stored[first + std::stoull(Text(result.get(), i, 0))] =
                    Stored{true, PQgetisnull(result.get(), i, 1) != 0, Text(result.get(), i, 1)};
        }
        return stored;
    }

  private:
    // The rows of a dense range of integer keys, by one index range scan.
    void ReadBackRange(const ResolvedTarget& target, const KeyRange& range,
                       std::vector<Stored>& stored) {
        const std::string first = std::to_string(range.first);
        const std::string last = std::to_string(range.last);
        Parameters parameters;
        parameters.Add(first);
        parameters.Add(last);
        const KeyColumn& key = target.key.front();
        ResultPtr result = Run("SELECT " + key.quoted + ", " + target.quoted_column + " FROM " +
                                   target.quoted_table + " WHERE " + key.quoted +
                                   " BETWEEN $1::" + key.cast_type + " AND $2::" + key.cast_type,
                               true, parameters, "cannot read back the rows");
        for (int i = 0; i < PQntuples(result.get()); ++i) {
            const std::ptrdiff_t index = range.OwnerOf(std::stoll(Text(result.get(), i, 0)));
            if (index >= 0)
                stored[static_cast<std::size_t>(index)] =
                    Stored{true, PQgetisnull(result.get(), i, 1) != 0, Text(result.get(), i, 1)};
        }
    }

    // Parameters of one statement: all text, sent in binary format, which is
    // the bytes themselves with their length, so that nothing depends on a
    // terminator. The statement casts each to its column's type.
    struct Parameters {
        std::vector<const char*> values;
        std::vector<int> lengths;

        void Add(std::string_view text) {
            values.push_back(text.data());
            lengths.push_back(static_cast<int>(text.size()));
        }
    };

    // Each statement here touches a few hundred rows by key. Without fresh
    // statistics (a table just loaded) the planner prefers hashing the list
    // and scanning the whole table, once per statement: quadratic in the
    // table size. Only this session's plans change.
    void PlanForKeys() {
        if (planner_set_) return;
        session_.Execute("SET enable_hashjoin = off");
        session_.Execute("SET enable_mergejoin = off");
        planner_set_ = true;
    }

    // Runs `sql` with `parameters`; a statement that recurs (a full chunk)
    // is prepared once and run by name.
    ResultPtr Run(const std::string& sql, bool recurs, const Parameters& parameters,
                  std::string_view what, Error::Kind kind = Error::Kind::kQuery) {
        const int count = static_cast<int>(parameters.values.size());
        const std::vector<int> formats(parameters.values.size(), 1);
        const std::vector<Oid> types(parameters.values.size(), kTextOid);
        if (recurs) {
            const std::string& name = prepared_.Get(sql, [&](const std::string& text) {
                std::string named = "tarvola_statement_" + std::to_string(++statements_);
                session_.Sent(
                    PQsendPrepare(session_.get(), named.c_str(), text.c_str(), count, types.data()),
                    what, Error::Kind::kQuery);
                session_.Await("cannot prepare a statement");
                return named;
            });
            session_.Sent(
                PQsendQueryPrepared(session_.get(), name.c_str(), count, parameters.values.data(),
                                    parameters.lengths.data(), formats.data(), 0),
                what, kind);
        } else {
            session_.Sent(PQsendQueryParams(session_.get(), sql.c_str(), count, types.data(),
                                            parameters.values.data(), parameters.lengths.data(),
                                            formats.data(), 0),
                          what, kind);
        }
        return session_.Await(what, kind);
    }

    // A catalogue query with text parameters.
    ResultPtr Query(const std::string& sql, std::initializer_list<std::string_view> values,
                    Error::Kind kind) {
        Parameters parameters;
        for (const std::string_view value : values) parameters.Add(value);
        return Run(sql, false, parameters, "cannot read the catalogue", kind);
    }

    ColumnDescription Describe(const std::string& quoted_table, const std::string& column) {
        ResultPtr result =
            Query(DescribeColumnSql("$1", "$2"), {quoted_table, column}, Error::Kind::kUsage);
        ColumnDescription description;
        if (PQntuples(result.get()) != 1) return description;
        description.base_type = Text(result.get(), 0, 0);
        if (PQgetisnull(result.get(), 0, 1) == 0)
            description.width = std::stoull(Text(result.get(), 0, 1));
        description.blank_padded = Text(result.get(), 0, 2) == "t";
        description.category = Text(result.get(), 0, 3);
        description.declared = Text(result.get(), 0, 4);
        return description;
    }

    // The table's columns, and the unique indexes on whole columns (not
    // partial, not on expressions), the primary key among them, each with
    // its columns in key order.
    TableCatalogue ReadCatalogue(const QualifiedName& name) {
        const std::string quoted = QuotedTable(name, "\"");
        TableCatalogue catalogue;
        ResultPtr columns = Query(
            "SELECT a.attname FROM pg_attribute a WHERE a.attrelid = to_regclass($1) AND "
            "a.attnum > 0 AND NOT a.attisdropped",
            {quoted}, Error::Kind::kQuery);
        for (int i = 0; i < PQntuples(columns.get()); ++i)
            catalogue.columns.push_back(Text(columns.get(), i, 0));
        ResultPtr keys = Query(
            "SELECT i.indexrelid, i.indisprimary, a.attname FROM pg_index i"
            " CROSS JOIN LATERAL generate_series(0, i.indnkeyatts - 1) AS k(n)"
            " JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[k.n]"
            " WHERE i.indrelid = to_regclass($1) AND i.indisunique AND i.indpred IS NULL"
            " AND i.indexprs IS NULL ORDER BY i.indexrelid, k.n",
            {quoted}, Error::Kind::kUsage);
        std::string index;
        bool primary = false;
        for (int i = 0; i < PQntuples(keys.get()); ++i) {
            if (catalogue.unique_keys.empty() || Text(keys.get(), i, 0) != index) {
                index = Text(keys.get(), i, 0);
                primary = Text(keys.get(), i, 1) == "t";
                catalogue.unique_keys.emplace_back();
            }
            catalogue.unique_keys.back().push_back(Text(keys.get(), i, 2));
            if (primary) catalogue.primary_key.push_back(Text(keys.get(), i, 2));
        }
        return catalogue;
    }

    Session session_;
    Access access_;
    bool in_transaction_ = false;
    // The names of the statements prepared, by their text.
    StatementCache<std::string> prepared_;
    unsigned statements_ = 0;
    unsigned cursors_ = 0;
    bool planner_set_ = false;
};

}  // namespace

std::unique_ptr<Database> ConnectPostgres(const std::string& uri, Access access) {
    Connection conn(PQconnectdb(uri.c_str()), &PQfinish);
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        std::string message = conn ? PQerrorMessage(conn.get()) : "out of memory";
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw Error(Error::Kind::kUnreachable, "cannot connect: " + message);
    }
    return std::make_unique<PostgresDatabase>(std::move(conn), access);
}

}  // namespace tarvola::tool::db
