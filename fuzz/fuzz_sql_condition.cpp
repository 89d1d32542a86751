// --where's one-condition check on any text. Beyond not crashing, its
// readers only ever add refusals: ODBC refuses whatever a one-statement
// protocol does, an unknown dialect whatever a known one does, and without
// a ';' the route makes no difference.
//
// Input: the condition as it stands.
#include <string_view>

#include "fuzz_support.h"
#include "migrate/db/sql_condition.h"

namespace {

using tarvola::tool::db::Dialect;
using tarvola::tool::db::Route;

bool Accepted(std::string_view where, Dialect dialect, Route route) {
    try {
        tarvola::tool::db::CheckSingleCondition(where, dialect, route);
        return true;
    } catch (const tarvola::tool::db::Error& error) {
        FUZZ_CHECK(error.kind() == tarvola::tool::db::Error::Kind::kUsage);
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view where(reinterpret_cast<const char*>(data), size);
    const bool any_dialect = Accepted(where, Dialect::kOther, Route::kOdbc);
    const bool has_semicolon = where.find(';') != std::string_view::npos;
    for (const Dialect dialect :
         {Dialect::kSqlite, Dialect::kPostgres, Dialect::kMySql, Dialect::kSqlServer}) {
        const bool odbc = Accepted(where, dialect, Route::kOdbc);
        const bool one_statement = Accepted(where, dialect, Route::kOneStatement);
        FUZZ_CHECK(!any_dialect || odbc);
        FUZZ_CHECK(!odbc || one_statement);
        FUZZ_CHECK(has_semicolon || odbc == one_statement);
    }
    return 0;
}
