#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

namespace tarvola::tool {
namespace {

using Action = ParsedCommandLine::Action;

enum class OptionId {
    kMode,
    kFromMode,
    kToMode,
    kKeyFile,
    kKeyEnv,
    kKey,
    kNewKeyFile,
    kNewKeyEnv,
    kStrict,
    kQuiet,
    kDb,
    kDbFile,
    kDbEnv,
    kTable,
    kColumn,
    kId,
    kWhere,
    kBatchSize,
    kLockTimeout,
    kJobs,
    kDryRun,
    kAllowBinary,
    kAllowEmptyKey,
    kNull,
    kLineBuffered,
    kPlan,
    kPause,
    kMaxRate,
    kFailures,
    kVerbose,
    kFormat,
};
// kFormat must stay the last OptionId.
constexpr std::size_t kOptionIdCount = static_cast<std::size_t>(OptionId::kFormat) + 1;

// Which commands accept an option, one bit per Command.
constexpr unsigned kCryptCommands = 1U << 0 | 1U << 1;
constexpr unsigned kReencryptOnly = 1U << 2;
constexpr unsigned kMigrateOnly = 1U << 3;
constexpr unsigned kScanOnly = 1U << 4;
// The commands that find their values in a database.
constexpr unsigned kDbCommands = kMigrateOnly | kScanOnly;
// The commands that know an old and a new key and mode.
constexpr unsigned kRewriting = kReencryptOnly | kMigrateOnly | kScanOnly;
constexpr unsigned kReadingCommands = 1U << 1 | kRewriting;
// The commands that read and write values as records of a stream.
constexpr unsigned kStreamCommands = kCryptCommands | kReencryptOnly;
constexpr unsigned kAllCommands = kCryptCommands | kRewriting;

// Where an option is explained in --help.
enum class HelpSection { kKey, kGeneral, kMigrate, kScan };

struct OptionSpec {
    std::string_view name;
    // Another name for the same option ("-0" for "--null"), or empty.
    std::string_view alias;
    OptionId id;
    // What --help shows for the option's value; empty for an option that
    // takes none.
    std::string_view value;
    unsigned commands;
    HelpSection section;
    // The explanation in --help, one line per "\n".
    std::string_view help;
    // The option explained once more, in migrate's words, among migrate's
    // options; or empty.
    std::string_view migrate_help = {};

