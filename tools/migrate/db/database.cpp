#include "migrate/db/database.h"

#include <algorithm>
#include <charconv>

#include "migrate/db/sql_condition.h"

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

namespace {

// `text` split at `separator`s outside double quotes, each part unquoted: a
// part in double quotes is taken literally, with "" for a quote. `refuse`
// throws with the reason.
template <class Refuse>
std::vector<std::string> SplitQuotedParts(std::string_view text, char separator,
                                          const Refuse& refuse) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    for (;;) {
        std::string part;
        if (i < text.size() && text[i] == '"') {
            for (++i;; ++i) {
                if (i == text.size()) refuse("a double quote is not closed");
                if (text[i] == '"') {
                    if (i + 1 == text.size() || text[i + 1] != '"') break;
                    ++i;
                }
                part += text[i];
            }
            ++i;
            if (i < text.size() && text[i] != separator)
                refuse(std::string("only a ") + (separator == '.' ? "dot" : "comma") +
                       " may follow a closing quote");
        } else {
            const std::size_t end = std::min(text.find(separator, i), text.size());
            part = text.substr(i, end - i);
            i = end;
        }
        parts.push_back(std::move(part));
        if (i == text.size()) return parts;
        ++i;
    }
}

}  // namespace

std::string QuotedTable(const QualifiedName& name, std::string_view quote) {
    const std::string table = QuoteIdentifier(name.table, quote);
    return name.schema.empty() ? table : QuoteIdentifier(name.schema, quote) + "." + table;
}

QualifiedName SplitTableName(std::string_view name) {
    const auto refuse = [&](std::string_view why) {
        throw Error(Error::Kind::kUsage, "--table '" + std::string(name) +
                                             "': " + std::string(why) +
                                             " (write a name holding a dot in double quotes, "
                                             "e.g. '\"a.b\"')");
    };
    std::vector<std::string> parts = SplitQuotedParts(name, '.', refuse);
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

Error NoPrimaryKey(std::string_view table) {
    return {Error::Kind::kUsage, "table '" + std::string(table) +
                                     "' has no primary key: name the id column (or columns, "
                                     "separated by commas) with --id"};
}

Error NotTextColumn(std::string_view column, std::string_view type) {
    return {Error::Kind::kUsage, "column '" + std::string(column) + "' is of type " +
                                     std::string(type) +
                                     ", which holds no text: stored values are text"};
}

std::vector<std::string> SplitKeyColumns(std::string_view id) {
    const auto refuse = [&](std::string_view why) {
        throw Error(Error::Kind::kUsage,
                    "--id '" + std::string(id) + "': " + std::string(why) +
                        " (separate several columns by commas; write a name holding a comma in "
                        "double quotes)");
    };
    if (id.empty()) return {};
    std::vector<std::string> names = SplitQuotedParts(id, ',', refuse);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) refuse("an empty column name");
        if (std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), names[i]) !=
            names.begin() + static_cast<std::ptrdiff_t>(i))
            refuse("column '" + names[i] + "' is named twice");
    }
    return names;
}

ResolvedTarget ResolveNames(const Target& named, Dialect dialect, Route route,
                            std::string_view quote,
                            const std::function<TableCatalogue(const QualifiedName&)>& read) {
    ResolvedTarget target(named);
    CheckSingleCondition(target.where, dialect, route);
    target.name = SplitTableName(target.table);
    std::vector<std::string> key_names = SplitKeyColumns(target.id);
    const TableCatalogue catalogue = read(target.name);
    const auto has = [&catalogue](const std::string& name) {
        return std::find(catalogue.columns.begin(), catalogue.columns.end(), name) !=
               catalogue.columns.end();
    };
    if (catalogue.columns.empty()) throw NoSuchTable(target.table);
    if (!has(target.column)) throw NoSuchColumn(target.table, target.column);
    for (const std::string& name : key_names)
        if (!has(name)) throw NoSuchColumn(target.table, name);
    target.quoted_table = QuotedTable(target.name, quote);
    target.quoted_column = QuoteIdentifier(target.column, quote);
    if (key_names.empty() && catalogue.primary_key.empty() && catalogue.implicit_key) {
        if (!catalogue.implicit_key_refusal.empty())
            throw Error(Error::Kind::kUsage, catalogue.implicit_key_refusal);
        target.key.push_back(*catalogue.implicit_key);
        target.key_is_unique = true;
        return target;
    }
    // The primary key by default: what the table is keyed by, and what a
    // user can look rows up with afterwards.
    if (key_names.empty()) key_names = catalogue.primary_key;
    if (key_names.empty()) throw NoPrimaryKey(target.table);
    for (const std::string& name : key_names)
        target.key.push_back({name, QuoteIdentifier(name, quote), {}, 0, false});
    std::vector<std::string> sorted = key_names;
    std::sort(sorted.begin(), sorted.end());
    target.key_is_unique = std::any_of(catalogue.unique_keys.begin(), catalogue.unique_keys.end(),
                                       [&sorted](std::vector<std::string> unique) {
                                           std::sort(unique.begin(), unique.end());
                                           return unique == sorted;
                                       });
    return target;
}

