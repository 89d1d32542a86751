// AES-128 (FIPS-197, 10 rounds): key expansion, and encryption and
// decryption of single blocks and of runs of blocks, exactly as the standard
// defines them.
//
// This implementation uses 256-byte S-box look-ups indexed by secret data and
// is NOT constant-time: an attacker who shares the processor's caches with it
// may learn key bits from timing. No function here fails or allocates.
#ifndef TARVOLA_AES_AES128_H
#define TARVOLA_AES_AES128_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvola::aes {

// 16 bytes, the cipher state. Byte i is the state element in row i mod 4,
// column i div 4 (FIPS-197's input-to-state mapping).
using Block = std::array<std::uint8_t, 16>;

// The 11 round keys of 16 bytes each; round key r is bytes 16r to 16r + 15,
// so bytes 0 to 15 are the cipher key itself. Holds key material: callers
// keep it in wiped storage.
using RoundKeySchedule = std::array<std::uint8_t, 176>;

extern const std::array<std::uint8_t, 256> kSbox;
extern const std::array<std::uint8_t, 256> kInverseSbox;
extern const std::array<std::uint8_t, 11> kRoundConstants;

// Fills all 176 bytes of `schedule` from the 16 key bytes. Any key is valid.
void Aes128KeySchedule(RoundKeySchedule& schedule, const Block& key) noexcept;

// Encrypts `block` in place with an expanded schedule.
void Aes128EncryptBlock(Block& block, const RoundKeySchedule& schedule) noexcept;

// Decrypts `block` in place; undoes Aes128EncryptBlock for the same schedule.
void Aes128DecryptBlock(Block& block, const RoundKeySchedule& schedule) noexcept;

// Encrypts `count` consecutive blocks (16 * count bytes) from `in` to `out`,
// each on its own with the same schedule: the results are exactly those of
// Aes128EncryptBlock. `in` and `out` MUST be the same buffer or not overlap.
// From four blocks on they run much faster than one at a time (two blocks
// share each 64-bit word). Intermediate states and the round keys rearranged
// for this are left in the function's stack frame, under a kilobyte: a caller
// holding secrets wipes the stack below its own frame afterwards
// (platform::WipeCalleeStack).
void Aes128EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const RoundKeySchedule& schedule) noexcept;

// Decrypts `count` consecutive blocks, exactly as Aes128DecryptBlock would;
// same rules as Aes128EncryptBlocks.
void Aes128DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const RoundKeySchedule& schedule) noexcept;

// Product of `value` and `factor` in GF(2^8) with the AES polynomial, for
// factors below 32 (bits of `factor` above bit 4 are ignored).
[[nodiscard]] std::uint8_t GfMultiply(std::uint8_t value, std::uint8_t factor) noexcept;

}  // namespace tarvola::aes

#endif  // TARVOLA_AES_AES128_H
