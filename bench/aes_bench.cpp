// The bare block cipher: our AES-128 over 1 MiB beside OpenSSL's AES-128-ECB
// on the same data, as the multi-block functions that mode 0 uses and as the
// single-block functions, which 32-bit targets use for every block.
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

void SingleBlockEncrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, true, true), OpenSslEcb(size, true));
}

void SingleBlockDecrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, false, true), OpenSslEcb(size, false));
}

// Our decryption beside our encryption of the same blocks: how far the
// inverse cipher lags the forward one, a ratio that a loaded machine
// distorts less than either speed.
void BlockDecryptVsEncrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, false), OwnBlockCipher(size, true));
}

void SingleBlockDecryptVsEncrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, false, true), OwnBlockCipher(size, true, true));
}

BENCHMARK(BlockEncrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(BlockDecrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(SingleBlockEncrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(SingleBlockDecrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(BlockDecryptVsEncrypt)->Arg(kLarge);
BENCHMARK(SingleBlockDecryptVsEncrypt)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