    [[nodiscard]] bool TakesValue() const noexcept { return !value.empty(); }
};

// In the order --help shows them (in each section).
constexpr std::array<OptionSpec, 31> kOptions = {{
    {"--key-file", "", OptionId::kKeyFile, "FILE", kAllCommands, HelpSection::kKey,
     "the first line of FILE, without its line end"},
    {"--key-env", "", OptionId::kKeyEnv, "VAR", kAllCommands, HelpSection::kKey,
     "the value of the environment variable VAR"},
    {"--key", "", OptionId::kKey, "TEXT", kAllCommands, HelpSection::kKey,
     "the key itself: other users can see it in the process\n"
     "list and it stays in the shell history, so prefer the\n"
     "two above"},
    {"--allow-empty-key", "", OptionId::kAllowEmptyKey, "", kAllCommands, HelpSection::kKey,
     "accept an empty key text (refused otherwise: values\n"
     "under it are readable by anyone)"},
    {"--mode", "", OptionId::kMode, "0|1|auto", kCryptCommands, HelpSection::kGeneral,
     "(encrypt: 0|1, decrypt: 0|1|auto) the scheme; default 1"},
    {"--db", "", OptionId::kDb, "DATABASE", kDbCommands, HelpSection::kMigrate,
     "sqlite:PATH, postgresql://... or postgres://... (libpq\n"
     "connection URI), or odbc:CONNECTION-STRING; other\n"
     "users can see it in the process list, so keep\n"
     "passwords out of it (PGPASSWORD, ~/.pgpass) or use:"},
    {"--db-file", "", OptionId::kDbFile, "FILE", kDbCommands, HelpSection::kMigrate,
     "the DATABASE address is the first line of FILE"},
    {"--db-env", "", OptionId::kDbEnv, "VAR", kDbCommands, HelpSection::kMigrate,
     "the DATABASE address is the value of VAR"},
    {"--table", "", OptionId::kTable, "TABLE", kDbCommands, HelpSection::kMigrate,
     "the table, as named in the catalogue, or SCHEMA.TABLE\n"
     "(a name holding a dot in double quotes: '\"a.b\"')"},
    {"--column", "", OptionId::kColumn, "COLUMN", kDbCommands, HelpSection::kMigrate,
     "the column holding the values"},
    {"--id", "", OptionId::kId, "COLUMN[,COLUMN...]", kDbCommands, HelpSection::kMigrate,
     "the row key, one column or several; default the\n"
     "table's primary key (SQLite: else its rowid)"},
    {"--where", "", OptionId::kWhere, "CONDITION", kDbCommands, HelpSection::kMigrate,
     "raw SQL limiting the rows, e.g. \"id % 4 = 0\""},
    {"--from-mode", "", OptionId::kFromMode, "0|1|auto", kRewriting, HelpSection::kGeneral,
     "(reencrypt) the scheme of the values read; default auto",
     "default auto: each value's mode from its shape"},
    {"--to-mode", "", OptionId::kToMode, "0|1", kRewriting, HelpSection::kGeneral,
     "(reencrypt) the scheme of the values written; default 1", "default 1"},
    {"--new-key-file", "", OptionId::kNewKeyFile, "FILE", kRewriting, HelpSection::kGeneral,
     "(reencrypt) write under the key in FILE instead"},
    {"--new-key-env", "", OptionId::kNewKeyEnv, "VAR", kRewriting, HelpSection::kGeneral,
     "(reencrypt) write under the key in VAR instead"},
    {"--allow-binary", "", OptionId::kAllowBinary, "", kReadingCommands, HelpSection::kGeneral,
     "(decrypt, reencrypt) accept plaintexts that are not\n"
     "UTF-8 text or hold control characters"},
    {"--null", "-0", OptionId::kNull, "", kStreamCommands | kScanOnly, HelpSection::kGeneral,
     "values are separated by zero bytes, not lines, in\n"
     "input and output (as xargs -0), so they may hold\n"
     "line breaks"},
    {"--line-buffered", "", OptionId::kLineBuffered, "", kStreamCommands, HelpSection::kGeneral,
     "write each result before reading the next value (on\n"
     "by itself when standard input is a terminal)"},
    {"--plan", "", OptionId::kPlan, "FILE", kDbCommands, HelpSection::kMigrate,
     "several targets instead of --table, --column and --id:\n"
     "one \"TABLE COLUMN [ID]\" per line, # for comments,\n"
     "\"double quotes\" around a name holding blanks; all\n"
     "in one transaction unless --batch-size, then one\n"
     "target after the other (no --where with --plan)"},
    {"--batch-size", "", OptionId::kBatchSize, "N", kMigrateOnly, HelpSection::kMigrate,
     "commit every N rows (default: one transaction)"},
    {"--pause", "", OptionId::kPause, "MS", kMigrateOnly, HelpSection::kMigrate,
     "with --batch-size: wait MS milliseconds after each\n"
     "batch, holding no lock"},
    {"--max-rate", "", OptionId::kMaxRate, "ROWS", kMigrateOnly, HelpSection::kMigrate,
     "with --batch-size: wait after a batch as long as it\n"
     "takes to stay under ROWS rows per second"},
    {"--lock-timeout", "", OptionId::kLockTimeout, "SECONDS", kMigrateOnly, HelpSection::kMigrate,
     "give up (roll back, exit 1) when a lock held by\n"
     "another session blocks the run this long (default:\n"
     "wait, and say so on a terminal)"},
    {"--dry-run", "", OptionId::kDryRun, "", kMigrateOnly, HelpSection::kMigrate,
     "do and verify everything, then roll back"},
    {"--verbose", "", OptionId::kVerbose, "", kMigrateOnly, HelpSection::kMigrate,
     "say on standard error how long the read-only passes\n"
     "over the table took (the width check before the\n"
     "first write, the count of rows left to migrate after\n"
     "a batched run)"},
    {"--jobs", "", OptionId::kJobs, "N", kAllCommands, HelpSection::kGeneral,
     "work on the values of standard input with N threads\n"
     "(default: one per processor); the output is the same\n"
     "as with --jobs 1, which uses one thread",
     "the crypto on N threads (default: one per processor)"},
    {"--strict", "", OptionId::kStrict, "", kStreamCommands, HelpSection::kGeneral,
     "stop at the first value that fails"},
    {"--quiet", "", OptionId::kQuiet, "", kAllCommands, HelpSection::kGeneral,
     "no progress line and no summary on standard error"},
    {"--format", "", OptionId::kFormat, "text|json", kScanOnly, HelpSection::kScan,
     "a table for people (default) or one JSON object"},
    {"--failures", "", OptionId::kFailures, "FILE", kScanOnly, HelpSection::kScan,
     "one line per failing or ambiguous row: its key as\n"
     "SQL of the database (the line number for standard\n"
     "input), TAB, the reason"},
}};

constexpr std::uint64_t kMaxLockTimeoutSeconds = 2000000;

// More threads than this gain nothing and only cost memory (chunks in flight).
constexpr unsigned kMaxJobs = 256;

std::optional<unsigned> ParseJobs(std::string_view text) noexcept {
    unsigned jobs = 0;
    if (text.empty() || text.size() > 3) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        jobs = 10 * jobs + static_cast<unsigned>(c - '0');
    }
    if (jobs == 0 || jobs > kMaxJobs) return std::nullopt;
    return jobs;
}

unsigned BitOf(Command command) noexcept {
    return 1U << static_cast<unsigned>(command);
}

std::string_view NameOf(Command command) noexcept {
    switch (command) {
        case Command::kEncrypt:
            return "encrypt";
        case Command::kDecrypt:
            return "decrypt";
        case Command::kReencrypt:
            return "reencrypt";
        case Command::kMigrate:
            return "migrate";
        case Command::kScan:
            return "scan";
    }
    return "?";
}

std::optional<Command> ParseCommand(std::string_view word) noexcept {
    for (const Command command : {Command::kEncrypt, Command::kDecrypt, Command::kReencrypt,
                                  Command::kMigrate, Command::kScan}) {
        if (word == NameOf(command)) return command;
    }
    return std::nullopt;
}

std::optional<Mode> ParseMode(std::string_view text) noexcept {
    if (text == "0") return Mode::kHexBlock;
    if (text == "1") return Mode::kEnvelope;
    return std::nullopt;
}

std::optional<ReadMode> ParseReadMode(std::string_view text) noexcept {
    if (text == "auto") return ReadMode::kAuto;
    if (text == "0") return ReadMode::kHexBlock;
    if (text == "1") return ReadMode::kEnvelope;
    return std::nullopt;
}

const OptionSpec* FindOption(std::string_view name) noexcept {
    const auto* found =
        std::find_if(kOptions.begin(), kOptions.end(), [name](const OptionSpec& spec) {
            return spec.name == name || (!spec.alias.empty() && spec.alias == name);
        });
    return found == kOptions.end() ? nullptr : found;
}

bool AsksForHelpOrVersion(std::span<char*> arguments, Action& action) {
    for (const char* argument : arguments) {
        const std::string_view word = argument;
        if (word == "--") break;
        if (word == "--help" || word == "-h") {
            action = Action::kHelp;
            return true;
        }
        if (word == "--version") {
            action = Action::kVersion;
            return true;
        }
    }
    return false;
}

ParsedCommandLine UsageError(std::string message) {
    ParsedCommandLine parsed;
    parsed.action = Action::kUsageError;
    parsed.error = std::move(message);
    return parsed;
}

// Reads the options and texts after the command word.
class OptionReader {
  public:
    OptionReader(std::span<char*> arguments, Command command) : arguments_(arguments) {
        parsed_.options.command = command;
        if (command == Command::kDecrypt) parsed_.options.read_mode = ReadMode::kEnvelope;
    }

