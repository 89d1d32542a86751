// The output-buffer sizes that tarvolacrypt.h promises, in bytes including the
// terminating zero. The buffer tests and the fuzzers allocate exactly this
// much, so that a single byte written past the promise is caught (by the guard
// bytes of the tests, by AddressSanitizer in the fuzzers).
#ifndef TARVOLA_HARDENING_OUTPUT_SIZES_H
#define TARVOLA_HARDENING_OUTPUT_SIZES_H

#include <cstddef>
#include <string_view>

namespace tarvola::hardening {

[[nodiscard]] constexpr std::size_t CeilDiv(std::size_t a, std::size_t b) noexcept {
    return (a + b - 1) / b;
}

// Characters Encrypt mode 0 appends for an input of `length` characters.
[[nodiscard]] constexpr std::size_t HexTextLength(std::size_t length) noexcept {
    return 8 + 32 * CeilDiv(length, 16);
}

// Encrypt mode 0 appends after the `prefix_length` characters already there.
[[nodiscard]] constexpr std::size_t EncryptHexSize(std::size_t prefix_length,
                                                   std::size_t length) noexcept {
    return prefix_length + HexTextLength(length) + 1;
}

// Characters of a mode-1 envelope for an input of `length` characters: 24 of
// IV, the "$", and the base64 of C = 16 * (length / 16 + 1) ciphertext bytes.
[[nodiscard]] constexpr std::size_t EnvelopeLength(std::size_t length) noexcept {
    return 25 + 4 * CeilDiv(16 * (length / 16 + 1), 3);
}

[[nodiscard]] constexpr std::size_t EncryptEnvelopeSize(std::size_t length) noexcept {
    return EnvelopeLength(length) + 1;
}

// Decrypt mode 0 writes at most 16 characters per 32 body characters (a
// partial group still counts as a whole block) and no terminator; the extra
// byte is the zero the caller supplies to end the text.
[[nodiscard]] constexpr std::size_t DecryptHexSize(std::size_t text_length) noexcept {
    return text_length <= 8 ? 1 : 16 * CeilDiv(text_length - 8, 32) + 1;
}

// Decrypt mode 1: three quarters of the characters after the first "$" bound
// the ciphertext, whose padding leaves room for the terminator.
[[nodiscard]] constexpr std::size_t DecryptEnvelopeSize(std::string_view envelope) noexcept {
    const std::size_t separator = envelope.find('$');
    const std::size_t after =
        separator == std::string_view::npos ? 0 : envelope.size() - separator - 1;
    return 3 * after / 4 + 1;
}

}  // namespace tarvola::hardening

#endif  // TARVOLA_HARDENING_OUTPUT_SIZES_H
