// What the envelope scheme needs from the operating system, and nothing more.
//
// One backend per platform implements this header (OpenSSL's libcrypto and
// the kernel's random source on Linux; CNG, CryptoAPI and the process heap on
// Windows); CMake picks the backend, so no caller ever tests the platform.
//
// Every function opens, uses and releases its own provider objects within the
// call: nothing is cached, so calls from any number of threads are
// independent. Failures are reported as an empty optional or `false`, never by
// an exception, except std::bad_alloc on memory exhaustion.
#ifndef TARVOLA_PLATFORM_PLATFORM_H
#define TARVOLA_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/secret.h"

namespace tarvola::platform {

using ByteVector = std::vector<std::uint8_t>;

// The AES block length; a backend whose provider reports anything else fails.
inline constexpr std::size_t kAesBlockLength = 16;

// Fills `out` from the operating system's preferred cryptographic random
// generator in one draw. False when the generator fails.
[[nodiscard]] bool FillRandom(std::span<std::uint8_t> out) noexcept;

// AES-CBC encryption with PKCS #7 padding: the result is the plaintext length
// rounded up to the next multiple of 16, a whole extra block when it already
// is one. `key` MUST be 16 bytes (AES-128) or 32 bytes (AES-256); any other
// size fails without reaching the provider.
[[nodiscard]] std::optional<ByteVector> CbcEncryptPadded(
    std::span<const std::uint8_t> key, std::span<const std::uint8_t, kAesBlockLength> iv,
    std::span<const std::uint8_t> plaintext);

// AES-CBC decryption of whole blocks WITHOUT removing any padding: the caller
// checks and strips it, so that the padding rule is the same on every
// platform. `ciphertext` MUST be a non-zero multiple of 16 bytes long; `key`
// as for CbcEncryptPadded.
[[nodiscard]] std::optional<SecretBytes> CbcDecryptBlocks(
    std::span<const std::uint8_t> key, std::span<const std::uint8_t, kAesBlockLength> iv,
    std::span<const std::uint8_t> ciphertext);

}  // namespace tarvola::platform

#endif  // TARVOLA_PLATFORM_PLATFORM_H