    ParsedCommandLine Read() && {
        bool only_texts = false;
        for (next_ = 0; next_ < arguments_.size() && error_.empty();) {
            char* argument = arguments_[next_++];
            const std::string_view word = argument;
            if (only_texts || word == "-" || !word.starts_with("-")) {
                parsed_.options.texts.push_back(word);
            } else if (word == "--") {
                only_texts = true;
            } else {
                ReadOption(argument);
            }
        }
        if (!error_.empty()) return UsageError(std::move(error_));
        if (parsed_.options.command == Command::kMigrate) return CheckMigrate();
        if (parsed_.options.command == Command::kScan) return CheckScan();
        return std::move(parsed_);
    }

    ParsedCommandLine CheckMigrate() {
        const MigrateOptions& migrate = parsed_.options.migrate;
        if (!parsed_.options.texts.empty())
            return UsageError("migrate takes no TEXT: the values come from --db");
        if (migrate.database.empty())
            return UsageError(
                "migrate needs --db (or --db-file, --db-env), and --table and --column or --plan");
        if (const std::string error = CheckTargets("migrate"); !error.empty())
            return UsageError(error);
        if ((migrate.pause_ms != 0 || migrate.max_rate != 0) && migrate.batch_size == 0)
            return UsageError("--pause and --max-rate pace batches: give --batch-size too");
        return std::move(parsed_);
    }

