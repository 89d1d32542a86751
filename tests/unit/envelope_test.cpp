// The envelope text (base64 parts around "$") and the CBC scheme's padding
// rules: key material, padding check. None of it needs the provider.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "common/text.h"
#include "envelope/base64.h"
#include "envelope/base64_envelope.h"
#include "envelope/cbc_padding.h"
#include "test_support.h"

namespace tarvola {
namespace {

using platform::ByteVector;

ByteVector BytesOf(std::string_view text) {
    return ByteVector(text.begin(), text.end());
}

TEST(Base64, EncodesRfc4648Vectors) {
    const struct {
        const char* bytes;
        const char* text;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        EXPECT_EQ(envelope::Base64Encode(BytesOf(c.bytes)), c.text);
        EXPECT_EQ(envelope::Base64Decode(c.text), BytesOf(c.bytes)) << c.text;
    }
    const ByteVector all = [] {
        ByteVector v(256);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i);
        return v;
    }();
    EXPECT_EQ(envelope::Base64Decode(*envelope::Base64Encode(all)), all);
}

// The decoder and the length rule that the tool reads envelopes by must
// agree on every text.
TEST(Base64, DecodingRules) {
    const struct {
        const char* text;
        const char* bytes;  // nullptr: the text fails to decode
    } cases[] = {
        {"Zm9v\r\nYmFy", "foobar"},  // line breaks and blanks are skipped
        {" Zm 9v\t", "foo"},
        {"Zg==$", "f"},  // the envelope's first part: "$" after padding ends it
        {"Zm8=$", "fo"},
        {"Zg==$junk", "f"},
        {"Zm9v$", nullptr},  // "$" after a data character
        {"Zm9", nullptr},    // incomplete group
        {"Zg=", nullptr},
        {"Z===", nullptr},
        {"Zg==Zg==", nullptr},  // data after the padding
        {"Zm9v!", nullptr},
        {"Zm-_", nullptr},  // the URL-safe alphabet is not base64
        {"Zm9vYmFy Zm9v\rYg==$ $Zm9v", "foobarfoob"},
        {"Zm9vYmFy\vZm9v", nullptr},  // VT is not skipped
    };
    for (const auto& c : cases) {
        const ByteVector decoded = envelope::Base64Decode(c.text);
        EXPECT_EQ(decoded, BytesOf(c.bytes == nullptr ? "" : c.bytes)) << c.text;
        const std::optional<std::size_t> length =
            c.bytes == nullptr ? std::nullopt : std::optional(std::strlen(c.bytes));
        EXPECT_EQ(envelope::Base64DecodedLength(c.text), length) << c.text;
    }
}

ByteVector CountingBytes(std::size_t size) {
    ByteVector bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(37 * i + 11));
    return bytes;
}

TEST(Base64, EncodingMatchesTheAlphabetAtEveryLength) {
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t size = 0; size <= 64; ++size) {
        const ByteVector bytes = CountingBytes(size);
        std::string expected;
        for (std::size_t i = 0; i < size; i += 3) {
            std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
            if (i + 1 < size) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
            if (i + 2 < size) group |= bytes[i + 2];
            expected += alphabet[group >> 18];
            expected += alphabet[(group >> 12) & 0x3f];
            expected += i + 1 < size ? alphabet[(group >> 6) & 0x3f] : '=';
            expected += i + 2 < size ? alphabet[group & 0x3f] : '=';
        }
        EXPECT_EQ(envelope::Base64Encode(bytes), expected) << size;
    }
    // Every 12-bit half of a group, i.e. every pair of characters.
    ByteVector all_pairs;
    for (std::uint32_t half = 0; half < 4096; half += 2) {
        const std::uint32_t group = half << 12 | (half + 1);
        all_pairs.push_back(static_cast<std::uint8_t>(group >> 16));
        all_pairs.push_back(static_cast<std::uint8_t>(group >> 8));
        all_pairs.push_back(static_cast<std::uint8_t>(group));
    }
    const auto text = envelope::Base64Encode(all_pairs);
    ASSERT_TRUE(text.has_value());
    for (std::uint32_t half = 0; half < 4096; ++half) {
        ASSERT_EQ(text->substr(2 * half, 2),
                  std::string({alphabet[half >> 6], alphabet[half & 0x3f]}))
            << half;
    }
}

