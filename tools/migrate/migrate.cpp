#include "migrate/migrate.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <iomanip>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/exit_status.h"
#include "common/messages.h"
#include "common/stop_signal.h"
#include "migrate/chunks.h"
#include "migrate/db/address.h"
#include "migrate/db/database.h"
#include "migrate/plan.h"
#include "values/parallel.h"
#include "values/progress.h"
#include "values/summary.h"
#include "values/value_operations.h"

namespace tarvola::tool {
namespace {

// Rows read back together before a commit.
constexpr std::size_t kReadBackRows = 1000;
// Failing rows named one by one before the rest are only counted.
constexpr std::uint64_t kListedFailures = 20;

constexpr std::string_view kHiddenRows =
    "row-level security hides rows of this table from this role";

// The key's columns as --id names them.
std::string KeyNames(const db::ResolvedTarget& target) {
    std::string names;
    for (std::size_t i = 0; i < target.key.size(); ++i)
        names += (i == 0 ? "" : ",") + target.key[i].name;
    return names;
}

// How a run ended, which decides what is kept and what is said.
enum class Ending {
    kCompleted,
    kValueFailed,  // a value failed: its transaction (or batch) is rolled back
    kInterrupted,  // a stop signal: the open transaction is rolled back
    kRefused,      // the database refused a statement or the connection broke
};

// A cell of only white space is as empty as an empty one: a char(n) column
// gives an empty value back as blanks.
bool IsNullOrEmpty(const db::Row& row) noexcept {
    return row.value_is_null || TrimBlanks(row.value).empty();
}

// Seconds to the hundredth, as --verbose gives times.
std::string Seconds(std::chrono::steady_clock::duration elapsed) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2) << std::chrono::duration<double>(elapsed).count();
    return text.str();
}

// The crypto of a chunk; gives up early when the run is stopping.
void ReencryptChunk(const Rekeying& rekeying, const ValueRules& rules, Chunk<Reencrypted>& chunk,
                    const std::atomic<bool>& stop) {
    chunk.Map(
        [&](const db::Row& row) {
            return IsNullOrEmpty(row) ? Reencrypted{Reencrypted::Outcome::kUnchanged, {}, {}}
                                      : ReencryptValue(row.value, rekeying, rules);
        },
        stop);
}

// A short fingerprint of an old value: enough to tell whether a row still
// holds it after a write, without keeping every old value of a transaction.
std::uint64_t Fingerprint(std::string_view value) noexcept {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : value) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

constexpr std::string_view kNotKept = "the database did not keep the write: a trigger or rule?";

// A stored value without the blanks a char(n) column pads it with.
std::string_view Unpadded(std::string_view stored, bool blank_padded) noexcept {
    return blank_padded ? stored.substr(0, stored.find_last_not_of(' ') + 1) : stored;
}

// Why `stored` is not the value `written`, in words for the user; `old`
// tells a write the database dropped from one it changed.
std::string StoredDifference(std::string_view written, const db::Stored& stored, bool blank_padded,
                             std::uint64_t old) {
    if (!stored.found) return "the row is gone after the write: a trigger or rule deleted it?";
    if (stored.is_null) return "the database stored NULL instead of the new value";
    if (Fingerprint(stored.value) == old) return std::string(kNotKept);
    const std::string_view kept = Unpadded(stored.value, blank_padded);
    if (kept.size() < written.size() && written.starts_with(kept))
        return "the database stored " + std::to_string(kept.size()) + " of " +
               std::to_string(written.size()) +
               " characters: the column is too narrow, or a trigger or rule cut the value";
    return "the database changed the value as it stored it: a trigger or rule?";
}

// Whether the database holds exactly `written` (a char(n) column's blank
// padding aside).
bool Holds(const db::Stored& stored, std::string_view written, bool blank_padded) noexcept {
    return stored.found && !stored.is_null && Unpadded(stored.value, blank_padded) == written;
}

// Ends the open transaction without a word: a broken connection has rolled
// it back itself.
void RollBackQuietly(db::Database& database) noexcept {
    try {
        database.Rollback();
    } catch (const db::Error&) {
    }
}

