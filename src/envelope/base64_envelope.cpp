#include "envelope/base64_envelope.h"

#include <algorithm>

namespace tarvola::envelope {

bool JoinEnvelope(std::span<const std::uint8_t> iv, std::span<const std::uint8_t> ciphertext,
                  char* output) {
    const auto iv_text = platform::Base64Encode(iv);
    const auto ciphertext_text = platform::Base64Encode(ciphertext);
    if (!iv_text || !ciphertext_text) return false;

    char* out = std::copy(iv_text->begin(), iv_text->end(), output);
    *out++ = kEnvelopeSeparator;
    out = std::copy(ciphertext_text->begin(), ciphertext_text->end(), out);
    *out = '\0';
    return true;
}

EnvelopeParts SplitEnvelope(std::string_view text) {
    const std::size_t separator = text.find(kEnvelopeSeparator);
    if (separator == std::string_view::npos) return {platform::Base64Decode(text), {}};
    return {platform::Base64Decode(text.substr(0, separator + 1)),
            platform::Base64Decode(text.substr(separator + 1))};
}

}  // namespace tarvola::envelope
