#include "envelope/base64_envelope.h"

#include <algorithm>

#include "envelope/base64.h"

namespace tarvola::envelope {

bool JoinEnvelope(std::span<const std::uint8_t> iv, std::span<const std::uint8_t> ciphertext,
                  char* output) {
    const auto iv_text = Base64Encode(iv);
    const auto ciphertext_text = Base64Encode(ciphertext);
    if (!iv_text || !ciphertext_text) return false;

    char* out = std::copy(iv_text->begin(), iv_text->end(), output);
    *out++ = kEnvelopeSeparator;
    out = std::copy(ciphertext_text->begin(), ciphertext_text->end(), out);
    *out = '\0';
    return true;
}

EnvelopeParts SplitEnvelope(std::string_view text) {
    const EnvelopeText parts = SplitEnvelopeText(text);
    return {Base64Decode(parts.iv), Base64Decode(parts.ciphertext)};
}

}  // namespace tarvola::envelope
