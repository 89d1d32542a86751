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

BENCHMARK(BlockEncrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(BlockDecrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(SingleBlockEncrypt)->Arg(kShort)->Arg(kLarge);
BENCHMARK(SingleBlockDecrypt)->Arg(kShort)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
