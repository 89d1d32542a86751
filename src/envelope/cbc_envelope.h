// Mode 1: AES-CBC with PKCS #7 padding and a fresh random IV per value,
// through the platform's cryptography provider, written as a base64 envelope.
//
// The key is the key text's bytes followed by zero bytes up to the next
// multiple of 16 ABOVE its length: 0-15 characters give AES-128, 16-31
// characters AES-256 (a 16-character key text gains 16 zero bytes), and
// TARVOLA_MODE1_KEY_LIMIT (32) or more characters cannot be used.
//
// Neither direction authenticates: a padding check is all that stands between
// a wrong key or a damaged value and garbage, and a host that tells others
// whether decryption failed hands them a padding oracle.
#ifndef TARVOLA_ENVELOPE_CBC_ENVELOPE_H
#define TARVOLA_ENVELOPE_CBC_ENVELOPE_H

#include <cstddef>
#include <optional>
#include <span>

#include "envelope/cbc_padding.h"
#include "platform/platform.h"

namespace tarvola::envelope {

// AES-CBC decryption of whole blocks followed by the padding check: the
// plaintext without its padding, or nothing when the provider fails or the
// padding is invalid. `key` MUST be 16 or 32 bytes and `ciphertext` a
// non-empty multiple of 16 bytes.
[[nodiscard]] std::optional<platform::SecretBytes> DecryptCbcPadded(
    std::span<const std::uint8_t> key, std::span<const std::uint8_t, platform::kAesBlockLength> iv,
    std::span<const std::uint8_t> ciphertext);

// Writes the envelope of `input` into `output` from its first byte, under a
// fresh random IV. On failure (key text of 32 or more characters, random
// source or provider failure) `output` receives the empty text and the result
// is false.
[[nodiscard]] bool EncryptEnvelope(const char* input, const char* key, char* output);

// EncryptEnvelope with the IV given instead of drawn: the same value for the
// same IV, which is what makes mode 1's output comparable with stored values.
// Never use a fixed IV for real values.
[[nodiscard]] bool EncryptEnvelopeWithIv(
    const char* input, const char* key, std::span<const std::uint8_t, platform::kAesBlockLength> iv,
    char* output);

// Writes the plaintext of `envelope` up to its first zero byte and a
// terminator into `output`. On failure (no ciphertext, a ciphertext that is not
// a positive multiple of 16 bytes, an IV under 16 bytes, a key text of 32 or
// more characters, invalid padding, provider failure) `output` receives the
// empty text and the result is false.
[[nodiscard]] bool DecryptEnvelope(const char* envelope, const char* key, char* output);

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_CBC_ENVELOPE_H
