// `tarvolacrypt migrate`: moves the values of one column of one table to the
// target mode and key where they are stored, in one transaction (or one per
// batch), writing a row only where it still holds the value read.
#ifndef TARVOLA_TOOLS_MIGRATE_MIGRATE_H
#define TARVOLA_TOOLS_MIGRATE_MIGRATE_H

#include <ostream>
#include <string_view>

#include "cli/command_line.h"

namespace tarvola::tool {

// The crypto runs on `jobs` threads (at least one), the database work on the
// calling thread. The exit status: 0 done (nothing to do included), 1 a value
// failed or the database refused a write, 2 the database or a name in it is
// unusable.
[[nodiscard]] int RunMigrate(const Options& options, std::string_view key, std::string_view new_key,
                             unsigned jobs, bool show_progress, std::ostream& err);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_MIGRATE_H
