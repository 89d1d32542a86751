#include "hexscheme/text_helpers.h"

#include <algorithm>

namespace tarvola::hexscheme {
namespace {

// Value of a digit of kHexDigits; only called on such digits. Branch-free,
// since digits and letters alternate at random in ciphertext: '0'-'9' are
// 0x30-0x39 and 'A'-'F' 0x41-0x46, so bit 6 marks a letter, which is worth
// 9 more than its low nibble.
std::uint8_t DigitValue(char c) noexcept {
    const auto code = static_cast<unsigned char>(c);
    return static_cast<std::uint8_t>((code & 0x0fU) + 9U * (code >> 6));
}

// Range tests joined with | rather than ||: no branches, so that a scan over a
// whole text vectorises.
bool IsUpperHexDigit(char c) noexcept {
    const auto code = static_cast<unsigned char>(c);
    return (static_cast<unsigned char>(code - '0') < 10U) |
           (static_cast<unsigned char>(code - 'A') < 6U);
}

}  // namespace

void TakeBlock(std::string_view text, std::size_t offset, aes::Block& block) noexcept {
    block.fill(0);
    if (offset < text.size()) {
        const std::size_t count = std::min<std::size_t>(block.size(), text.size() - offset);
        std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(offset), count, block.begin());
    }
}

// \t, \n, \v, \f and \r are the consecutive codes 9 to 13.
bool IsWhitespace(char c) noexcept {
    const auto code = static_cast<unsigned char>(c);
    return (code == ' ') | (static_cast<unsigned char>(code - '\t') < 5U);
}

std::string_view TrimWhitespace(std::string_view text) noexcept {
    while (!text.empty() && IsWhitespace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsWhitespace(text.back())) text.remove_suffix(1);
    return text;
}

// No early exit: a mode-0 body is megabytes of valid digits far more often
// than it is refused, and the plain loop vectorises.
bool IsUpperHex(std::string_view text) noexcept {
    unsigned valid = 1;
    for (const char c : text) {
        valid &= static_cast<unsigned>(IsUpperHexDigit(c)) | static_cast<unsigned>(IsWhitespace(c));
    }
    return valid != 0;
}

std::uint8_t ParseHexPair(char high, char low) noexcept {
    if (IsWhitespace(high)) return IsWhitespace(low) ? 0 : DigitValue(low);
    if (IsWhitespace(low)) return DigitValue(high);
    return static_cast<std::uint8_t>(DigitValue(high) << 4 | DigitValue(low));
}

void WriteHexByte(std::uint8_t byte, char* out) noexcept {
    out[0] = kHexDigits[byte >> 4];
    out[1] = kHexDigits[byte & 0x0f];
}

std::array<char, 8> LengthHeader(std::uint32_t length) noexcept {
    std::array<char, 8> header;
    header.fill('0');
    // The digits of `length`, most significant first, at least two of them.
    unsigned digit_count = 2;
    while (digit_count < 8 && (length >> (4 * digit_count)) != 0) ++digit_count;
    // Formatting into a 4-byte buffer keeps only the first three digits.
    const unsigned kept = std::min(digit_count, 3U);
    for (unsigned i = 0; i < kept; ++i) {
        header[i] = kHexDigits[(length >> (4 * (digit_count - 1 - i))) & 0x0f];
    }
    return header;
}

}  // namespace tarvola::hexscheme
