#include "hexscheme/text_helpers.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/text.h"

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

// Range tests joined with | rather than ||: no branches on ciphertext digits.
bool IsUpperHexDigit(char c) noexcept {
    const auto code = static_cast<unsigned char>(c);
    return (static_cast<unsigned char>(code - '0') < 10U) |
           (static_cast<unsigned char>(code - 'A') < 6U);
}

// The body of a large value is megabytes long, so ClassifyHexText looks at
// eight characters at a time in a 64-bit word (SWAR). For a byte below 0x80,
// adding 0x80 - low sets its bit 7 exactly when it is at least `low`, and
// adding 0x7f - high exactly when it is above `high`; neither sum leaves the
// byte. A byte of 0x80 or more may carry into the next one, but is refused
// through its own bit 7 whatever its neighbours become.
using common::kEachByte;
using common::kHighBits;

constexpr std::uint64_t InRange(std::uint64_t chars, unsigned low, unsigned high) noexcept {
    return (chars + (0x80U - low) * kEachByte) & ~(chars + (0x7fU - high) * kEachByte);
}

// Bit 7 set in each byte that is one of kHexDigits, clear in every other;
// the other bits mean nothing.
constexpr std::uint64_t DigitBytes(std::uint64_t chars) noexcept {
    return (InRange(chars, '0', '9') | InRange(chars, 'A', 'F')) & ~chars;
}

// Likewise for white space.
constexpr std::uint64_t SpaceBytes(std::uint64_t chars) noexcept {
    return (InRange(chars, '\t', '\r') | InRange(chars, ' ', ' ')) & ~chars;
}

// Whether every character of `text` passes: `word_test` marks the passing
// bytes of eight characters at a time with their bit 7, `char_test` tests
// the rest one by one. No early exit: a mode-0 body is megabytes of valid
// digits far more often than it is refused.
template <class WordTest, class CharTest>
bool EveryChar(std::string_view text, WordTest word_test, CharTest char_test) noexcept {
    std::uint64_t passed = kHighBits;
    std::size_t i = 0;
    for (; i + sizeof passed <= text.size(); i += sizeof passed) {
        std::uint64_t chars;
        std::memcpy(&chars, text.data() + i, sizeof chars);
        passed &= word_test(chars);
    }
    unsigned tail_passed = 1;
    for (; i < text.size(); ++i) tail_passed &= static_cast<unsigned>(char_test(text[i]));
    return passed == kHighBits && tail_passed != 0;
}

}  // namespace

void TakeBlock(std::string_view text, std::size_t offset, aes::Block& block) noexcept {
    block.fill(0);
    if (offset < text.size()) {
        const std::size_t count = std::min<std::size_t>(block.size(), text.size() - offset);
        std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(offset), count, block.begin());
    }
}

std::string_view TrimWhitespace(std::string_view text) noexcept {
    while (!text.empty() && IsCLocaleSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsCLocaleSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool IsUpperHexOrWhiteSpace(std::string_view text) noexcept {
    return EveryChar(
        text, [](std::uint64_t chars) { return DigitBytes(chars) | SpaceBytes(chars); },
        [](char c) {
            return static_cast<unsigned>(IsUpperHexDigit(c)) |
                   static_cast<unsigned>(IsCLocaleSpace(c));
        });
}

// Looking for digits alone takes half the work of also accepting white
// space, so a body of digits only, which is what encryption writes, is
// classified by that pass alone; any other body takes the full check.
HexText ClassifyHexText(std::string_view text) noexcept {
    // Lambdas rather than the functions themselves, so that the tests are
    // inlined into the loops.
    if (EveryChar(
            text, [](std::uint64_t chars) { return DigitBytes(chars); },
            [](char c) { return IsUpperHexDigit(c); }))
        return HexText::kDigitsOnly;
    return IsUpperHexOrWhiteSpace(text) ? HexText::kWithWhiteSpace : HexText::kRefused;
}

std::uint8_t ParseHexPair(char high, char low) noexcept {
    if (IsCLocaleSpace(high)) return IsCLocaleSpace(low) ? 0 : DigitValue(low);
    if (IsCLocaleSpace(low)) return DigitValue(high);
    return static_cast<std::uint8_t>(DigitValue(high) << 4 | DigitValue(low));
}

}  // namespace tarvola::hexscheme