std::string RowName(const RowKey& key) {
    const auto text = [](const KeyValue& value) { return value.is_null ? "NULL" : value.text; };
    if (key.size() == 1) return text(key.front());
    std::string name = "(";
    for (std::size_t i = 0; i < key.size(); ++i) name += (i == 0 ? "" : ", ") + text(key[i]);
    return name + ")";
}

namespace {

std::string KeyListSql(const ResolvedTarget& target, std::string_view prefix = {}) {
    std::string list;
    for (std::size_t i = 0; i < target.key.size(); ++i)
        list += (i == 0 ? "" : ", ") + std::string(prefix) + target.key[i].quoted;
    return list;
}

// "(k0 > ?) OR (k0 = ? AND k1 > ?) OR …": the rows after a key in key
// order, written without row values, which not every database compares.
std::string KeyAfterSql(const ResolvedTarget& target) {
    std::string sql;
    for (std::size_t i = 0; i < target.key.size(); ++i) {
        sql += i == 0 ? "(" : " OR (";
        for (std::size_t j = 0; j < i; ++j) sql += target.key[j].quoted + " = ? AND ";
        sql += target.key[i].quoted + " > ?)";
    }
    return sql;
}

}  // namespace

std::optional<KeyRange> DenseIntegerRange(std::span<const RowKey> keys) {
    constexpr std::int64_t kMaxSpread = 4;
    std::vector<std::int64_t> ids;
    ids.reserve(keys.size());
    for (const RowKey& key : keys) {
        if (key.size() != 1 || key.front().is_null) return std::nullopt;
        const std::string& text = key.front().text;
        std::int64_t id = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
        if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
        ids.push_back(id);
    }
    if (ids.empty()) return std::nullopt;
    const auto [low, high] = std::minmax_element(ids.begin(), ids.end());
    if (*high - *low >= kMaxSpread * static_cast<std::int64_t>(ids.size())) return std::nullopt;
    KeyRange range{*low, *high,
                   std::vector<std::ptrdiff_t>(static_cast<std::size_t>(*high - *low + 1), -1)};
    for (std::size_t i = 0; i < ids.size(); ++i)
        range.owner[static_cast<std::size_t>(ids[i] - range.first)] =
            static_cast<std::ptrdiff_t>(i);
    return range;
}

std::vector<std::size_t> KeyAfterParameters(std::size_t columns) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < columns; ++i)
        for (std::size_t j = 0; j <= i; ++j) order.push_back(j);
    return order;
}

std::size_t RowsPerStatement(std::size_t parameters_per_row) {
    constexpr std::size_t kStatementRows = 500;
    return std::min(kStatementRows, std::size_t{60000} / parameters_per_row);
}

std::string SelectRowsSql(const ResolvedTarget& target) {
    return "SELECT " + KeyListSql(target) + ", " + target.quoted_column + " FROM " +
           target.quoted_table + WhereClause(target) + " ORDER BY " + KeyListSql(target);
}

std::string SelectRowsAfterSql(const ResolvedTarget& target) {
    const std::string after = "(" + KeyAfterSql(target) + ")";
    return "SELECT " + KeyListSql(target) + ", " + target.quoted_column + " FROM " +
           target.quoted_table +
           (target.where.empty() ? " WHERE " + after : WhereClause(target) + " AND " + after) +
           " ORDER BY " + KeyListSql(target);
}

std::string CountRowsSql(const ResolvedTarget& target) {
    return "SELECT COUNT(*) FROM " + target.quoted_table + WhereClause(target);
}

std::string CountSharedIdsSql(const ResolvedTarget& target) {
    // The whole table, not only the rows --where picks: an update by key
    // reaches every row holding it.
    return "SELECT COUNT(*) FROM (SELECT " + KeyListSql(target) + " FROM " + target.quoted_table +
           " GROUP BY " + KeyListSql(target) + " HAVING COUNT(*) > 1) AS shared_ids";
}

std::string KeyMatchSql(const ResolvedTarget& target, std::string_view prefix) {
    std::string sql;
    for (std::size_t i = 0; i < target.key.size(); ++i)
        sql += (i == 0 ? "" : " AND ") + std::string(prefix) + target.key[i].quoted + " = ?";
    return sql;
}

