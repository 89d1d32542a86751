// What the two implementations of the cipher share, and what only they (and
// the tests that check them) may see: the constant tables, the layout of an
// expanded key, and each implementation on its own.
//
// aes128.cpp holds the state by columns and does one block at a time;
// aes128_rows.cpp holds two blocks by rows and does runs of blocks.
// Aes128EncryptBlocks and Aes128DecryptBlocks choose between them by count;
// the functions below skip that choice, so that every known-answer test and
// the differential fuzz target run over each implementation.
#ifndef TARVOLA_AES_AES_INTERNAL_H
#define TARVOLA_AES_AES_INTERNAL_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "aes/aes128.h"

namespace tarvola::aes {

extern const std::array<std::uint8_t, 256> kSbox;
extern const std::array<std::uint8_t, 256> kInverseSbox;
extern const std::array<std::uint8_t, 11> kRoundConstants;

// The 11 round keys of 16 bytes each; round key r is bytes 16r to 16r + 15,
// so bytes 0 to 15 are the cipher key itself.
using RoundKeyBytes = std::array<std::uint8_t, 176>;

struct Aes128KeyLayout {
    [[nodiscard]] static const RoundKeyBytes& RoundKeys(const Aes128Key& key) noexcept {
        return key.round_keys_;
    }
    [[nodiscard]] static RoundKeyBytes& RoundKeys(Aes128Key& key) noexcept {
        return key.round_keys_;
    }
};

// Round key `round` (0 to 10), 16 bytes.
[[nodiscard]] inline const std::uint8_t* RoundKey(const Aes128Key& key,
                                                  std::size_t round) noexcept {
    return &Aes128KeyLayout::RoundKeys(key)[16 * round];
}

// The column implementation, block by block, at any count.
void EncryptBlocksByColumns(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                            const Aes128Key& key) noexcept;
void DecryptBlocksByColumns(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                            const Aes128Key& key) noexcept;

// The row implementation at any count from 1, where Aes128EncryptBlocks
// would use it only from four blocks on. Same rules as Aes128EncryptBlocks.
void EncryptBlocksByRows(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept;
void DecryptBlocksByRows(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept;

}  // namespace tarvola::aes

#endif  // TARVOLA_AES_AES_INTERNAL_H
