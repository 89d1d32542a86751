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

// Doubling twice, on each of the eight bytes, in one step: bits 6 and 7 of
// each byte overflow into x^8 and x^9, reduced to 0x1b and 0x36.
constexpr std::uint64_t QuadrupleEachByte(std::uint64_t w) noexcept {
    using common::kEachByte;
    const std::uint64_t bit6 = (w >> 6) & kEachByte;
    const std::uint64_t bit7 = (w >> 7) & kEachByte;
    return ((w & 0x3f * kEachByte) << 2) ^ (bit6 * 0x1bU) ^ (bit7 * 0x36U);
}

}  // namespace tarvola::aes

#endif  // TARVOLA_AES_GF_WORDS_H
