// PostgreSQL through libpq. Rows come through a server-side cursor (WITH
// HOLD, so that it survives the commits of a batched run); updates go as one
// multi-row UPDATE … FROM (VALUES …) per chunk, one round trip for many rows.
#include <libpq-fe.h>

#include <unordered_set>

#include "database.h"

namespace tarvola::tool::db {
namespace {

constexpr int kFetchRows = 1000;
// Rows per UPDATE statement: 3 parameters each, far below libpq's 65535.
constexpr std::size_t kUpdateRows = 500;

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

ResultPtr Check(PGconn* conn, PGresult* raw, std::string_view what,
                Error::Kind kind = Error::Kind::kQuery) {
    ResultPtr result(raw, &PQclear);
    const ExecStatusType status = PQresultStatus(raw);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::string message = PQerrorMessage(conn);
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw Error(kind, std::string(what) + ": " + message);
    }
    return result;
}

ResultPtr Execute(PGconn* conn, const std::string& sql, Error::Kind kind = Error::Kind::kQuery) {
    return Check(conn, PQexec(conn, sql.c_str()), sql, kind);
}

std::string Text(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column),
                       static_cast<std::size_t>(PQgetlength(result, row, column)));
}

class PostgresCursor final : public RowCursor {
  public:
    explicit PostgresCursor(PGconn* conn) : conn_(conn) {}
    PostgresCursor(const PostgresCursor&) = delete;
    PostgresCursor& operator=(const PostgresCursor&) = delete;
    // A held cursor outlives its transaction: closed here, so that the
    // connection can open the next one. After a rollback it is gone already,
    // and the error is of no interest.
    ~PostgresCursor() override { PQclear(PQexec(conn_, "CLOSE tarvola_rows")); }

    bool Next(Row& row) override {
        if (next_ == PQntuples(batch_.get())) {
            batch_ = Execute(conn_,
                             "FETCH FORWARD " + std::to_string(kFetchRows) + " FROM tarvola_rows");
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
    PGconn* conn_;
    ResultPtr batch_{nullptr, &PQclear};
    int next_ = 0;
};

// UPDATE t SET c = v.n::type FROM (VALUES ($1,$2,$3),…) AS v(i, o, n)
// WHERE t.id = v.i::idtype AND t.c = v.o::type RETURNING t.id
std::string MultiRowUpdateSql(const Target& target, std::size_t rows) {
    std::string sql = "UPDATE " + target.quoted_table + " AS t SET " + target.quoted_column +
                      " = v.n::" + target.column_type + " FROM (VALUES ";
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t first = 3 * i + 1;
        if (i != 0) sql += ',';
        sql += "($" + std::to_string(first) + ",$" + std::to_string(first + 1) + ",$" +
               std::to_string(first + 2) + ')';
    }
    sql += ") AS v(i, o, n) WHERE t." + target.quoted_id + " = v.i::" + target.id_type + " AND t." +
           target.quoted_column + " = v.o::" + target.column_type + " RETURNING t." +
           target.quoted_id;
    return sql;
}

class PostgresDatabase final : public Database {
  public:
    explicit PostgresDatabase(Connection conn) : conn_(std::move(conn)) {}

    void Resolve(Target& target) override {
        // quote_ident: the name is taken exactly as given, as our quoting
        // will write it, never parsed as SQL.
        const char* sql =
            "SELECT a.attname, format_type(a.atttypid, a.atttypmod), EXISTS (SELECT 1 FROM "
            "pg_index i WHERE i.indrelid = a.attrelid AND i.indisprimary AND i.indnatts = 1 "
            "AND i.indkey[0] = a.attnum) FROM pg_attribute a WHERE a.attrelid = "
            "to_regclass(quote_ident($1)) AND a.attnum > 0 AND NOT a.attisdropped";
        const char* parameters[] = {target.table.c_str()};
        ResultPtr columns =
            Check(conn_.get(),
                  PQexecParams(conn_.get(), sql, 1, nullptr, parameters, nullptr, nullptr, 0),
                  "cannot read the catalogue");
        const int count = PQntuples(columns.get());
        if (count == 0) throw Error(Error::Kind::kUsage, "no table '" + target.table + "'");
        std::string primary_key;
        std::string primary_key_type;
        for (int i = 0; i < count; ++i) {
            const std::string name = Text(columns.get(), i, 0);
            const std::string type = Text(columns.get(), i, 1);
            if (name == target.column) target.column_type = type;
            if (name == target.id) target.id_type = type;
            if (Text(columns.get(), i, 2) == "t") {
                primary_key = name;
                primary_key_type = type;
            }
        }
        if (target.column_type.empty())
            throw Error(Error::Kind::kUsage,
                        "table '" + target.table + "' has no column '" + target.column + "'");
        if (target.id.empty()) {
            if (primary_key.empty())
                throw Error(Error::Kind::kUsage, "table '" + target.table +
                                                     "' has no single-column primary key: "
                                                     "name the id column with --id");
            target.id = primary_key;
            target.id_type = primary_key_type;
        } else if (target.id_type.empty()) {
            throw Error(Error::Kind::kUsage,
                        "table '" + target.table + "' has no column '" + target.id + "'");
        }
        target.quoted_table = QuoteIdentifier(target.table, "\"");
        target.quoted_column = QuoteIdentifier(target.column, "\"");
        target.quoted_id = QuoteIdentifier(target.id, "\"");
        // A bad --where fails here, before any work.
        Execute(conn_.get(), "EXPLAIN " + SelectRowsSql(target), Error::Kind::kUsage);
    }

