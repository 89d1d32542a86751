// The block cipher against FIPS-197's worked examples and NIST's AESAVS
// ECB-128 known-answer, multi-block and Monte Carlo files, each of its two
// implementations on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "aes/aes128.h"
#include "aes/aes_internal.h"
#include "test_support.h"

namespace tarvola {
namespace {

using aes::Aes128Key;
using aes::Block;
using test::Bytes;
using test::FromHex;
using test::ToHex;

Block ToBlock(const Bytes& bytes) {
    Block block{};
    EXPECT_EQ(bytes.size(), block.size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
}

Aes128Key Expand(const Block& key) {
    Aes128Key expanded;
    aes::Aes128ExpandKey(expanded, key);
    return expanded;
}

Block EncryptBlock(const Block& key, Block block) {
    aes::Aes128EncryptBlock(block, Expand(key));
    return block;
}

Block DecryptBlock(const Block& key, Block block) {
    aes::Aes128DecryptBlock(block, Expand(key));
    return block;
}

// Each implementation over a run of blocks, used without the choice by count
// that Aes128EncryptBlocks makes, so that a vector checks the one named.
using BlockRun = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t,
                          const Aes128Key&) noexcept;
struct Implementation {
    const char* name;
    BlockRun encrypt;
    BlockRun decrypt;
};
constexpr Implementation kImplementations[] = {
    {"columns", aes::EncryptBlocksByColumns, aes::DecryptBlocksByColumns},
    {"rows", aes::EncryptBlocksByRows, aes::DecryptBlocksByRows},
};

Bytes Cipher(const Implementation& implementation, bool encrypt, const Aes128Key& key,
             const Bytes& input) {
    Bytes output(input.size());
    (encrypt ? implementation.encrypt : implementation.decrypt)(input.data(), output.data(),
                                                                input.size() / 16, key);
    return output;
}

TEST(Aes128, KeyExpansionMatchesFips197AppendixA1) {
    const auto fields = test::ReadFipsSection("APPENDIX_A1");
    const Aes128Key key = Expand(ToBlock(FromHex(fields.at("KEY"))));
    const auto& schedule = aes::Aes128KeyLayout::RoundKeys(key);
    for (std::size_t i = 0; i < 44; ++i) {
        std::string name = "W";
        name += std::to_string(i);  // not "W" + ...: g++ 12 -O3 warns falsely (-Wrestrict)
        EXPECT_EQ(ToHex(&schedule[4 * i], 4), fields.at(name)) << "word " << i;
    }
}

TEST(Aes128, EncryptsAndDecryptsFips197Examples) {
    for (const char* section : {"APPENDIX_B", "APPENDIX_C1"}) {
        const auto fields = test::ReadFipsSection(section);
        const Aes128Key key = Expand(ToBlock(FromHex(fields.at("KEY"))));
        const Bytes plaintext = FromHex(fields.at("PLAINTEXT"));
        const Bytes ciphertext = FromHex(fields.at("CIPHERTEXT"));
        for (const Implementation& implementation : kImplementations) {
            EXPECT_EQ(ToHex(Cipher(implementation, true, key, plaintext)), ToHex(ciphertext))
                << section << ", " << implementation.name;
            EXPECT_EQ(ToHex(Cipher(implementation, false, key, ciphertext)), ToHex(plaintext))
                << section << ", " << implementation.name;
        }
    }
}

TEST(Aes128, ZeroKeyExpandsToNonZeroRoundKeys) {
    const Aes128Key key = Expand(Block{});
    const auto& schedule = aes::Aes128KeyLayout::RoundKeys(key);
    EXPECT_TRUE(
        std::all_of(schedule.begin(), schedule.begin() + 16, [](auto b) { return b == 0; }));
    for (std::size_t round = 1; round <= 10; ++round) {
        const auto first = schedule.begin() + static_cast<std::ptrdiff_t>(16 * round);
        EXPECT_FALSE(std::all_of(first, first + 16, [](auto b) { return b == 0; }))
            << "round " << round;
    }
}

// Known-answer (GFSbox, KeySbox, VarKey, VarTxt) and multi-block (MMT, 1 to
// 10 blocks) files: all blocks of a record in one run.
class NistEcbFile : public testing::TestWithParam<const char*> {};

TEST_P(NistEcbFile, EveryRecordMatches) {
    const auto records = test::ReadRsp(GetParam());
    ASSERT_FALSE(records.empty());
    for (const auto& record : records) {
        const Block key = ToBlock(record.Field("KEY"));
        const Bytes input = record.Field(record.Encrypts() ? "PLAINTEXT" : "CIPHERTEXT");
        const Bytes expected = record.Field(record.Encrypts() ? "CIPHERTEXT" : "PLAINTEXT");
        for (const Implementation& implementation : kImplementations) {
            EXPECT_EQ(ToHex(Cipher(implementation, record.Encrypts(), Expand(key), input)),
                      ToHex(expected))
                << GetParam() << " " << record.section << " COUNT " << record.fields.at("COUNT")
                << ", " << implementation.name << ", key " << ToHex(key) << " input "
                << ToHex(input);
        }
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
    for (const Implementation& implementation : kImplementations) {
        for (const auto& record : records) {
            const Aes128Key key = Expand(ToBlock(record.Field("KEY")));
            const BlockRun run =
                record.Encrypts() ? implementation.encrypt : implementation.decrypt;
            Bytes block = record.Field(record.Encrypts() ? "PLAINTEXT" : "CIPHERTEXT");
            for (int j = 0; j < 1000; ++j) run(block.data(), block.data(), 1, key);
            EXPECT_EQ(ToHex(block),
                      ToHex(record.Field(record.Encrypts() ? "CIPHERTEXT" : "PLAINTEXT")))
                << record.section << " COUNT " << record.fields.at("COUNT") << ", "
                << implementation.name;
        }
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
        const Aes128Key schedule = Expand(key);
        Block first = block;
        Block second = block;
        aes::Aes128EncryptBlock(first, schedule);
        aes::Aes128EncryptBlock(second, schedule);
        ASSERT_EQ(first, second) << "key " << ToHex(key);
        aes::Aes128DecryptBlock(first, schedule);
        ASSERT_EQ(first, block) << "key " << ToHex(key) << " block " << ToHex(block);
    }
}

// The multi-block functions against the single-block ones they must equal:
// random keys, every count across several groups (odd counts leave half a
// pair unused), separate and shared input and output buffers.
TEST(Aes128, MultiBlockAgreesWithSingleBlock) {
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t count = 0; count <= 50; ++count) {
        Block key{};
        for (auto& b : key) b = static_cast<std::uint8_t>(byte(rng));
        const Aes128Key schedule = Expand(key);
        Bytes input(16 * count);
        for (auto& b : input) b = static_cast<std::uint8_t>(byte(rng));

        Bytes expected_encrypted = input;
        Bytes expected_decrypted = input;
        for (std::size_t at = 0; at < input.size(); at += 16) {
            Block block{};
            std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), 16, block.begin());
            const Block encrypted = EncryptBlock(key, block);
            const Block decrypted = DecryptBlock(key, block);
            std::copy(encrypted.begin(), encrypted.end(),
                      expected_encrypted.begin() + static_cast<std::ptrdiff_t>(at));
            std::copy(decrypted.begin(), decrypted.end(),
                      expected_decrypted.begin() + static_cast<std::ptrdiff_t>(at));
        }

        Bytes encrypted(input.size());
        aes::Aes128EncryptBlocks(input.data(), encrypted.data(), count, schedule);
        EXPECT_EQ(ToHex(encrypted), ToHex(expected_encrypted))
            << count << " blocks, key " << ToHex(key);
        Bytes decrypted(input.size());
        aes::Aes128DecryptBlocks(input.data(), decrypted.data(), count, schedule);
        EXPECT_EQ(ToHex(decrypted), ToHex(expected_decrypted))
            << count << " blocks, key " << ToHex(key);

        Bytes in_place = input;
        aes::Aes128EncryptBlocks(in_place.data(), in_place.data(), count, schedule);
        EXPECT_EQ(in_place, encrypted) << count << " blocks in place";
        aes::Aes128DecryptBlocks(in_place.data(), in_place.data(), count, schedule);
        EXPECT_EQ(in_place, input) << count << " blocks in place";
    }
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
