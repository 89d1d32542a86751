// The output-buffer sizes that tarvolacrypt.h promises, in bytes including the
// terminating zero, in the shapes the buffer tests and fuzzers ask for them.
// They allocate exactly this much, so that a single byte written past the
// promise is caught (by the guard bytes of the tests, by AddressSanitizer in
// the fuzzers).
#ifndef TARVOLA_HARDENING_OUTPUT_SIZES_H
#define TARVOLA_HARDENING_OUTPUT_SIZES_H

#include <cstddef>
#include <string_view>

#include "tarvolacrypt.h"

namespace tarvola::hardening {

// Characters Encrypt mode 0 appends for an input of `length` characters.
[[nodiscard]] constexpr std::size_t HexTextLength(std::size_t length) noexcept {
    return TARVOLA_ENCRYPT_SIZE_MODE0(length) - 1;
}

// Encrypt mode 0 appends after the `prefix_length` characters already there.
[[nodiscard]] constexpr std::size_t EncryptHexSize(std::size_t prefix_length,
                                                   std::size_t length) noexcept {
    return prefix_length + TARVOLA_ENCRYPT_SIZE_MODE0(length);
}

// Characters of a mode-1 envelope for an input of `length` characters.
[[nodiscard]] constexpr std::size_t EnvelopeLength(std::size_t length) noexcept {
    return TARVOLA_ENCRYPT_SIZE_MODE1(length) - 1;
}

[[nodiscard]] constexpr std::size_t EncryptEnvelopeSize(std::size_t length) noexcept {
    return TARVOLA_ENCRYPT_SIZE_MODE1(length);
}

[[nodiscard]] constexpr std::size_t DecryptHexSize(std::size_t text_length) noexcept {
    return TARVOLA_DECRYPT_SIZE_MODE0(text_length);
}

[[nodiscard]] constexpr std::size_t DecryptEnvelopeSize(std::string_view envelope) noexcept {
    const std::size_t separator = envelope.find('$');
    const std::size_t after =
        separator == std::string_view::npos ? 0 : envelope.size() - separator - 1;
    return TARVOLA_DECRYPT_SIZE_MODE1(after);
}

}  // namespace tarvola::hardening

#endif  // TARVOLA_HARDENING_OUTPUT_SIZES_H