// Runs `work`, which talks to the database. A statement the database refused
// or a lost connection ends the run: said here, passwords hidden.
// `shown` is read when the error comes: a plan's progress line changes from
// target to target while `work` runs.
template <class Work>
Ending Guarded(Progress* const& shown, std::ostream& err, std::string_view address, Work&& work) {
    try {
        return work();
    } catch (const db::Error& error) {
        // A stop asked for while a statement ran cancelled it: the run was
        // interrupted, not refused, and the cancel's own error says nothing.
        if (StopSignal() != 0) return Ending::kInterrupted;
        if (shown != nullptr) shown->Erase();
        (void)ReportDatabaseError(error, address, err);
        return Ending::kRefused;
    }
}

class Migration {
  public:
    // `label`: "table.column: " before the messages of a target of a plan.
    Migration(db::Database& database, const MigrationSettings& settings,
              const db::ResolvedTarget& target, Progress& progress, std::string label)
        : database_(database),
          settings_(settings),
          target_(target),
          progress_(progress),
          label_(std::move(label)) {}

    // One target on its own, in batches (not a dry run, which is one
    // transaction rolled back).
    int Run() {
        const Ending ending =
            Guarded(&progress_, settings_.err, settings_.options.database, [this] {
                database_.Begin();
                const Ending worked = Work();
                // The last batch is committed here, so that a refusal at
                // commit (a deferred constraint) is reported like any other.
                return worked == Ending::kCompleted ? CommitVerified() : worked;
            });
        if (ending != Ending::kCompleted) RollBackQuietly(database_);
        return Report(ending, true);
    }

    // Reading and writing stay on this thread and this connection; the
    // chunks in between are re-encrypted by the workers, and written in the order
    // they were read. Called in a transaction, which it leaves open: in
    // batches, every full batch is committed and the last one is left.
    Ending Work() {
        // A dry run is one transaction whatever the batch size: rolling back
        // a batch would also end the reading cursor on some databases.
        const std::uint64_t batch_size =
            settings_.options.dry_run ? 0 : settings_.options.batch_size;
        start_ = std::chrono::steady_clock::now();
        // Before the first write of this target: a run that would not fit
        // the column stops here, and the transaction is rolled back.
        if (target_.enforced_width && !CheckWidth(*target_.enforced_width)) {
            any_failure_ = true;
            width_refused_ = true;
            return Ending::kValueFailed;
        }
        const auto cursor = database_.OpenRows(target_);
        std::vector<Chunk<Reencrypted>> chunks(SlotsFor(settings_.jobs));
        std::uint64_t rows_read = 0;
        bool batch_failed = false;
        bool interrupted = false;
        const ChunkSteps steps{
            [&](std::size_t slot) {
                if (StopSignal() != 0) {
                    interrupted = true;
                    return false;
                }
                // A chunk never spans two batches.
                std::size_t limit = kChunkRows;
                if (batch_size != 0)
                    limit = static_cast<std::size_t>(
                        std::min<std::uint64_t>(limit, batch_size - rows_read % batch_size));
                Chunk<Reencrypted>& chunk = chunks[slot];
                const bool any = chunk.Fill([&](db::Row& row) { return cursor->Next(row); }, limit);
                rows_read += chunk.count;
                return any;
            },
            [&](std::size_t slot, const std::atomic<bool>& stop) {
                ReencryptChunk(settings_.rekeying, settings_.rules, chunks[slot], stop);
            },
            [&](std::size_t slot) {
                // Nothing more is written once a stop signal came: the open
                // transaction is rolled back, the committed batches stay.
                if (StopSignal() != 0) {
                    interrupted = true;
                    return false;
                }
                const Chunk<Reencrypted>& chunk = chunks[slot];
                const auto rows = std::span(chunk.rows).first(chunk.count);
                batch_failed |= !CountAndWrite(rows, std::span(chunk.results).first(chunk.count),
                                               batch_size == 0);
                in_batch_ += chunk.count;
                progress_.Update(counts_.values);
                // A stop asked for during the write (a long wait for a lock,
                // say): what it wrote is never committed.
                if (StopSignal() != 0) {
                    interrupted = true;
                    return false;
                }
                if (batch_size == 0) return true;
                if (batch_failed) return false;
                if (in_batch_ == batch_size) {
                    const Ending committed = CommitVerified();
                    if (committed != Ending::kCompleted) {
                        batch_failed = committed == Ending::kValueFailed;
                        interrupted = committed == Ending::kInterrupted;
                        return false;
                    }
                    // Outside any transaction, holding no lock.
                    Pace();
                    database_.Begin();
                }
                return true;
            },
        };
        (void)RunOrdered(settings_.jobs, chunks.size(), steps);
        if (interrupted) return Ending::kInterrupted;
        const bool failed = batch_size == 0 ? any_failure_ : batch_failed;
        return failed ? Ending::kValueFailed : Ending::kCompleted;
    }

