#include "migrate/scan.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/exit_status.h"
#include "common/messages.h"
#include "migrate/chunks.h"
#include "migrate/db/address.h"
#include "migrate/db/database.h"
#include "migrate/plan.h"
#include "values/parallel.h"
#include "values/progress.h"
#include "values/value_operations.h"

namespace tarvola::tool {
namespace {

enum class Standing { kEmpty, kDone, kToMigrate, kAmbiguous, kFailing };

struct Finding {
    Standing standing = Standing::kEmpty;
    std::optional<Mode> shape;
    // Done and to-migrate values: the length of the value once migrated.
    std::size_t migrated_length = 0;
    // Ambiguous and failing values: why.
    std::string reason;
};

// The value's standing, as migrate would find it; blanks only count as empty.
Finding FindingOf(const db::Row& row, const Rekeying& rekeying, const ValueRules& rules) {
    Finding finding;
    const std::string_view value = row.value_is_null ? std::string_view() : TrimBlanks(row.value);
    if (row.value_is_blob) {
        // migrate refuses to put text in its place.
        finding.shape = RecognizeMode(value);
        finding.standing = Standing::kFailing;
        finding.reason = "not text but bytes (a BLOB); left as it is";
        return finding;
    }
    if (value.empty()) return finding;
    finding.shape = RecognizeMode(value);
    Assessed assessed = AssessValue(value, rekeying, rules);
    switch (assessed.outcome) {
        case Assessed::Outcome::kUnchanged:
            finding.standing = Standing::kDone;
            // Migrate leaves it as it is stored.
            finding.migrated_length = row.value.size();
            break;
        case Assessed::Outcome::kToReencrypt:
            finding.standing = Standing::kToMigrate;
            finding.migrated_length =
                MigratedLength(assessed.opened.plaintext->view().size(), rekeying.to_mode);
            break;
        case Assessed::Outcome::kAmbiguous:
            finding.standing = Standing::kAmbiguous;
            finding.reason = std::move(assessed.reason);
            break;
        case Assessed::Outcome::kFailed:
            finding.standing = Standing::kFailing;
            finding.reason = std::move(assessed.reason);
            break;
    }
    return finding;
}

struct Census {
    std::uint64_t rows = 0;
    std::uint64_t empty = 0;
    std::uint64_t mode0 = 0;
    std::uint64_t mode1 = 0;
    std::uint64_t unrecognised = 0;
    std::uint64_t done = 0;
    std::uint64_t to_migrate = 0;
    std::uint64_t ambiguous = 0;
    std::uint64_t failing = 0;
    std::optional<std::uint64_t> width;
    std::uint64_t longest_new = 0;

    void Add(const Finding& finding) {
        ++rows;
        if (finding.standing == Standing::kEmpty) {
            ++empty;
            return;
        }
        ++(!finding.shape ? unrecognised : *finding.shape == Mode::kHexBlock ? mode0 : mode1);
        switch (finding.standing) {
            case Standing::kDone:
                ++done;
                break;
            case Standing::kToMigrate:
                ++to_migrate;
                break;
            case Standing::kAmbiguous:
                ++ambiguous;
                break;
            case Standing::kFailing:
            case Standing::kEmpty:
                ++failing;
                break;
        }
        longest_new = std::max<std::uint64_t>(longest_new, finding.migrated_length);
    }

    void Add(const Census& other) {
        rows += other.rows;
        empty += other.empty;
        mode0 += other.mode0;
        mode1 += other.mode1;
        unrecognised += other.unrecognised;
        done += other.done;
        to_migrate += other.to_migrate;
        ambiguous += other.ambiguous;
        failing += other.failing;
        longest_new = std::max(longest_new, other.longest_new);
    }

