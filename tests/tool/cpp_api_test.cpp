// The header-only C++ interface: results agree with the C entry points, the
// buffers it sizes hold every output exactly, and each refusal names its
// reason.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tarvolacrypt.h"
#include "tarvolacrypt.hpp"

namespace {

using tarvola::Error;
using tarvola::Mode;

std::string TextOfLength(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('!' + i % 90);
    return text;
}

std::size_t CeilDiv(std::size_t n, std::size_t d) {
    return (n + d - 1) / d;
}

// Lengths around every block boundary up to three blocks, then long ones.
std::vector<std::size_t> TextLengths() {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 50; ++n) lengths.push_back(n);
    for (const std::size_t n : {255U, 256U, 257U, 4096U, 100000U}) lengths.push_back(n);
    return lengths;
}

TEST(CppApi, RoundTripsEveryLengthInBothModes) {
    const std::array<std::string, 6> keys = {"",
                                             "k",
                                             std::string(15, 'a'),
                                             std::string(16, 'b'),
                                             std::string(17, 'c'),
                                             std::string(31, 'd')};
    for (const Mode mode : {Mode::kHexBlock, Mode::kEnvelope}) {
        for (const std::string& key : keys) {
            for (const std::size_t length : TextLengths()) {
                if (mode == Mode::kHexBlock && length == 0) continue;
                const std::string text = TextOfLength(length);
                const auto sealed = tarvola::encrypt(text, key, mode);
                ASSERT_TRUE(sealed) << "mode " << static_cast<int>(mode) << " key '" << key
                                    << "' length " << length << ": " << sealed.message();
                const auto opened = tarvola::decrypt(*sealed.value, key, mode);
                ASSERT_TRUE(opened) << "length " << length << ": " << opened.message();
                EXPECT_EQ(*opened.value, text) << "mode " << static_cast<int>(mode) << " key '"
                                               << key << "' length " << length;
            }
        }
    }
}

// Each output fills the buffer the C header's table asks for to the last byte,
// so an undersized formula would show here (and overflow under ASan).
TEST(CppApi, OutputsHaveTheLengthsTheBufferTableGives) {
    for (const std::size_t length : TextLengths()) {
        const std::string text = TextOfLength(length);
        if (length > 0) {
            const auto hex = tarvola::encrypt(text, "key", Mode::kHexBlock);
            ASSERT_TRUE(hex);
            EXPECT_EQ(hex.value->size(), 8 + 32 * CeilDiv(length, 16)) << length;
        }
        const auto envelope = tarvola::encrypt(text, "key", Mode::kEnvelope);
        ASSERT_TRUE(envelope);
        const std::size_t ciphertext = 16 * (length / 16 + 1);
        EXPECT_EQ(envelope.value->size(), 25 + 4 * CeilDiv(ciphertext, 3)) << length;
    }
}

TEST(CppApi, HexBlockResultEqualsTheCEntryPoint) {
    const std::string text = "Server=db;Password=pw;Timeout=30";
    std::vector<char> output(200, '\0');
    ASSERT_EQ(Encrypt(text.c_str(), "key", output.data(), 0), 0);
    const auto sealed = tarvola::encrypt(text, "key", Mode::kHexBlock);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(*sealed.value, std::string(output.data()));
}

// A body of an odd number of 16-character halves decrypts its last half
// block too; the buffer must hold that block's 16 bytes.
TEST(CppApi, DecryptsWellFormedValuesOfEveryBodyLength) {
    const auto sealed = tarvola::encrypt(TextOfLength(40), "key", Mode::kHexBlock);
    ASSERT_TRUE(sealed);
    for (std::size_t body = 32; body <= sealed.value->size() - 8; body += 16) {
        const auto opened =
            tarvola::decrypt(sealed.value->substr(0, 8 + body), "key", Mode::kHexBlock);
        EXPECT_TRUE(opened) << "body of " << body << " characters: " << opened.message();
    }
}

