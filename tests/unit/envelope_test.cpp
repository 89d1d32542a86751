// The envelope text (base64 parts around "$") and the CBC scheme's pieces:
// key material, IV, padding check.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "envelope/base64_envelope.h"
#include "envelope/cbc_envelope.h"
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
        EXPECT_EQ(platform::Base64Encode(BytesOf(c.bytes)), c.text);
        EXPECT_EQ(platform::Base64Decode(c.text), BytesOf(c.bytes)) << c.text;
    }
    const ByteVector all = [] {
        ByteVector v(256);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i);
        return v;
    }();
    EXPECT_EQ(platform::Base64Decode(*platform::Base64Encode(all)), all);
}

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
    };
    for (const auto& c : cases) {
        const ByteVector decoded = platform::Base64Decode(c.text);
        EXPECT_EQ(decoded, BytesOf(c.bytes == nullptr ? "" : c.bytes)) << c.text;
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
    const std::string iv_text = *platform::Base64Encode(ByteVector(16, 1));
    const std::string ct_text = *platform::Base64Encode(ByteVector(16, 2));

    const auto no_separator = envelope::SplitEnvelope(iv_text);
    EXPECT_EQ(no_separator.iv, ByteVector(16, 1));
    EXPECT_TRUE(no_separator.ciphertext.empty());

    // A second "$" belongs to the second part. There it ends the text when it
    // follows "=" padding, like the first part's "$", and spoils it otherwise.
    const std::string unpadded = *platform::Base64Encode(ByteVector(48, 3));
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

TEST(CbcScheme, EveryIvIsFresh) {
    std::set<std::string> seen;  // hex: g++ 12 -O3 warns falsely on sets of vectors
    for (int i = 0; i < 100; ++i) {
        const auto iv = envelope::MakeRandomIv(16);
        ASSERT_TRUE(iv.has_value());
        ASSERT_EQ(iv->size(), 16U);
        EXPECT_TRUE(seen.insert(test::ToHex(*iv)).second);
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
