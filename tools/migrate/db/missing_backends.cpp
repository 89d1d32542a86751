// Stand-ins for the backends whose client library this build did not find.
#include "migrate/db/database.h"

namespace tarvola::tool::db {
namespace {

[[noreturn, maybe_unused]] void NotBuilt(std::string_view backend) {
    throw Error(Error::Kind::kUsage,
                "this build of tarvolacrypt has no " + std::string(backend) + " support");
}

}  // namespace

#if !defined(TARVOLA_HAVE_SQLITE)
std::unique_ptr<Database> ConnectSqlite(const std::string& /*path*/, Access /*access*/) {
    NotBuilt("SQLite");
}
#endif
#if !defined(TARVOLA_HAVE_POSTGRES)
std::unique_ptr<Database> ConnectPostgres(const std::string& /*uri*/, Access /*access*/) {
    NotBuilt("PostgreSQL");
}
#endif
#if !defined(TARVOLA_HAVE_ODBC)
std::unique_ptr<Database> ConnectOdbc(const std::string& /*connection_string*/, Access /*access*/) {
    NotBuilt("ODBC");
}
#endif

}  // namespace tarvola::tool::db
