// The mode-1 text: base64(IV) "$" base64(ciphertext).
//
// With a 16-byte IV the first part is always 24 characters ending in "==".
// Where the parts are is envelope_text.h's rule.
#ifndef TARVOLA_ENVELOPE_BASE64_ENVELOPE_H
#define TARVOLA_ENVELOPE_BASE64_ENVELOPE_H

#include <span>
#include <string_view>

#include "envelope/envelope_text.h"
#include "platform/platform.h"

namespace tarvola::envelope {

struct EnvelopeParts {
    platform::ByteVector iv;
    platform::ByteVector ciphertext;
};

// Writes base64(iv) "$" base64(ciphertext) and a terminator into `output`
// from its first byte; bytes after the terminator keep their values. False,
// with nothing written, when either conversion fails.
[[nodiscard]] bool JoinEnvelope(std::span<const std::uint8_t> iv,
                                std::span<const std::uint8_t> ciphertext, char* output);

// The two parts of SplitEnvelopeText, decoded. A part that does not decode,
// or is missing, comes back empty.
[[nodiscard]] EnvelopeParts SplitEnvelope(std::string_view text);

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_BASE64_ENVELOPE_H
