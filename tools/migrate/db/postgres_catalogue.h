// What PostgreSQL's catalogue says about a target, asked the same way
// through libpq and through psqlODBC: the catalogue is the one authority on
// widths, types and row security, which an ODBC driver can only guess at.
#ifndef TARVOLA_TOOLS_MIGRATE_DB_POSTGRES_CATALOGUE_H
#define TARVOLA_TOOLS_MIGRATE_DB_POSTGRES_CATALOGUE_H

#include <string>
#include <string_view>

namespace tarvola::tool::db {

// One column under any domains, by table (a quoted name, as to_regclass
// reads it) and column name: one row of
//   0 the base type by its catalogue name, which implies no length
//     (pg_catalog.bpchar, where `character` alone would mean char(1));
//   1 the least length any level declares (varchar and char only), NULL for
//     none;
//   2 whether the base type pads with blanks (char(n)): "t" or "f";
//   3 the base type's category ("S" for strings, "N" for numbers, …);
//   4 the column's type as declared, for messages.
// No row when there is no such column. `first` and `second` are the two
// placeholders ("$1", "$2" or "?", "?"), each used once.
[[nodiscard]] std::string DescribeColumnSql(std::string_view first, std::string_view second);

// Whether row-level security applies to this session's role on the table:
// one row, "t" or "f". One placeholder, the quoted table name.
[[nodiscard]] std::string RowSecuritySql(std::string_view placeholder);

// The type category of strings (text, varchar, char, name, citext).
inline constexpr std::string_view kStringCategory = "S";
inline constexpr std::string_view kNumberCategory = "N";

}  // namespace tarvola::tool::db

#endif  // TARVOLA_TOOLS_MIGRATE_DB_POSTGRES_CATALOGUE_H
