// Low-level byte helpers shared by the cipher and the text codecs: words read
// and written as little-endian values whatever the host, and the constants
// that work on every byte of a word at once (SWAR).
#ifndef TARVOLA_COMMON_BYTES_H
#define TARVOLA_COMMON_BYTES_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarvola::common {

// 0x01 in every byte of a 64-bit word: multiplied by a byte value, that value
// in every byte. Each byte's own copy cannot carry into the next.
inline constexpr std::uint64_t kEachByte = 0x0101010101010101ULL;
// Bit 7 of every byte.
inline constexpr std::uint64_t kHighBits = 0x80 * kEachByte;

// The value of a word stored little-endian, from its native reading; a byte
// swap on a big-endian host, which is its own inverse.
template <class Word>
constexpr Word FromLittleEndian(Word word) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        return word;
    } else {
        Word swapped = 0;
        for (std::size_t k = 0; k < sizeof word; ++k) {
            swapped = static_cast<Word>(swapped << 8 | ((word >> (8 * k)) & 0xff));
        }
        return swapped;
    }
}

// memcpy compiles to one (unaligned) load or store.
template <class Word>
Word LoadLittleEndian(const void* p) noexcept {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return FromLittleEndian(word);
}

template <class Word>
void StoreLittleEndian(void* p, Word word) noexcept {
    word = FromLittleEndian(word);
    std::memcpy(p, &word, sizeof word);
}

}  // namespace tarvola::common

#endif  // TARVOLA_COMMON_BYTES_H
