#include "batch.h"

#include <string>

#include "progress.h"
#include "secret_text.h"

namespace tarvola::tool {
namespace {

constexpr std::string_view kLineBreakReason =
    "the decrypted value holds a line break, which cannot be written as one line";

bool HasLineBreak(std::string_view text) noexcept {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

ValueOutcome Decrypted(Result plaintext) {
    if (plaintext && HasLineBreak(*plaintext.value)) {
        wipe(plaintext);
        return ValueOutcome{Result{std::nullopt, Error::kNone}, kLineBreakReason};
    }
    return ValueOutcome{std::move(plaintext), {}};
}

ValueOutcome Reencrypted(const Job& job, std::string_view value) {
    Result plaintext = decrypt(value, job.key, job.read_mode);
    if (!plaintext) return ValueOutcome{std::move(plaintext), {}};
    ValueOutcome sealed{encrypt(*plaintext.value, job.new_key, job.write_mode), {}};
    wipe(plaintext);
    return sealed;
}

// One value at a time: result or empty line out, reason to `err`, counts
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
        ValueOutcome outcome = TransformValue(job_, value);
        ++counts_.done;
        progress_.Advance();
        if (outcome.result) {
            std::string& text = *outcome.result.value;
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
            out_.put('\n');
            wipe(outcome.result);
            return true;
        }
        ++counts_.failed;
        progress_.Erase();
        err_ << "tarvolacrypt: " << place << ' ' << number << ": " << outcome.reason() << '\n';
        if (settings_.strict) return false;
        out_.put('\n');
        return true;
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
            return ValueOutcome{encrypt(value, job.key, job.write_mode), {}};
        case Command::kDecrypt:
            return Decrypted(decrypt(value, job.key, job.read_mode));
        case Command::kReencrypt:
            return Reencrypted(job, value);
        case Command::kMigrate:
            break;
    }
    return ValueOutcome{Result{std::nullopt, Error::kNone}, "unknown command"};
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

BatchCounts RunOnLines(const Job& job, std::istream& in, const BatchSettings& settings,
                       std::ostream& out, std::ostream& err) {
    ValueWriter writer(job, settings, out, err);
    // One buffer for every line: it grows to the longest line and no further.
    SecretText line;
    std::uint64_t number = 0;
    while (std::getline(in, line.value())) {
        SecretString& value = line.value();
        if (!value.empty() && value.back() == '\r') value.pop_back();
        if (!writer.Write("line", ++number, value)) break;
    }
    return writer.counts();
}

}  // namespace tarvola::tool
