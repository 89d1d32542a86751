#include "batch.h"

#include <string>

#include "progress.h"

namespace tarvola::tool {
namespace {

using Kind = ValueOutcome::Kind;

bool HasLineBreak(std::string_view text) noexcept {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool InLineMode(const Job& job) noexcept {
    return job.separator == '\n';
}

ValueOutcome Failed(std::string reason) {
    return ValueOutcome{Kind::kFailed, {}, std::move(reason)};
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
    if (!opened) return Failed(std::move(opened.reason));
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
    return Failed(std::move(result.reason));
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
        const ValueOutcome outcome = TransformValue(job_, value);
        ++counts_.values;
        progress_.Advance();
        if (outcome.kind == Kind::kFailed) {
            ++counts_.failed;
            progress_.Erase();
            err_ << "tarvolacrypt: " << place << ' ' << number << ": " << outcome.reason << '\n';
            if (settings_.strict) return false;
        } else {
            ++(outcome.kind == Kind::kDone ? counts_.done : counts_.unchanged);
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

}  // namespace

ValueOutcome TransformValue(const Job& job, std::string_view value) {
    switch (job.command) {
        case Command::kEncrypt:
            return EncryptOne(job, value);
        case Command::kDecrypt:
            return DecryptOne(job, value);
        case Command::kReencrypt:
            return ReencryptOne(job, value);
        case Command::kMigrate:
            break;
    }
    return Failed("unknown command");
}

BatchCounts RunOnTexts(const Job& job, std::span<const std::string_view> texts,
                       const BatchSettings& settings, std::ostream& out, std::ostream& err) {
    ValueWriter writer(job, settings, out, err);
    std::uint64_t number = 0;
    for (const std::string_view text : texts) {
        if (!writer.Write("argument", ++number, text)) break;
    }
    return writer.counts();
}

BatchCounts RunOnRecords(const Job& job, std::istream& in, const BatchSettings& settings,
                         std::ostream& out, std::ostream& err) {
    ValueWriter writer(job, settings, out, err);
    const std::string_view place = InLineMode(job) ? "line" : "value";
    // One buffer for every value: it grows to the longest one and no further.
    SecretText record;
    std::uint64_t number = 0;
    while (std::getline(in, record.value(), job.separator)) {
        SecretString& value = record.value();
        if (InLineMode(job) && !value.empty() && value.back() == '\r') value.pop_back();
        if (!writer.Write(place, ++number, value)) break;
    }
    return writer.counts();
}

std::string Summary(const Job& job, const BatchCounts& counts) {
    std::string line =
        std::to_string(counts.values) + (counts.values == 1 ? " value, " : " values, ") +
        std::to_string(counts.done) + " done, " + std::to_string(counts.failed) + " failed";
    if (counts.unchanged > 0) line += ", " + std::to_string(counts.unchanged) + " unchanged";
    if (job.command != Command::kEncrypt && counts.values > 0 && counts.failed == counts.values) {
        line += ": every value failed, so the key is probably wrong";
    }
    return line;
}

}  // namespace tarvola::tool
