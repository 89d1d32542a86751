// Shared pieces of the benchmarks: test data and OpenSSL helpers.
#ifndef TARVOLA_BENCH_BENCH_SUPPORT_H
#define TARVOLA_BENCH_BENCH_SUPPORT_H

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace tarvola::bench {

// The sizes every benchmark family runs at; the targets are checked at 32 B
// (per-call overhead) and 1 MiB (throughput).
inline constexpr std::int64_t kSmall = 32;
inline constexpr std::int64_t kPage = 4096;
inline constexpr std::int64_t kLarge = std::int64_t{1} << 20;

// Deterministic pseudo-random bytes, so that every run works on the same data.
std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed);

// A text of `size` printable, non-zero characters: what hosts encrypt.
std::string RandomText(std::size_t size, std::uint32_t seed);

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

struct CipherDeleter {
    void operator()(EVP_CIPHER* cipher) const noexcept { EVP_CIPHER_free(cipher); }
};
using FetchedCipher = std::unique_ptr<EVP_CIPHER, CipherDeleter>;

// Fetches `name` once, so that no benchmark loop pays for the provider look-up.
FetchedCipher FetchCipher(const char* name);

// Stops the benchmark with an error message; returns false so that a caller
// can `return Fail(...)` from a set-up check.
bool Fail(benchmark::State& state, const char* message);

// bytes_per_second from the bytes one iteration handles.
void SetThroughput(benchmark::State& state, std::size_t bytes_per_iteration);

}  // namespace tarvola::bench

#endif  // TARVOLA_BENCH_BENCH_SUPPORT_H