    // Without --db, scan reads values from standard input as decrypt does.
    ParsedCommandLine CheckScan() {
        const Options& options = parsed_.options;
        const MigrateOptions& source = options.migrate;
        if (!options.texts.empty())
            return UsageError("scan takes no TEXT: the values come from --db or standard input");
        if (source.database.empty()) {
            if (!source.table.empty() || !source.column.empty() || !source.id.empty() ||
                !source.where.empty() || !source.plan.empty())
                return UsageError("--table, --column, --id, --where and --plan need --db");
            return std::move(parsed_);
        }
        if (options.null_separated)
            return UsageError("-0 is for values on standard input, not for --db");
        if (const std::string error = CheckTargets("scan"); !error.empty())
            return UsageError(error);
        return std::move(parsed_);
    }

    // One target from --table and --column, or several from --plan.
    std::string CheckTargets(std::string_view command) const {
        const MigrateOptions& source = parsed_.options.migrate;
        if (!source.plan.empty()) {
            if (!source.table.empty() || !source.column.empty() || !source.id.empty())
                return "--plan names the tables and columns: give no --table, --column or --id";
            if (!source.where.empty()) return "--where cannot be used with --plan";
            return {};
        }
        if (source.table.empty() || source.column.empty())
            return std::string(command) + " needs --table and --column, or --plan";
        return {};
    }

  private:
    void ReadOption(char* argument) {
        const std::string_view word = argument;
        const std::size_t equals = word.find('=');
        const std::string_view name = word.substr(0, equals);
        const OptionSpec* spec = FindOption(name);
        if (spec == nullptr) {
            error_ = "unknown option '" + std::string(name) +
                     "' (to give a value that starts with '-', put -- before it)";
            return;
        }
        // "-0" and "--null" are one option; the key options say so below.
        const auto bit = std::uint64_t{1} << static_cast<unsigned>(spec->id);
        if ((seen_ & bit) != 0 && !IsKeyOption(spec->id)) {
            error_ = std::string(name) + " is given twice";
            return;
        }
        seen_ |= bit;
        if ((spec->commands & BitOf(parsed_.options.command)) == 0) {
            error_ = std::string(name) + " cannot be used with " +
                     std::string(NameOf(parsed_.options.command));
            return;
        }
        if (!spec->TakesValue()) {
            if (equals != std::string_view::npos) {
                error_ = std::string(name) + " takes no value";
                return;
            }
            Apply(*spec, nullptr);
            return;
        }
        char* value = nullptr;
        if (equals != std::string_view::npos) {
            value = argument + equals + 1;
        } else if (next_ < arguments_.size()) {
            value = arguments_[next_++];
        } else {
            error_ = std::string(name) + " needs a value";
            return;
        }
        Apply(*spec, value);
    }

