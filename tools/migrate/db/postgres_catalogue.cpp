#include "migrate/db/postgres_catalogue.h"

namespace tarvola::tool::db {

std::string DescribeColumnSql(std::string_view first, std::string_view second) {
    return "WITH RECURSIVE target(rel, col) AS (SELECT to_regclass(CAST(" + std::string(first) +
           " AS text)), CAST(" + std::string(second) +
           " AS name)), chain(depth, typid, typmod, declared) AS ("
           " SELECT 0, a.atttypid, a.atttypmod, format_type(a.atttypid, a.atttypmod)"
           " FROM pg_attribute a, target t WHERE a.attrelid = t.rel AND a.attname = t.col"
           " AND a.attnum > 0 AND NOT a.attisdropped"
           " UNION ALL SELECT c.depth + 1, y.typbasetype, y.typtypmod, c.declared FROM chain c"
           " JOIN pg_type y ON y.oid = c.typid WHERE y.typtype = 'd') "
           "SELECT quote_ident(n.nspname) || '.' || quote_ident(y.typname),"
           " (SELECT min(c.typmod - 4) FROM chain c WHERE c.typmod >= 4"
           " AND b.typid IN ('bpchar'::regtype, 'varchar'::regtype)),"
           " b.typid = 'bpchar'::regtype, y.typcategory::text, b.declared"
           " FROM (SELECT typid, declared FROM chain ORDER BY depth DESC LIMIT 1) AS b"
           " JOIN pg_type y ON y.oid = b.typid JOIN pg_namespace n ON n.oid = y.typnamespace";
}

std::string RowSecuritySql(std::string_view placeholder) {
    return "SELECT coalesce(row_security_active(to_regclass(CAST(" + std::string(placeholder) +
           " AS text))), false)";
}

}  // namespace tarvola::tool::db
