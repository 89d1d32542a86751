// `tarvolacrypt scan`: where the stored values of one or more columns stand
// before, during or after a migration, read through a read-only connection
// (or from standard input): how many are empty, of which mode, how many
// migrate would rewrite, how many are already done, ambiguous or failing,
// and whether they will fit their column once migrated.
#ifndef TARVOLA_TOOLS_MIGRATE_SCAN_H
#define TARVOLA_TOOLS_MIGRATE_SCAN_H

#include <istream>
#include <ostream>

#include "migrate/settings.h"
#include "values/value_operations.h"

namespace tarvola::tool {

struct ScanSettings {
    // The database and its targets; with no database, the values are the
    // records of standard input.
    const MigrateOptions& source;
    const ScanOptions& scan;
    Rekeying rekeying;
    ValueRules rules;
    // Records of standard input end at zero bytes, not line ends.
    bool null_separated = false;
    // Whether a new key was given: without one, values that all fail hint
    // that it may be missing.
    bool new_key_given = false;
    // Threads for the crypto, at least one.
    unsigned jobs = 1;
    bool show_progress = false;
    std::ostream& err;
};

// The census goes to `out` (a table, or JSON with --format json); values
// come from the database of settings.source, or from `in` without one. The
// exit status: 0 when every non-empty value is done (nothing left under the
// old key, nothing failing, no row hidden), 1 otherwise or when the values
// could not all be read or listed, 2 for an unusable database, plan or
// failures file, before any value.
[[nodiscard]] int RunScan(const ScanSettings& settings, std::istream& in, std::ostream& out);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_SCAN_H
