// PostgreSQL through libpq. Rows come through a server-side cursor (WITH
// HOLD, so that it survives the commits of a batched run); updates go as one
// multi-row UPDATE … FROM (VALUES …) per chunk, one round trip for many rows.
// Every statement goes through the extended protocol, which takes exactly one
// statement, and is awaited on the socket, so that a long wait for a lock can
// be told while it lasts.
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <unordered_map>

#include "migrate/db/database.h"
#include "migrate/db/sql_condition.h"

namespace tarvola::tool::db {
namespace {

constexpr int kFetchRows = 1000;
// Rows per UPDATE statement: 3 parameters each, far below libpq's 65535.
constexpr std::size_t kUpdateRows = 500;
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
    // keeps us waiting.
    ResultPtr Await(std::string_view what, Error::Kind kind = Error::Kind::kQuery) {
        const auto start = std::chrono::steady_clock::now();
        bool told = false;
        while (PQisBusy(conn_.get()) != 0) {
            pollfd socket{PQsocket(conn_.get()), POLLIN, 0};
            if (poll(&socket, 1, 1000) < 0 && errno != EINTR) break;
            if (PQconsumeInput(conn_.get()) == 0) break;
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
    PostgresCursor(Session& session, std::string name)
        : session_(session), name_(std::move(name)) {}
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
        row.id = Text(batch_.get(), next_, 0);
        row.id_is_integer = false;
        row.value_is_null = PQgetisnull(batch_.get(), next_, 1) != 0;
        row.value = Text(batch_.get(), next_, 1);
        ++next_;
        return true;
    }

  private:
    Session& session_;
    std::string name_;
    ResultPtr batch_{nullptr, &PQclear};
    int next_ = 0;
};

// UPDATE t SET c = v.n::type FROM (VALUES ($1,$2,$3),…) AS v(i, o, n)
// WHERE t.id = v.i::idtype AND t.c = v.o::type RETURNING t.id, t.c
// The types carry no length: an explicit cast to varchar(n) or char(n) cuts
// a longer value silently, where assigning it to the column is refused.
// RETURNING gives the row as stored, after any BEFORE trigger.
std::string MultiRowUpdateSql(const ResolvedTarget& target, std::size_t rows) {
    std::string sql = "UPDATE " + target.quoted_table + " AS t SET " + target.quoted_column +
                      " = v.n::" + target.column_cast_type + " FROM (VALUES ";
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t first = 3 * i + 1;
        if (i != 0) sql += ',';
        sql += "($" + std::to_string(first) + ",$" + std::to_string(first + 1) + ",$" +
               std::to_string(first + 2) + ')';
    }
    sql += ") AS v(i, o, n) WHERE t." + target.quoted_id + " = v.i::" + target.id_cast_type +
           " AND t." + target.quoted_column + " = v.o::" + target.column_cast_type +
           " RETURNING t." + target.quoted_id + ", t." + target.quoted_column;
    return sql;
}

// A column's type as the server holds it under any domains: the base type
// by its catalogue name, which implies no length (pg_catalog.bpchar, where
// `character` alone would mean char(1)), the least length any level of it declares (varchar and
// char only), whether it pads with blanks, and whether a unique index or the
// primary key covers the column alone.
constexpr const char* kDescribeColumnSql =
    "WITH RECURSIVE chain(depth, typid, typmod) AS ("
    " SELECT 0, a.atttypid, a.atttypmod FROM pg_attribute a"
    " WHERE a.attrelid = to_regclass($1) AND a.attname = $2 AND a.attnum > 0"
    " AND NOT a.attisdropped"
    " UNION ALL SELECT c.depth + 1, t.typbasetype, t.typtypmod FROM chain c"
    " JOIN pg_type t ON t.oid = c.typid WHERE t.typtype = 'd') "
    "SELECT (SELECT quote_ident(n.nspname) || '.' || quote_ident(t.typname) FROM pg_type t"
    " JOIN pg_namespace n ON n.oid = t.typnamespace WHERE t.oid = b.typid),"
    " (SELECT min(c.typmod - 4) FROM chain c"
    " WHERE c.typmod >= 4 AND b.typid IN ('bpchar'::regtype, 'varchar'::regtype)),"
    " b.typid = 'bpchar'::regtype, EXISTS (SELECT 1 FROM pg_index i JOIN pg_attribute a"
    " ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] WHERE i.indrelid = to_regclass($1)"
    " AND a.attname = $2 AND i.indisunique AND i.indnkeyatts = 1 AND i.indpred IS NULL) "
    "FROM (SELECT typid FROM chain ORDER BY depth DESC LIMIT 1) AS b";

struct ColumnDescription {
    std::string base_type;
    std::optional<std::uint64_t> enforced_width;
    bool blank_padded = false;
    bool unique = false;
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

