#include "cli/command_line.h"

#include <algorithm>
#include <bitset>
#include <charconv>
#include <cstring>
#include <iterator>
#include <utility>

namespace tarvola::tool {

struct OptionState {
    Options options;
    std::string error;
    // The option being set, as its messages name it.
    std::string_view name;
    bool key_given = false;
    bool new_key_given = false;
    bool database_given = false;
};

namespace {

using Action = ParsedCommandLine::Action;

// Which commands take an option, one bit per Command.
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

// Whether scan writes JSON.
std::optional<bool> ParseFormat(std::string_view text) noexcept {
    if (text == "text") return false;
    if (text == "json") return true;
    return std::nullopt;
}

template <class Parser, class Target>
void SetParsed(OptionState& state, const char* value, Parser parse, std::string_view allowed,
               Target& target) {
    const auto parsed = parse(value);
    if (!parsed) {
        state.error =
            std::string(state.name) + " must be " + std::string(allowed) + ", not '" + value + "'";
        return;
    }
    target = *parsed;
}

// A positive whole number.
std::uint64_t ParseCount(OptionState& state, const char* value) {
    const std::string_view text = value;
    std::uint64_t number = 0;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (status != std::errc() || end != text.data() + text.size() || number == 0)
        state.error = std::string(state.name) + " must be a positive number, not '" + value + "'";
    return number;
}

// The key (--key...) or the new key (--new-key...).
void SetKey(OptionState& state, KeyOrigin origin, char* value) {
    const bool new_key = state.name.starts_with("--new-");
    bool& given = new_key ? state.new_key_given : state.key_given;
    if (given) {
        state.error = new_key ? "give only one of --new-key-file and --new-key-env"
                              : "give only one of --key-file, --key-env and --key";
        return;
    }
    given = true;
    KeySource& source = new_key ? state.options.new_key : state.options.key;
    source.origin = origin;
    source.detail = SecretText(value);
    if (origin == KeyOrigin::kArgument) {
        secure_wipe(value, std::strlen(value));
    } else if (source.detail.view().empty()) {
        state.error = std::string(state.name) + " needs a non-empty value";
    }
}

void SetDatabase(OptionState& state, KeyOrigin origin, char* value) {
    MigrateOptions& migrate = state.options.migrate;
    if (state.database_given) {
        state.error = "give only one of --db, --db-file and --db-env";
        return;
    }
    state.database_given = true;
    state.options.database_origin = origin;
    migrate.database = value;
    if (migrate.database.empty())
        state.error = std::string(state.name) + " needs a non-empty value";
    // The address may hold a password: hidden from later looks at the
    // process list, as --key is.
    if (origin == KeyOrigin::kArgument) secure_wipe(value, std::strlen(value));
}

using Section = OptionSection;

// In the order --help and the man page show them (in each section). The man
// page's paragraphs are raw strings delimited by "roff", as roff often holds
// the )" that would end a plain one.
constexpr OptionSpec kOptions[] = {
    {.name = "--key-file",
     .value = "FILE",
     .commands = kAllCommands,
     .section = Section::kKey,
     .help = "the first line of FILE, without its line end",
     .man = R"roff(The first line of
.IR file ,
without its line end (LF or CRLF).
A byte\-order mark at its start or blanks at its end are warned about: they
become part of the key.
So is a file that users other than its owner can read
.RB ( "chmod go\-rwx"
it); it is still used.
A first line longer than 64 KiB is refused (exit status 2).)roff",
     .refuses_repeats_itself = true,
     .set = [](OptionState& state, char* value) { SetKey(state, KeyOrigin::kFile, value); }},
    {.name = "--key-env",
     .value = "VAR",
     .commands = kAllCommands,
     .section = Section::kKey,
     .help = "the value of the environment variable VAR",
     .man = R"roff(The value of the environment variable
.IR var .)roff",
     .refuses_repeats_itself = true,
     .set = [](OptionState& state, char* value) { SetKey(state, KeyOrigin::kEnvironment, value); }},
    {.name = "--key",
     .value = "TEXT",
     .commands = kAllCommands,
     .section = Section::kKey,
     .help = "the key itself: other users can see it in the process\n"
             "list and it stays in the shell history, so prefer the\n"
             "two above",
     .man = R"roff(The key itself.
Other users can see it in the process list (on Windows it cannot be hidden
from it at all) and it stays in the shell history: prefer the two above.)roff",
     .refuses_repeats_itself = true,
     .set = [](OptionState& state, char* value) { SetKey(state, KeyOrigin::kArgument, value); }},
    {.name = "--mode",
     .value = "0|1|auto",
     .commands = kCryptCommands,
     .help = "(encrypt: 0|1, decrypt: 0|1|auto) the scheme; default 1",
     .man = R"roff((encrypt: 0 or 1; decrypt: 0, 1 or auto) The scheme; default 1.)roff",
     .set =
         [](OptionState& state, char* value) {
             Options& options = state.options;
             if (options.command == Command::kEncrypt) {
                 SetParsed(state, value, ParseMode, "0 or 1", options.write_mode);
             } else {
                 SetParsed(state, value, ParseReadMode, "0, 1 or auto", options.read_mode);
             }
         }},
    {.name = "--db",
     .value = "DATABASE",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "sqlite:PATH, postgresql://... or postgres://... (libpq\n"
             "connection URI), or odbc:CONNECTION-STRING; other\n"
             "users can see it in the process list, so keep\n"
             "passwords out of it (PGPASSWORD, ~/.pgpass) or use:",
     .man = R"roff(.BI sqlite: path
(an existing SQLite file),
.BR postgresql:// ...\&
or
.BR postgres:// ...\&
(a libpq connection URI: host or socket directory, port, user, password file
and SSL options the libpq way), or
.BI odbc: connection\-string
(handed to the ODBC driver manager as it is).
Other users can read the command line in the process list: a password in
.I database
(a URI's
.IB user : password @\fR,\fP
.BR password= ,
ODBC's
.BR PWD= )
is warned about, also with
.BR \-\-quiet ,
and never shown in a message.
Keep it elsewhere: PostgreSQL reads it from
.BR PGPASSWORD ,
from
.B ~/.pgpass
or from the file named by
.B passfile=
in the URI; or give the whole address with one of the next two options.)roff",
     .set = [](OptionState& state,
               char* value) { SetDatabase(state, KeyOrigin::kArgument, value); }},
    {.name = "--db-file",
     .value = "FILE",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "the DATABASE address is the first line of FILE",
     .man = R"roff(The
.I database
address is the first line of
.I file
(without its line end), as for
.BR \-\-key\-file ;
a file that other users can read is warned about.)roff",
     .set = [](OptionState& state, char* value) { SetDatabase(state, KeyOrigin::kFile, value); }},
    {.name = "--db-env",
     .value = "VAR",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "the DATABASE address is the value of VAR",
     .man = R"roff(The
.I database
address is the value of the environment variable
.IR var .)roff",
     .set = [](OptionState& state,
               char* value) { SetDatabase(state, KeyOrigin::kEnvironment, value); }},
    {.name = "--table",
     .value = "TABLE",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "the table, as named in the catalogue, or SCHEMA.TABLE\n"
             "(a name holding a dot in double quotes: '\"a.b\"')",
     .man = R"roff(The table, named exactly as in the catalogue, or
.IR schema . table
for a table in another schema (PostgreSQL, ODBC; an attached database for
SQLite). A name that holds a dot is written in double quotes:
.BR \(aq\(dqa.b\(dq\(aq .)roff",
     .set = [](OptionState& state, char* value) { state.options.migrate.table = value; }},
    {.name = "--column",
     .value = "COLUMN",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "the column holding the values",
     .man = "The column holding the values.",
     .set = [](OptionState& state, char* value) { state.options.migrate.column = value; }},
    {.name = "--id",
     .value = "COLUMN[,COLUMN...]",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "the row key, one column or several; default the\n"
             "table's primary key (SQLite: else its rowid)",
     .man = R"roff(The column, or columns separated by commas
.RB ( tenant_id,id ),
that identify a row; default the table's primary key, of one column or
several, and SQLite's rowid for a table without one.
A name holding a comma is written in double quotes.
A key whose values rows share is a usage error before anything runs.)roff",
     .set = [](OptionState& state, char* value) { state.options.migrate.id = value; }},
    {.name = "--where",
     .value = "CONDITION",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "raw SQL limiting the rows, e.g. \"id % 4 = 0\"",
     .man = R"roff(Raw SQL limiting the rows, for example
.B \(dqid % 4 = 0\(dq
on the first of four machines that share the work.
It must be one condition, or it is a usage error before anything runs:
its parentheses pair up, it does not end inside a quote or a comment, and no
.B ;
could end the statement however the database's server or driver reads
quotes and comments (dollar quotes, E\(aq...\(aq strings, backslashes,
.B #
and
.B /*!...*/
comments, backticks, brackets).
Through ODBC, whose drivers may run every statement of a text, a
.B ;
may stand only inside a plain \(aq...\(aq string.
So not even
.B \-\-dry\-run
can be made to change anything.)roff",
     .set = [](OptionState& state, char* value) { state.options.migrate.where = value; }},
    {.name = "--from-mode",
     .value = "0|1|auto",
     .commands = kRewriting,
     .help = "(reencrypt) the scheme of the values read; default auto",
     .migrate_help = "default auto: each value's mode from its shape",
     .man = "(reencrypt) The scheme of the values read; default auto.",
     .set =
         [](OptionState& state, char* value) {
             SetParsed(state, value, ParseReadMode, "0, 1 or auto", state.options.read_mode);
         }},
    {.name = "--to-mode",
     .value = "0|1",
     .commands = kRewriting,
     .help = "(reencrypt) the scheme of the values written; default 1",
     .migrate_help = "default 1",
     .man = "(reencrypt) The scheme of the values written; default 1.",
     .set =
         [](OptionState& state, char* value) {
             SetParsed(state, value, ParseMode, "0 or 1", state.options.write_mode);
         }},
    {.name = "--new-key-file",
     .value = "FILE",
     .commands = kRewriting,
     .help = "(reencrypt) write under the key in FILE instead",
     .man_section = Section::kKey,
     .refuses_repeats_itself = true,
     .set = [](OptionState& state, char* value) { SetKey(state, KeyOrigin::kFile, value); }},
    {.name = "--new-key-env",
     .value = "VAR",
     .commands = kRewriting,
     .help = "(reencrypt) write under the key in VAR instead",
     .man = "(reencrypt) Write the values under this key instead of the old one.",
     .man_section = Section::kKey,
     .refuses_repeats_itself = true,
     .set = [](OptionState& state, char* value) { SetKey(state, KeyOrigin::kEnvironment, value); }},
    {.name = "--allow-empty-key",
     .commands = kAllCommands,
     .section = Section::kKey,
     .help = "accept an empty key text (refused otherwise: values\n"
             "under it are readable by anyone)",
     .man = R"roff(Accept an empty key text, for old values written with one.
Without it an empty key text, from any source, is a usage error: values
under it are readable by anyone.)roff",
     .set = [](OptionState& state, char*) { state.options.allow_empty_key = true; }},
    {.name = "--allow-binary",
     .commands = kReadingCommands,
     .help = "(decrypt, reencrypt) accept plaintexts that are not\n"
             "UTF-8 text or hold control characters",
     .man = R"roff((decrypt, reencrypt) Accept plaintexts that are not UTF\-8 text or that hold
control characters, such as legacy values in a single\-byte code page.)roff",
     .set = [](OptionState& state, char*) { state.options.allow_binary = true; }},
    {.name = "--null",
     .alias = "-0",
     .commands = kStreamCommands | kScanOnly,
     .help = "values are separated by zero bytes, not lines, in\n"
             "input and output (as xargs -0), so they may hold\n"
             "line breaks",
     .man = R"roff(Values are separated by zero bytes instead of line ends, in input and output,
as with
.B xargs \-0
and
.BR "find \-print0" ;
such values may hold line breaks.
Messages then name the place as
.RI "value " N .)roff",
     .set = [](OptionState& state, char*) { state.options.null_separated = true; }},
    {.name = "--line-buffered",
     .commands = kStreamCommands,
     .help = "write each result before reading the next value (on\n"
             "by itself when standard input is a terminal)",
     .man = R"roff(Write and flush each result before the next value is read, so that a program
that keeps one
.B tarvolacrypt
process as a co\-process gets each answer at once.
On by itself when standard input is a terminal.)roff",
     .set = [](OptionState& state, char*) { state.options.line_buffered = true; }},
    {.name = "--plan",
     .value = "FILE",
     .commands = kDbCommands,
     .section = Section::kMigrate,
     .help = "several targets instead of --table, --column and --id:\n"
             "one \"TABLE COLUMN [ID]\" per line, # for comments,\n"
             "\"double quotes\" around a name holding blanks; all\n"
             "in one transaction unless --batch-size, then one\n"
             "target after the other (no --where with --plan)",
     .man = R"roff(Several targets instead of
.BR \-\-table ,
.B \-\-column
and
.BR \-\-id :
one line each,
.I "table column"
.RI [ id ],
names separated by blanks, blank lines and lines starting with # ignored.
The table and the id are read as
.B \-\-table
and
.B \-\-id
read them, so
.B \(dqa.b\(dq
is the table named a.b; a column name holding blanks is written in double
quotes (\(dq\(dq is a quote in it).
All targets run in one transaction: a value failing in any of them rolls
back all of them; the summary and failure lines name the target.
With
.B \-\-batch\-size
the targets are migrated in batches one after the other.
.B \-\-where
cannot be used with a plan.)roff",
     .set = [](OptionState& state, char* value) { state.options.migrate.plan = value; }},
    {.name = "--batch-size",
     .value = "N",
     .commands = kMigrateOnly,
     .section = Section::kMigrate,
     .help = "commit every N rows (default: one transaction)",
     .man = R"roff(Commit every
.I n
rows instead of once; a failing value rolls back its batch and stops the run.
Killed at any moment, the table holds whole old or whole new values, and a
re\-run finishes the job.)roff",
     .set = [](OptionState& state,
               char* value) { state.options.migrate.batch_size = ParseCount(state, value); }},
    {.name = "--pause",
     .value = "MS",
     .commands = kMigrateOnly,
     .section = Section::kMigrate,
     .help = "with --batch-size: wait MS milliseconds after each\n"
             "batch, holding no lock",
     .man = R"roff(With
.BR \-\-batch\-size :
wait
.I ms
milliseconds after each batch, between transactions, so that an application
working on the same table is not starved.)roff",
     .set = [](OptionState& state,
               char* value) { state.options.migrate.pause_ms = ParseCount(state, value); }},
    {.name = "--max-rate",
     .value = "ROWS",
     .commands = kMigrateOnly,
     .section = Section::kMigrate,
     .help = "with --batch-size: wait after a batch as long as it\n"
             "takes to stay under ROWS rows per second",
     .man = R"roff(With
.BR \-\-batch\-size :
after each batch, wait as long as it takes to keep the run under
.I rows
rows per second.)roff",
     .set = [](OptionState& state,
               char* value) { state.options.migrate.max_rate = ParseCount(state, value); }},
    {.name = "--lock-timeout",
     .value = "SECONDS",
     .commands = kMigrateOnly,
     .section = Section::kMigrate,
     .help = "give up (roll back, exit 1) when a lock held by\n"
             "another session blocks the run this long (default:\n"
             "wait, and say so on a terminal)",
     .man = R"roff(When a lock held by another session keeps the run waiting this long, roll
back, say so and exit 1 (PostgreSQL's lock_timeout, SQLite's busy wait, the
ODBC query timeout). Without it the run waits as long as it takes and, on a
terminal, says after a few seconds that it is waiting for a lock.)roff",
     .set =
         [](OptionState& state, char* value) {
             std::uint64_t& seconds = state.options.migrate.lock_timeout_seconds;
             seconds = ParseCount(state, value);
             // Within what every database's timeout setting holds (PostgreSQL
             // counts milliseconds in 31 bits).
             if (seconds > kMaxLockTimeoutSeconds)
                 state.error = "--lock-timeout must be at most " +
                               std::to_string(kMaxLockTimeoutSeconds) + " seconds";
         }},
    {.name = "--dry-run",
     .commands = kMigrateOnly,
     .section = Section::kMigrate,
     .help = "do and verify everything, then roll back",
     .man = "Do and verify everything, then roll back.",
     .set = [](OptionState& state, char*) { state.options.migrate.dry_run = true; }},
    {.name = "--verbose",
     .commands = kMigrateOnly,
     .section = Section::kMigrate,
     .help = "say on standard error how long the read-only passes\n"
             "over the table took (the width check before the\n"
             "first write, the count of rows left to migrate after\n"
             "a batched run)",
     .man = R"roff(Say on standard error how long the read\-only passes over the table took:
the check of the column's width before the first write, and after a batched
run the count of the rows still to migrate, for example
.BR "rows left to migrate counted in 0.42 s (12 rows read)" .)roff",
     .set = [](OptionState& state, char*) { state.options.migrate.verbose = true; }},
    {.name = "--jobs",
     .value = "N",
     .commands = kAllCommands,
     .help = "work on the values of standard input with N threads\n"
             "(default: one per processor); the output is the same\n"
             "as with --jobs 1, which uses one thread",
     .migrate_help = "the crypto on N threads (default: one per processor)",
     .man = R"roff(Work on the values of standard input (encrypt, decrypt, reencrypt) with
.I n
threads, from 1 to 256; the default is one per processor.
Values are handed out in chunks and their results written in input order,
so the output, the messages and the exit status are those of
.BR "\-\-jobs 1" ,
which works on one value after the other.
A failure under
.B \-\-strict
or a failed write stops every thread.
.B \-\-line\-buffered
works on one value at a time.)roff",
     .migrate_man = R"roff(Run the cryptography on
.I n
threads, from 1 to 256; the default is one per processor.
Reading and writing stay on one connection and overlap the cryptography of
the rows read ahead; rows are written in the order they were read.)roff",
     .set =
         [](OptionState& state, char* value) {
             SetParsed(state, value, ParseJobs, "a number from 1 to 256", state.options.jobs);
         }},
    {.name = "--strict",
     .commands = kStreamCommands,
     .help = "stop at the first value that fails",
     .man = "Stop at the first value that fails.",
     .set = [](OptionState& state, char*) { state.options.strict = true; }},
    {.name = "--quiet",
     .commands = kAllCommands,
     .help = "no progress line and no summary on standard error",
     .man = "No progress line and no summary on standard error.",
     .set = [](OptionState& state, char*) { state.options.quiet = true; }},
    {.name = "--format",
     .value = "text|json",
     .commands = kScanOnly,
     .section = Section::kScan,
     .help = "a table for people (default) or one JSON object",
     .man = R"roff(A table for people (the default), or one JSON object holding a
.B targets
array, an object per target with the fields above and
.B table
and
.BR column ,
and the
.BR totals .)roff",
     .set =
         [](OptionState& state, char* value) {
             SetParsed(state, value, ParseFormat, "text or json", state.options.scan.json);
         }},
    {.name = "--failures",
     .value = "FILE",
     .commands = kScanOnly,
     .section = Section::kScan,
     .help = "one line per failing or ambiguous row: its key as\n"
             "SQL of the database (the line number for standard\n"
             "input), TAB, the reason",
     .man = R"roff(Write one line per failing or ambiguous row: its key as a literal of the
database, which
.B WHERE id IN (...)
takes as it is (a number bare, text quoted and escaped the database's way, a
line break or TAB never written as itself, several key columns as a row value
.B (1, \(aqa\(aq)
for
.BR "WHERE (tenant_id, id) IN (...)" ;
the line number for standard input), a TAB and the reason.
With a plan, a line
.BI "# " table.column
comes before the rows of each target.)roff",
     .set = [](OptionState& state, char* value) { state.options.scan.failures = value; }},
};

