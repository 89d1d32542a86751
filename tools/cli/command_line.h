// What the user asked for, read from the command line. Nothing here touches
// a key file, the environment or the terminal: that happens in key_source.
#ifndef TARVOLA_TOOLS_CLI_COMMAND_LINE_H
#define TARVOLA_TOOLS_CLI_COMMAND_LINE_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/key_source.h"
#include "common/secret_text.h"
#include "migrate/settings.h"
#include "tarvolacrypt.hpp"
#include "values/value_operations.h"

namespace tarvola::tool {

enum class Command { kEncrypt, kDecrypt, kReencrypt, kMigrate, kScan };

struct Options {
    Command command = Command::kEncrypt;
    // How values are read (decrypt: --mode; reencrypt, migrate, scan:
    // --from-mode) and written (encrypt: --mode; the others: --to-mode).
    // decrypt reads mode 1 unless told otherwise, the rewriting commands
    // each value's own mode (scan assesses values by the write mode).
    ReadMode read_mode = ReadMode::kAuto;
    Mode write_mode = Mode::kEnvelope;
    KeySource key;
    // reencrypt, migrate and scan; kNone keeps the values under the old key.
    KeySource new_key{KeyOrigin::kNone, {}};
    bool strict = false;
    bool quiet = false;
    bool allow_binary = false;
    bool allow_empty_key = false;
    // Values separated by zero bytes instead of line ends (-0, --null).
    bool null_separated = false;
    bool line_buffered = false;
    // Worker threads for the values (--jobs); 0 means one per processor.
    unsigned jobs = 0;
    // Each one is a value (pointing into argv); none means one value per line
    // of standard input.
    std::vector<std::string_view> texts;
    // kArgument: migrate.database is the address (--db); kFile and
    // kEnvironment: the path (--db-file) or the variable (--db-env) that
    // holds it, which the tool reads before it connects.
    KeyOrigin database_origin = KeyOrigin::kArgument;
    MigrateOptions migrate;
    ScanOptions scan;
};

struct ParsedCommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsageError };
    Action action = Action::kRun;
    Options options;
    std::string error;
};

// Reads argv after the program name. A key given with --key is copied and
// its argument zeroed in place, which hides it from later looks at the
// process list (not from earlier ones, nor from shell history).
[[nodiscard]] ParsedCommandLine ParseCommandLine(std::span<char*> arguments);

[[nodiscard]] std::string_view HelpText() noexcept;

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_CLI_COMMAND_LINE_H