    ResolvedTarget Resolve(const Target& named) override {
        ResolvedTarget target(named);
        CheckSingleCondition(target.where, Dialect::kPostgres, Route::kOneStatement);
        // Everything from here on, the checks and the count included, runs
        // in the transaction that a failure or a dry run rolls back.
        Begin();
        // Each part quoted our way and read by to_regclass: the names are
        // taken exactly as given, never parsed as SQL.
        const QualifiedName qualified = SplitTableName(target.table);
        target.quoted_table = QuoteIdentifier(qualified.table, "\"");
        if (!qualified.schema.empty())
            target.quoted_table =
                QuoteIdentifier(qualified.schema, "\"") + "." + target.quoted_table;
        const char* sql =
            "SELECT a.attname, format_type(a.atttypid, a.atttypmod), EXISTS (SELECT 1 FROM "
            "pg_index i WHERE i.indrelid = a.attrelid AND i.indisprimary AND i.indnatts = 1 "
            "AND i.indkey[0] = a.attnum), CASE WHEN a.atttypid IN ('varchar'::regtype, "
            "'bpchar'::regtype) AND a.atttypmod >= 4 THEN a.atttypmod - 4 END FROM "
            "pg_attribute a WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 AND NOT "
            "a.attisdropped";
        const char* parameters[] = {target.quoted_table.c_str()};
        const Oid types[] = {kTextOid};
        const std::string_view what = "cannot read the catalogue";
        session_.Sent(
            PQsendQueryParams(session_.get(), sql, 1, types, parameters, nullptr, nullptr, 0), what,
            Error::Kind::kQuery);
        ResultPtr columns = session_.Await(what);
        const int count = PQntuples(columns.get());
        if (count == 0) throw NoSuchTable(target.table);
        std::string primary_key;
        std::string primary_key_type;
        for (int i = 0; i < count; ++i) {
            const std::string name = Text(columns.get(), i, 0);
            const std::string type = Text(columns.get(), i, 1);
            if (name == target.column) {
                target.column_type = type;
                if (PQgetisnull(columns.get(), i, 3) == 0)
                    target.width = std::stoull(Text(columns.get(), i, 3));
            }
            if (name == target.id) target.id_type = type;
            if (Text(columns.get(), i, 2) == "t") {
                primary_key = name;
                primary_key_type = type;
            }
        }
        if (target.column_type.empty()) throw NoSuchColumn(target.table, target.column);
        if (target.id.empty()) {
            if (primary_key.empty()) throw NoSingleColumnKey(target.table);
            target.id = primary_key;
            target.id_type = primary_key_type;
        } else if (target.id_type.empty()) {
            throw NoSuchColumn(target.table, target.id);
        }
        target.quoted_column = QuoteIdentifier(target.column, "\"");
        target.quoted_id = QuoteIdentifier(target.id, "\"");
        DescribeColumns(target);
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
        return std::make_unique<PostgresCursor>(session_, std::move(name));
    }

    std::vector<Applied> Apply(const ResolvedTarget& target,
                               std::span<const Update> updates) override {
        if (!planner_set_) {
            // Each update touches a few hundred rows by key. Without fresh
            // statistics (a table just loaded) the planner prefers hashing
            // the list and scanning the whole table, once per statement:
            // quadratic in the table size. Only this session's plans change.
            session_.Execute("SET enable_hashjoin = off");
            session_.Execute("SET enable_mergejoin = off");
            planner_set_ = true;
        }
        std::unordered_map<std::string, Applied> changed;
        for (std::size_t first = 0; first < updates.size(); first += kUpdateRows) {
            const auto chunk =
                updates.subspan(first, std::min(kUpdateRows, updates.size() - first));
            ApplyChunk(target, chunk, changed);
        }
        std::vector<Applied> applied(updates.size());
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const auto found = changed.find(updates[i].row->id);
            if (found != changed.end()) applied[i] = std::move(found->second);
        }
        return applied;
    }

