// `tarvolacrypt scan`: where the stored values of one or more columns stand
// before, during or after a migration, read through a read-only connection
// (or from standard input): how many are empty, of which mode, how many
// migrate would rewrite, how many are already done, ambiguous or failing,
// and whether they will fit their column once migrated.
#ifndef TARVOLA_TOOLS_MIGRATE_SCAN_H
#define TARVOLA_TOOLS_MIGRATE_SCAN_H

#include <istream>
#include <ostream>
#include <string_view>

#include "cli/command_line.h"

namespace tarvola::tool {

// The census goes to `out` (a table, or JSON with --format json); values
// come from the database of options.migrate, or from `in` without one. The
// exit status: 0 when every non-empty value is done (nothing left under the
// old key, nothing failing), 1 otherwise, 2 for an unusable database, plan
// or failures file.
[[nodiscard]] int RunScan(const Options& options, std::string_view key, std::string_view new_key,
                          unsigned jobs, bool show_progress, std::istream& in, std::ostream& out,
                          std::ostream& err);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_SCAN_H
