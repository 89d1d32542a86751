// Text helpers of the mode-0 format, shared by its encryption and decryption.
#ifndef TARVOLA_HEXSCHEME_TEXT_HELPERS_H
#define TARVOLA_HEXSCHEME_TEXT_HELPERS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "aes/aes128.h"

namespace tarvola::hexscheme {

// The only digits the format writes; lowercase letters are refused on input.
inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// Fills `block` with the 16 bytes of `text` starting at `offset`, zero bytes
// past its end. The bytes go straight into the caller's block, which for key
// and plaintext is wiped storage: returned by value, they would be assembled in
// this function's own frame and left behind there when it returns.
void TakeBlock(std::string_view text, std::size_t offset, aes::Block& block) noexcept;

// `text` without its leading and trailing white space (IsCLocaleSpace).
[[nodiscard]] std::string_view TrimWhitespace(std::string_view text) noexcept;

// True when every character is one of kHexDigits or white space. An empty or
// all-blank text passes too.
[[nodiscard]] bool IsUpperHexOrWhiteSpace(std::string_view text) noexcept;

// What a text holds, found in one pass: a body of digits only, the only kind
// encryption writes, can be converted without looking for white space.
enum class HexText { kRefused, kDigitsOnly, kWithWhiteSpace };

// kRefused unless IsUpperHexOrWhiteSpace; then kDigitsOnly when no character is white
// space (the empty text included).
[[nodiscard]] HexText ClassifyHexText(std::string_view text) noexcept;

// The byte a two-character group stands for, read the way strtol(…, 16)
// reads it: leading white space skipped, digits read up to the first other
// character, no digit at all giving 0 (so " A" and "A " are 0x0A, "  " is 0).
// Both characters MUST already have passed IsUpperHexOrWhiteSpace.
[[nodiscard]] std::uint8_t ParseHexPair(char high, char low) noexcept;

}  // namespace tarvola::hexscheme

#endif  // TARVOLA_HEXSCHEME_TEXT_HELPERS_H
