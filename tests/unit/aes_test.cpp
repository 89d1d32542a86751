// The block cipher against FIPS-197's worked examples and NIST's AESAVS
// ECB-128 known-answer, multi-block and Monte Carlo files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "aes/aes128.h"
#include "test_support.h"

namespace tarvola {
namespace {

using aes::Block;
using aes::RoundKeySchedule;
using test::Bytes;
using test::FromHex;
using test::ToHex;

Block ToBlock(const Bytes& bytes) {
    Block block{};
    EXPECT_EQ(bytes.size(), block.size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
}

RoundKeySchedule Expand(const Block& key) {
    RoundKeySchedule schedule{};
    aes::Aes128KeySchedule(schedule, key);
    return schedule;
}

Block EncryptBlock(const Block& key, Block block) {
    aes::Aes128EncryptBlock(block, Expand(key));
    return block;
}

Block DecryptBlock(const Block& key, Block block) {
    aes::Aes128DecryptBlock(block, Expand(key));
    return block;
}

TEST(Aes128, KeyExpansionMatchesFips197AppendixA1) {
    const auto fields = test::ReadFipsSection("APPENDIX_A1");
    const RoundKeySchedule schedule = Expand(ToBlock(FromHex(fields.at("KEY"))));
    for (std::size_t i = 0; i < 44; ++i) {
        std::string name = "W";
        name += std::to_string(i);  // not "W" + ...: g++ 12 -O3 warns falsely (-Wrestrict)
        EXPECT_EQ(ToHex(&schedule[4 * i], 4), fields.at(name)) << "word " << i;
    }
}

TEST(Aes128, EncryptsAndDecryptsFips197Examples) {
    for (const char* section : {"APPENDIX_B", "APPENDIX_C1"}) {
        const auto fields = test::ReadFipsSection(section);
        const Block key = ToBlock(FromHex(fields.at("KEY")));
        const Block plaintext = ToBlock(FromHex(fields.at("PLAINTEXT")));
        const Block ciphertext = ToBlock(FromHex(fields.at("CIPHERTEXT")));
        EXPECT_EQ(ToHex(EncryptBlock(key, plaintext)), ToHex(ciphertext)) << section;
        EXPECT_EQ(ToHex(DecryptBlock(key, ciphertext)), ToHex(plaintext)) << section;
    }
}

TEST(Aes128, ZeroKeyExpandsToNonZeroRoundKeys) {
    const RoundKeySchedule schedule = Expand(Block{});
    EXPECT_TRUE(
        std::all_of(schedule.begin(), schedule.begin() + 16, [](auto b) { return b == 0; }));
    for (std::size_t round = 1; round <= 10; ++round) {
        const auto first = schedule.begin() + static_cast<std::ptrdiff_t>(16 * round);
        EXPECT_FALSE(std::all_of(first, first + 16, [](auto b) { return b == 0; }))
            << "round " << round;
    }
}

// Known-answer (GFSbox, KeySbox, VarKey, VarTxt) and multi-block (MMT) files:
// every block of a record is encrypted or decrypted on its own.
class NistEcbFile : public testing::TestWithParam<const char*> {};

TEST_P(NistEcbFile, EveryRecordMatches) {
    const auto records = test::ReadRsp(GetParam());
    ASSERT_FALSE(records.empty());
    for (const auto& record : records) {
        const Block key = ToBlock(record.Field("KEY"));
        const Bytes input = record.Field(record.Encrypts() ? "PLAINTEXT" : "CIPHERTEXT");
        const Bytes expected = record.Field(record.Encrypts() ? "CIPHERTEXT" : "PLAINTEXT");
        Bytes actual;
        for (std::size_t offset = 0; offset < input.size(); offset += 16) {
            Block block{};
            std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(offset), 16, block.begin());
            const Block out =
                record.Encrypts() ? EncryptBlock(key, block) : DecryptBlock(key, block);
            actual.insert(actual.end(), out.begin(), out.end());
        }
        EXPECT_EQ(ToHex(actual), ToHex(expected))
            << GetParam() << " " << record.section << " COUNT " << record.fields.at("COUNT")
            << " key " << ToHex(key) << " input " << ToHex(input);
    }
}

INSTANTIATE_TEST_SUITE_P(Aesavs, NistEcbFile,
                         testing::Values("ECBGFSbox128.rsp", "ECBKeySbox128.rsp",
                                         "ECBVarKey128.rsp", "ECBVarTxt128.rsp", "ECBMMT128.rsp"));

// AESAVS Monte Carlo (section 6.4, ECB): from each record's key and input,
// 1,000 chained block operations must end at the record's output. Each record
// is checked from its own starting values, so one fault names its record.
TEST(Aes128, MonteCarloEcb) {
    const auto records = test::ReadRsp("ECBMCT128.rsp");
    ASSERT_EQ(records.size(), 200U);
    for (const auto& record : records) {
        const RoundKeySchedule schedule = Expand(ToBlock(record.Field("KEY")));
        Block block = ToBlock(record.Field(record.Encrypts() ? "PLAINTEXT" : "CIPHERTEXT"));
        for (int j = 0; j < 1000; ++j) {
            if (record.Encrypts()) {
                aes::Aes128EncryptBlock(block, schedule);
            } else {
                aes::Aes128DecryptBlock(block, schedule);
            }
        }
        EXPECT_EQ(ToHex(block), ToHex(record.Field(record.Encrypts() ? "CIPHERTEXT" : "PLAINTEXT")))
            << record.section << " COUNT " << record.fields.at("COUNT");
    }
}

TEST(Aes128, DecryptionUndoesEncryptionWithoutHiddenState) {
    std::mt19937 rng(20181027);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 2000; ++i) {
        Block key{};
        Block block{};
        for (auto& b : key) b = static_cast<std::uint8_t>(byte(rng));
        for (auto& b : block) b = static_cast<std::uint8_t>(byte(rng));
        const RoundKeySchedule schedule = Expand(key);
        Block first = block;
        Block second = block;
        aes::Aes128EncryptBlock(first, schedule);
        aes::Aes128EncryptBlock(second, schedule);
        ASSERT_EQ(first, second) << "key " << ToHex(key);
        aes::Aes128DecryptBlock(first, schedule);
        ASSERT_EQ(first, block) << "key " << ToHex(key) << " block " << ToHex(block);
    }
}

// GfMultiply is the GF(2^8) product the inverse cipher is defined with
// (factors 9, 11, 13, 14), though the cipher itself computes InvMixColumns
// another way and does not call it. A shift-and-add multiplication computed
// here independently must agree for every factor below 32.
TEST(Aes128, GfMultiplyMatchesCarrylessReference) {
    for (unsigned factor = 0; factor < 32; ++factor) {
        for (unsigned value = 0; value < 256; ++value) {
            unsigned product = 0;
            for (unsigned bit = 0; bit < 5; ++bit) {
                if ((factor >> bit) & 1U) product ^= value << bit;
            }
            for (unsigned bit = 12; bit >= 8; --bit) {
                if ((product >> bit) & 1U) product ^= 0x11bU << (bit - 8);
            }
            ASSERT_EQ(aes::GfMultiply(static_cast<std::uint8_t>(value),
                                      static_cast<std::uint8_t>(factor)),
                      product)
                << "value " << value << " factor " << factor;
        }
    }
    EXPECT_EQ(aes::GfMultiply(0x57, 0x13 | 0x20), aes::GfMultiply(0x57, 0x13))
        << "bits above bit 4 of the factor must be ignored";
}

TEST(Aes128, TablesAreInversesOfEachOther) {
    for (unsigned i = 0; i < 256; ++i) {
        ASSERT_EQ(aes::kInverseSbox[aes::kSbox[i]], i);
    }
    EXPECT_EQ(aes::kSbox[0x00], 0x63);  // FIPS-197 Figure 7, first and last entries
    EXPECT_EQ(aes::kSbox[0xff], 0x16);
}

}  // namespace
}  // namespace tarvola
