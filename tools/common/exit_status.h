// The tool's exit statuses, the same for every command. A run stopped by a
// signal exits as shells report it (StoppedRunStatus in stop_signal.h).
#ifndef TARVOLA_TOOLS_COMMON_EXIT_STATUS_H
#define TARVOLA_TOOLS_COMMON_EXIT_STATUS_H

namespace tarvola::tool {

// Every value succeeded; for scan, every stored value is done.
inline constexpr int kExitDone = 0;
// A value failed, the database refused a write or the output could not be
// written; for scan, values are still to migrate or failing.
inline constexpr int kExitFailed = 1;
// A usage error, an unusable key, or a database that cannot be reached or
// holds no such table: nothing was processed.
inline constexpr int kExitUsage = 2;

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_COMMON_EXIT_STATUS_H