// Whole groups of data characters are decoded in one go, and everything else
// by the rules; both must give the rules' answer wherever a character that is
// not data falls: inside a group, on a group boundary, after the padding, at
// either end. Blanks and line breaks change nothing; a "$" ends a padded text;
// anything else spoils it, as does replacing any character by one that is
// not data.
TEST(Base64, DecodingAgreesWithTheRulesWhereverOtherCharactersFall) {
    const char others[] = {' ', '\t', '\n', '\r', '=', '$', '!', '\v', '-', '\x80', '\xff', '\0'};
    for (std::size_t size = 0; size <= 13; ++size) {
        const ByteVector bytes = CountingBytes(size);
        const std::string text = *envelope::Base64Encode(bytes);
        const bool padded = !text.empty() && text.back() == '=';
        for (std::size_t pos = 0; pos <= text.size(); ++pos) {
            for (const char other : others) {
                const bool skipped = IsBlankOrLineBreak(other);
                const bool ends_text = other == '$' && padded && pos == text.size();
                for (const std::size_t count : {1U, 2U, 5U}) {
                    std::string changed = text;
                    changed.insert(pos, count, other);
                    EXPECT_EQ(envelope::Base64Decode(changed),
                              skipped || ends_text ? bytes : ByteVector{})
                        << "size " << size << ", " << count << " x 0x" << std::hex
                        << static_cast<unsigned>(static_cast<unsigned char>(other)) << " at "
                        << std::dec << pos;
                }
                if (pos == text.size() || other == '=') continue;
                std::string replaced = text;
                replaced[pos] = other;
                EXPECT_EQ(envelope::Base64Decode(replaced), ByteVector{})
                    << "size " << size << ", character " << pos << " replaced";
            }
        }
    }
}

TEST(Base64, DecodingResumesWholeGroupsAfterWhiteSpace) {
    const struct {
        const char* text;
        const char* bytes;  // nullptr: the text fails to decode
    } cases[] = {
        {"Zm9vYmFy Zm9vYmFy", "foobarfoobar"},  // blank between groups
        {"Zm9vY mFyZm9v", "foobarfoo"},         // blank inside a group, whole groups after it
        {"Zm9v\r\nYmFy\r\nZm8=", "foobarfo"},
        {"Zm9vYmFyZm8=$Zm9v", "foobarfo"},  // "$" after the padding of a long text
        {"Zm9vYmFyZm9v$", nullptr},         // "$" straight after whole groups
        {"Zm9vYmFyZm9v=", nullptr},         // padding after whole groups
        {"Zm9vYmFyZm9!", nullptr},          // foreign character in the last group
        {"Zm9vYmFyZm9vY", nullptr},         // a single character after whole groups
    };
    for (const auto& c : cases) {
        EXPECT_EQ(envelope::Base64Decode(c.text), BytesOf(c.bytes == nullptr ? "" : c.bytes))
            << c.text;
    }
}

