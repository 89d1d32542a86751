// What migrate and scan are asked to do, filled in by the command line:
// where the values are, and how a migration writes them.
#ifndef TARVOLA_TOOLS_MIGRATE_SETTINGS_H
#define TARVOLA_TOOLS_MIGRATE_SETTINGS_H

#include <cstdint>
#include <string>

namespace tarvola::tool {

// migrate and scan: where the values are; migrate only: how to write them.
struct MigrateOptions {
    // The database's address (its passwords are hidden in every message).
    std::string database;
    std::string table;
    std::string column;
    // Empty: the table's primary key (SQLite: its rowid where it has none);
    // else one column or several, separated by commas.
    std::string id;
    std::string where;
    // A file naming several targets (TABLE COLUMN [ID] per line), instead
    // of table, column and id.
    std::string plan;
    // 0: one transaction for the whole run.
    std::uint64_t batch_size = 0;
    // 0: wait for another session's lock as long as it takes.
    std::uint64_t lock_timeout_seconds = 0;
    bool dry_run = false;
    // Times of the passes a run makes, on standard error.
    bool verbose = false;
    // Between batches: a pause, and a cap on rows per second (0: none).
    std::uint64_t pause_ms = 0;
    std::uint64_t max_rate = 0;
};

// scan only.
struct ScanOptions {
    // Where to list the failing and ambiguous rows; empty for nowhere.
    std::string failures;
    bool json = false;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_MIGRATE_SETTINGS_H
