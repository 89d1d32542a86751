// tarvolacrypt: encrypts, decrypts and reencrypts text values with the
// TarvolaCrypt library, for administrators preparing, inspecting and
// migrating stored values.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <span>
#include <string>

#include "batch.h"
#include "command_line.h"
#include "key_source.h"
#include "migrate.h"
#include "terminal.h"

namespace tarvola::tool {
namespace {

// Exit statuses, as --help lists them.
constexpr int kAllDone = 0;
constexpr int kValueFailed = 1;
constexpr int kUsageError = 2;

int ReportUsageError(const std::string& error) {
    std::cerr << "tarvolacrypt: " << error << "\nTry 'tarvolacrypt --help' for more information.\n";
    return kUsageError;
}

bool UsesMode(const Options& options, Mode mode, bool for_new_key) {
    switch (options.command) {
        case Command::kEncrypt:
        case Command::kDecrypt:
            return options.mode == mode;
        case Command::kReencrypt:
            if (for_new_key) return options.to_mode == mode;
            return options.from_mode == mode ||
                   (options.new_key.origin == KeyOrigin::kNone && options.to_mode == mode);
        case Command::kMigrate:
            if (for_new_key) return options.to_mode == mode;
            return options.migrate.from_mode.value_or(mode) == mode ||
                   (options.new_key.origin == KeyOrigin::kNone && options.to_mode == mode);
    }
    return false;
}

// Refuses a key that cannot work for any value, before a single value is
// read; otherwise every line would fail with the same reason.
std::string KeyProblem(std::string_view key, bool envelope_used) {
    if (key.find('\0') != std::string_view::npos)
        return std::string(describe(Error::kZeroByteInKey));
    if (envelope_used && key.size() >= detail::kEnvelopeKeyLimit) {
        return std::string(describe(Error::kKeyTooLongForEnvelope));
    }
    return {};
}

// Fetches and checks one key; the error names which key it is about.
std::optional<SecretText> ObtainKey(const KeySource& source, std::string_view role, bool confirm,
                                    bool envelope_used) {
    FetchedKey fetched = FetchKey(source, confirm);
    if (!fetched.key) {
        ReportUsageError(fetched.error);
        return std::nullopt;
    }
    if (const std::string problem = KeyProblem(fetched.key->view(), envelope_used);
        !problem.empty()) {
        ReportUsageError(role == "key" ? problem : std::string(role) + ": " + problem);
        return std::nullopt;
    }
    if (source.origin == KeyOrigin::kArgument) {
        std::cerr << "tarvolacrypt: warning: --key shows the key to other users in the process "
                     "list and keeps it in the shell history; use --key-file or --key-env\n";
    }
    if (fetched.key->view().empty())
        std::cerr << "tarvolacrypt: warning: the " << role << " text is empty\n";
    return std::move(fetched.key);
}

Job MakeJob(const Options& options, std::string_view key, std::string_view new_key) {
    Job job;
    job.command = options.command;
    job.key = key;
    job.new_key = new_key;
    if (options.command == Command::kReencrypt) {
        job.read_mode = options.from_mode;
        job.write_mode = options.to_mode;
    } else {
        job.read_mode = options.mode;
        job.write_mode = options.mode;
    }
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

int Run(std::span<char*> arguments) {
    std::ios::sync_with_stdio(false);
    ParsedCommandLine parsed = ParseCommandLine(arguments);
    switch (parsed.action) {
        case ParsedCommandLine::Action::kHelp:
            std::cout << HelpText();
            return kAllDone;
        case ParsedCommandLine::Action::kVersion:
            std::cout << "tarvolacrypt " << TARVOLA_VERSION << '\n';
            return kAllDone;
        case ParsedCommandLine::Action::kUsageError:
            return ReportUsageError(parsed.error);
        case ParsedCommandLine::Action::kRun:
            break;
    }
    const Options& options = parsed.options;

    const bool confirm = options.command == Command::kEncrypt;
    const auto key =
        ObtainKey(options.key, "key", confirm, UsesMode(options, Mode::kEnvelope, false));
    if (!key) return kUsageError;
    std::optional<SecretText> new_key;
    if (options.new_key.origin != KeyOrigin::kNone) {
        new_key =
            ObtainKey(options.new_key, "new key", false, UsesMode(options, Mode::kEnvelope, true));
        if (!new_key) return kUsageError;
    }

    if (options.command == Command::kMigrate) {
        const bool progress = !options.quiet && IsTerminal(StandardStream::kError);
        return RunMigrate(options, key->view(), new_key ? new_key->view() : key->view(), progress,
                          std::cerr);
    }
    const Job job = MakeJob(options, key->view(), new_key ? new_key->view() : key->view());
    const BatchSettings settings{options.strict, ShowProgress(options)};
    BatchCounts counts;
    if (options.texts.empty()) {
        // Flushing the output before every read only helps someone typing.
        if (!IsTerminal(StandardStream::kInput)) std::cin.tie(nullptr);
        counts = RunOnLines(job, std::cin, settings, std::cout, std::cerr);
        if (std::cin.bad()) {
            std::cerr << "tarvolacrypt: cannot read standard input\n";
            return kValueFailed;
        }
    } else {
        counts = RunOnTexts(job, options.texts, settings, std::cout, std::cerr);
    }
    if (!std::cout.flush()) {
        std::cerr << "tarvolacrypt: cannot write standard output\n";
        return kValueFailed;
    }
    return counts.failed == 0 ? kAllDone : kValueFailed;
}

}  // namespace
}  // namespace tarvola::tool

int main(int argc, char** argv) {
    try {
        return tarvola::tool::Run(std::span<char*>(argv + 1, static_cast<std::size_t>(argc - 1)));
    } catch (const std::exception& error) {
        std::cerr << "tarvolacrypt: " << error.what() << '\n';
        return 1;
    }
}
