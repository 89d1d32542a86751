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
inline constexpr Command kCommands[] = {Command::kEncrypt, Command::kDecrypt, Command::kReencrypt,
                                        Command::kMigrate, Command::kScan};

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

[[nodiscard]] std::string_view NameOf(Command command) noexcept;

// The options, one row each holding all there is to know about one: its
// names, the commands that take it, how its value is set, and what --help and
// the man page say about it. --help is made from the rows, and so are, at
// build time, the man page's option entries and the bash completion
// (tools/doc/generate_docs.cpp).

// Where --help (and, unless a row says otherwise, the man page) explains an
// option.
enum class OptionSection { kKey, kGeneral, kMigrate, kScan };

// The command line read so far, as a setter sees it.
struct OptionState;

struct OptionSpec {
    std::string_view name;
    // Another name for the same option ("-0" for "--null"), or empty.
    std::string_view alias = {};
    // The value as --help shows it; empty for an option that takes none. An
    // upper-case word stands for what the user fills in (the completion
    // offers files for FILE, environment variables for VAR, nothing for the
    // others); "0|1" lists the values themselves, which the completion offers.
    std::string_view value = {};
    // One bit per Command.
    unsigned commands = 0;
    OptionSection section = OptionSection::kGeneral;
    // The explanation in --help, one line per "\n".
    std::string_view help = {};
    // The option explained once more, in migrate's words, among migrate's
    // options; or empty.
    std::string_view migrate_help = {};
    // The man page's paragraph (roff) after the line naming the option, which
    // is made from name, alias and value; empty to share the next row's.
    std::string_view man = {};
    // The man page's section, where it is not the one of --help.
    std::optional<OptionSection> man_section = {};
    // The paragraph among MIGRATE OPTIONS, for an option explained twice.
    std::string_view migrate_man = {};
    // The key options refuse a second key in their own words; any other
    // option given twice "is given twice".
    bool refuses_repeats_itself = false;
    // Stores the value (null for an option that takes none) in the state, or
    // sets its error.
    void (*set)(OptionState& state, char* value) = nullptr;

    [[nodiscard]] bool TakesValue() const noexcept { return !value.empty(); }
    [[nodiscard]] bool TakenBy(Command command) const noexcept {
        return (commands >> static_cast<unsigned>(command) & 1U) != 0;
    }
};

[[nodiscard]] std::span<const OptionSpec> OptionTable() noexcept;

// Whether `command` takes `value` for the option.
[[nodiscard]] bool AcceptsValue(const OptionSpec& spec, Command command, std::string_view value);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_CLI_COMMAND_LINE_H