    // `value` is null for the options that take none.
    void Apply(const OptionSpec& spec, char* value) {
        Options& options = parsed_.options;
        MigrateOptions& migrate = options.migrate;
        ScanOptions& scan = options.scan;
        switch (spec.id) {
            case OptionId::kMode:
                if (options.command == Command::kEncrypt) {
                    SetParsed(spec.name, value, ParseMode, "0 or 1", options.write_mode);
                } else {
                    SetParsed(spec.name, value, ParseReadMode, "0, 1 or auto", options.read_mode);
                }
                break;
            case OptionId::kFromMode:
                SetParsed(spec.name, value, ParseReadMode, "0, 1 or auto", options.read_mode);
                break;
            case OptionId::kToMode:
                SetParsed(spec.name, value, ParseMode, "0 or 1", options.write_mode);
                break;
            case OptionId::kKeyFile:
                SetKey(KeyOrigin::kFile, spec.name, value, key_given_, options.key);
                break;
            case OptionId::kKeyEnv:
                SetKey(KeyOrigin::kEnvironment, spec.name, value, key_given_, options.key);
                break;
            case OptionId::kKey:
                SetKey(KeyOrigin::kArgument, spec.name, value, key_given_, options.key);
                break;
            case OptionId::kNewKeyFile:
                SetKey(KeyOrigin::kFile, spec.name, value, new_key_given_, options.new_key);
                break;
            case OptionId::kNewKeyEnv:
                SetKey(KeyOrigin::kEnvironment, spec.name, value, new_key_given_, options.new_key);
                break;
            case OptionId::kStrict:
                options.strict = true;
                break;
            case OptionId::kQuiet:
                options.quiet = true;
                break;
            case OptionId::kAllowBinary:
                options.allow_binary = true;
                break;
            case OptionId::kAllowEmptyKey:
                options.allow_empty_key = true;
                break;
            case OptionId::kNull:
                options.null_separated = true;
                break;
            case OptionId::kLineBuffered:
                options.line_buffered = true;
                break;
            case OptionId::kJobs:
                SetParsed(spec.name, value, ParseJobs, "a number from 1 to 256", options.jobs);
                break;
            case OptionId::kDryRun:
                migrate.dry_run = true;
                break;
            case OptionId::kVerbose:
                migrate.verbose = true;
                break;
            case OptionId::kDb:
                SetDatabase(KeyOrigin::kArgument, spec.name, value);
                break;
            case OptionId::kDbFile:
                SetDatabase(KeyOrigin::kFile, spec.name, value);
                break;
            case OptionId::kDbEnv:
                SetDatabase(KeyOrigin::kEnvironment, spec.name, value);
                break;
            case OptionId::kTable:
                migrate.table = value;
                break;
            case OptionId::kColumn:
                migrate.column = value;
                break;
            case OptionId::kId:
                migrate.id = value;
                break;
            case OptionId::kWhere:
                migrate.where = value;
                break;
            case OptionId::kBatchSize:
                migrate.batch_size = ParseCount(spec.name, value);
                break;
            case OptionId::kPlan:
                migrate.plan = value;
                break;
            case OptionId::kPause:
                migrate.pause_ms = ParseCount(spec.name, value);
                break;
            case OptionId::kMaxRate:
                migrate.max_rate = ParseCount(spec.name, value);
                break;
            case OptionId::kFailures:
                scan.failures = value;
                break;
            case OptionId::kFormat:
                if (std::string_view(value) != "text" && std::string_view(value) != "json")
                    error_ = "--format must be text or json, not '" + std::string(value) + "'";
                scan.json = std::string_view(value) == "json";
                break;
            case OptionId::kLockTimeout:
                migrate.lock_timeout_seconds = ParseCount(spec.name, value);
                // Within what every database's timeout setting holds (PostgreSQL
                // counts milliseconds in 31 bits).
                if (migrate.lock_timeout_seconds > kMaxLockTimeoutSeconds)
                    error_ = "--lock-timeout must be at most " +
                             std::to_string(kMaxLockTimeoutSeconds) + " seconds";
                break;
        }
    }

    void SetDatabase(KeyOrigin origin, std::string_view name, char* value) {
        MigrateOptions& migrate = parsed_.options.migrate;
        if (database_given_) {
            error_ = "give only one of --db, --db-file and --db-env";
            return;
        }
        database_given_ = true;
        parsed_.options.database_origin = origin;
        migrate.database = value;
        if (migrate.database.empty()) error_ = std::string(name) + " needs a non-empty value";
        // The address may hold a password: hidden from later looks at the
        // process list, as --key is.
        if (origin == KeyOrigin::kArgument) secure_wipe(value, std::strlen(value));
    }

    // A positive whole number.
    std::uint64_t ParseCount(std::string_view name, const char* value) {
        const std::string_view text = value;
        std::uint64_t number = 0;
        const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (status != std::errc() || end != text.data() + text.size() || number == 0)
            error_ = std::string(name) + " must be a positive number, not '" + value + "'";
        return number;
    }

    template <class Parser, class Target>
    void SetParsed(std::string_view name, const char* value, Parser parse, std::string_view allowed,
                   Target& target) {
        const auto parsed = parse(value);
        if (!parsed) {
            error_ =
                std::string(name) + " must be " + std::string(allowed) + ", not '" + value + "'";
            return;
        }
        target = *parsed;
    }

