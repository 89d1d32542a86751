// The hex text of mode-0 ciphertext, both directions. Bodies are megabytes
// long for large values, so both convert eight characters at a time in a
// 64-bit word (SWAR): one character at a time cost as much as the cipher.
#ifndef TARVOLA_HEXSCHEME_HEX_CODEC_H
#define TARVOLA_HEXSCHEME_HEX_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvola::hexscheme {

// Writes the 2 * `count` uppercase hex digits of `bytes`, high nibble first,
// at `out` (no terminator). `count` MUST be a multiple of 4.
void WriteHexDigits(const std::uint8_t* bytes, std::size_t count, char* out) noexcept;

// Blocks `first` to `first + count - 1` of `body`, 16 bytes each from its
// 32-character groups, into `blocks`. `body` MUST have passed IsUpperHexOrWhiteSpace and
// hold those groups. A group holding white space is read pair by pair as
// ParseHexPair reads it; a group cut short by the end of the body (a body of
// an odd multiple of 16 characters) gives 8 bytes and 8 zero bytes.
void ParseHexBlocks(std::string_view body, std::size_t first, std::size_t count,
                    std::uint8_t* blocks) noexcept;

// The same blocks as ParseHexBlocks for a body of digits only
// (ClassifyHexText gave kDigitsOnly), with no look for white space.
void ParseDigitBlocks(std::string_view body, std::size_t first, std::size_t count,
                      std::uint8_t* blocks) noexcept;

}  // namespace tarvola::hexscheme

#endif  // TARVOLA_HEXSCHEME_HEX_CODEC_H
