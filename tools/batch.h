// The work on values: one value turned into its result, and the loops over
// TEXT arguments and over lines of input that keep outputs aligned with
// inputs.
#ifndef TARVOLA_TOOLS_BATCH_H
#define TARVOLA_TOOLS_BATCH_H

#include <cstdint>
#include <istream>
#include <ostream>
#include <span>
#include <string_view>

#include "command_line.h"
#include "tarvolacrypt.hpp"

namespace tarvola::tool {

struct Job {
    Command command = Command::kEncrypt;
    // The scheme of the values read (decrypt, reencrypt) and of the values
    // written (encrypt, reencrypt).
    Mode read_mode = Mode::kEnvelope;
    Mode write_mode = Mode::kEnvelope;
    std::string_view key;
    // The key the values are written under by reencrypt.
    std::string_view new_key;
};

struct ValueOutcome {
    Result result;
    // Set when the tool, not the library, refused the value.
    std::string_view tool_reason;

    [[nodiscard]] std::string_view reason() const noexcept {
        return tool_reason.empty() ? result.message() : tool_reason;
    }
};

// The value's result; the intermediate plaintext of reencrypt is wiped.
[[nodiscard]] ValueOutcome TransformValue(const Job& job, std::string_view value);

struct BatchSettings {
    bool strict = false;
    bool show_progress = false;
};

struct BatchCounts {
    std::uint64_t done = 0;
    std::uint64_t failed = 0;
};

// Each text is one value: one output line each, empty for a value that
// failed, whose reason goes to `err` as "argument N: ...".
[[nodiscard]] BatchCounts RunOnTexts(const Job& job, std::span<const std::string_view> texts,
                                     const BatchSettings& settings, std::ostream& out,
                                     std::ostream& err);

// Each line of `in` is one value, without its LF and a CR before it; a last
// line without LF counts too. Reasons go to `err` as "line N: ...". Memory use
// does not grow with the number of lines.
[[nodiscard]] BatchCounts RunOnLines(const Job& job, std::istream& in,
                                     const BatchSettings& settings, std::ostream& out,
                                     std::ostream& err);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_BATCH_H