std::string SameBytesSql(Dialect dialect, std::string_view column, std::string_view placeholder) {
    const std::string compared = std::string(column) + " = " + std::string(placeholder);
    switch (dialect) {
        case Dialect::kMySql:
            return "BINARY " + compared;
        case Dialect::kSqlServer:
            return compared + " COLLATE Latin1_General_100_BIN2";
        case Dialect::kSqlite:
            return compared + " COLLATE BINARY";
        case Dialect::kPostgres:
        case Dialect::kOther:
            break;
    }
    return compared;
}

std::string UpdateRowSql(const ResolvedTarget& target, Dialect dialect) {
    return "UPDATE " + target.quoted_table + " SET " + target.quoted_column + " = ? WHERE " +
           KeyMatchSql(target, {}) + " AND " + SameBytesSql(dialect, target.quoted_column, "?");
}

std::string SelectValueSql(const ResolvedTarget& target) {
    return "SELECT " + target.quoted_column + " FROM " + target.quoted_table + " WHERE " +
           KeyMatchSql(target, {});
}

namespace {

bool IsControl(char c) noexcept {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// A literal of the dialect with escapes: PostgreSQL's E'…' (\xHH for any
// byte) or MySQL's '…' with backslash escapes.
std::string EscapedLiteral(std::string_view text, bool postgres) {
    std::string literal = postgres ? "E'" : "'";
    for (const char c : text) {
        switch (c) {
            case '\\':
                literal += "\\\\";
                break;
            case '\'':
                literal += "''";
                break;
            case '\n':
                literal += "\\n";
                break;
            case '\r':
                literal += "\\r";
                break;
            case '\t':
                literal += "\\t";
                break;
            default:
                if (IsControl(c) && postgres) {
                    constexpr std::string_view kHex = "0123456789ABCDEF";
                    const auto byte = static_cast<unsigned char>(c);
                    literal += "\\x";
                    literal += kHex[byte >> 4];
                    literal += kHex[byte & 0xF];
                } else if (c == '\0') {
                    literal += "\\0";
                } else {
                    literal += c;
                }
        }
    }
    return literal + "'";
}

// Plain '…' pieces, every control character as the dialect's character
// function, joined by its concatenation.
std::string ConcatenatedLiteral(std::string_view text, Dialect dialect) {
    const bool mysql = dialect == Dialect::kMySql;
    const std::string join = mysql ? ", " : dialect == Dialect::kSqlServer ? " + " : " || ";
    const std::string function = dialect == Dialect::kSqlite  ? "char("
                                 : dialect == Dialect::kOther ? "CHR("
                                                              : "CHAR(";
    std::vector<std::string> pieces;
    std::string quoted;
    bool open = false;
    for (const char c : text) {
        if (IsControl(c)) {
            if (open) pieces.push_back(quoted + "'");
            open = false;
            pieces.push_back(function + std::to_string(static_cast<unsigned char>(c)) +
                             (mysql ? " USING utf8mb4)" : ")"));
            continue;
        }
        if (!open) quoted = "'";
        open = true;
        quoted += c;
        if (c == '\'') quoted += c;
    }
    if (open) pieces.push_back(quoted + "'");
    if (pieces.empty()) return "''";
    if (pieces.size() == 1) return pieces.front();
    std::string literal = mysql ? "CONCAT(" : "(";
    for (std::size_t i = 0; i < pieces.size(); ++i) literal += (i == 0 ? "" : join) + pieces[i];
    return literal + ")";
}

}  // namespace

std::string SqlLiteral(std::string_view text, Dialect dialect, bool backslash_escapes) {
    const bool plain = std::none_of(text.begin(), text.end(), IsControl);
    if (dialect == Dialect::kPostgres && (!plain || text.find('\\') != std::string_view::npos))
        return EscapedLiteral(text, true);
    if (dialect == Dialect::kMySql && backslash_escapes) return EscapedLiteral(text, false);
    return ConcatenatedLiteral(text, dialect);
}

std::string KeyLiteral(const ResolvedTarget& target, const RowKey& key, Dialect dialect,
                       bool backslash_escapes) {
    const auto literal = [&](std::size_t i) {
        const KeyValue& value = key[i];
        if (value.is_null) return std::string("NULL");
        const bool number =
            (value.is_integer || (i < target.key.size() && target.key[i].is_integer)) &&
            !value.text.empty() && value.text.find_first_not_of("-0123456789") == std::string::npos;
        return number ? value.text : SqlLiteral(value.text, dialect, backslash_escapes);
    };
    if (key.size() == 1) return literal(0);
    std::string row = "(";
    for (std::size_t i = 0; i < key.size(); ++i) row += (i == 0 ? "" : ", ") + literal(i);
    return row + ")";
}

}  // namespace tarvola::tool::db