    static bool IsKeyOption(OptionId id) noexcept {
        return id == OptionId::kKeyFile || id == OptionId::kKeyEnv || id == OptionId::kKey ||
               id == OptionId::kNewKeyFile || id == OptionId::kNewKeyEnv;
    }

    void SetKey(KeyOrigin origin, std::string_view name, char* value, bool& given,
                KeySource& source) {
        if (given) {
            error_ = name.starts_with("--new-")
                         ? "give only one of --new-key-file and --new-key-env"
                         : "give only one of --key-file, --key-env and --key";
            return;
        }
        given = true;
        source.origin = origin;
        source.detail = SecretText(value);
        if (origin == KeyOrigin::kArgument) {
            secure_wipe(value, std::strlen(value));
        } else if (source.detail.view().empty()) {
            error_ = std::string(name) + " needs a non-empty value";
        }
    }

    std::span<char*> arguments_;
    std::size_t next_ = 0;
    ParsedCommandLine parsed_;
    std::string error_;
    bool key_given_ = false;
    bool new_key_given_ = false;
    bool database_given_ = false;
    // One bit per OptionId.
    std::uint64_t seen_ = 0;
    static_assert(kOptionIdCount <= std::numeric_limits<decltype(seen_)>::digits,
                  "seen_ needs a bit for every OptionId");
};

}  // namespace

ParsedCommandLine ParseCommandLine(std::span<char*> arguments) {
    ParsedCommandLine parsed;
    if (AsksForHelpOrVersion(arguments, parsed.action)) return parsed;
    if (arguments.empty())
        return UsageError("no command given (encrypt, decrypt, reencrypt, migrate or scan)");

    const std::string_view first = arguments[0];
    const auto command = ParseCommand(first);
    if (!command) {
        std::string error(1, '\'');
        error.append(first).append(
            "' is not a command: the first argument must be encrypt, decrypt, reencrypt, "
            "migrate or scan");
        return UsageError(std::move(error));
    }
    return OptionReader(arguments.subspan(1), *command).Read();
}