    // A row written: counted, and kept to be read back before the commit.
    void RememberWritten(const db::Row& row, std::string_view new_value) {
        ++counts_.done;
        written_keys_.push_back(row.key);
        written_values_.emplace_back(new_value);
        written_old_.push_back(Fingerprint(row.value));
    }

    // The rows since the last commit are committed now.
    void Committed() noexcept {
        committed_done_ = counts_.done;
        committed_rows_ += in_batch_;
        if (in_batch_ != 0) ++committed_batches_;
        in_batch_ = 0;
        written_keys_.clear();
        written_values_.clear();
        written_old_.clear();
    }

    // Commits the rows written since the last commit once they are what was
    // verified: every one, read again from the target in the open
    // transaction after the last write (and after any checks the database
    // defers to the commit, run now), holds exactly the value verified; the
    // rows that do not are named (kValueFailed). A stop asked for by then
    // keeps the commit from happening (kInterrupted).
    Ending CommitVerified() {
        database_.RunDeferredChecks();
        if (!VerifyWritten()) return Ending::kValueFailed;
        if (StopSignal() != 0) return Ending::kInterrupted;
        database_.Commit();
        Committed();
        return Ending::kCompleted;
    }

    // Without the deferred checks: for a plan in one transaction, whose
    // caller runs them once for all its targets.
    bool VerifyWritten() {
        bool kept = true;
        for (std::size_t first = 0; first < written_keys_.size(); first += kReadBackRows) {
            const auto keys =
                std::span(written_keys_)
                    .subspan(first, std::min(kReadBackRows, written_keys_.size() - first));
            const std::vector<db::Stored> stored = database_.ReadBack(target_, keys);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                const std::string& written = written_values_[first + i];
                if (Holds(stored[i], written, target_.blank_padded)) continue;
                ReportFailure(keys[i], StoredDifference(written, stored[i], target_.blank_padded,
                                                        written_old_[first + i]));
                kept = false;
            }
        }
        if (!kept) {
            any_failure_ = true;
            counts_.done = committed_done_;
        }
        return kept;
    }

    // The failures not listed and the summary line; `note` adds what became
    // of the transaction (a plan in one transaction says it once, for all
    // targets). Returns the exit status.
    int Report(Ending ending, bool note) {
        const bool atomic = settings_.options.batch_size == 0 || settings_.options.dry_run;
        progress_.Erase();
        if (counts_.failed > kListedFailures)
            settings_.err << kMessagePrefix << label_ << counts_.failed - kListedFailures
                          << " more failing rows not listed\n";
        if (note && !width_refused_) WriteEndingNote(ending, atomic);
        if (ending != Ending::kCompleted) counts_.done = committed_done_;
        if (!settings_.quiet || any_failure_ || ending != Ending::kCompleted) {
            settings_.err << kMessagePrefix << label_
                          << Summary(counts_, {.empty = "null or empty", .every_count = true})
                          << '\n';
        }
        if (target_.hidden_by_row_security)
            settings_.err << kMessagePrefix << TargetName(target_) << ": " << kHiddenRows
                          << ": they were not looked at; keep the old key until a role that "
                             "sees every row has migrated them\n";
        // Rows an application wrote under the old key meanwhile: a run that
        // leaves them has not finished.
        const bool left_behind = ending == Ending::kCompleted && !atomic && ReportLeftBehind();
        // Whenever a stop was asked for, the run says so and exits as shells
        // expect of a stopped one, also when it came after the last commit.
        if (const int signal = StopSignal(); signal != 0) {
            if (note && ending == Ending::kCompleted)
                settings_.err << kMessagePrefix << "interrupted after the last commit: "
                              << CommittedSoFar(atomic, true) << '\n';
            return StoppedRunStatus(signal);
        }
        switch (ending) {
            case Ending::kCompleted:
                return any_failure_ || left_behind ? kExitFailed : kExitDone;
            case Ending::kInterrupted:
            case Ending::kValueFailed:
            case Ending::kRefused:
                break;
        }
        return kExitFailed;
    }

  private:
    void WriteEndingNote(Ending ending, bool atomic) {
        switch (ending) {
            case Ending::kCompleted:
                if (settings_.options.dry_run)
                    settings_.err << kMessagePrefix << "dry run: every change rolled back\n";
                break;
            case Ending::kValueFailed:
                settings_.err << kMessagePrefix << "rolled back: "
                              << (atomic || committed_batches_ == 0
                                      ? "nothing was written"
                                      : "the failing batch was not written, earlier batches were")
                              << '\n';
                break;
            case Ending::kInterrupted:
            case Ending::kRefused:
                settings_.err << kMessagePrefix
                              << (ending == Ending::kInterrupted ? "interrupted" : "stopped")
                              << ": " << CommittedSoFar(atomic, false) << '\n';
                break;
        }
    }

    // Between batches: --pause, then as long as --max-rate needs to keep
    // the rows so far under that many per second.
    void Pace() const {
        if (settings_.options.pause_ms != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(settings_.options.pause_ms));
        if (settings_.options.max_rate != 0)
            std::this_thread::sleep_until(
                start_ +
                std::chrono::microseconds(counts_.values * 1'000'000 / settings_.options.max_rate));
    }

    // Counts a re-encrypted chunk and writes what may be written; false when
    // a value of this chunk failed (in atomic mode also a row changed
    // meanwhile). The rows written wait in written_keys_ for the read-back
    // before the commit.
    bool CountAndWrite(std::span<const db::Row> rows, std::span<const Reencrypted> results,
                       bool atomic) {
        std::vector<db::Update> updates;
        bool chunk_failed = false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ++counts_.values;
            if (rows[i].value_is_blob) {
                ReportFailure(rows[i].key, "not text but bytes (a BLOB); left as it is");
                chunk_failed = true;
            } else if (IsNullOrEmpty(rows[i])) {
                ++counts_.empty;
            } else if (results[i].outcome == Reencrypted::Outcome::kUnchanged) {
                ++counts_.unchanged;
            } else if (results[i].outcome == Reencrypted::Outcome::kFailed) {
                ReportFailure(rows[i].key, results[i].reason);
                if (results[i].wrong_key_likely) ++counts_.failed_to_open;
                chunk_failed = true;
            } else if (std::any_of(rows[i].key.begin(), rows[i].key.end(),
                                   [](const db::KeyValue& key) { return key.is_null; })) {
                ReportFailure(rows[i].key,
                              "its key is NULL, so no update can find it: name key columns "
                              "without NULLs in --id");
                chunk_failed = true;
            } else {
                updates.push_back(db::Update{&rows[i], results[i].value});
            }
        }
        // After a failure in atomic mode everything is rolled back anyway;
        // the rest is only checked, to name every failing row.
        if (chunk_failed || (atomic && any_failure_)) {
            any_failure_ = true;
            return false;
        }
        const std::vector<std::uint64_t> changed = database_.Apply(target_, updates);
        std::vector<std::size_t> unchanged;
        for (std::size_t i = 0; i < updates.size(); ++i) {
            const db::Row& row = *updates[i].row;
            if (changed[i] > 1) {
                // Cannot happen with a unique key; a safeguard for an index
                // dropped since the check.
                ReportFailure(row.key, "the update changed " + std::to_string(changed[i]) +
                                           " rows sharing this key: --id is not unique");
                chunk_failed = true;
            } else if (changed[i] == 0) {
                unchanged.push_back(i);
            } else {
                RememberWritten(row, updates[i].new_value);
            }
        }
        if (!unchanged.empty()) chunk_failed |= !ExplainUnchanged(updates, unchanged, atomic);
        any_failure_ = any_failure_ || chunk_failed;
        return !chunk_failed;
    }

    // Updates the database counted as changing no row, read again: a row
    // that still holds the value read was refused the write by the database
    // itself (a trigger, rule or policy), which no re-run can finish; one
    // that holds the new value was written by a trigger the count missed (an
    // INSTEAD OF trigger on an SQLite view); one that is gone, or holds
    // anything else in a table, was changed by someone else since it was
    // read. In a view, whose triggers write what the count does not show,
    // anything but another stored value is what they made of the new value,
    // and must never be committed. False when the chunk must not be.
    bool ExplainUnchanged(std::span<const db::Update> updates, std::span<const std::size_t> which,
                          bool atomic) {
        std::vector<db::RowKey> keys;
        for (const std::size_t i : which) keys.push_back(updates[i].row->key);
        const std::vector<db::Stored> stored = database_.ReadBack(target_, keys);
        bool committable = true;
        for (std::size_t k = 0; k < which.size(); ++k) {
            const db::Update& update = updates[which[k]];
            const db::Row& row = *update.row;
            const db::Stored& now = stored[k];
            if (now.found && !now.is_null && now.value == row.value) {
                ReportFailure(row.key, std::string(kNotKept) + (target_.hidden_by_row_security
                                                                    ? " (or a row security policy)"
                                                                    : ""));
                committable = false;
            } else if (Holds(now, update.new_value, target_.blank_padded)) {
                RememberWritten(row, update.new_value);
            } else if (!now.found || now.is_null || !target_.is_view || IsStoredValue(now.value)) {
                // In one transaction the rollback takes every row back, and
                // the closing line says so.
                ReportFailure(row.key, atomic ? "changed by someone else since it was read"
                                              : "changed by someone else since it was read; left "
                                                "as it is, run again to migrate it");
                any_failure_ = true;
                committable = committable && !atomic;
            } else {
                ReportFailure(row.key, StoredDifference(update.new_value, now, target_.blank_padded,
                                                        Fingerprint(row.value)));
                committable = false;
            }
        }
        return committable;
    }

    // Whether `value` is one another program could have stored: it opens
    // under the old key or, in the target mode, under the new one.
    bool IsStoredValue(std::string_view value) const {
        const Assessed::Outcome outcome =
            AssessValue(TrimBlanks(value), settings_.rekeying, settings_.rules).outcome;
        return outcome == Assessed::Outcome::kUnchanged ||
               outcome == Assessed::Outcome::kToReencrypt;
    }

    // Before the first write, in the run's first transaction: every value's
    // length once migrated against the column's width. False, with the
    // reason said, when any would not fit.
    bool CheckWidth(std::uint64_t width) {
        std::uint64_t too_long = 0;
        std::size_t needed = 0;
        Survey(
            target_, "widths checked",
            [this](const db::Row& row) -> std::size_t {
                return IsNullOrEmpty(row)
                           ? 0
                           : MigratedLengthOf(row.value, settings_.rekeying, settings_.rules)
                                 .value_or(0);
            },
            [&](std::size_t length) {
                if (length <= width) return;
                ++too_long;
                needed = std::max(needed, length);
            });
        if (too_long == 0) return true;
        progress_.Erase();
        settings_.err << kMessagePrefix << label_ << "column '" << target_.column
                      << "' takes at most " << width << " characters, but " << too_long
                      << (too_long == 1 ? " value needs" : " values need") << " up to " << needed
                      << " once migrated: nothing was written; widen the column first\n";
        return false;
    }

    // A read-only pass over the rows of `target` (this one's, or fewer) in
    // the open transaction: `measure` gives each row a number on the
    // workers, `tally` takes the numbers on this thread. Ends early on a
    // stop signal. With --verbose, says how long it took, `what` naming it.
    template <class Measure, class Tally>
    void Survey(const db::ResolvedTarget& target, std::string_view what, const Measure& measure,
                const Tally& tally) {
        const auto started = std::chrono::steady_clock::now();
        const auto cursor = database_.OpenRows(target);
        // Each row's number, as `measure` gives it.
        std::vector<Chunk<std::size_t>> chunks(SlotsFor(settings_.jobs));
        std::uint64_t rows = 0;
        const ChunkSteps steps{
            [&](std::size_t slot) {
                Chunk<std::size_t>& chunk = chunks[slot];
                if (StopSignal() != 0) return false;
                const bool any = chunk.Fill([&](db::Row& row) { return cursor->Next(row); });
                rows += chunk.count;
                return any;
            },
            [&](std::size_t slot, const std::atomic<bool>& stop) {
                chunks[slot].Map(measure, stop);
            },
            [&](std::size_t slot) {
                const Chunk<std::size_t>& chunk = chunks[slot];
                for (std::size_t i = 0; i < chunk.count; ++i) tally(chunk.results[i]);
                return true;
            },
        };
        (void)RunOrdered(settings_.jobs, chunks.size(), steps);
        if (!settings_.options.verbose) return;
        progress_.Erase();
        settings_.err << kMessagePrefix << label_ << what << " in "
                      << Seconds(std::chrono::steady_clock::now() - started) << " s (" << rows
                      << (rows == 1 ? " row" : " rows") << " read)\n";
    }

    void ReportFailure(const db::RowKey& key, std::string_view reason) {
        ++counts_.failed;
        if (counts_.failed > kListedFailures) return;
        progress_.Erase();
        settings_.err << kMessagePrefix << label_ << "row " << db::RowName(key) << ": " << reason
                      << '\n';
    }

    // What the commits so far kept; `complete`: the run's last commit is
    // among them.
    std::string CommittedSoFar(bool atomic, bool complete) const {
        if (committed_batches_ == 0) return "rolled back, nothing was written";
        if (atomic) return "its one transaction was committed";
        return std::to_string(committed_rows_) + (committed_rows_ == 1 ? " row" : " rows") +
               " committed in " + std::to_string(committed_batches_) +
               (committed_batches_ == 1 ? " batch" : " batches") +
               (complete ? "" : ", the rest left as they were");
    }

    // After a batched run, rows written meanwhile by an application still
    // under the old key (or rows put back) hold values a run would still
    // migrate: counted in a read-only pass, so that the user knows to run
    // again rather than retire the old key.
    // True when there are such rows, or they could not be counted.
    bool ReportLeftBehind() {
        std::uint64_t left = 0;
        try {
            left = CountLeftBehind();
        } catch (const db::Error& error) {
            settings_.err << kMessagePrefix << "cannot count the rows left to migrate:\n";
            (void)ReportDatabaseError(error, settings_.options.database, settings_.err);
            RollBackQuietly(database_);
            return true;
        }
        if (StopSignal() != 0) {
            settings_.err << kMessagePrefix << label_
                          << "interrupted while counting the rows still to migrate: scan to "
                             "count them\n";
            return true;
        }
        if (left == 0) return false;
        settings_.err
            << kMessagePrefix << label_ << left << (left == 1 ? " row" : " rows")
            << " still to migrate (written under the old key during the run?): run again to "
               "migrate "
            << (left == 1 ? "it" : "them") << '\n';
        return true;
    }

    // Values that show they stay are left out by the database itself: after
    // a migration into mode 1 under the same key, nearly every row, none of
    // which is then sent.
    std::uint64_t CountLeftBehind() {
        db::ResolvedTarget counted = target_;
        if (MarkedValuesStay(settings_.rekeying)) {
            const std::string unmarked = counted.quoted_column + " NOT LIKE '%$%'";
            counted.where =
                counted.where.empty() ? unmarked : "(" + counted.where + ") AND " + unmarked;
        }
        database_.BeginReading();
        std::uint64_t left = 0;
        Survey(
            counted, "rows left to migrate counted",
            [this](const db::Row& row) -> std::size_t {
                return !IsNullOrEmpty(row) &&
                               WouldReencrypt(row.value, settings_.rekeying, settings_.rules)
                           ? 1
                           : 0;
            },
            [&left](std::size_t still) { left += still; });
        database_.Rollback();
        return left;
    }

    db::Database& database_;
    const MigrationSettings& settings_;
    const db::ResolvedTarget& target_;
    Progress& progress_;
    std::string label_;
    std::chrono::steady_clock::time_point start_;
    ValueCounts counts_;
    // Rows read since the last commit.
    std::uint64_t in_batch_ = 0;
    bool any_failure_ = false;
    // A value too long for the column stopped the run before any write.
    bool width_refused_ = false;
    // The rows written since the last commit, their values as verified, and
    // a fingerprint of the value each held before: what the read-back before
    // the commit compares against.
    std::vector<db::RowKey> written_keys_;
    std::vector<std::string> written_values_;
    std::vector<std::uint64_t> written_old_;
    // Rows written by batches already committed, which a rollback keeps.
    std::uint64_t committed_done_ = 0;
    // Rows read (written or not) in committed batches, and those batches.
    std::uint64_t committed_rows_ = 0;
    std::uint64_t committed_batches_ = 0;
};

}  // namespace

