// The mode-0 text format through the public entry points: its exact bytes
// (checked against the crypto provider's AES-128-ECB), its buffer rules and its refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "common/text.h"
#include "hexscheme/text_helpers.h"
#include "reference_ecb.h"
#include "tarvolacrypt.h"
#include "test_support.h"

namespace tarvola {
namespace {

constexpr int32_t kMode0 = TARVOLA_MODE_HEX_BLOCK;

// A buffer with room to spare, filled with a marker so that every byte the
// library writes or leaves alone is visible.
std::string Filled(std::size_t size, char fill = '#') {
    return std::string(size, fill);
}

std::string EncryptMode0(const std::string& text, const char* key) {
    std::string out(TARVOLA_ENCRYPT_SIZE_MODE0(text.size()), '\0');
    EXPECT_EQ(Encrypt(text.c_str(), key, out.data(), kMode0), 0) << text;
    return out.c_str();
}

std::optional<std::string> DecryptMode0(const std::string& text, const char* key) {
    std::string out(text.size() + 1, '\0');
    if (Decrypt(text.c_str(), key, out.data(), kMode0) != 0) return std::nullopt;
    return std::string(out.c_str());
}

std::string UpperHex(const std::string& bytes) {
    std::string hex = test::ToHex(bytes);
    for (auto& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

// What mode 0 must write: the header, which is the length as "%02X" cut by
// a 4-byte buffer and filled with "0" to 8 characters, then the ECB
// encryption of the zero-padded text under the zero-padded 16-byte key.
std::string ReferenceMode0(const std::string& text, const std::string& key) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(text.size()));
    std::string header = digits;
    header.resize(8, '0');
    std::string padded = text;
    padded.resize((text.size() + 15) / 16 * 16, '\0');
    return header + UpperHex(test::ReferenceEcb(key, padded, true));
}

TEST(HexScheme, KnownAnswer) {
    // Checked with: printf 'hello world\0\0\0\0\0' | openssl enc -aes-128-ecb -nopad
    //   -K 6b657900000000000000000000000000 | xxd -p -u
    EXPECT_EQ(EncryptMode0("hello world", "key"), "0B000000BD56B7AE1F496D44127632B841226DC1");
}

TEST(HexScheme, MatchesReferenceEcbForManyLengthsAndKeys) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(1, 255);  // texts cannot hold a zero byte
    for (std::size_t length = 1; length <= 80; ++length) {
        for (const std::size_t key_length : {0U, 1U, 15U, 16U, 17U, 40U}) {
            std::string text(length, ' ');
            std::string key(key_length, ' ');
            for (auto& c : text) c = static_cast<char>(byte(rng));
            for (auto& c : key) c = static_cast<char>(byte(rng));
            const std::string encrypted = EncryptMode0(text, key.c_str());
            ASSERT_EQ(encrypted, ReferenceMode0(text, key)) << "length " << length;
            ASSERT_EQ(encrypted.size(), 8 + 32 * ((length + 15) / 16));
            ASSERT_EQ(DecryptMode0(encrypted, key.c_str()), text) << "length " << length;
        }
    }
}

TEST(HexScheme, KeyIsFirstSixteenCharactersZeroPadded) {
    const std::string text = "connection=db1;user=sa";
    EXPECT_EQ(EncryptMode0(text, "0123456789abcdefXYZ"), EncryptMode0(text, "0123456789abcdef"));
    EXPECT_EQ(EncryptMode0(text, nullptr), EncryptMode0(text, ""));
    EXPECT_NE(EncryptMode0(text, "a"), EncryptMode0(text, ""));
    EXPECT_EQ(DecryptMode0(EncryptMode0(text, nullptr), ""), text);
}

TEST(HexScheme, EqualBlocksGiveEqualHexGroups) {
    const std::string encrypted = EncryptMode0(std::string(32, 'A') + "tail", "k");
    ASSERT_EQ(encrypted.size(), 8U + 3 * 32);
    EXPECT_EQ(encrypted.substr(8, 32), encrypted.substr(40, 32));
    EXPECT_NE(encrypted.substr(8, 32), encrypted.substr(72, 32));
}

TEST(HexScheme, EncryptionAppendsToTheTextInTheBuffer) {
    std::string out = Filled(200);
    std::strcpy(out.data(), "prefix:");
    ASSERT_EQ(Encrypt("abc", "k", out.data(), kMode0), 0);
    ASSERT_EQ(Encrypt("abc", "k", out.data(), kMode0), 0);
    const std::string one = EncryptMode0("abc", "k");
    EXPECT_EQ(std::string(out.c_str()), "prefix:" + one + one);
    EXPECT_EQ(out[7 + 2 * one.size() + 1], '#') << "bytes after the terminator keep their values";
}

TEST(HexScheme, EncryptionRefusesNullAndEmptyInputLeavingBufferUntouched) {
    for (const char* input : {static_cast<const char*>(nullptr), ""}) {
        std::string out = Filled(64);
        EXPECT_EQ(Encrypt(input, "k", out.data(), kMode0), 1);
        EXPECT_EQ(out, Filled(64));
    }
}

TEST(HexScheme, DecryptionRefusalsLeaveBufferUntouched) {
    const std::string good = EncryptMode0("sixteen chars!!!", "k");  // 40 characters
    const std::string body = good.substr(8);
    const struct {
        const char* why;
        std::string text;
        bool null = false;
    } cases[] = {
        {"null", "", true},
        {"empty", ""},
        {"39 characters", good.substr(0, 39)},
        {"lowercase header", "1a000000" + body},
        {"header with leading space", " 0000000" + body},
        {"header with trailing tab", "0000000\t" + body},
        {"header with other character", "10G00000" + body},
        {"body length 40", "10000000" + body + std::string(8, '0')},
        {"body length 33", good + "0"},
        {"body with g", "10000000" + body.substr(0, 31) + "g"},
        {"body with lowercase", "10000000" + body.substr(0, 31) + "a"},
        {"body with byte 0x80", "10000000" + body.substr(0, 31) + "\x80"},
    };
    for (const auto& c : cases) {
        std::string out = Filled(64);
        EXPECT_EQ(Decrypt(c.null ? nullptr : c.text.c_str(), "k", out.data(), kMode0), 1) << c.why;
        EXPECT_EQ(out, Filled(64)) << c.why;
    }
}

TEST(HexScheme, DecryptionWritesNoTerminator) {
    const std::string encrypted = EncryptMode0("abc", "k");
    std::string out = Filled(32, 'Z');
    ASSERT_EQ(Decrypt(encrypted.c_str(), "k", out.data(), kMode0), 0);
    EXPECT_EQ(out, "abc" + Filled(29, 'Z'));
}

TEST(HexScheme, WhiteSpaceInsideHeaderAndBodyIsAccepted) {
    const std::string encrypted = EncryptMode0("0123456789ABCDEF", "k");
    const std::string body = encrypted.substr(8);
    // A space inside the header passes; the header value is never used.
    EXPECT_EQ(DecryptMode0("1 000000" + body, "k"), "0123456789ABCDEF");

    // Pairs holding white space convert as strtol would: " A" and "A\t" are
    // 0x0A, two spaces 0. The expected plaintext comes from decrypting the
    // block those pairs stand for with the reference.
    const std::string spaced =
        " A"
        "A\t"
        "  " +
        body.substr(6);
    std::string block = "\x0A\x0A" + std::string(1, '\0');
    for (std::size_t i = 6; i < 32; i += 2) {
        block += static_cast<char>(test::FromHex(body.substr(i, 2))[0]);
    }
    std::string expected;
    for (const char c : test::ReferenceEcb("k", block, false)) {
        if (c != '\0') expected += c;
    }
    std::string out(64, '\0');
    EXPECT_EQ(Decrypt(("10000000" + spaced).c_str(), "k", out.data(), kMode0),
              expected.empty() ? 1 : 0);
    EXPECT_EQ(std::string(out.c_str()), expected);
}

TEST(HexScheme, OddMultipleOfSixteenTakesEightBytesForTheLastBlock) {
    const std::string two_blocks = EncryptMode0(std::string(20, 'x'), "k");  // 8 + 64
    // Cutting the last 16 characters leaves a body of 48: one whole block plus
    // a half block whose missing 8 bytes are zero.
    const std::string cut = two_blocks.substr(0, two_blocks.size() - 16);
    const auto plaintext = DecryptMode0(cut, "k");
    ASSERT_TRUE(plaintext.has_value());
    EXPECT_EQ(plaintext->substr(0, 16), std::string(16, 'x'));
}

TEST(HexScheme, WrongKeyDecryptsToGarbageWithoutError) {
    const std::string text = "a secret that is long enough to span blocks";
    const auto garbage = DecryptMode0(EncryptMode0(text, "right"), "wrong");
    ASSERT_TRUE(garbage.has_value());
    EXPECT_NE(*garbage, text);
}

TEST(HexScheme, AllZeroPlaintextFailsAndWritesNothing) {
    // A well-formed text whose block decrypts to zero bytes only.
    const std::string text =
        "10000000" + UpperHex(test::ReferenceEcb("", std::string(16, '\0'), true));
    std::string out(32, '\0');
    EXPECT_EQ(Decrypt(text.c_str(), "", out.data(), kMode0), 1);
    EXPECT_EQ(out, std::string(32, '\0'));
}

TEST(HexScheme, EveryZeroByteOfEveryBlockIsDropped) {
    // Blocks without a zero byte are copied whole, the others byte by byte:
    // zero bytes at the start, middle and end of a block, in the first block
    // and in a later one, beside blocks that have none.
    const struct {
        std::string plaintext;
        std::string expected;
    } cases[] = {
        {std::string("\0bcdefghijklmnop", 16), "bcdefghijklmnop"},
        {std::string("abcdefg\0ijklmnop", 16), "abcdefgijklmnop"},
        {std::string("abcdefghijklmno\0", 16), "abcdefghijklmno"},
        {std::string("0123456789ABCDEF\0\0c\0e\0\0\0\0\0\0\0\0\0\0\0abcdefghijklmnop", 48),
         "0123456789ABCDEFceabcdefghijklmnop"},
    };
    for (const auto& c : cases) {
        const std::string text =
            "10000000" + UpperHex(test::ReferenceEcb("key", c.plaintext, true));
        EXPECT_EQ(DecryptMode0(text, "key"), c.expected) << test::ToHex(c.plaintext);
    }
}

TEST(HexScheme, OldBytesAfterThePlaintextStayInAnUncleanBuffer) {
    const std::string encrypted = EncryptMode0("ab", "k");
    std::string out = "XXXXXXXX";
    ASSERT_EQ(Decrypt(encrypted.c_str(), "k", out.data(), kMode0), 0);
    EXPECT_EQ(out, "abXXXXXX");
}

TEST(HexScheme, HighCiphertextBytesAreTwoDigits) {
    // Across many texts every byte value occurs; the body is always exactly
    // two uppercase digits per byte.
    for (int i = 1; i < 200; ++i) {
        const std::string encrypted =
            EncryptMode0(std::string(static_cast<std::size_t>(i), 'q'), "k");
        ASSERT_EQ(encrypted.size(), 8 + 32 * ((static_cast<std::size_t>(i) + 15) / 16));
        ASSERT_TRUE(hexscheme::IsUpperHexOrWhiteSpace(encrypted)) << encrypted;
    }
}

}  // namespace
}  // namespace tarvola