TEST(Envelope, JoinWritesExactlyTheEnvelopeAndItsTerminator) {
    const ByteVector iv(16, 0xAB);
    for (const std::size_t ciphertext_size : {16U, 48U}) {
        const ByteVector ciphertext(ciphertext_size, 0xCD);
        std::string out(100, '#');
        ASSERT_TRUE(envelope::JoinEnvelope(iv, ciphertext, out.data()));
        const std::string text = out.c_str();
        const std::size_t expected_ct_chars = ciphertext_size == 16 ? 24 : 64;
        ASSERT_EQ(text.size(), 24 + 1 + expected_ct_chars);
        EXPECT_EQ(text.substr(22, 3), "==$");
        EXPECT_EQ(text.find('=', 25) == std::string::npos, ciphertext_size == 48)
            << "48 bytes encode to 64 characters without padding";
        EXPECT_EQ(out.substr(text.size() + 1), std::string(100 - text.size() - 1, '#'))
            << "bytes after the terminator keep their values";

        const auto parts = envelope::SplitEnvelope(text);
        EXPECT_EQ(parts.iv, iv);
        EXPECT_EQ(parts.ciphertext, ciphertext);
    }
}

TEST(Envelope, SplitAtTheFirstSeparator) {
    const std::string iv_text = *envelope::Base64Encode(ByteVector(16, 1));
    const std::string ct_text = *envelope::Base64Encode(ByteVector(16, 2));

    const auto no_separator = envelope::SplitEnvelope(iv_text);
    EXPECT_EQ(no_separator.iv, ByteVector(16, 1));
    EXPECT_TRUE(no_separator.ciphertext.empty());

    // A second "$" belongs to the second part. There it ends the text when it
    // follows "=" padding, like the first part's "$", and spoils it otherwise.
    const std::string unpadded = *envelope::Base64Encode(ByteVector(48, 3));
    const auto after_padding = envelope::SplitEnvelope(iv_text + "$" + ct_text + "$x");
    EXPECT_EQ(after_padding.iv, ByteVector(16, 1));
    EXPECT_EQ(after_padding.ciphertext, ByteVector(16, 2));
    const auto after_data = envelope::SplitEnvelope(iv_text + "$" + unpadded + "$");
    EXPECT_EQ(after_data.iv, ByteVector(16, 1));
    EXPECT_TRUE(after_data.ciphertext.empty());

    const auto empty_second = envelope::SplitEnvelope(iv_text + "$");
    EXPECT_TRUE(empty_second.ciphertext.empty());
}

TEST(CbcScheme, KeyMaterialGrowsToTheNextMultipleOfSixteenAbove) {
    for (std::size_t length = 0; length <= 48; ++length) {
        const ByteVector key_text(length, 'k');
        const auto material = envelope::DeriveKeyMaterial(key_text, 16);
        const std::size_t expected = (length / 16 + 1) * 16;
        ASSERT_EQ(material.size(), expected) << length;
        EXPECT_TRUE(std::equal(key_text.begin(), key_text.end(), material.begin()));
        EXPECT_TRUE(std::all_of(material.begin() + static_cast<std::ptrdiff_t>(length),
                                material.end(), [](auto b) { return b == 0; }));
    }
}

TEST(CbcScheme, PaddingCheck) {
    const auto block_ending_in = [](std::initializer_list<std::uint8_t> tail) {
        ByteVector block(32, 0x55);
        std::copy(tail.begin(), tail.end(), block.end() - static_cast<std::ptrdiff_t>(tail.size()));
        return block;
    };
    const struct {
        const char* why;
        ByteVector padded;
        std::optional<std::size_t> length;
    } cases[] = {
        {"one byte of padding", block_ending_in({1}), 31},
        {"three bytes", block_ending_in({3, 3, 3}), 29},
        {"a whole block",
         block_ending_in({16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16}), 16},
        {"zero is no padding", block_ending_in({0}), std::nullopt},
        {"17 is more than a block", block_ending_in({17}), std::nullopt},
        {"0xFF", block_ending_in({0xFF}), std::nullopt},
        {"first padding byte wrong", block_ending_in({2, 3, 3}), std::nullopt},
        {"middle padding byte wrong", block_ending_in({3, 4, 3}), std::nullopt},
        {"only the last byte right", block_ending_in({9, 9, 9, 9, 9, 9, 9, 9, 8}), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(envelope::UnpaddedLength(c.padded), c.length) << c.why;
    }
}

}  // namespace
}  // namespace tarvola
