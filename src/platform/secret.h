// Memory that holds secrets: key blocks, round keys, key material, plaintext.
//
// Everything here wipes its memory before releasing it, on every exit path,
// so that no secret survives in freed heap blocks or dead stack frames.
#ifndef TARVOLA_PLATFORM_SECRET_H
#define TARVOLA_PLATFORM_SECRET_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tarvolacrypt.hpp"

namespace tarvola::platform {

// Overwrites `size` bytes at `data` with zeros in a way the compiler cannot
// drop as a dead store. Accepts a null pointer when size is 0.
void SecureWipe(void* data, std::size_t size) noexcept;

// Overwrites the stack area below the caller's frame, where the functions it
// called may have spilled key, round-key or state words that no Wiped<>
// reaches (round key 0 is the key itself). Call it after the last call that
// handled secrets: whatever the compiler chose to spill is gone. The area
// covers the deepest such call chain in this library, the multi-block cipher
// (about 1.2 KiB on x86-64 with GCC 12 and clang 14, frames checked with
// -fstack-usage), with room to spare; aes/aes128_rows.cpp fails to compile
// if its buffers outgrow it.
void WipeCalleeStack() noexcept;
inline constexpr std::size_t kCalleeStackBytes = 2048;

// The public header's wiping allocator, zeroing with SecureWipe, which is
// faster on large blocks than the header's byte loop.
struct PlatformWiper {
    void operator()(void* data, std::size_t size) const noexcept { SecureWipe(data, size); }
};
template <class T>
using WipingAllocator = wiping_allocator<T, PlatformWiper>;

// Bytes that must not outlive their owner: key material, decrypted text.
using SecretBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// A fixed-size secret (a key block, a round-key schedule) wiped when it goes
// out of scope. Not copyable, so that no unwiped copy can be made by accident.
template <class T>
struct Wiped {
    T value{};

    Wiped() = default;
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    ~Wiped() { SecureWipe(&value, sizeof value); }
};

}  // namespace tarvola::platform

#endif  // TARVOLA_PLATFORM_SECRET_H