int RunMigrate(const MigrationSettings& settings) {
    const Targets targets = TargetsOf(settings.options);
    if (!targets.error.empty()) {
        settings.err << kMessagePrefix << targets.error << '\n';
        return kExitUsage;
    }
    std::unique_ptr<db::Database> database;
    try {
        database = db::Connect(settings.options.database);
    } catch (const db::Error& error) {
        return ReportDatabaseError(error, settings.options.database, settings.err);
    }
    return Migrate(*database, targets.targets, settings);
}

int Migrate(db::Database& database, std::span<const db::Target> targets,
            const MigrationSettings& settings) {
    const MigrateOptions& migrate = settings.options;
    std::ostream& err = settings.err;
    try {
        // The progress line, once there is one, makes room for the notice.
        Progress* shown = nullptr;
        db::LockWait lock_wait{migrate.lock_timeout_seconds, {}, [] { return StopSignal() != 0; }};
        if (settings.show_progress)
            lock_wait.on_long_wait = [&err, &shown] {
                if (shown != nullptr) shown->Erase();
                err << kMessagePrefix
                    << "waiting for a lock held by another session "
                       "(--lock-timeout limits the wait)\n";
            };
        database.SetLockWait(std::move(lock_wait));
        // The checks and the counts run in the run's first transaction,
        // which a dry run rolls back with everything else.
        database.Begin();
        // Every name of a plan checked before anything is written.
        std::vector<db::ResolvedTarget> resolved;
        for (const db::Target& named : targets) {
            const db::ResolvedTarget& target = resolved.emplace_back(database.Resolve(named));
            if (target.hidden_by_row_security)
                err << kMessagePrefix << "warning: " << TargetName(target) << ": " << kHiddenRows
                    << ": only the rows this role sees are migrated\n";
            // A shared key would let one conditional update overwrite several
            // rows.
            if (target.key_is_unique) continue;
            if (const std::uint64_t shared = database.CountSharedIds(target); shared != 0) {
                err << kMessagePrefix << "--id '" << KeyNames(target)
                    << "' is not unique: " << shared << (shared == 1 ? " value is" : " values are")
                    << " held by more than one row; name a unique column\n";
                return kExitUsage;
            }
        }
        std::vector<std::unique_ptr<Progress>> progresses;
        std::vector<std::unique_ptr<Migration>> migrations;
        for (const db::ResolvedTarget& target : resolved) {
            const std::uint64_t total = settings.show_progress ? database.CountRows(target) : 0;
            progresses.push_back(
                std::make_unique<Progress>(err, settings.show_progress, "rows", total));
            migrations.push_back(std::make_unique<Migration>(
                database, settings, target, *progresses.back(),
                migrate.plan.empty() ? std::string() : TargetName(target) + ": "));
        }
        // In batches, one target after the other; a failing one stops the run.
        if (migrate.batch_size != 0 && !migrate.dry_run) {
            for (std::size_t i = 0; i < migrations.size(); ++i) {
                shown = progresses[i].get();
                if (const int status = migrations[i]->Run(); status != kExitDone) return status;
            }
            return kExitDone;
        }
        // Otherwise every target in one transaction: a value failing in any
        // of them leaves all of them as they were.
        const Ending ending = Guarded(shown, err, migrate.database, [&] {
            database.Begin();
            Ending worst = Ending::kCompleted;
            for (std::size_t i = 0; i < migrations.size(); ++i) {
                shown = progresses[i].get();
                const Ending worked = migrations[i]->Work();
                if (worked == Ending::kInterrupted) return worked;
                if (worked != Ending::kCompleted) worst = worked;
            }
            if (worst == Ending::kCompleted) {
                database.RunDeferredChecks();
                for (const auto& migration : migrations)
                    if (!migration->VerifyWritten()) worst = Ending::kValueFailed;
            }
            if (worst == Ending::kCompleted && StopSignal() != 0) return Ending::kInterrupted;
            if (worst == Ending::kCompleted && !migrate.dry_run) {
                database.Commit();
                for (const auto& migration : migrations) migration->Committed();
            }
            return worst;
        });
        if (ending != Ending::kCompleted || migrate.dry_run) RollBackQuietly(database);
        int status = kExitDone;
        for (std::size_t i = 0; i < migrations.size(); ++i) {
            status = std::max(status, migrations[i]->Report(ending, i + 1 == migrations.size()));
        }
        return status;
    } catch (const db::Error& error) {
        // A stop asked for while the run waited to begin (for a lock, say)
        // ended that wait: nothing was written.
        if (const int signal = StopSignal(); signal != 0) {
            err << kMessagePrefix << "interrupted: rolled back, nothing was written\n";
            return StoppedRunStatus(signal);
        }
        return ReportDatabaseError(error, migrate.database, err);
    }
}

}  // namespace tarvola::tool