std::optional<Command> ParseCommand(std::string_view word) noexcept {
    for (const Command command : kCommands) {
        if (word == NameOf(command)) return command;
    }
    return std::nullopt;
}

const OptionSpec* FindOption(std::string_view name) noexcept {
    const auto* found =
        std::find_if(std::begin(kOptions), std::end(kOptions), [name](const OptionSpec& spec) {
            return spec.name == name || (!spec.alias.empty() && spec.alias == name);
        });
    return found == std::end(kOptions) ? nullptr : found;
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
        state_.options.command = command;
        if (command == Command::kDecrypt) state_.options.read_mode = ReadMode::kEnvelope;
    }

    ParsedCommandLine Read() && {
        bool only_texts = false;
        for (next_ = 0; next_ < arguments_.size() && state_.error.empty();) {
            char* argument = arguments_[next_++];
            const std::string_view word = argument;
            if (only_texts || word == "-" || !word.starts_with("-")) {
                state_.options.texts.push_back(word);
            } else if (word == "--") {
                only_texts = true;
            } else {
                ReadOption(argument);
            }
        }
        if (!state_.error.empty()) return UsageError(std::move(state_.error));
        if (state_.options.command == Command::kMigrate) return CheckMigrate();
        if (state_.options.command == Command::kScan) return CheckScan();
        return Parsed();
    }

  private:
    ParsedCommandLine Parsed() {
        ParsedCommandLine parsed;
        parsed.options = std::move(state_.options);
        return parsed;
    }

    ParsedCommandLine CheckMigrate() {
        const MigrateOptions& migrate = state_.options.migrate;
        if (!state_.options.texts.empty())
            return UsageError("migrate takes no TEXT: the values come from --db");
        if (migrate.database.empty())
            return UsageError(
                "migrate needs --db (or --db-file, --db-env), and --table and --column or --plan");
        if (const std::string error = CheckTargets("migrate"); !error.empty())
            return UsageError(error);
        if ((migrate.pause_ms != 0 || migrate.max_rate != 0) && migrate.batch_size == 0)
            return UsageError("--pause and --max-rate pace batches: give --batch-size too");
        return Parsed();
    }

    // Without --db, scan reads values from standard input as decrypt does.
    ParsedCommandLine CheckScan() {
        const Options& options = state_.options;
        const MigrateOptions& source = options.migrate;
        if (!options.texts.empty())
            return UsageError("scan takes no TEXT: the values come from --db or standard input");
        if (source.database.empty()) {
            if (!source.table.empty() || !source.column.empty() || !source.id.empty() ||
                !source.where.empty() || !source.plan.empty())
                return UsageError("--table, --column, --id, --where and --plan need --db");
            return Parsed();
        }
        if (options.null_separated)
            return UsageError("-0 is for values on standard input, not for --db");
        if (const std::string error = CheckTargets("scan"); !error.empty())
            return UsageError(error);
        return Parsed();
    }

    // One target from --table and --column, or several from --plan.
    std::string CheckTargets(std::string_view command) const {
        const MigrateOptions& source = state_.options.migrate;
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

    void ReadOption(char* argument) {
        const std::string_view word = argument;
        const std::size_t equals = word.find('=');
        const std::string_view name = word.substr(0, equals);
        const OptionSpec* spec = FindOption(name);
        std::string& error = state_.error;
        if (spec == nullptr) {
            error = "unknown option '" + std::string(name) +
                    "' (to give a value that starts with '-', put -- before it)";
            return;
        }
        // "-0" and "--null" are one option.
        const auto row = static_cast<std::size_t>(spec - std::begin(kOptions));
        if (seen_[row] && !spec->refuses_repeats_itself) {
            error = std::string(name) + " is given twice";
            return;
        }
        seen_[row] = true;
        if (!spec->TakenBy(state_.options.command)) {
            error = std::string(name) + " cannot be used with " +
                    std::string(NameOf(state_.options.command));
            return;
        }
        state_.name = spec->name;
        if (!spec->TakesValue()) {
            if (equals != std::string_view::npos) {
                error = std::string(name) + " takes no value";
                return;
            }
            spec->set(state_, nullptr);
            return;
        }
        char* value = nullptr;
        if (equals != std::string_view::npos) {
            value = argument + equals + 1;
        } else if (next_ < arguments_.size()) {
            value = arguments_[next_++];
        } else {
            error = std::string(name) + " needs a value";
            return;
        }
        spec->set(state_, value);
    }

    std::span<char*> arguments_;
    std::size_t next_ = 0;
    OptionState state_;
    std::bitset<std::size(kOptions)> seen_;
};

}  // namespace

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

std::span<const OptionSpec> OptionTable() noexcept {
    return kOptions;
}

bool AcceptsValue(const OptionSpec& spec, Command command, std::string_view value) {
    OptionState state;
    state.options.command = command;
    state.name = spec.name;
    std::string copy(value);
    spec.set(state, copy.data());
    return state.error.empty();
}

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

void AppendSection(std::string& text, OptionSection section) {
    for (const OptionSpec& spec : kOptions) {
        if (spec.section == section) AppendHelpLines(text, spec, spec.help);
        if (section == OptionSection::kMigrate && !spec.migrate_help.empty())
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
    AppendSection(text, OptionSection::kKey);
    text.append(R"(
Options:
)");
    AppendSection(text, OptionSection::kGeneral);
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
    AppendSection(text, OptionSection::kMigrate);
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
    AppendSection(text, OptionSection::kScan);
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
