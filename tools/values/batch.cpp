#include "values/batch.h"

#include <string>
#include <vector>

#include "common/messages.h"
#include "values/parallel.h"
#include "values/progress.h"
#include "values/secret_traces.h"

namespace tarvola::tool {
namespace {

using Kind = ValueOutcome::Kind;

bool HasLineBreak(std::string_view text) noexcept {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool InLineMode(const Job& job) noexcept {
    return job.separator == '\n';
}

ValueOutcome Failed(std::string reason, bool wrong_key_likely = false) {
    return ValueOutcome{Kind::kFailed, {}, std::move(reason), wrong_key_likely};
}

ValueOutcome EncryptOne(const Job& job, std::string_view value) {
    if (InLineMode(job) && HasLineBreak(value)) {
        return Failed(
            "the value holds a line break, which could not be decrypted to one line; use --null");
    }
    Sealed sealed = SealValue(value, job.key, job.write_mode);
    if (!sealed) return Failed(std::move(sealed.reason));
    return ValueOutcome{Kind::kDone, SecretText(*sealed.value), {}};
}

ValueOutcome DecryptOne(const Job& job, std::string_view value) {
    Opened opened = OpenValue(value, job.key, job.read_mode, job.rules);
    if (!opened) return Failed(std::move(opened.reason), opened.wrong_key_likely);
    if (InLineMode(job) && HasLineBreak(opened.plaintext->view())) {
        return Failed(
            "the decrypted value holds a line break, which cannot be written as one line; use "
            "--null");
    }
    return ValueOutcome{Kind::kDone, std::move(*opened.plaintext), {}};
}

ValueOutcome ReencryptOne(const Job& job, std::string_view value) {
    const Rekeying rekeying{job.key, job.new_key, job.read_mode, job.write_mode};
    Reencrypted result = ReencryptValue(value, rekeying, job.rules);
    switch (result.outcome) {
        case Reencrypted::Outcome::kWritten:
            return ValueOutcome{Kind::kDone, SecretText(result.value), {}};
        case Reencrypted::Outcome::kUnchanged:
            return ValueOutcome{Kind::kUnchanged, SecretText(value), {}};
        case Reencrypted::Outcome::kFailed:
            break;
    }
    return Failed(std::move(result.reason), result.wrong_key_likely);
}

// One value at a time: result or empty record out, reason to `err`, counts
// and progress kept.
class ValueWriter {
  public:
    ValueWriter(const Job& job, const BatchSettings& settings, std::ostream& out, std::ostream& err)
        : job_(job),
          settings_(settings),
          out_(out),
          err_(err),
          progress_(err, settings.show_progress) {}

    // False once the batch must stop.
    bool Write(std::string_view place, std::uint64_t number, std::string_view value) {
        return Emit(place, number, TransformValue(job_, value));
    }

    // The record of a value already worked on, its reason to `err`.
    bool Emit(std::string_view place, std::uint64_t number, const ValueOutcome& outcome) {
        // A stop signal drops the value in hand; what is written stays whole.
        if (settings_.stop_signal != nullptr && settings_.stop_signal() != 0) {
            counts_.interrupted = true;
            return false;
        }
        ++counts_.values;
        progress_.Advance();
        if (outcome.kind == Kind::kFailed) {
            ++counts_.failed;
            if (outcome.wrong_key_likely) ++counts_.failed_to_open;
            progress_.Erase();
            err_ << kMessagePrefix << place << ' ' << number << ": " << outcome.reason << '\n';
            if (settings_.strict) return false;
        } else {
            ++(outcome.kind == Kind::kDone        ? counts_.done
               : outcome.kind == Kind::kUnchanged ? counts_.unchanged
                                                  : counts_.empty);
            const std::string_view text = outcome.text.view();
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
        }
        out_.put(job_.separator);
        if (settings_.line_buffered) out_.flush();
        counts_.output_failed = !out_.good();
        return !counts_.output_failed;
    }

    [[nodiscard]] const BatchCounts& counts() const noexcept { return counts_; }

  private:
    const Job& job_;
    const BatchSettings& settings_;
    std::ostream& out_;
    std::ostream& err_;
    Progress progress_;
    BatchCounts counts_;
};

std::string_view PlaceName(const Job& job) noexcept {
    return InLineMode(job) ? "line" : "value";
}

// The next record of `in` into `record`, without its separator (nor, in line
// mode, a CR before it); false at the end of the input.
bool ReadRecord(const Job& job, std::istream& in, SecretText& record) {
    if (!std::getline(in, record.value(), job.separator)) return false;
    SecretString& value = record.value();
    if (InLineMode(job) && !value.empty() && value.back() == '\r') value.pop_back();
    return true;
}

// A run of values read together and handed to one worker. The buffers are
// reused from chunk to chunk, so memory is set by the longest values seen.
struct Chunk {
    static constexpr std::size_t kValues = 256;
    std::uint64_t first_number = 0;
    std::size_t count = 0;
    std::vector<SecretText> values = std::vector<SecretText>(kValues);
    std::vector<ValueOutcome> outcomes = std::vector<ValueOutcome>(kValues);
};

BatchCounts RunOnRecordsInParallel(const Job& job, std::istream& in, const BatchSettings& settings,
                                   std::ostream& out, std::ostream& err) {
    ValueWriter writer(job, settings, out, err);
    // Four chunks per worker in flight: enough that a worker never waits for
    // the reading and writing, which are the calling thread's.
    std::vector<Chunk> chunks(SlotsFor(settings.jobs));
    std::uint64_t number = 0;
    const ChunkSteps steps{
        [&](std::size_t slot) {
            Chunk& chunk = chunks[slot];
            chunk.first_number = number + 1;
            chunk.count = 0;
            while (chunk.count < Chunk::kValues && ReadRecord(job, in, chunk.values[chunk.count])) {
                ++chunk.count;
            }
            number += chunk.count;
            return chunk.count > 0;
        },
        [&](std::size_t slot, const std::atomic<bool>& stop) {
            Chunk& chunk = chunks[slot];
            for (std::size_t i = 0; i < chunk.count && !stop.load(); ++i) {
                chunk.outcomes[i] = TransformValue(job, chunk.values[i].view());
            }
        },
        [&](std::size_t slot) {
            const Chunk& chunk = chunks[slot];
            for (std::size_t i = 0; i < chunk.count; ++i) {
                if (!writer.Emit(PlaceName(job), chunk.first_number + i, chunk.outcomes[i])) {
                    return false;
                }
            }
            return true;
        }};
    (void)RunOrdered(settings.jobs, chunks.size(), steps);
    return writer.counts();
}

}  // namespace

ValueOutcome TransformValue(const Job& job, std::string_view value) {
    if (job.operation != Operation::kEncrypt && TrimBlanks(value).empty()) {
        return ValueOutcome{Kind::kEmpty, SecretText(value), {}};
    }
    switch (job.operation) {
        case Operation::kEncrypt:
            return EncryptOne(job, value);
        case Operation::kDecrypt:
            return DecryptOne(job, value);
        case Operation::kReencrypt:
            break;
    }
    return ReencryptOne(job, value);
}

BatchCounts RunOnTexts(const Job& job, std::span<const std::string_view> texts,
                       const BatchSettings& settings, std::ostream& out, std::ostream& err) {
    const SecretTraceEraser eraser;
    ValueWriter writer(job, settings, out, err);
    std::uint64_t number = 0;
    for (const std::string_view text : texts) {
        if (!writer.Write("argument", ++number, text)) break;
    }
    return writer.counts();
}

BatchCounts RunOnRecords(const Job& job, std::istream& in, const BatchSettings& settings,
                         std::ostream& out, std::ostream& err) {
    const SecretTraceEraser eraser;
    if (settings.jobs > 1 && !settings.line_buffered) {
        return RunOnRecordsInParallel(job, in, settings, out, err);
    }
    ValueWriter writer(job, settings, out, err);
    // One buffer for every value: it grows to the longest one and no further.
    SecretText record;
    std::uint64_t number = 0;
    while (ReadRecord(job, in, record)) {
        if (!writer.Write(PlaceName(job), ++number, record.view())) break;
    }
    return writer.counts();
}

}  // namespace tarvola::tool
