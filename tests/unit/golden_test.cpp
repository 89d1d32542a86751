// Both text formats against values an independent implementation wrote once
// (tests/data/golden, see the README there): what Encrypt writes and what
// Decrypt makes of it, of the examples in docs/FORMAT.md and of texts Encrypt never
// writes. The files are never regenerated: a failure here means stored
// values would no longer open, or no longer be written, the same way.
#include <gtest/gtest.h>

#include <string>

#include "envelope/cbc_envelope.h"
#include "tarvolacrypt.h"
#include "test_support.h"

namespace tarvola {
namespace {

std::string TextOf(const std::string& hex) {
    const test::Bytes bytes = test::FromHex(hex);
    return std::string(bytes.begin(), bytes.end());
}

// Decrypt into an exactly sized buffer of `fill` bytes (zero for mode 0, which
// writes no terminator): the result and the whole buffer afterwards.
std::pair<int32_t, std::string> DecryptExactly(const std::string& text, const std::string& key,
                                               int32_t mode, char fill) {
    const std::size_t separator = text.find('$');
    const std::size_t after = separator == std::string::npos ? 0 : text.size() - separator - 1;
    std::string out(mode == TARVOLA_MODE_HEX_BLOCK ? TARVOLA_DECRYPT_SIZE_MODE0(text.size())
                                                   : TARVOLA_DECRYPT_SIZE_MODE1(after),
                    fill);
    const int32_t result = Decrypt(text.c_str(), key.c_str(), out.data(), mode);
    return {result, out};
}

TEST(Golden, Mode0) {
    const auto records = test::ReadRecords("golden/mode0.txt", "KEY");
    ASSERT_EQ(records.size(), 12U * 5 + 1);
    for (const auto& r : records) {
        const std::string key = TextOf(r.at("KEY"));
        const std::string plaintext = TextOf(r.at("PLAINTEXT"));
        const std::string& expected = r.at("CIPHERTEXT");
        const std::string where =
            "key " + r.at("KEY") + ", length " + std::to_string(plaintext.size());

        std::string sealed(TARVOLA_ENCRYPT_SIZE_MODE0(plaintext.size()), '#');
        sealed[0] = '\0';
        ASSERT_EQ(Encrypt(plaintext.c_str(), key.c_str(), sealed.data(), TARVOLA_MODE_HEX_BLOCK), 0)
            << where;
        EXPECT_EQ(sealed, expected + '\0') << where;

        const auto [result, opened] = DecryptExactly(expected, key, TARVOLA_MODE_HEX_BLOCK, '\0');
        EXPECT_EQ(result, 0) << where;
        EXPECT_EQ(opened.c_str(), plaintext) << where;
    }
}

TEST(Golden, Mode1WithFixedIv) {
    const auto records = test::ReadRecords("golden/mode1.txt", "KEY");
    ASSERT_EQ(records.size(), 4U * 8 + 1);
    for (const auto& r : records) {
        const std::string key = TextOf(r.at("KEY"));
        const test::Bytes iv = test::FromHex(r.at("IV"));
        const std::string plaintext = TextOf(r.at("PLAINTEXT"));
        const std::string& expected = r.at("ENVELOPE");
        const std::string where =
            "key " + r.at("KEY") + ", length " + std::to_string(plaintext.size());

        const auto [result, opened] = DecryptExactly(expected, key, TARVOLA_MODE_ENVELOPE, '#');
        EXPECT_EQ(result, 0) << where;
        EXPECT_EQ(opened.c_str(), plaintext) << where;

        std::string sealed(TARVOLA_ENCRYPT_SIZE_MODE1(plaintext.size()), '#');
        ASSERT_TRUE(envelope::EncryptEnvelopeWithIv(
            plaintext.c_str(), key.c_str(), std::span<const std::uint8_t, 16>(iv.data(), iv.size()),
            sealed.data()))
            << where;
        EXPECT_EQ(sealed, expected + '\0') << where;
    }
}

// Accepted texts write what the file says; refused ones return 1 and leave
// the buffer as the contract says: untouched in mode 0, the empty text in
// mode 1.
TEST(Golden, DecryptOfTextsEncryptDoesNotWrite) {
    const auto records = test::ReadRecords("golden/decrypt.txt", "NAME");
    ASSERT_GE(records.size(), 40U);
    for (const auto& r : records) {
        const int32_t mode = std::stoi(r.at("MODE"));
        const std::string text = TextOf(r.at("TEXT"));
        const std::string key = TextOf(r.at("KEY"));
        const std::string& name = r.at("NAME");
        const bool refused = r.at("RESULT") == "refused";
        // Mode 0 needs a zero-filled buffer; mode 1 shows what it leaves.
        const char fill = mode == TARVOLA_MODE_HEX_BLOCK ? '\0' : '#';

        const auto [result, out] = DecryptExactly(text, key, mode, fill);
        if (refused) {
            EXPECT_EQ(result, 1) << name;
            const std::string untouched(out.size(), fill);
            EXPECT_EQ(out, mode == TARVOLA_MODE_HEX_BLOCK ? untouched : '\0' + untouched.substr(1))
                << name;
        } else {
            EXPECT_EQ(result, 0) << name;
            EXPECT_EQ(out.c_str(), TextOf(r.at("RESULT"))) << name;
        }
    }
}

}  // namespace
}  // namespace tarvola
