#include "migrate/db/database.h"

#include <algorithm>

namespace tarvola::tool::db {
namespace {

std::string WhereClause(const Target& target) {
    if (target.where.empty()) return {};
    // Parenthesised so that an OR in the condition cannot escape it.
    return " WHERE (" + target.where + ")";
}

}  // namespace

Dialect DialectOfDbmsName(std::string_view name) noexcept {
    const auto has = [name](std::string_view part) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return std::search(name.begin(), name.end(), part.begin(), part.end(),
                           [&](char a, char b) { return lower(a) == b; }) != name.end();
    };
    if (has("postgres")) return Dialect::kPostgres;
    if (has("mariadb") || has("mysql")) return Dialect::kMySql;
    if (has("sql server")) return Dialect::kSqlServer;
    if (has("sqlite")) return Dialect::kSqlite;
    return Dialect::kOther;
}

std::unique_ptr<Database> Connect(std::string_view address, Access access) {
    const std::span<const Backend> backends = Backends();
    for (const Backend& backend : backends) {
        if (!address.starts_with(backend.prefix)) continue;
        if (backend.connect == nullptr)
            throw Error(Error::Kind::kUsage, "this build of tarvolacrypt has no " +
                                                 std::string(backend.name) + " support");
        const std::string_view handed =
            backend.keeps_prefix ? address : address.substr(backend.prefix.size());
        return backend.connect(std::string(handed), access);
    }
    std::string prefixes;
    for (std::size_t i = 0; i < backends.size(); ++i) {
        if (i != 0) prefixes += i + 1 == backends.size() ? " or " : ", ";
        prefixes += backends[i].prefix;
    }
    throw Error(Error::Kind::kUsage, "--db must start with " + prefixes);
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

QualifiedName SplitTableName(std::string_view name) {
    const auto refuse = [&](std::string_view why) {
        throw Error(Error::Kind::kUsage, "--table '" + std::string(name) +
                                             "': " + std::string(why) +
                                             " (write a name holding a dot in double quotes, "
                                             "e.g. '\"a.b\"')");
    };
    std::vector<std::string> parts;
    std::size_t i = 0;
    for (;;) {
        std::string part;
        if (i < name.size() && name[i] == '"') {
            for (++i;; ++i) {
                if (i == name.size()) refuse("a double quote is not closed");
                if (name[i] == '"') {
                    if (i + 1 == name.size() || name[i + 1] != '"') break;
                    ++i;
                }
                part += name[i];
            }
            ++i;
            if (i < name.size() && name[i] != '.') refuse("only a dot may follow a closing quote");
        } else {
            const std::size_t end = std::min(name.find('.', i), name.size());
            part = name.substr(i, end - i);
            i = end;
        }
        parts.push_back(std::move(part));
        if (i == name.size()) break;
        ++i;
    }
    if (parts.size() > 2) refuse("expected TABLE or SCHEMA.TABLE");
    if (parts.size() == 1) return {{}, std::move(parts[0])};
    if (parts[0].empty() || parts[1].empty()) refuse("an empty name beside a dot");
    return {std::move(parts[0]), std::move(parts[1])};
}

std::string LockTimeoutMessage(std::uint64_t seconds) {
    return "a lock held by another session stopped the run: still waiting after " +
           std::to_string(seconds) + " s (--lock-timeout); the open transaction was rolled back";
}

Error NoSuchTable(std::string_view table) {
    return {Error::Kind::kUsage, "no table '" + std::string(table) + "'"};
}

Error NoSuchColumn(std::string_view table, std::string_view column) {
    return {Error::Kind::kUsage,
            "table '" + std::string(table) + "' has no column '" + std::string(column) + "'"};
}

Error NoSingleColumnKey(std::string_view table) {
    return {Error::Kind::kUsage, "table '" + std::string(table) +
                                     "' has no single-column primary key: name the id column "
                                     "with --id"};
}

std::string SelectRowsAfterSql(const ResolvedTarget& target, std::string_view placeholder) {
    const std::string after = target.quoted_id + " > " + std::string(placeholder);
    return "SELECT " + target.quoted_id + ", " + target.quoted_column + " FROM " +
           target.quoted_table +
           (target.where.empty() ? " WHERE " + after : WhereClause(target) + " AND " + after) +
           " ORDER BY " + target.quoted_id;
}

std::string SelectRowsSql(const ResolvedTarget& target) {
    return "SELECT " + target.quoted_id + ", " + target.quoted_column + " FROM " +
           target.quoted_table + WhereClause(target) + " ORDER BY " + target.quoted_id;
}

std::string CountRowsSql(const ResolvedTarget& target) {
    return "SELECT COUNT(*) FROM " + target.quoted_table + WhereClause(target);
}

std::string CountSharedIdsSql(const ResolvedTarget& target) {
    // The whole table, not only the rows --where picks: an update by id
    // reaches every row holding it.
    return "SELECT COUNT(*) FROM (SELECT " + target.quoted_id + " FROM " + target.quoted_table +
           " GROUP BY " + target.quoted_id + " HAVING COUNT(*) > 1) AS shared_ids";
}

std::string SelectValueSql(const ResolvedTarget& target, std::string_view placeholder_id) {
    return "SELECT " + target.quoted_column + " FROM " + target.quoted_table + " WHERE " +
           target.quoted_id + " = " + std::string(placeholder_id);
}

std::string UpdateRowSql(const ResolvedTarget& target, std::string_view placeholder_new,
                         std::string_view placeholder_id, std::string_view placeholder_old) {
    return "UPDATE " + target.quoted_table + " SET " + target.quoted_column + " = " +
           std::string(placeholder_new) + " WHERE " + target.quoted_id + " = " +
           std::string(placeholder_id) + " AND " + target.quoted_column + " = " +
           std::string(placeholder_old);
}

}  // namespace tarvola::tool::db
