// The platform's AES-CBC and our padding check against NIST's AESAVS CBC-128
// and CBC-256 files and Wycheproof's AES-CBC-PKCS5 vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "envelope/cbc_envelope.h"
#include "envelope/cbc_padding.h"
#include "platform/platform.h"
#include "test_support.h"

namespace tarvola {
namespace {

using platform::ByteVector;
using platform::kAesBlockLength;
using test::Bytes;
using test::ToHex;

using IvSpan = std::span<const std::uint8_t, kAesBlockLength>;

IvSpan IvOf(const Bytes& iv) {
    return IvSpan(iv.data(), kAesBlockLength);
}

// CBC over whole blocks without padding, as the AESAVS files define it; the
// padded encryption's extra block is cut off.
Bytes EncryptBlocks(const Bytes& key, const Bytes& iv, const Bytes& plaintext) {
    const auto padded = platform::CbcEncryptPadded(key, IvOf(iv), plaintext);
    EXPECT_TRUE(padded.has_value());
    if (!padded) return {};
    return Bytes(padded->begin(), padded->begin() + static_cast<std::ptrdiff_t>(plaintext.size()));
}

Bytes DecryptBlocks(const Bytes& key, const Bytes& iv, const Bytes& ciphertext) {
    const auto plaintext = platform::CbcDecryptBlocks(key, IvOf(iv), ciphertext);
    EXPECT_TRUE(plaintext.has_value());
    if (!plaintext) return {};
    return Bytes(plaintext->begin(), plaintext->end());
}

class NistCbcFile : public testing::TestWithParam<const char*> {};

TEST_P(NistCbcFile, EveryRecordMatches) {
    const auto records = test::ReadRsp(GetParam());
    ASSERT_FALSE(records.empty());
    for (const auto& record : records) {
        const Bytes key = record.Field("KEY");
        const Bytes iv = record.Field("IV");
        const Bytes plaintext = record.Field("PLAINTEXT");
        const Bytes ciphertext = record.Field("CIPHERTEXT");
        const Bytes actual = record.Encrypts() ? EncryptBlocks(key, iv, plaintext)
                                               : DecryptBlocks(key, iv, ciphertext);
        EXPECT_EQ(ToHex(actual), ToHex(record.Encrypts() ? ciphertext : plaintext))
            << GetParam() << " " << record.section << " COUNT " << record.fields.at("COUNT")
            << " key " << ToHex(key) << " iv " << ToHex(iv);
    }
}

INSTANTIATE_TEST_SUITE_P(Aesavs, NistCbcFile,
                         testing::Values("CBCGFSbox128.rsp", "CBCKeySbox128.rsp",
                                         "CBCVarKey128.rsp", "CBCVarTxt128.rsp", "CBCMMT128.rsp",
                                         "CBCGFSbox256.rsp", "CBCKeySbox256.rsp",
                                         "CBCVarKey256.rsp", "CBCVarTxt256.rsp", "CBCMMT256.rsp"));

// AESAVS Monte Carlo for CBC (section 6.4): 1,000 single-block CBC operations
// per record, each block chained to the previous one through the IV. Every
// record is checked from its own key, IV and input.
class NistCbcMonteCarlo : public testing::TestWithParam<const char*> {};

TEST_P(NistCbcMonteCarlo, EveryRecordMatches) {
    const auto records = test::ReadRsp(GetParam());
    ASSERT_EQ(records.size(), 200U);
    for (const auto& record : records) {
        const Bytes key = record.Field("KEY");
        Bytes iv = record.Field("IV");
        Bytes input = record.Field(record.Encrypts() ? "PLAINTEXT" : "CIPHERTEXT");
        // The chain value before block j: the IV, then the previous
        // ciphertext block. The next input is the previous block's chain
        // value (encrypting) or the previous block's output (decrypting).
        Bytes output;
        Bytes previous_output = iv;
        for (int j = 0; j < 1000; ++j) {
            output =
                record.Encrypts() ? EncryptBlocks(key, iv, input) : DecryptBlocks(key, iv, input);
            if (record.Encrypts()) {
                input = std::exchange(iv, output);
            } else {
                iv = std::exchange(input, previous_output);
                previous_output = output;
            }
        }
        EXPECT_EQ(ToHex(output),
                  ToHex(record.Field(record.Encrypts() ? "CIPHERTEXT" : "PLAINTEXT")))
            << GetParam() << " " << record.section << " COUNT " << record.fields.at("COUNT");
    }
}

INSTANTIATE_TEST_SUITE_P(Aesavs, NistCbcMonteCarlo,
                         testing::Values("CBCMCT128.rsp", "CBCMCT256.rsp"));

// Wycheproof: valid vectors encrypt to their ciphertext and decrypt back to
// their message; invalid ones (bad padding, sizes no block fits) are refused
// by the same checks the envelope applies. AES-192 cannot occur here: key
// material is always 16 or 32 bytes.
TEST(Wycheproof, AesCbcPkcs5For128And256BitKeys) {
    int valid = 0;
    int invalid = 0;
    for (const auto& c : test::ReadWycheproofCbc()) {
        if (c.key_bits != 128 && c.key_bits != 256) continue;
        const bool shape_ok = !c.ct.empty() && c.ct.size() % kAesBlockLength == 0;
        const auto opened =
            shape_ok ? envelope::DecryptCbcPadded(c.key, IvOf(c.iv), c.ct) : std::nullopt;
        if (c.valid) {
            ++valid;
            ASSERT_TRUE(opened.has_value()) << "tcId " << c.id << " " << c.comment;
            EXPECT_EQ(ToHex(*opened), ToHex(c.msg)) << "tcId " << c.id;
            const auto sealed = platform::CbcEncryptPadded(c.key, IvOf(c.iv), c.msg);
            ASSERT_TRUE(sealed.has_value());
            EXPECT_EQ(ToHex(*sealed), ToHex(c.ct)) << "tcId " << c.id;
        } else {
            ++invalid;
            EXPECT_FALSE(opened.has_value()) << "tcId " << c.id << " " << c.comment;
        }
    }
    EXPECT_EQ(valid, 48);
    EXPECT_EQ(invalid, 96);
}

TEST(PlatformCipher, RefusesKeySizesOtherThan16And32) {
    const Bytes iv(16, 0);
    const Bytes block(16, 0);
    for (const std::size_t size : {0U, 15U, 17U, 24U, 48U, 64U}) {
        const Bytes key(size, 1);
        EXPECT_FALSE(platform::CbcEncryptPadded(key, IvOf(iv), block).has_value()) << size;
        EXPECT_FALSE(platform::CbcDecryptBlocks(key, IvOf(iv), block).has_value()) << size;
    }
}

}  // namespace
}  // namespace tarvola
