// The library's base64 codec: standard alphabet, "=" padding, no line breaks
// written, and the reading rules of base64_rules.h, the same on every
// platform. No OpenSSL or CryptoAPI decoder is used for reading: each accepts
// a different set of texts, and a stored value must open, or fail, the same
// way everywhere.
//
// Decoding is portable code (base64_decode.cpp) on every platform. Encoding
// is too (base64_encode.cpp), except on Windows, where the DLL has always
// imported crypt32.dll for it and keeps doing so (platform/windows/
// crypt32_base64.cpp): both write exactly the same text.
#ifndef TARVOLA_ENVELOPE_BASE64_H
#define TARVOLA_ENVELOPE_BASE64_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvola::envelope {

// Standard base64 (RFC 4648 section 4) with "=" padding and no line breaks.
// Empty when the conversion fails (only a system encoder can).
[[nodiscard]] std::optional<std::string> Base64Encode(std::span<const std::uint8_t> bytes);

// Decodes `text` under the rules of base64_rules.h; a text ended by "$"
// decodes to what came before it. Empty on failure.
[[nodiscard]] std::vector<std::uint8_t> Base64Decode(std::string_view text);

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_BASE64_H
