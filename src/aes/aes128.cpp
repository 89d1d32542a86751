// AES-128 on four 32-bit column words.
//
// The state is held as four words, one per column; byte r of a column (row r)
// sits in bits 8r to 8r + 7, so a column word is the little-endian reading of
// block bytes 4c to 4c + 3 whatever the host's byte order. SubBytes and
// ShiftRows are done together while gathering each new column from the S-box;
// MixColumns works on all four bytes of a column at once (SWAR). Only the
// 256-byte tables are used, so the code stays small and portable.
#include "aes/aes128.h"

#include <cstddef>

namespace tarvola::aes {
namespace {

using State = std::array<std::uint32_t, 4>;

constexpr std::uint8_t Double(std::uint8_t b) noexcept {
    return static_cast<std::uint8_t>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00));
}

// Double() on each of the four bytes of a word.
constexpr std::uint32_t DoubleEachByte(std::uint32_t w) noexcept {
    return ((w & 0x7f7f7f7fU) << 1) ^ (((w >> 7) & 0x01010101U) * 0x1bU);
}

constexpr std::uint32_t RotateDown(std::uint32_t w, unsigned bits) noexcept {
    return (w >> bits) | (w << (32 - bits));
}

constexpr std::uint32_t ByteAt(std::uint32_t w, unsigned row) noexcept {
    return (w >> (8 * row)) & 0xffU;
}

std::uint32_t LoadWord(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreWord(std::uint8_t* p, std::uint32_t w) noexcept {
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
    p[2] = static_cast<std::uint8_t>(w >> 16);
    p[3] = static_cast<std::uint8_t>(w >> 24);
}

State LoadState(const Block& block) noexcept {
    return {LoadWord(&block[0]), LoadWord(&block[4]), LoadWord(&block[8]), LoadWord(&block[12])};
}

void StoreState(Block& block, const State& s) noexcept {
    for (std::size_t c = 0; c < 4; ++c) StoreWord(&block[4 * c], s[c]);
}

void AddRoundKey(State& s, const RoundKeySchedule& schedule, std::size_t round) noexcept {
    for (std::size_t c = 0; c < 4; ++c) s[c] ^= LoadWord(&schedule[16 * round + 4 * c]);
}

// New column c, row r comes from old column c + r (ShiftRows rotates row r
// left by r), passed through `box`. Used with the S-box and its inverse; the
// inverse shift is the same gather with the column offsets negated.
std::uint32_t GatherColumn(const std::array<std::uint8_t, 256>& box, std::uint32_t row0,
                           std::uint32_t row1, std::uint32_t row2, std::uint32_t row3) noexcept {
    return static_cast<std::uint32_t>(box[ByteAt(row0, 0)]) |
           static_cast<std::uint32_t>(box[ByteAt(row1, 1)]) << 8 |
           static_cast<std::uint32_t>(box[ByteAt(row2, 2)]) << 16 |
           static_cast<std::uint32_t>(box[ByteAt(row3, 3)]) << 24;
}

void SubBytesShiftRows(State& s) noexcept {
    s = {GatherColumn(kSbox, s[0], s[1], s[2], s[3]), GatherColumn(kSbox, s[1], s[2], s[3], s[0]),
         GatherColumn(kSbox, s[2], s[3], s[0], s[1]), GatherColumn(kSbox, s[3], s[0], s[1], s[2])};
}

void InvShiftRowsInvSubBytes(State& s) noexcept {
    s = {GatherColumn(kInverseSbox, s[0], s[3], s[2], s[1]),
         GatherColumn(kInverseSbox, s[1], s[0], s[3], s[2]),
         GatherColumn(kInverseSbox, s[2], s[1], s[0], s[3]),
         GatherColumn(kInverseSbox, s[3], s[2], s[1], s[0])};
}

// new a_i = a_i ^ t ^ double(a_i ^ a_(i+1)), t = a0 ^ a1 ^ a2 ^ a3: the
// FIPS-197 matrix (2 3 1 1) applied to one column, all four rows at once.
constexpr std::uint32_t MixColumn(std::uint32_t a) noexcept {
    const std::uint32_t pairs = a ^ RotateDown(a, 8);         // a_i ^ a_(i+1)
    const std::uint32_t total = pairs ^ RotateDown(pairs, 16);  // t in every byte
    return a ^ total ^ DoubleEachByte(pairs);
}

// The inverse matrix (14 11 13 9) factors as (2 3 1 1) times (5 0 4 0): first
// a_i ^= 4 * (a_i ^ a_(i+2)), then the forward MixColumn.
constexpr std::uint32_t InvMixColumn(std::uint32_t a) noexcept {
    const std::uint32_t opposite = a ^ RotateDown(a, 16);
    return MixColumn(a ^ DoubleEachByte(DoubleEachByte(opposite)));
}

void MixColumns(State& s) noexcept {
    for (auto& column : s) column = MixColumn(column);
}

void InvMixColumns(State& s) noexcept {
    for (auto& column : s) column = InvMixColumn(column);
}

}  // namespace

std::uint8_t GfMultiply(std::uint8_t value, std::uint8_t factor) noexcept {
    std::uint8_t product = 0;
    std::uint8_t power = value;  // value * 2^bit
    for (unsigned bit = 0; bit < 5; ++bit) {
        if (((factor >> bit) & 1U) != 0) product ^= power;
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
    State s = LoadState(block);
    AddRoundKey(s, schedule, 0);
    for (std::size_t round = 1; round < 10; ++round) {
        SubBytesShiftRows(s);
        MixColumns(s);
        AddRoundKey(s, schedule, round);
    }
    SubBytesShiftRows(s);
    AddRoundKey(s, schedule, 10);
    StoreState(block, s);
}

void Aes128DecryptBlock(Block& block, const RoundKeySchedule& schedule) noexcept {
    State s = LoadState(block);
    AddRoundKey(s, schedule, 10);
    for (std::size_t round = 9; round > 0; --round) {
        InvShiftRowsInvSubBytes(s);
        AddRoundKey(s, schedule, round);
        InvMixColumns(s);
    }
    InvShiftRowsInvSubBytes(s);
    AddRoundKey(s, schedule, 0);
    StoreState(block, s);
}

}  // namespace tarvola::aes
