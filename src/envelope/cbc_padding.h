// The two padding rules of mode 1, kept apart from the provider calls so
// that they build and run on any host, a provider or not.
#ifndef TARVOLA_ENVELOPE_CBC_PADDING_H
#define TARVOLA_ENVELOPE_CBC_PADDING_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/secret.h"

namespace tarvola::envelope {

// The key text's bytes plus z zero bytes, z = block_length - length %
// block_length (never 0).
[[nodiscard]] platform::SecretBytes DeriveKeyMaterial(std::span<const std::uint8_t> key_text,
                                                      std::size_t block_length);

// The length of the plaintext inside `padded` once its PKCS #7 padding is
// removed, or nothing when the padding is invalid (last byte outside 1..16, or
// any padding byte different from it). Looks at every candidate padding byte
// and decides once, so its timing does not tell which byte was wrong.
// `padded` MUST be a non-empty multiple of 16 bytes.
[[nodiscard]] std::optional<std::size_t> UnpaddedLength(std::span<const std::uint8_t> padded);

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_CBC_PADDING_H