struct Refusal {
    const char* label;
    bool encrypting;
    std::string text;
    std::string key;
    Mode mode;
    Error expected;
};

TEST(CppApi, RefusalsNameTheirReason) {
    using namespace std::string_literals;
    const std::string long_key(32, 'k');
    const std::string hex_value = *tarvola::encrypt("value", "key", Mode::kHexBlock).value;
    std::string lowercase_header = hex_value;
    lowercase_header[1] = 'a';
    const std::vector<Refusal> refusals = {
        {"zero byte in text, mode 0", true, "a\0b"s, "key", Mode::kHexBlock,
         Error::kZeroByteInText},
        {"zero byte in text, mode 1", true, "a\0b"s, "key", Mode::kEnvelope,
         Error::kZeroByteInText},
        {"zero byte in value", false, hex_value + "\0"s, "key", Mode::kHexBlock,
         Error::kZeroByteInText},
        {"zero byte in key", true, "text", "k\0y"s, Mode::kHexBlock, Error::kZeroByteInKey},
        {"empty text, mode 0", true, "", "key", Mode::kHexBlock, Error::kEmptyHexBlockText},
        {"long key, encrypt", true, "text", long_key, Mode::kEnvelope,
         Error::kKeyTooLongForEnvelope},
        {"long key, decrypt", false, "AAAAAAAAAAAAAAAAAAAAAA==$", long_key, Mode::kEnvelope,
         Error::kKeyTooLongForEnvelope},
        {"unknown mode", true, "text", "key", static_cast<Mode>(2), Error::kUnknownMode},
        {"not hex", false, "garbage", "key", Mode::kHexBlock, Error::kNotHexBlockValue},
        {"39 characters", false, hex_value.substr(0, 39), "key", Mode::kHexBlock,
         Error::kNotHexBlockValue},
        {"lowercase header", false, lowercase_header, "key", Mode::kHexBlock,
         Error::kNotHexBlockValue},
        {"empty value, mode 0", false, "", "key", Mode::kHexBlock, Error::kNotHexBlockValue},
        {"no separator", false, "AAAAAAAAAAAAAAAAAAAAAA==", "key", Mode::kEnvelope,
         Error::kNotEnvelopeValue},
        {"ciphertext not whole blocks", false, "AAAAAAAAAAAAAAAAAAAAAA==$QUJD", "key",
         Mode::kEnvelope, Error::kEnvelopeRejected},
        {"nothing after the separator", false, "AAAAAAAAAAAAAAAAAAAAAA==$", "key", Mode::kEnvelope,
         Error::kEnvelopeRejected},
    };
    for (const Refusal& refusal : refusals) {
        const auto result = refusal.encrypting
                                ? tarvola::encrypt(refusal.text, refusal.key, refusal.mode)
                                : tarvola::decrypt(refusal.text, refusal.key, refusal.mode);
        EXPECT_FALSE(result) << refusal.label;
        EXPECT_EQ(result.error, refusal.expected)
            << refusal.label << ": got '" << result.message() << "'";
    }
}

TEST(CppApi, SixteenCharacterPrefixIsTheWholeModeZeroKey) {
    const auto a = tarvola::encrypt("text", "0123456789abcdefXYZ", Mode::kHexBlock);
    const auto b = tarvola::encrypt("text", "0123456789abcdef", Mode::kHexBlock);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a.value, *b.value);
}

TEST(CppApi, WipeEmptiesResults) {
    auto result = tarvola::decrypt(*tarvola::encrypt("secret", "key", Mode::kEnvelope).value, "key",
                                   Mode::kEnvelope);
    ASSERT_TRUE(result);
    tarvola::wipe(result);
    EXPECT_TRUE(result.value->empty());

    tarvola::secret_string grown(100, 'x');
    grown += grown;
    tarvola::wipe(grown);
    EXPECT_TRUE(grown.empty());
}

}  // namespace
