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
#include "aes/aes128.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace tarvola::aes {
namespace {

using Word = std::uint32_t;
using ByteTable = std::array<std::uint8_t, 256>;

struct State {
    Word c0, c1, c2, c3;
};

constexpr std::uint8_t Double(std::uint8_t b) noexcept {
    return static_cast<std::uint8_t>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00));
}

// Double() on each of the four bytes of a word: the top bits, moved down to
// bit 0 of their byte, select 0x1b (the multiply cannot carry between bytes).
constexpr Word DoubleEachByte(Word w) noexcept {
    return ((w & 0x7f7f7f7fU) << 1) ^ (((w >> 7) & 0x01010101U) * 0x1bU);
}

// Double(Double(b)) on each of the eight bytes of a 64-bit word in one step:
// bits 6 and 7 of each byte overflow into x^8 and x^9, reduced to 0x1b and
// 0x36. Decryption uses it on two columns at once.
constexpr std::uint64_t QuadrupleEachByte(std::uint64_t w) noexcept {
    constexpr std::uint64_t kEachByte = 0x0101010101010101ULL;
    const std::uint64_t bit6 = (w >> 6) & kEachByte;
    const std::uint64_t bit7 = (w >> 7) & kEachByte;
    return ((w & 0x3f * kEachByte) << 2) ^ (bit6 * 0x1bU) ^ (bit7 * 0x36U);
}

// Column words are the little-endian reading of four block bytes; on a
// big-endian host that takes a byte swap, which is its own inverse.
constexpr Word FromLittleEndian(Word w) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        return w;
    } else {
        return (w >> 24) | ((w >> 8) & 0xff00U) | ((w << 8) & 0xff0000U) | (w << 24);
    }
}

// memcpy compiles to a single (unaligned) load or store.
Word LoadWord(const std::uint8_t* p) noexcept {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return FromLittleEndian(w);
}

void StoreWord(std::uint8_t* p, Word w) noexcept {
    w = FromLittleEndian(w);
    std::memcpy(p, &w, sizeof w);
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

State AddRoundKey(const State& s, const RoundKeySchedule& schedule, std::size_t round) noexcept {
    const std::uint8_t* key = &schedule[16 * round];
    return {s.c0 ^ LoadWord(key), s.c1 ^ LoadWord(key + 4), s.c2 ^ LoadWord(key + 8),
            s.c3 ^ LoadWord(key + 12)};
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

}  // namespace

std::uint8_t GfMultiply(std::uint8_t value, std::uint8_t factor) noexcept {
    std::uint8_t product = 0;
    std::uint8_t power = value;  // value * 2^bit
    for (unsigned bit = 0; bit < 5; ++bit) {
        if (((static_cast<unsigned>(factor) >> bit) & 1U) != 0) product ^= power;
        power = Double(power);
    }
    return product;
}

void Aes128KeySchedule(RoundKeySchedule& schedule, const Block& key) noexcept {
    for (std::size_t i = 0; i < 16; ++i) schedule[i] = key[i];
    for (std::size_t i = 4; i < 44; ++i) {
        std::array<std::uint8_t, 4> t = {schedule[4 * i - 4], schedule[4 * i - 3],
                                         schedule[4 * i - 2], schedule[4 * i - 1]};
        if (i % 4 == 0) {
            t = {static_cast<std::uint8_t>(kSbox[t[1]] ^ kRoundConstants[i / 4]), kSbox[t[2]],
                 kSbox[t[3]], kSbox[t[0]]};
        }
        for (std::size_t k = 0; k < 4; ++k) {
            schedule[4 * i + k] = static_cast<std::uint8_t>(schedule[4 * i - 16 + k] ^ t[k]);
        }
    }
}

void Aes128EncryptBlock(Block& block, const RoundKeySchedule& schedule) noexcept {
    State s = AddRoundKey(LoadState(block), schedule, 0);
    for (std::size_t round = 1; round < 10; ++round) {
        s = AddRoundKey(MixColumns(SubBytesShiftRows(s)), schedule, round);
    }
    StoreState(block, AddRoundKey(SubBytesShiftRows(s), schedule, 10));
}

void Aes128DecryptBlock(Block& block, const RoundKeySchedule& schedule) noexcept {
    State s = AddRoundKey(LoadState(block), schedule, 10);
    for (std::size_t round = 9; round > 0; --round) {
        s = InvMixColumns(AddRoundKey(InvShiftRowsInvSubBytes(s), schedule, round));
    }
    StoreState(block, AddRoundKey(InvShiftRowsInvSubBytes(s), schedule, 0));
}

}  // namespace tarvola::aes
