// The one piece of raw SQL migrate and scan take from the user, --where,
// checked before any database sees it: it must stay one condition inside
// the parentheses the queries put it in.
//
// A database, and an ODBC driver before it, cuts a text into statements by
// its own reading of quotes and comments, and those readings differ: a
// PostgreSQL dollar quote ($$…$$, $tag$…$tag$) or E'…' string hides a quote
// from a reader that lacks it, a MariaDB '#' comment hides one from every
// other, and psqlODBC and MariaDB's driver scan for the ';' between
// statements in ways of their own. The check reads the text every way the
// dialect's servers (in each of their quoting modes) and drivers may, and
// refuses it when any reading finds more than one condition.
#ifndef TARVOLA_TOOLS_MIGRATE_DB_SQL_CONDITION_H
#define TARVOLA_TOOLS_MIGRATE_DB_SQL_CONDITION_H

#include <string_view>

#include "migrate/db/database.h"

namespace tarvola::tool::db {

// Throws Error(kUsage, "--where must be one condition: …") when `where`,
// read any way `dialect` may read it (kOther: any way of any dialect):
// - has a ';' outside quotes and comments;
// - through ODBC, has a ';' anywhere but inside a plain '…' string (not in
//   a name, a prefixed or dollar-quoted string, or a comment);
// - has a ';' beside a construct that server versions read differently
//   (a MySQL /*! … */ comment, a number run into E'…' or $…$);
// - ends inside a quote or a comment, which would take in the SQL after it;
// - closes a parenthesis it did not open, or leaves one open.
// An empty condition passes.
void CheckSingleCondition(std::string_view where, Dialect dialect, Route route);

}  // namespace tarvola::tool::db

#endif  // TARVOLA_TOOLS_MIGRATE_DB_SQL_CONDITION_H