  private:
    ColumnDescription Describe(const std::string& quoted_table, const std::string& column) {
        const char* parameters[] = {quoted_table.c_str(), column.c_str()};
        const Oid types[] = {kTextOid, kTextOid};
        const std::string_view what = "cannot read the catalogue";
        session_.Sent(PQsendQueryParams(session_.get(), kDescribeColumnSql, 2, types, parameters,
                                        nullptr, nullptr, 0),
                      what, Error::Kind::kUsage);
        ResultPtr result = session_.Await(what, Error::Kind::kUsage);
        ColumnDescription description;
        if (PQntuples(result.get()) != 1) return description;
        description.base_type = Text(result.get(), 0, 0);
        if (PQgetisnull(result.get(), 0, 1) == 0)
            description.enforced_width = std::stoull(Text(result.get(), 0, 1));
        description.blank_padded = Text(result.get(), 0, 2) == "t";
        description.unique = Text(result.get(), 0, 3) == "t";
        return description;
    }

    void DescribeColumns(ResolvedTarget& target) {
        const ColumnDescription column = Describe(target.quoted_table, target.column);
        const ColumnDescription id = Describe(target.quoted_table, target.id);
        target.column_cast_type = column.base_type.empty() ? target.column_type : column.base_type;
        target.id_cast_type = id.base_type.empty() ? target.id_type : id.base_type;
        target.enforced_width = column.enforced_width;
        target.blank_padded = column.blank_padded;
        target.id_is_unique = id.unique;
    }

    void ApplyChunk(const ResolvedTarget& target, std::span<const Update> chunk,
                    std::unordered_map<std::string, Applied>& changed) {
        std::vector<const char*> values;
        std::vector<int> lengths;
        values.reserve(3 * chunk.size());
        lengths.reserve(3 * chunk.size());
        for (const Update& update : chunk) {
            for (const std::string_view text :
                 {std::string_view(update.row->id), std::string_view(update.row->value),
                  update.new_value}) {
                values.push_back(text.data());
                lengths.push_back(static_cast<int>(text.size()));
            }
        }
        const std::vector<int> formats(values.size(), 1);
        const std::vector<Oid> types(values.size(), kTextOid);
        const int count = static_cast<int>(values.size());
        const std::string_view what = "cannot update the rows";
        if (chunk.size() == kUpdateRows) {
            // Prepared once per target: a plan updates several tables in turn.
            std::string sql = MultiRowUpdateSql(target, kUpdateRows);
            if (sql != prepared_sql_) {
                prepared_name_ = "tarvola_update_" + std::to_string(++statements_);
                session_.Sent(PQsendPrepare(session_.get(), prepared_name_.c_str(), sql.c_str(),
                                            count, types.data()),
                              what, Error::Kind::kQuery);
                session_.Await("cannot prepare the update");
                prepared_sql_ = std::move(sql);
            }
            session_.Sent(PQsendQueryPrepared(session_.get(), prepared_name_.c_str(), count,
                                              values.data(), lengths.data(), formats.data(), 0),
                          what, Error::Kind::kQuery);
        } else {
            session_.Sent(
                PQsendQueryParams(session_.get(), MultiRowUpdateSql(target, chunk.size()).c_str(),
                                  count, types.data(), values.data(), lengths.data(),
                                  formats.data(), 0),
                what, Error::Kind::kQuery);
        }
        ResultPtr result = session_.Await(what);
        for (int i = 0; i < PQntuples(result.get()); ++i) {
            Applied& applied = changed[Text(result.get(), i, 0)];
            ++applied.rows;
            applied.stored_is_null = PQgetisnull(result.get(), i, 1) != 0;
            applied.stored = Text(result.get(), i, 1);
        }
    }

    Session session_;
    Access access_;
    bool in_transaction_ = false;
    std::string prepared_sql_;
    std::string prepared_name_;
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
