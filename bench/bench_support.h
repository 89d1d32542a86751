// Shared pieces of the benchmarks: test data, the paired runner and the two
// block ciphers every comparison is made against.
#ifndef TARVOLA_BENCH_BENCH_SUPPORT_H
#define TARVOLA_BENCH_BENCH_SUPPORT_H

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace tarvola::bench {

// The sizes the benchmarks run at; the targets are checked at 32 B and 64 B
// (per-call overhead) and 1 MiB (throughput).
inline constexpr std::int64_t kSmall = 32;
inline constexpr std::int64_t kShort = 64;
inline constexpr std::int64_t kPage = 4096;
inline constexpr std::int64_t kLarge = std::int64_t{1} << 20;

// The AES-128 key of every block cipher benchmark (FIPS-197's example key).
inline constexpr std::array<std::uint8_t, 16> kBlockKey = {
    0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

// Deterministic pseudo-random bytes, so that every run works on the same data.
std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed);

// A text of `size` printable, non-zero characters: what hosts encrypt.
std::string RandomText(std::size_t size, std::uint32_t seed);

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

// One side of a comparison: does its work once on data it owns; false when
// the work failed.
using Work = std::function<bool()>;

// Our AES-128 over `size` bytes of blocks after one key expansion, as a
// mode-0 call does: all blocks in one multi-block call, or (`one_at_a_time`)
// one single-block call each, the form 32-bit targets keep.
Work OwnBlockCipher(std::size_t size, bool encrypt, bool one_at_a_time = false);

// OpenSSL's AES-128-ECB (EVP) over the same data, with the key set up once
// per run of the work, like ours. Null when OpenSSL cannot be set up.
Work OpenSslEcb(std::size_t size, bool encrypt);

// Runs `ours` and `theirs` alternately, in alternating order, each timed on
// its own, so that both see the same machine: a shared machine's speed drifts
// by more than the differences measured here, and separate benchmarks would
// compare different moments. Each side is judged by its fastest call: on a
// shared machine many calls lose time to other work (preemption,
// interrupts) by amounts that swamp the differences measured, and the
// fastest call of each side is the least disturbed one. A processor that is
// slower throughout (a busy sibling thread) still shows in it. Reports the
// counters
//   time_ratio    our fastest time over theirs (below 1: we are faster);
//   ours, theirs  bytes per second of each side's fastest call.
void RunPaired(benchmark::State& state, std::size_t bytes, const Work& ours, const Work& theirs);

}  // namespace tarvola::bench

#endif  // TARVOLA_BENCH_BENCH_SUPPORT_H
