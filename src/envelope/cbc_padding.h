// The padding rules of mode 1: PKCS #7 padding of decrypted CBC blocks,
// checked the same way on every platform (the providers are asked for the
// blocks only), and the zero padding that makes key material of a key text.
// They make no provider calls, so they build and run on any host.
//
// Which values are public and which secret: the number of padded bytes (a
// multiple of 16, visible in the ciphertext) is public; the padded bytes, the
// padding length and whether the padding is valid are secret until the one
// final decision, since a host that leaked which byte was wrong would hand
// out a finer padding oracle than the success or failure it already reports.
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

// The padding check before its decision. `bad` is 0 when the padding is valid
// and 1 when it is not (last byte outside 1..16, or any padding byte
// different from it); `length` is the plaintext length, meaningful only when
// `bad` is 0. Branch-free in the bytes' values: every candidate padding byte
// is examined whatever the others hold. `padded` MUST be a non-empty multiple
// of 16 bytes.
struct PaddingCheck {
    std::uint32_t bad;
    std::size_t length;
};
[[nodiscard]] PaddingCheck CheckPadding(std::span<const std::uint8_t> padded) noexcept;

// CheckPadding, decided: the plaintext length, or nothing when the padding is
// invalid.
[[nodiscard]] std::optional<std::size_t> UnpaddedLength(std::span<const std::uint8_t> padded);

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_CBC_PADDING_H
