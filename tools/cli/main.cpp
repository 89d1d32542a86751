// tarvolacrypt: encrypts, decrypts and reencrypts text values with the
// TarvolaCrypt library, for administrators preparing, inspecting and
// migrating stored values.
#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "cli/command_line.h"
#include "cli/input.h"
#include "cli/key_source.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "common/exit_status.h"
#include "common/messages.h"
#include "common/stop_signal.h"
#include "migrate/db/address.h"
#include "migrate/migrate.h"
#include "migrate/scan.h"
#include "values/batch.h"

namespace tarvola::tool {
namespace {

int ReportUsageError(const std::string& error) {
    std::cerr << kMessagePrefix << error << "\nTry 'tarvolacrypt --help' for more information.\n";
    return kExitUsage;
}

// Whether a key is certainly used for mode 1, where long key texts make no
// AES key. Values read in auto mode fail one by one instead: a long key
// still opens the mode-0 values among them.
bool UsesEnvelope(const Options& options, bool for_new_key) {
    switch (options.command) {
        case Command::kEncrypt:
            return options.write_mode == Mode::kEnvelope;
        case Command::kDecrypt:
            return options.read_mode == ReadMode::kEnvelope;
        case Command::kReencrypt:
        case Command::kMigrate:
        case Command::kScan: {
            const bool writes = options.write_mode == Mode::kEnvelope;
            if (for_new_key) return writes;
            return options.read_mode == ReadMode::kEnvelope ||
                   (options.new_key.origin == KeyOrigin::kNone && writes);
        }
    }
    return false;
}

void Warn(std::string_view warning) {
    std::cerr << kMessagePrefix << "warning: " << warning << '\n';
}

// Fetches and checks one key before a single value is read; otherwise every
// value would fail with the same reason. The error names which key it is.
std::optional<SecretText> ObtainKey(const KeySource& source, std::string_view role, bool confirm,
                                    bool envelope_used, bool allow_empty) {
    FetchedKey fetched = FetchKey(source, confirm);
    const std::string prefix = role == "key" ? std::string() : std::string(role) + ": ";
    if (!fetched.key) {
        ReportUsageError(prefix + fetched.error);
        return std::nullopt;
    }
    if (const auto refusal = KeyRefusal(fetched.key->view(), envelope_used, allow_empty)) {
        ReportUsageError(prefix + *refusal);
        return std::nullopt;
    }
    for (const std::string& warning : fetched.warnings) Warn(warning);
    if (fetched.key->view().empty()) {
        std::cerr << kMessagePrefix << "warning: the " << role
                  << " text is empty: values under it are readable by anyone\n";
    }
    if (source.origin == KeyOrigin::kArgument) Warn(KeyArgumentRisk());
    return std::move(fetched.key);
}

// The address of the database to work on, from --db, --db-file or
// --db-env; nothing after a usage error was reported. A password on the
// command line is warned about whatever --quiet says: it is about safety.
std::optional<std::string> ObtainDatabaseAddress(const Options& options) {
    const MigrateOptions& migrate = options.migrate;
    std::string address = migrate.database;
    if (options.database_origin == KeyOrigin::kArgument) {
        if (AddressHoldsPassword(address)) {
            Warn(DatabaseArgumentRisk());
        }
    } else {
        FetchedKey fetched = FetchDatabaseAddress(options.database_origin, migrate.database);
        if (!fetched.key || fetched.key->view().empty()) {
            ReportUsageError(fetched.key
                                 ? "the database address in '" + migrate.database + "' is empty"
                                 : fetched.error);
            return std::nullopt;
        }
        for (const std::string& warning : fetched.warnings) Warn(warning);
        address = fetched.key->view();
    }
    if (const auto misreading = AddressMisreading(address)) Warn(*misreading);
    return address;
}

Job MakeJob(const Options& options, std::string_view key, std::string_view new_key) {
    Job job;
    job.key = key;
    job.new_key = new_key;
    job.read_mode = options.read_mode;
    job.write_mode = options.write_mode;
    job.rules.allow_binary = options.allow_binary;
    // Line mode refuses them with its own reason; --null carries them.
    job.rules.allow_line_breaks = true;
    job.separator = options.null_separated ? '\0' : '\n';
    job.operation = options.command == Command::kEncrypt   ? Operation::kEncrypt
                    : options.command == Command::kDecrypt ? Operation::kDecrypt
                                                           : Operation::kReencrypt;
    return job;
}

// The progress line would tear through values printed on the same terminal
// and through a key typed at it, so it only shows for a batch whose output
// goes elsewhere.
bool ShowProgress(const Options& options) {
    if (options.quiet || !IsTerminal(StandardStream::kError)) return false;
    if (IsTerminal(StandardStream::kOutput)) return false;
    return !options.texts.empty() || !IsTerminal(StandardStream::kInput);
}

// A single TEXT argument is a lookup, not a batch.
bool ShowSummary(const Options& options) {
    return !options.quiet && options.texts.size() != 1;
}

int WriteText(std::string_view text, const StandardOutputBuffer& buffer) {
    std::cout << text << std::flush;
    if (buffer.error() == 0) return kExitDone;
    std::cerr << kMessagePrefix << buffer.ErrorMessage() << '\n';
    return kExitFailed;
}

unsigned JobCount(const Options& options) {
    if (options.jobs != 0) return options.jobs;
    return std::max(1U, std::thread::hardware_concurrency());
}

int Run(std::span<char*> arguments, const StandardOutputBuffer& output) {
    ParsedCommandLine parsed = ParseCommandLine(arguments);
    switch (parsed.action) {
        case ParsedCommandLine::Action::kHelp:
            return WriteText(HelpText(), output);
        case ParsedCommandLine::Action::kVersion:
            return WriteText("tarvolacrypt " TARVOLA_VERSION "\n", output);
        case ParsedCommandLine::Action::kUsageError:
            return ReportUsageError(parsed.error);
        case ParsedCommandLine::Action::kRun:
            break;
    }
    const Options& options = parsed.options;

    const bool confirm = options.command == Command::kEncrypt;
    const auto key = ObtainKey(options.key, "key", confirm, UsesEnvelope(options, false),
                               options.allow_empty_key);
    if (!key) return kExitUsage;
    std::optional<SecretText> new_key;
    if (options.new_key.origin != KeyOrigin::kNone) {
        new_key = ObtainKey(options.new_key, "new key", false, UsesEnvelope(options, true),
                            options.allow_empty_key);
        if (!new_key) return kExitUsage;
    }

    // scan without a database reads standard input.
    if (!options.migrate.database.empty()) {
        std::optional<std::string> address = ObtainDatabaseAddress(options);
        if (!address) return kExitUsage;
        parsed.options.migrate.database = std::move(*address);
    }
    const Rekeying rekeying{key->view(), new_key ? new_key->view() : key->view(), options.read_mode,
                            options.write_mode};
    // A database column, or values behind -0, carry line breaks as well as
    // any other character.
    const ValueRules column_rules{options.allow_binary, true};
    const bool db_progress = !options.quiet && IsTerminal(StandardStream::kError);
    if (options.command == Command::kMigrate) {
        CatchStopSignals();
        return RunMigrate({
            .options = options.migrate,
            .rekeying = rekeying,
            .rules = column_rules,
            .jobs = JobCount(options),
            .quiet = options.quiet,
            .show_progress = db_progress,
            .err = std::cerr,
        });
    }
    if (options.command == Command::kScan) {
        // The values scanned are stored ciphertexts, not secrets: std::cin will do.
        const int status = RunScan(
            {
                .source = options.migrate,
                .scan = options.scan,
                .rekeying = rekeying,
                .rules = column_rules,
                .null_separated = options.null_separated,
                .new_key_given = options.new_key.origin != KeyOrigin::kNone,
                .jobs = JobCount(options),
                .show_progress = db_progress,
                .err = std::cerr,
            },
            std::cin, std::cout);
        std::cout.flush();
        if (output.error() == 0) return status;
        std::cerr << kMessagePrefix << output.ErrorMessage() << '\n';
        return std::max(status, kExitFailed);
    }
    CatchStopSignals();
    const Job job = MakeJob(options, key->view(), new_key ? new_key->view() : key->view());
    const bool reads_input = options.texts.empty();
    const BatchSettings settings{
        options.strict, ShowProgress(options),
        options.line_buffered || (reads_input && IsTerminal(StandardStream::kInput)),
        JobCount(options), StopSignal};
    BatchCounts counts;
    int read_error = 0;
    if (reads_input) {
        WipingInputBuffer input_buffer(ReadFromStandardInput);
        std::istream input(&input_buffer);
        counts = RunOnRecords(job, input, settings, std::cout, std::cerr);
        read_error = input_buffer.error();
    } else {
        counts = RunOnTexts(job, options.texts, settings, std::cout, std::cerr);
    }
    std::cout.flush();
    if (output.error() != 0) {
        std::cerr << kMessagePrefix << output.ErrorMessage() << '\n';
        return kExitFailed;
    }
    if (counts.interrupted) {
        // Every result written is whole: the loop stops between values.
        std::cerr << kMessagePrefix << "interrupted after " << counts.values
                  << (counts.values == 1 ? " value" : " values")
                  << ", the rest of the input was not read\n";
    }
    if (ShowSummary(options))
        std::cerr << kMessagePrefix
                  << Summary(counts, {.wrong_key_hint = job.operation != Operation::kEncrypt})
                  << '\n';
    if (counts.interrupted) return StoppedRunStatus(StopSignal());
    if (read_error != 0) {
        std::cerr << kMessagePrefix << "cannot read standard input: " << std::strerror(read_error)
                  << '\n';
        return kExitFailed;
    }
    return counts.failed == 0 ? kExitDone : kExitFailed;
}

}  // namespace
}  // namespace tarvola::tool

int main(int argc, char** argv) {
    using namespace tarvola::tool;
    KeepMemoryOutOfDumps();
    std::ios::sync_with_stdio(false);
    UseBinaryStandardStreams();
    StandardOutputBuffer output;
    std::streambuf* const previous = std::cout.rdbuf(&output);
    int status = 1;
    try {
        ArgumentStorage storage;
        status = Run(ArgumentsAsUtf8(argc, argv, storage), output);
    } catch (const std::exception& error) {
        std::cerr << kMessagePrefix << error.what() << '\n';
    }
    std::cout.flush();
    std::cout.rdbuf(previous);
    return status;
}
