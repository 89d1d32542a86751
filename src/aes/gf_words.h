// Multiplications in GF(2^8) on every byte of a word at once, shared by the
// column and the row forms of the cipher. Internal to src/aes.
#ifndef TARVOLA_AES_GF_WORDS_H
#define TARVOLA_AES_GF_WORDS_H

#include <cstdint>

#include "common/bytes.h"

namespace tarvola::aes {

// Doubling (xtime) of each byte of a 32- or 64-bit word: the top bits, moved
// down to bit 0 of their byte, select 0x1b (the multiply cannot carry between
// bytes).
template <class Word>
constexpr Word DoubleEachByte(Word w) noexcept {
    constexpr auto kEachByte = static_cast<Word>(common::kEachByte);
    return static_cast<Word>(((w & 0x7f * kEachByte) << 1) ^ (((w >> 7) & kEachByte) * 0x1bU));
}

// Doubling twice, on each of the eight bytes, in one step. The two top bits
// c of a byte overflow into x^8 and x^9 and reduce to c times 0x1b without
// carries; as 0x1b = 0x09 ^ 0x12 and c is below 4, that is c * 9 (no bits of
// c and 8c meet, so no carry) XORed with itself shifted by one. Both stay
// within their byte, so the eight bytes never disturb each other.
constexpr std::uint64_t QuadrupleEachByte(std::uint64_t w) noexcept {
    using common::kEachByte;
    const std::uint64_t overflow = ((w >> 6) & (0x03 * kEachByte)) * 9;
    return ((w & 0x3f * kEachByte) << 2) ^ overflow ^ (overflow << 1);
}

}  // namespace tarvola::aes

#endif  // TARVOLA_AES_GF_WORDS_H