    [[nodiscard]] bool AllDone() const noexcept {
        return to_migrate == 0 && ambiguous == 0 && failing == 0;
    }
};

// One scanned target (or standard input, without a table).
struct Report {
    std::optional<db::Target> target;
    Census census;
    // Row-level security hid rows of the table: the census is not all.
    bool hidden_by_row_security = false;
};

// Where a failing row's key goes: the failures file, with the rules of the
// database it is to be pasted into.
struct FailuresFile {
    std::ostream* out = nullptr;
    db::Dialect dialect = db::Dialect::kOther;
    bool backslash_escapes = false;
};

// Reads every row `next` gives, assesses them on `jobs` threads and counts
// them here; failing and ambiguous rows go to `failures` when it is open,
// each by its key as SQL (a line number for standard input, no target).
Census Count(const std::function<bool(db::Row&)>& next, const db::ResolvedTarget* target,
             const Rekeying& rekeying, const ValueRules& rules, unsigned jobs,
             const FailuresFile& failures, Progress& progress) {
    Census census;
    std::vector<Chunk<Finding>> chunks(SlotsFor(jobs));
    const ChunkSteps steps{
        [&](std::size_t slot) { return chunks[slot].Fill(next); },
        [&](std::size_t slot, const std::atomic<bool>& stop) {
            chunks[slot].Map([&](const db::Row& row) { return FindingOf(row, rekeying, rules); },
                             stop);
        },
        [&](std::size_t slot) {
            const Chunk<Finding>& chunk = chunks[slot];
            for (std::size_t i = 0; i < chunk.count; ++i) {
                const Finding& finding = chunk.results[i];
                census.Add(finding);
                if (failures.out == nullptr || (finding.standing != Standing::kAmbiguous &&
                                                finding.standing != Standing::kFailing))
                    continue;
                const db::RowKey& key = chunk.rows[i].key;
                *failures.out << (target == nullptr ? key.front().text
                                                    : db::KeyLiteral(*target, key, failures.dialect,
                                                                     failures.backslash_escapes))
                              << '\t' << finding.reason << '\n';
            }
            progress.Update(census.rows);
            return true;
        },
    };
    (void)RunOrdered(std::max(1U, jobs), chunks.size(), steps);
    return census;
}

// Records of standard input as rows numbered from 1, as decrypt reads them.
std::function<bool(db::Row&)> InputRows(std::istream& in, char separator) {
    return [&in, separator, number = std::uint64_t{0}](db::Row& row) mutable {
        if (!std::getline(in, row.value, separator)) return false;
        if (separator == '\n' && !row.value.empty() && row.value.back() == '\r')
            row.value.pop_back();
        row.key.resize(1);
        row.key.front() = {std::to_string(++number), false, true};
        row.value_is_null = false;
        return true;
    };
}

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            constexpr std::string_view kHex = "0123456789abcdef";
            json += "\\u00";
            json += kHex[byte >> 4];
            json += kHex[byte & 0xF];
        } else {
            json += c;
        }
    }
    return json + '"';
}

void WriteJsonCounts(const Census& census, std::ostream& out) {
    out << "\"rows\": " << census.rows << ", \"empty\": " << census.empty
        << ", \"mode0\": " << census.mode0 << ", \"mode1\": " << census.mode1
        << ", \"unrecognised\": " << census.unrecognised << ", \"done\": " << census.done
        << ", \"to_migrate\": " << census.to_migrate << ", \"ambiguous\": " << census.ambiguous
        << ", \"failing\": " << census.failing;
}

void WriteJson(const std::vector<Report>& reports, const Census& totals, std::ostream& out) {
    out << "{\"targets\": [";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const Report& report = reports[i];
        const Census& census = report.census;
        out << (i == 0 ? "\n  {" : ",\n  {")
            << "\"table\": " << (report.target ? JsonString(report.target->table) : "null")
            << ", \"column\": " << (report.target ? JsonString(report.target->column) : "null")
            << ", ";
        WriteJsonCounts(census, out);
        out << ", \"width\": ";
        if (census.width) {
            out << *census.width;
        } else {
            out << "null";
        }
        out << ", \"longest_new\": " << census.longest_new << ", \"hidden_by_row_security\": "
            << (report.hidden_by_row_security ? "true" : "false") << '}';
    }
    out << "\n], \"totals\": {";
    WriteJsonCounts(totals, out);
    out << ", \"longest_new\": " << totals.longest_new << "}}\n";
}

constexpr std::string_view kHiddenRows =
    "row-level security hides rows of this table from this role: they were not counted, and "
    "the old key may still protect them";

// A table for people: one line per target, a total line for several, then
// what stands in the way of retiring the old key, and columns too narrow.
void WriteTable(const std::vector<Report>& reports, const Census& totals, std::ostream& out) {
    const std::vector<std::string> heading = {"target",    "rows",         "empty", "mode0",
                                              "mode1",     "unrecognised", "done",  "to_migrate",
                                              "ambiguous", "failing",      "width", "longest_new"};
    std::vector<std::vector<std::string>> lines{heading};
    const auto line_of = [](std::string name, const Census& census, bool with_width) {
        std::vector<std::string> line{std::move(name)};
        for (const std::uint64_t number :
             {census.rows, census.empty, census.mode0, census.mode1, census.unrecognised,
              census.done, census.to_migrate, census.ambiguous, census.failing})
            line.push_back(std::to_string(number));
        line.push_back(with_width && census.width ? std::to_string(*census.width) : "-");
        line.push_back(std::to_string(census.longest_new));
        return line;
    };
    for (const Report& report : reports)
        lines.push_back(line_of(report.target ? TargetName(*report.target) : "standard input",
                                report.census, true));
    if (reports.size() > 1) lines.push_back(line_of("total", totals, false));
    std::vector<std::size_t> widths(heading.size(), 0);
    for (const auto& line : lines)
        for (std::size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], line[i].size());
    for (const auto& line : lines) {
        std::string text = line[0] + std::string(widths[0] - line[0].size(), ' ');
        for (std::size_t i = 1; i < line.size(); ++i)
            text += "  " + std::string(widths[i] - line[i].size(), ' ') + line[i];
        out << text << '\n';
    }
    for (const Report& report : reports) {
        const Census& census = report.census;
        if (census.width && census.longest_new > *census.width)
            out << (report.target ? TargetName(*report.target) : "standard input")
                << ": the longest value once migrated has " << census.longest_new
                << " characters, the column holds " << *census.width << '\n';
    }
    bool hidden = false;
    for (const Report& report : reports) {
        if (!report.hidden_by_row_security) continue;
        hidden = true;
        out << TargetName(*report.target) << ": " << kHiddenRows << '\n';
    }
    if (!totals.AllDone()) {
        out << "not done: " << totals.to_migrate << " to migrate, " << totals.ambiguous
            << " ambiguous, " << totals.failing << " failing"
            << (hidden ? "; rows hidden by row-level security were not looked at" : "") << '\n';
    } else if (hidden) {
        out << "not done: rows hidden by row-level security were not looked at\n";
    } else if (totals.rows == totals.empty) {
        out << "no values: nothing here is stored under either key\n";
    } else {
        out << "every value is done: the old key is no longer needed here\n";
    }
}

