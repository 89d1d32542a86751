#include "hexscheme/text_helpers.h"

#include <algorithm>

namespace tarvola::hexscheme {
namespace {

// Value of a digit of kHexDigits; only called on such digits.
std::uint8_t DigitValue(char c) noexcept {
    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10);
}

bool IsUpperHexDigit(char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

aes::Block TakeBlock(std::string_view text, std::size_t offset) noexcept {
    aes::Block block{};
    if (offset < text.size()) {
        const std::size_t count = std::min<std::size_t>(block.size(), text.size() - offset);
        std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(offset), count, block.begin());
    }
    return block;
}

bool IsWhitespace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimWhitespace(std::string_view text) noexcept {
    while (!text.empty() && IsWhitespace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsWhitespace(text.back())) text.remove_suffix(1);
    return text;
}

bool IsUpperHex(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return IsUpperHexDigit(c) || IsWhitespace(c); });
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
