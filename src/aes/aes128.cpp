// AES-128 on four 32-bit column words.
//
// The state is held as four words, one per column; byte r of a column (row r)
// sits in bits 8r to 8r + 7, so a column word is the little-endian reading of
// block bytes 4c to 4c + 3 whatever the host's byte order. SubBytes and
// ShiftRows are done together while gathering each new column from the S-box;
// MixColumns works on all four bytes of a column at once (SWAR). Only the
// 256-byte tables are used, so the code stays small and portable.
//
// A block is a long dependency chain (ten rounds, each needing the whole
// previous state), so speed comes from keeping the state in registers and
// giving the processor as few operations per round as possible: the state
// and the round keys are read as whole words, the four columns are separate
// variables rather than an array (which compilers tend to spill or turn into
// vector shuffles), and every helper returns its result by value.
#include <bit>
#include <cstddef>
#include <cstring>

#include "aes/aes128.h"
#include "aes/aes_internal.h"

#include "aes/gf_words.h"
#include "common/bytes.h"

namespace tarvola::aes {
namespace {

using Word = std::uint32_t;
using ByteTable = std::array<std::uint8_t, 256>;

struct State {
    Word c0, c1, c2, c3;
};

Word LoadWord(const std::uint8_t* p) noexcept {
    return common::LoadLittleEndian<Word>(p);
}

void StoreWord(std::uint8_t* p, Word w) noexcept {
    common::StoreLittleEndian(p, w);
}

State LoadState(const Block& block) noexcept {
    return {LoadWord(&block[0]), LoadWord(&block[4]), LoadWord(&block[8]), LoadWord(&block[12])};
}

void StoreState(Block& block, const State& s) noexcept {
    StoreWord(&block[0], s.c0);
    StoreWord(&block[4], s.c1);
    StoreWord(&block[8], s.c2);
    StoreWord(&block[12], s.c3);
}

State AddRoundKey(const State& s, const Aes128Key& key, std::size_t round) noexcept {
    const std::uint8_t* round_key = RoundKey(key, round);
    return {s.c0 ^ LoadWord(round_key), s.c1 ^ LoadWord(round_key + 4),
            s.c2 ^ LoadWord(round_key + 8), s.c3 ^ LoadWord(round_key + 12)};
}

// Row `row` of `column` passed through `box`, left in the same row.
Word SubstituteRow(const ByteTable& box, Word column, unsigned row) noexcept {
    return static_cast<Word>(box[(column >> (8 * row)) & 0xffU]) << (8 * row);
}

// A new column whose row r is taken from the r-th argument: this is where
// ShiftRows happens, by choosing which old column feeds which row.
Word GatherColumn(const ByteTable& box, Word row0, Word row1, Word row2, Word row3) noexcept {
    return SubstituteRow(box, row0, 0) | SubstituteRow(box, row1, 1) | SubstituteRow(box, row2, 2) |
           SubstituteRow(box, row3, 3);
}

// Row r of new column c comes from old column c + r: ShiftRows rotates row r
// left by r positions.
State SubBytesShiftRows(const State& s) noexcept {
    return {
        GatherColumn(kSbox, s.c0, s.c1, s.c2, s.c3), GatherColumn(kSbox, s.c1, s.c2, s.c3, s.c0),
        GatherColumn(kSbox, s.c2, s.c3, s.c0, s.c1), GatherColumn(kSbox, s.c3, s.c0, s.c1, s.c2)};
}

// The inverse: row r of new column c comes from old column c - r.
State InvShiftRowsInvSubBytes(const State& s) noexcept {
    return {GatherColumn(kInverseSbox, s.c0, s.c3, s.c2, s.c1),
            GatherColumn(kInverseSbox, s.c1, s.c0, s.c3, s.c2),
            GatherColumn(kInverseSbox, s.c2, s.c1, s.c0, s.c3),
            GatherColumn(kInverseSbox, s.c3, s.c2, s.c1, s.c0)};
}

// new a_i = 2 a_i ^ 3 a_(i+1) ^ a_(i+2) ^ a_(i+3)
//         = double(a_i ^ a_(i+1)) ^ a_(i+1) ^ (a_(i+2) ^ a_(i+3)):
// the FIPS-197 matrix (2 3 1 1) applied to one column, all four rows at once.
// The last term is the pair sum two rows on, so one rotation serves for it.
constexpr Word MixColumn(Word a) noexcept {
    const Word next = std::rotr(a, 8);  // a_(i+1)
    const Word pairs = a ^ next;        // a_i ^ a_(i+1)
    return DoubleEachByte(pairs) ^ next ^ std::rotr(pairs, 16);
}

State MixColumns(const State& s) noexcept {
    return {MixColumn(s.c0), MixColumn(s.c1), MixColumn(s.c2), MixColumn(s.c3)};
}

// The inverse matrix (14 11 13 9) factors as (2 3 1 1) times (5 0 4 0): first
// a_i ^= 4 * (a_i ^ a_(i+2)), then the forward MixColumn. The first step is
// the costlier, so it runs on two columns at once, side by side in a 64-bit
// word; a_i ^ a_(i+2) is the same for rows i and i + 2, so it is worked out
// for rows 0 and 1 only and its product copied up.
constexpr std::uint64_t InvMixColumnStep(std::uint64_t pair) noexcept {
    const std::uint64_t opposite = (pair ^ (pair >> 16)) & 0x0000ffff0000ffffULL;
    const std::uint64_t product = QuadrupleEachByte(opposite);
    return pair ^ product ^ (product << 16);
}

State InvMixColumns(const State& s) noexcept {
    const std::uint64_t low = InvMixColumnStep(s.c0 | static_cast<std::uint64_t>(s.c1) << 32);
    const std::uint64_t high = InvMixColumnStep(s.c2 | static_cast<std::uint64_t>(s.c3) << 32);
    return {MixColumn(static_cast<Word>(low)), MixColumn(static_cast<Word>(low >> 32)),
            MixColumn(static_cast<Word>(high)), MixColumn(static_cast<Word>(high >> 32))};
}

// SubWord(RotWord(w)) of the key schedule: every byte of the word through
// the S-box, byte r + 1 of `w` into byte r of the result (RotWord rotates by
// one byte), read straight from its place rather than after a rotation.
Word SubRotatedWord(Word w) noexcept {
    const auto substituted = [w](unsigned from, unsigned to) {
        return static_cast<Word>(kSbox[(w >> (8 * from)) & 0xffU]) << (8 * to);
    };
    return (substituted(1, 0) | substituted(2, 1)) | (substituted(3, 2) | substituted(0, 3));
}

void StoreRoundKey(RoundKeyBytes& round_keys, std::size_t round, Word w0, Word w1, Word w2,
                   Word w3) noexcept {
    std::uint8_t* round_key = &round_keys[16 * round];
    common::StoreLittleEndian(round_key, w0 | std::uint64_t{w1} << 32);
    common::StoreLittleEndian(round_key + 8, w2 | std::uint64_t{w3} << 32);
}

}  // namespace

// Word by word: the byte-by-byte form cost several times as much, and the
// schedule is expanded on every call, which dominates short values.
//
// Each round's words are w0 ^ t, w0 ^ w1 ^ t, w0 ^ w1 ^ w2 ^ t and
// w0 ^ w1 ^ w2 ^ w3 ^ t, with t = SubWord(RotWord(w3)) ^ Rcon. Only the last one feeds
// the next round, so it is made in one step from the XOR of all four words
// (`all`), and the others backwards from it: the chain from round to round
// is then the S-box look-ups and a single XOR, not four. The XOR of the new
// four words is w1 ^ w3 of the old (t and the rest cancel in pairs).
void Aes128ExpandKey(Aes128Key& key, const Block& cipher_key) noexcept {
    RoundKeyBytes& round_keys = Aes128KeyLayout::RoundKeys(key);
    Word w0 = LoadWord(&cipher_key[0]);
    Word w1 = LoadWord(&cipher_key[4]);
    Word w2 = LoadWord(&cipher_key[8]);
    Word w3 = LoadWord(&cipher_key[12]);
    Word all = w0 ^ w1 ^ w2 ^ w3;
    StoreRoundKey(round_keys, 0, w0, w1, w2, w3);
    for (std::size_t round = 1; round <= 10; ++round) {
        const Word next_all = w1 ^ w3;
        const Word n3 = (all ^ kRoundConstants[round]) ^ SubRotatedWord(w3);
        const Word n2 = n3 ^ w3;
        const Word n1 = n2 ^ w2;
        w0 = n1 ^ w1;
        w1 = n1;
        w2 = n2;
        w3 = n3;
        all = next_all;
        StoreRoundKey(round_keys, round, w0, w1, w2, w3);
    }
}

void Aes128EncryptBlock(Block& block, const Aes128Key& key) noexcept {
    State s = AddRoundKey(LoadState(block), key, 0);
    for (std::size_t round = 1; round < 10; ++round) {
        s = AddRoundKey(MixColumns(SubBytesShiftRows(s)), key, round);
    }
    StoreState(block, AddRoundKey(SubBytesShiftRows(s), key, 10));
}

void Aes128DecryptBlock(Block& block, const Aes128Key& key) noexcept {
    State s = AddRoundKey(LoadState(block), key, 10);
    for (std::size_t round = 9; round > 0; --round) {
        s = InvMixColumns(AddRoundKey(InvShiftRowsInvSubBytes(s), key, round));
    }
    StoreState(block, AddRoundKey(InvShiftRowsInvSubBytes(s), key, 0));
}

void EncryptBlocksByColumns(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                            const Aes128Key& key) noexcept {
    for (; count > 0; --count, in += sizeof(Block), out += sizeof(Block)) {
        Block block;
        std::memcpy(block.data(), in, block.size());
        Aes128EncryptBlock(block, key);
        std::memcpy(out, block.data(), block.size());
    }
}

void DecryptBlocksByColumns(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                            const Aes128Key& key) noexcept {
    for (; count > 0; --count, in += sizeof(Block), out += sizeof(Block)) {
        Block block;
        std::memcpy(block.data(), in, block.size());
        Aes128DecryptBlock(block, key);
        std::memcpy(out, block.data(), block.size());
    }
}

}  // namespace tarvola::aes