    std::uint64_t CountRows(const Target& target) override {
        ResultPtr count = Execute(conn_.get(), CountRowsSql(target));
        return std::stoull(Text(count.get(), 0, 0));
    }

    void Begin() override { Execute(conn_.get(), "BEGIN"); }
    void Commit() override { Execute(conn_.get(), "COMMIT"); }
    void Rollback() override { Execute(conn_.get(), "ROLLBACK"); }

    std::unique_ptr<RowCursor> OpenRows(const Target& target) override {
        Execute(conn_.get(),
                "DECLARE tarvola_rows NO SCROLL CURSOR WITH HOLD FOR " + SelectRowsSql(target));
        return std::make_unique<PostgresCursor>(conn_.get());
    }

    std::vector<bool> Apply(const Target& target, std::span<const Update> updates) override {
        if (!planner_set_) {
            // Each update touches a few hundred rows by key. Without fresh
            // statistics (a table just loaded) the planner prefers hashing
            // the list and scanning the whole table, once per statement:
            // quadratic in the table size. Only this session's plans change.
            Execute(conn_.get(), "SET enable_hashjoin = off");
            Execute(conn_.get(), "SET enable_mergejoin = off");
            planner_set_ = true;
        }
        std::unordered_set<std::string> changed;
        for (std::size_t first = 0; first < updates.size(); first += kUpdateRows) {
            const auto chunk =
                updates.subspan(first, std::min(kUpdateRows, updates.size() - first));
            ApplyChunk(target, chunk, changed);
        }
        std::vector<bool> applied;
        applied.reserve(updates.size());
        for (const Update& update : updates) applied.push_back(changed.contains(update.row->id));
        return applied;
    }

  private:
    void ApplyChunk(const Target& target, std::span<const Update> chunk,
                    std::unordered_set<std::string>& changed) {
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
        // Text parameters need no terminator when their length is given.
        std::vector<int> formats(values.size(), 0);
        const int count = static_cast<int>(values.size());
        PGresult* raw = nullptr;
        if (chunk.size() == kUpdateRows) {
            if (!prepared_) {
                Check(conn_.get(),
                      PQprepare(conn_.get(), "tarvola_update",
                                MultiRowUpdateSql(target, kUpdateRows).c_str(), 0, nullptr),
                      "cannot prepare the update");
                prepared_ = true;
            }
            raw = PQexecPrepared(conn_.get(), "tarvola_update", count, values.data(),
                                 lengths.data(), formats.data(), 0);
        } else {
            raw = PQexecParams(conn_.get(), MultiRowUpdateSql(target, chunk.size()).c_str(), count,
                               nullptr, values.data(), lengths.data(), formats.data(), 0);
        }
        ResultPtr result = Check(conn_.get(), raw, "cannot update the rows");
        for (int i = 0; i < PQntuples(result.get()); ++i) changed.insert(Text(result.get(), i, 0));
    }

    Connection conn_;
    bool prepared_ = false;
    bool planner_set_ = false;
};

}  // namespace

std::unique_ptr<Database> ConnectPostgres(const std::string& uri) {
    Connection conn(PQconnectdb(uri.c_str()), &PQfinish);
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        std::string message = conn ? PQerrorMessage(conn.get()) : "out of memory";
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw Error(Error::Kind::kUnreachable, "cannot connect: " + message);
    }
    return std::make_unique<PostgresDatabase>(std::move(conn));
}

}  // namespace tarvola::tool::db
