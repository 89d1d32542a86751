// The bare block cipher: our AES-128 one block at a time over 1 MiB, beside
// OpenSSL's AES-128-ECB on the same data.
#include "bench_support.h"

namespace tarvola::bench {
namespace {

void BlockEncrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, true), OpenSslEcb(size, true));
}

void BlockDecrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, false), OpenSslEcb(size, false));
}

BENCHMARK(BlockEncrypt)->Arg(kLarge);
BENCHMARK(BlockDecrypt)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
