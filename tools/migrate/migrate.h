// `tarvolacrypt migrate`: moves the values of one column of one table to the
// target mode and key where they are stored, in one transaction (or one per
// batch), writing a row only where it still holds the value read.
#ifndef TARVOLA_TOOLS_MIGRATE_MIGRATE_H
#define TARVOLA_TOOLS_MIGRATE_MIGRATE_H

#include <ostream>
#include <span>
#include <string_view>

#include "migrate/settings.h"
#include "values/value_operations.h"

namespace tarvola::tool {

namespace db {
class Database;
struct Target;
}  // namespace db

// What a run works by, besides its database and targets.
struct MigrationSettings {
    // The database (whose passwords messages hide), the targets, batches,
    // pacing, lock timeout, dry run.
    const MigrateOptions& options;
    Rekeying rekeying;
    ValueRules rules;
    // Threads for the crypto, at least one.
    unsigned jobs = 1;
    bool quiet = false;
    bool show_progress = false;
    std::ostream& err;
};

// Connects to the database of settings.options and migrates its targets.
// The crypto runs on `jobs` threads (at least one), the database work on the
// calling thread. The exit status: 0 done (nothing to do included), 1 a value
// failed or the database refused a write, 2 the database or a name in it is
// unusable; 130 or 143 when a stop signal came.
[[nodiscard]] int RunMigrate(const MigrationSettings& settings);

// RunMigrate once connected: checks `targets` in `database`, then migrates
// them; the same exit status. Apart from RunMigrate, for tests, which hand
// it a database of their own.
[[nodiscard]] int Migrate(db::Database& database, std::span<const db::Target> targets,
                          const MigrationSettings& settings);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_MIGRATE_H
