// The mode-0 scheme below the entry points, without the crypto provider, so
// that it also runs where there is none (the big-endian build): against the
// golden values an independent implementation wrote once, and against a
// byte-by-byte hex of our AES-128, which aes_test.cpp holds to FIPS-197 and
// NIST's files in the same program. What it checks is the scheme's own work:
// key block, header, and the word-at-a-time hex and character conversions in
// both directions, whose byte order differs between hosts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "aes/aes128.h"
#include "hexscheme/hex_block.h"
#include "hexscheme/text_helpers.h"
#include "tarvolacrypt.hpp"
#include "test_support.h"

namespace tarvola {
namespace {

// Header plus the uppercase hex of each zero-padded block's encryption under
// the zero-padded first 16 characters of the key, one byte at a time.
std::string ExpectedMode0(const std::string& text, const std::string& key) {
    aes::Block key_block{};
    key.copy(reinterpret_cast<char*>(key_block.data()), key_block.size());
    aes::Aes128Key schedule{};
    aes::Aes128ExpandKey(schedule, key_block);
    const auto header = hex_block_header(text.size());
    std::string expected(header.begin(), header.end());
    for (std::size_t offset = 0; offset < text.size(); offset += 16) {
        aes::Block block{};
        text.copy(reinterpret_cast<char*>(block.data()), block.size(), offset);
        aes::Aes128EncryptBlock(block, schedule);
        for (const std::uint8_t byte : block) {
            expected += hexscheme::kHexDigits[byte >> 4];
            expected += hexscheme::kHexDigits[byte & 0x0f];
        }
    }
    return expected;
}

std::string Encrypted(const std::string& text, const std::string& key) {
    std::string out(8 + 32 * ((text.size() + 15) / 16) + 1, '\0');
    EXPECT_TRUE(hexscheme::EncryptHexBlock(text.c_str(), key.c_str(), out.data()));
    return out.c_str();
}

std::string Decrypted(const std::string& value, const std::string& key) {
    std::string out(value.size() + 1, '\0');
    if (!hexscheme::DecryptHexBlock(value.c_str(), key.c_str(), out.data())) return "<failed>";
    return out.c_str();
}

std::string TextOf(const std::string& hex) {
    const test::Bytes bytes = test::FromHex(hex);
    return std::string(bytes.begin(), bytes.end());
}

TEST(HexBlock, GoldenValues) {
    const auto records = test::ReadRecords("golden/mode0.txt", "KEY");
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) {
        const std::string key = TextOf(r.at("KEY"));
        const std::string plaintext = TextOf(r.at("PLAINTEXT"));
        const std::string where =
            "key " + r.at("KEY") + ", length " + std::to_string(plaintext.size());
        EXPECT_EQ(Encrypted(plaintext, key), r.at("CIPHERTEXT")) << where;
        EXPECT_EQ(Decrypted(r.at("CIPHERTEXT"), key), plaintext) << where;
    }
}

// Shapes encryption never writes (white space in header and body, odd
// lengths), which take the character-by-character paths.
TEST(HexBlock, GoldenDecryptionsOfOtherShapes) {
    std::size_t checked = 0;
    for (const auto& r : test::ReadRecords("golden/decrypt.txt", "NAME")) {
        if (r.at("MODE") != "0") continue;
        const std::string& result = r.at("RESULT");
        EXPECT_EQ(Decrypted(TextOf(r.at("TEXT")), TextOf(r.at("KEY"))),
                  result == "refused" ? "<failed>" : TextOf(result))
            << r.at("NAME");
        ++checked;
    }
    EXPECT_GT(checked, 10U);
}

TEST(HexBlock, MatchesBytewiseHexOfTheCipherForManyLengthsAndKeys) {
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> byte(1, 255);  // texts cannot hold a zero byte
    for (std::size_t length = 1; length <= 80; ++length) {
        for (const std::size_t key_length : {0U, 5U, 16U, 21U}) {
            std::string text(length, ' ');
            std::string key(key_length, ' ');
            for (auto& c : text) c = static_cast<char>(byte(rng));
            for (auto& c : key) c = static_cast<char>(byte(rng));
            const std::string encrypted = Encrypted(text, key);
            ASSERT_EQ(encrypted, ExpectedMode0(text, key))
                << "length " << length << ", key length " << key_length;
            ASSERT_EQ(Decrypted(encrypted, key), text) << "length " << length;
        }
    }
}

}  // namespace
}  // namespace tarvola
