#include "database.h"

namespace tarvola::tool::db {
namespace {

std::string WhereClause(const Target& target) {
    if (target.where.empty()) return {};
    // Parenthesised so that an OR in the condition cannot escape it.
    return " WHERE (" + target.where + ")";
}

}  // namespace

std::unique_ptr<Database> Connect(std::string_view address, Access access) {
    if (address.starts_with("sqlite:"))
        return ConnectSqlite(std::string(address.substr(7)), access);
    if (address.starts_with("odbc:")) return ConnectOdbc(std::string(address.substr(5)), access);
    if (address.starts_with("postgresql://") || address.starts_with("postgres://"))
        return ConnectPostgres(std::string(address), access);
    throw Error(Error::Kind::kUsage,
                "--db must start with sqlite:, postgresql://, postgres:// or odbc:");
}

std::string QuoteIdentifier(std::string_view name, std::string_view quote) {
    if (quote.empty() || quote == " ") return std::string(name);
    std::string quoted(quote);
    for (const char c : name) {
        // A quote inside the name is written twice, as SQL escapes it.
        if (quote.size() == 1 && c == quote[0]) quoted += c;
        quoted += c;
    }
    quoted += quote;
    return quoted;
}

std::string SelectRowsSql(const Target& target) {
    return "SELECT " + target.quoted_id + ", " + target.quoted_column + " FROM " +
           target.quoted_table + WhereClause(target) + " ORDER BY " + target.quoted_id;
}

std::string CountRowsSql(const Target& target) {
    return "SELECT COUNT(*) FROM " + target.quoted_table + WhereClause(target);
}

std::string UpdateRowSql(const Target& target, std::string_view placeholder_new,
                         std::string_view placeholder_id, std::string_view placeholder_old) {
    return "UPDATE " + target.quoted_table + " SET " + target.quoted_column + " = " +
           std::string(placeholder_new) + " WHERE " + target.quoted_id + " = " +
           std::string(placeholder_id) + " AND " + target.quoted_column + " = " +
           std::string(placeholder_old);
}

}  // namespace tarvola::tool::db
