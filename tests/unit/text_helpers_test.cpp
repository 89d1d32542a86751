// The mode-0 text helpers: length header, character classes, digit pairs.
// They need no crypto provider, so they run on every build, the big-endian
// one included, where the character check works on eight bytes at a time in
// the other byte order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "hexscheme/hex_codec.h"
#include "hexscheme/text_helpers.h"
#include "tarvolacrypt.hpp"

namespace tarvola {
namespace {

TEST(HexScheme, LengthHeaderKeepsAtMostThreeDigits) {
    const struct {
        std::uint32_t length;
        const char* header;
    } cases[] = {{1, "01000000"},         {5, "05000000"},    {16, "10000000"},
                 {26, "1A000000"},        {255, "FF000000"},  {256, "10000000"},
                 {291, "12300000"},       {4660, "12300000"}, {0xABCDEF, "ABC00000"},
                 {0x7fffffff, "7FF00000"}};
    for (const auto& c : cases) {
        const auto header = hex_block_header(c.length);
        EXPECT_EQ(std::string(header.begin(), header.end()), c.header) << c.length;
    }
}

TEST(HexScheme, BodyCharacterCheckAcceptsExactlyDigitsAndWhiteSpace) {
    // Every byte value at every position of texts long enough to be checked
    // several characters at a time, and of the short tails after them; the
    // classification must tell digits-only texts from those with white space.
    const std::string accepted = "0123456789ABCDEF \t\n\v\f\r";
    using hexscheme::HexText;
    for (std::size_t length = 1; length <= 20; ++length) {
        for (std::size_t pos = 0; pos < length; ++pos) {
            for (int c = 0; c < 256; ++c) {
                std::string text(length, '7');
                text[pos] = static_cast<char>(c);
                const bool expected = accepted.find(static_cast<char>(c)) != std::string::npos;
                ASSERT_EQ(hexscheme::IsUpperHexOrWhiteSpace(text), expected)
                    << "byte " << c << " at " << pos << " of " << length;
                const HexText kind = !expected ? HexText::kRefused
                                     : accepted.find(static_cast<char>(c)) < 16
                                         ? HexText::kDigitsOnly
                                         : HexText::kWithWhiteSpace;
                ASSERT_EQ(hexscheme::ClassifyHexText(text), kind)
                    << "byte " << c << " at " << pos << " of " << length;
            }
        }
    }
}

TEST(HexScheme, ParseHexPairReadsLikeStrtol) {
    const struct {
        char high, low;
        std::uint8_t value;
    } cases[] = {{'9', 'C', 0x9C}, {'F', 'F', 0xFF}, {'0', '0', 0x00},  {' ', 'A', 0x0A},
                 {'A', ' ', 0x0A}, {' ', ' ', 0x00}, {'\n', '7', 0x07}, {'7', '\r', 0x07}};
    for (const auto& c : cases) {
        EXPECT_EQ(hexscheme::ParseHexPair(c.high, c.low), c.value) << "'" << c.high << c.low << "'";
    }
}

TEST(HexScheme, DigitsOnlyParseMatchesTheGeneralOne) {
    // Random digit bodies of whole and half groups, read from every starting
    // block: the digits-only conversion must give exactly what the general
    // one (white space allowed) gives.
    std::mt19937 rng(19);
    std::uniform_int_distribution<std::size_t> digit(0, 15);
    for (std::size_t chars = 16; chars <= 16 * 21; chars += 16) {
        std::string body(chars, '0');
        for (auto& c : body) c = hexscheme::kHexDigits[digit(rng)];
        ASSERT_EQ(hexscheme::ClassifyHexText(body), hexscheme::HexText::kDigitsOnly);
        const std::size_t blocks = (chars + 31) / 32;
        for (std::size_t first = 0; first < blocks; ++first) {
            const std::size_t count = blocks - first;
            std::vector<std::uint8_t> fast(16 * count, 0xAA), exact(16 * count, 0x55);
            hexscheme::ParseDigitBlocks(body, first, count, fast.data());
            hexscheme::ParseHexBlocks(body, first, count, exact.data());
            ASSERT_EQ(fast, exact) << body << " from block " << first;
            for (std::size_t k = 0; k < std::min<std::size_t>(16, (chars - 32 * first) / 2); ++k)
                ASSERT_EQ(exact[k], hexscheme::ParseHexPair(body[32 * first + 2 * k],
                                                            body[32 * first + 2 * k + 1]));
        }
    }
}

TEST(HexScheme, WhitespaceIsTheCLocaleSet) {
    for (int c = 0; c < 256; ++c) {
        const bool expected = c == ' ' || (c >= '\t' && c <= '\r');
        EXPECT_EQ(IsCLocaleSpace(static_cast<char>(c)), expected) << c;
    }
    EXPECT_EQ(hexscheme::TrimWhitespace(" \t ab c\r\n"), "ab c");
    EXPECT_EQ(hexscheme::TrimWhitespace(" \v\f"), "");
}

}  // namespace
}  // namespace tarvola
