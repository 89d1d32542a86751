// Passwords in a database address (--db): whether there are any, what libpq
// would read otherwise than the user meant, and messages with every one of
// them hidden, a database client's message that quotes the address included.
#ifndef TARVOLA_TOOLS_MIGRATE_DB_ADDRESS_H
#define TARVOLA_TOOLS_MIGRATE_DB_ADDRESS_H

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "migrate/db/database.h"

namespace tarvola::tool {

// Whether a database address carries a password: a URI's
// "user:password@", a "password=" keyword (libpq, ODBC) or ODBC's "PWD=".
[[nodiscard]] bool AddressHoldsPassword(std::string_view address);

// What libpq would read otherwise than the user meant, as a warning: a URI
// password holding an unencoded '@', which libpq ends at the first one.
[[nodiscard]] std::optional<std::string> AddressMisreading(std::string_view address);

// `message` with every password `address` carries replaced by "***", for
// messages of a database client that may quote the address.
[[nodiscard]] std::string HidePasswords(std::string message, std::string_view address);

// Says `error`, which ended a run, on `err`: every line with the tool's
// prefix, passwords hidden. Returns the run's exit status: 1 for a
// statement refused while working, 2 for anything before (nothing ran).
int ReportDatabaseError(const db::Error& error, std::string_view address, std::ostream& err);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_DB_ADDRESS_H
