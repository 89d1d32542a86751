// Where the two parts of a mode-1 text are, and how long its ciphertext is,
// header-only like base64_rules.h so that the tool reads an envelope exactly
// as the library does.
//
// The separator is the first "$". The IV part is everything up to and
// including it (its decoder ends there), the ciphertext part everything after
// it; later "$" belong to the ciphertext part, which ends at one that follows
// its padding and fails to decode at any other.
#ifndef TARVOLA_ENVELOPE_ENVELOPE_TEXT_H
#define TARVOLA_ENVELOPE_ENVELOPE_TEXT_H

#include <cstddef>
#include <optional>
#include <string_view>

#include "envelope/base64_rules.h"

namespace tarvola::envelope {

inline constexpr char kEnvelopeSeparator = '$';

struct EnvelopeText {
    std::string_view iv;
    std::string_view ciphertext;
    bool separated = false;  // false: no "$", the whole text is `iv`
};

[[nodiscard]] constexpr EnvelopeText SplitEnvelopeText(std::string_view text) noexcept {
    const std::size_t separator = text.find(kEnvelopeSeparator);
    if (separator == std::string_view::npos) return {text, {}, false};
    return {text.substr(0, separator + 1), text.substr(separator + 1), true};
}

// The number of ciphertext bytes in the envelope `text`: exactly what the
// library decodes from it. Nothing when there is no "$" or the ciphertext
// part does not decode.
[[nodiscard]] constexpr std::optional<std::size_t> EnvelopeCiphertextLength(
    std::string_view text) noexcept {
    const EnvelopeText parts = SplitEnvelopeText(text);
    if (!parts.separated) return std::nullopt;
    return Base64DecodedLength(parts.ciphertext);
}

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_ENVELOPE_TEXT_H