namespace {

constexpr std::size_t kHelpColumn = 24;

// "  --name VALUE" and the explanation from kHelpColumn on, its later lines
// indented as far.
void AppendHelpLines(std::string& text, const OptionSpec& spec, std::string_view help) {
    std::string label = "  ";
    if (!spec.alias.empty()) label.append(spec.alias).append(", ");
    label.append(spec.name);
    if (spec.TakesValue()) label.append(" ").append(spec.value);
    text.append(label).append(
        std::max<std::size_t>(2, kHelpColumn - std::min(label.size(), kHelpColumn)), ' ');
    for (std::size_t start = 0;;) {
        const std::size_t end = help.find('\n', start);
        text.append(help.substr(start, end - start)).append("\n");
        if (end == std::string_view::npos) break;
        start = end + 1;
        text.append(kHelpColumn, ' ');
    }
}

void AppendSection(std::string& text, HelpSection section) {
    for (const OptionSpec& spec : kOptions) {
        if (spec.section == section) AppendHelpLines(text, spec, spec.help);
        if (section == HelpSection::kMigrate && !spec.migrate_help.empty())
            AppendHelpLines(text, spec, spec.migrate_help);
    }
}

std::string MakeHelpText() {
    std::string text = R"(Usage: tarvolacrypt encrypt [--mode 0|1] [KEY] [OPTIONS] [--] [TEXT...]
       tarvolacrypt decrypt [--mode 0|1|auto] [KEY] [OPTIONS] [--] [TEXT...]
       tarvolacrypt reencrypt [--from-mode 0|1|auto] [--to-mode 0|1] [KEY] [NEW KEY] [OPTIONS]
       tarvolacrypt migrate --db DATABASE --table TABLE --column COLUMN [KEY]
                    [NEW KEY] [MIGRATE OPTIONS]
       tarvolacrypt migrate --db DATABASE --plan FILE [KEY] [NEW KEY] [MIGRATE OPTIONS]
       tarvolacrypt scan [--db DATABASE (--table TABLE --column COLUMN | --plan FILE)]
                    [KEY] [NEW KEY] [SCAN OPTIONS]
       tarvolacrypt --help | --version

Encrypts and decrypts text values with TarvolaCrypt. Each TEXT is one value.
Without TEXT, each line of standard input is one value and its result is the
same line of standard output; a CR before the line end is not part of the
value. A value that fails leaves an empty line, so that output lines stay
aligned with input lines, and the reason goes to standard error with the line
number; the other values go on.

Modes:
  0     AES-128 block by block, without IV or integrity check: equal values
        give equal results. An empty value cannot be encrypted.
  1     AES-CBC with a random IV (the default). Key texts of 32 or more
        characters cannot be used.
  auto  (reading only) each value's own: mode 1 holds a "$", mode 0 is an
        8-digit header and a hex body.

Key (at most one; without one, it is asked for on the terminal, also when
standard input carries values):
)";
    AppendSection(text, HelpSection::kKey);
    text.append(R"(
Options:
)");
    AppendSection(text, HelpSection::kGeneral);
    text.append(R"(  -h, --help            this text
  --version             the version
  --                    every later argument is a TEXT, even one starting with -

Safety checks: a decrypted value must be plausible or it fails: valid UTF-8
without control characters other than TAB (unless --allow-binary), a mode-0
value's header and length must match what it decrypts to (a cut or padded
value fails), and a mode-1 plaintext cut at a zero byte fails. So a wrong key
fails for practically every value, in both modes. White space around a value
read for decryption is ignored; a value of only white space is left as it is
and counted as empty. In line mode, values holding a line break are
refused, going in as coming out; use -0 for them. Values holding a zero byte
are refused.

reencrypt leaves a value that is already in the target mode and opens under
the new key as it is (counted as unchanged); if it opens under the old key
too, it fails as ambiguous. A re-run over a half-migrated file finishes it.

Migrate (the values of one column, where they are stored; raw SQL only in
--where):
)");
    AppendSection(text, HelpSection::kMigrate);
    text.append(R"(  A value that fails (damaged, wrong key, ambiguous), a row changed by
  another writer meanwhile, or a write the database did not keep as
  verified (read again before every commit) rolls back the transaction,
  exit 1; with --batch-size only the failing batch is rolled back and the
  run stops. Values already in the target mode under the new key stay as
  they are, so a re-run finishes an interrupted one. Exit 2 when the
  database cannot be reached, a table or column is missing or holds no
  text. A batched run ends by counting the rows still under the old key
  (written meanwhile): exit 1 when there are any, to run again for.

Scan (where the stored values stand, read only: SQLite opened read-only,
PostgreSQL READ ONLY transactions, ODBC read-only access; SELECT rights do):
  --db, --table, --column, --id, --where, --plan   as for migrate; without
                        --db, the values are the lines of standard input
                        (records with -0)
  --from-mode, --to-mode, --new-key-file, --new-key-env   as for migrate
)");
    AppendSection(text, HelpSection::kScan);
    text.append(R"(  Counts per target: rows; empty (NULL or blank); mode0, mode1 and
  unrecognised by shape; done (target mode under the new key only),
  to_migrate (opens under the old key), ambiguous (under both), failing
  (under neither); width (the column's declared length) and longest_new
  (the longest value once migrated). Exit 0 when every non-empty value is
  done: the old key is no longer needed; 1 otherwise, or when row-level
  security hides rows; 2 for a usage error or a database that cannot be
  reached.

Values given as TEXT can be seen in the process list like --key: pass secret
plaintexts through standard input instead.

At the end of a batch (standard input or several TEXTs) a summary goes to
standard error: "tarvolacrypt: 3 values, 2 done, 1 failed".

Exit status: 0 when every value succeeded, 1 when a value failed or the
output could not be written (the run stops there), 2 for a usage error or an
unusable key, in which case nothing was processed, 130 or 143 when SIGINT or
SIGTERM stopped the run between two values (migrate: before its next write,
rolling back the open transaction).

Examples:
  umask 077; printf '%s\n' 'my key text' > app.key
  tarvolacrypt encrypt --key-file app.key 'Server=db;Password=pw'
  echo value | tarvolacrypt encrypt --key-file app.key | tarvolacrypt decrypt --key-file app.key
  TARVOLA_KEY='my key text' tarvolacrypt decrypt --mode auto --key-env TARVOLA_KEY < values.txt
  tarvolacrypt decrypt --mode auto --key-file app.key < values.txt > /dev/null   # dry run
  tarvolacrypt reencrypt --key-file app.key --new-key-file new.key < old.txt > new.txt
)");
    return text;
}

}  // namespace

std::string_view HelpText() noexcept {
    static const std::string text = MakeHelpText();
    return text;
}

}  // namespace tarvola::tool
