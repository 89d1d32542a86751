// The SQL text migrate reads from the user before any database sees it: the
// table name split into schema and table, and the one-condition rule for
// --where, under every way a database might read quotes and comments.
#include <gtest/gtest.h>

#include <string>

#include "migrate/db/database.h"

namespace tarvola::tool::db {
namespace {

struct ConditionCase {
    const char* where;
    bool one_statement;
};

// Order: condition, whether it is accepted as one statement.
constexpr ConditionCase kConditions[] = {
    {"id % 4 = 0", true},
    {"v <> 'a;b'", true},
    {"\"odd;name\" IS NULL", true},
    {"v = 'a''; drop table t; --'", true},
    {"true); create table pwned(id int); select 1 from pwned where (true", false},
    // A backslash escapes the quote for some databases: the ';' is outside.
    {"v = '\\''; drop table t; select '\\''", false},
    // A comment for some databases, hiding the quote that would hide the ';'.
    {"v = 1 -- '\n; drop table t; select '", false},
    {"v = 1 # '\n; drop table t; select '", false},
    {"v = 1 /* ' */ ; drop table t; select '", false},
    {"v = 1 /* /* */ ' */ ; drop table t; --'", false},
    // Quotes only some databases know are not trusted to hide a ';'.
    {"v = `a;b`", false},
    {"v = $$;$$", false},
};

TEST(SqlText, WhereIsOneCondition) {
    for (const ConditionCase& c : kConditions) {
        bool accepted = true;
        try {
            CheckSingleCondition(c.where);
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), Error::Kind::kUsage) << c.where;
            accepted = false;
        }
        EXPECT_EQ(accepted, c.one_statement) << c.where;
    }
}

struct NameCase {
    const char* given;
    const char* schema;
    const char* table;  // nullptr: a usage error
};

// Order: --table as given, schema, table.
constexpr NameCase kNames[] = {
    {"secrets", "", "secrets"},
    {"app.secrets", "app", "secrets"},
    {"\"a.b\"", "", "a.b"},
    {"app.\"x.y\"", "app", "x.y"},
    {"\"My \"\"Schema\"\"\".t", "My \"Schema\"", "t"},
    // A quote not at the start of a part is an ordinary character.
    {"We\"ird Table", "", "We\"ird Table"},
    {"a.b.c", "", nullptr},
    {"\"a.b", "", nullptr},
    {"\"a\"b", "", nullptr},
    {"a.", "", nullptr},
    {".b", "", nullptr},
};

TEST(SqlText, TableNameSplitsAtDotsOutsideQuotes) {
    for (const NameCase& c : kNames) {
        if (c.table == nullptr) {
            EXPECT_THROW((void)SplitTableName(c.given), Error) << c.given;
            continue;
        }
        const QualifiedName name = SplitTableName(c.given);
        EXPECT_EQ(name.schema, c.schema) << c.given;
        EXPECT_EQ(name.table, c.table) << c.given;
    }
}

TEST(SqlText, DialectFollowsTheDriversDatabaseName) {
    const std::pair<const char*, Dialect> names[] = {
        {"PostgreSQL", Dialect::kPostgres},
        {"MariaDB", Dialect::kMySql},
        {"MySQL", Dialect::kMySql},
        {"Microsoft SQL Server", Dialect::kSqlServer},
        {"SQLite", Dialect::kSqlite},
        {"Oracle", Dialect::kOther},
        {"", Dialect::kOther},
    };
    for (const auto& [name, dialect] : names) EXPECT_EQ(DialectOfDbmsName(name), dialect) << name;
}

}  // namespace
}  // namespace tarvola::tool::db