struct Scan {
    const ScanSettings& settings;
    FailuresFile failures;
};

std::vector<Report> ScanInput(const Scan& scan, std::istream& in) {
    const ScanSettings& settings = scan.settings;
    Progress progress(settings.err, settings.show_progress, "values");
    Report report;
    report.census =
        Count(InputRows(in, settings.null_separated ? '\0' : '\n'), nullptr, settings.rekeying,
              settings.rules, settings.jobs, scan.failures, progress);
    return {report};
}

// Every target through one read-only connection and one transaction, so
// that their counts come from the same moment where the database can.
std::vector<Report> ScanDatabase(Scan scan, const std::vector<db::Target>& targets) {
    const ScanSettings& settings = scan.settings;
    const auto database = db::Connect(settings.source.database, db::Access::kReadOnly);
    if (const std::string caveat = database->read_only_caveat(); !caveat.empty())
        settings.err << kMessagePrefix << "warning: " << caveat << '\n';
    scan.failures.dialect = database->dialect();
    scan.failures.backslash_escapes = database->backslash_escapes();
    // Every name checked before anything is read.
    std::vector<db::ResolvedTarget> resolved;
    database->Begin();
    for (const db::Target& target : targets) resolved.push_back(database->Resolve(target));
    std::vector<Report> reports;
    for (const db::ResolvedTarget& target : resolved) {
        if (scan.failures.out != nullptr && resolved.size() > 1)
            *scan.failures.out << "# " << TargetName(target) << '\n';
        const std::uint64_t total = settings.show_progress ? database->CountRows(target) : 0;
        Progress progress(settings.err, settings.show_progress, "rows", total);
        const auto cursor = database->OpenRows(target);
        Report report{db::Target(target), {}, target.hidden_by_row_security};
        report.census =
            Count([&cursor](db::Row& row) { return cursor->Next(row); }, &target, settings.rekeying,
                  settings.rules, settings.jobs, scan.failures, progress);
        report.census.width = target.width;
        reports.push_back(std::move(report));
    }
    // Nothing to keep: the transaction only read.
    database->Rollback();
    return reports;
}

}  // namespace

int RunScan(const ScanSettings& settings, std::istream& in, std::ostream& out) {
    std::ostream& err = settings.err;
    const bool from_database = !settings.source.database.empty();
    Scan scan{settings, {}};
    Targets targets;
    if (from_database) {
        targets = TargetsOf(settings.source);
        if (!targets.error.empty()) {
            err << kMessagePrefix << targets.error << '\n';
            return kExitUsage;
        }
    }
    const std::string& failures_path = settings.scan.failures;
    std::ofstream failures;
    if (!failures_path.empty()) {
        failures.open(failures_path, std::ios::binary | std::ios::trunc);
        if (!failures) {
            err << kMessagePrefix << "cannot write " << failures_path << '\n';
            return kExitUsage;
        }
        scan.failures.out = &failures;
    }
    std::vector<Report> reports;
    try {
        reports = from_database ? ScanDatabase(scan, targets.targets) : ScanInput(scan, in);
    } catch (const db::Error& error) {
        return ReportDatabaseError(error, settings.source.database, err);
    }
    // Values were read already: a failure now leaves the census unsure.
    if (!from_database && in.bad()) {
        err << kMessagePrefix << "cannot read standard input\n";
        return kExitFailed;
    }
    if (failures.is_open()) {
        failures.close();
        if (!failures) {
            err << kMessagePrefix << "cannot write " << failures_path << '\n';
            return kExitFailed;
        }
    }
    Census totals;
    bool hidden = false;
    for (const Report& report : reports) {
        totals.Add(report.census);
        hidden = hidden || report.hidden_by_row_security;
    }
    // Values under a new key already, scanned with the old key alone.
    if (!settings.new_key_given && totals.failing != 0 &&
        totals.failing == totals.rows - totals.empty)
        err << kMessagePrefix
            << "every value failed under the key: if they were migrated to a new "
               "key, give that one with --new-key-file\n";
    if (settings.scan.json) {
        WriteJson(reports, totals, out);
    } else {
        WriteTable(reports, totals, out);
    }
    return totals.AllDone() && !hidden ? kExitDone : kExitFailed;
}

}  // namespace tarvola::tool
