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

// An expanded key, as the cipher functions below use it; its layout is the
// cipher's own business (aes_internal.h). It holds key material: keep it in
// wiped storage (it is a plain value, so platform::Wiped<Aes128Key> works).
class Aes128Key {
  public:
    Aes128Key() = default;

  private:
    friend struct Aes128KeyLayout;
    std::array<std::uint8_t, 176> round_keys_{};
};

// Expands the 16 key bytes into `key`, overwriting all of it. Any key is valid.
void Aes128ExpandKey(Aes128Key& key, const Block& cipher_key) noexcept;

// Encrypts `block` in place.
void Aes128EncryptBlock(Block& block, const Aes128Key& key) noexcept;

// Decrypts `block` in place; undoes Aes128EncryptBlock for the same key.
void Aes128DecryptBlock(Block& block, const Aes128Key& key) noexcept;

// Encrypts `count` consecutive blocks (16 * count bytes) from `in` to `out`,
// each on its own with the same key: the results are exactly those of
// Aes128EncryptBlock. `in` and `out` MUST be the same buffer or not overlap.
// From four blocks on they run much faster than one at a time (two blocks
// share each 64-bit word).
//
// Intermediate states and the round keys rearranged for this are left in the
// function's stack frame (two 256-byte buffers for a group of blocks, 352
// bytes of round keys by rows, spills): a caller holding secrets wipes the
// stack below its own frame afterwards with platform::WipeCalleeStack, whose
// reach (platform::kCalleeStackBytes) MUST cover this frame. aes128_rows.cpp
// checks that at compile time for its buffers; whoever deepens the cipher
// (larger groups, more buffers) raises that constant with it.
void Aes128EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept;

// Decrypts `count` consecutive blocks, exactly as Aes128DecryptBlock would;
// same rules as Aes128EncryptBlocks.
void Aes128DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                         const Aes128Key& key) noexcept;

}  // namespace tarvola::aes

#endif  // TARVOLA_AES_AES128_H
