// The block cipher beside nettle's AES-128, a table cipher (four 1 KiB
// tables per direction, where ours has the two 256-byte S-boxes). nettle's
// AES-NI path must be off: a fat build of nettle, such as Debian's, leaves it
// off when the environment variable NETTLE_FAT_OVERRIDE names no processor
// feature at start-up (scripts/bench.sh sets it), and these benchmarks do not
// run without it. What is left in Debian's amd64 build is nettle's x86-64
// assembly of the table rounds, not its C code.
#include <nettle/aes.h>

#include <cstdlib>

#include "bench_support.h"

namespace tarvola::bench {
namespace {

// nettle's AES-128 over the same data as OwnBlockCipher, the key set up on
// every run as ours is (for decryption that includes inverting it).
Work NettleAes(std::size_t size, bool encrypt) {
    auto data = std::make_shared<std::vector<std::uint8_t>>(RandomBytes(size, 1));
    auto ctx = std::make_shared<aes128_ctx>();
    return [data, ctx, encrypt] {
        std::uint8_t* const bytes = data->data();
        if (encrypt) {
            nettle_aes128_set_encrypt_key(ctx.get(), kBlockKey.data());
            nettle_aes128_encrypt(ctx.get(), data->size(), bytes, bytes);
        } else {
            nettle_aes128_set_decrypt_key(ctx.get(), kBlockKey.data());
            nettle_aes128_decrypt(ctx.get(), data->size(), bytes, bytes);
        }
        benchmark::DoNotOptimize(bytes);
        benchmark::ClobberMemory();
        return true;
    };
}

void RunAgainstNettle(benchmark::State& state, bool encrypt, bool one_at_a_time) {
    if (std::getenv("NETTLE_FAT_OVERRIDE") == nullptr) {
        state.SkipWithError("NETTLE_FAT_OVERRIDE is unset: nettle may run AES-NI");
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, encrypt, one_at_a_time), NettleAes(size, encrypt));
}

void BlockEncryptVsNettle(benchmark::State& state) {
    RunAgainstNettle(state, true, false);
}

void BlockDecryptVsNettle(benchmark::State& state) {
    RunAgainstNettle(state, false, false);
}

void SingleBlockEncryptVsNettle(benchmark::State& state) {
    RunAgainstNettle(state, true, true);
}

void SingleBlockDecryptVsNettle(benchmark::State& state) {
    RunAgainstNettle(state, false, true);
}

BENCHMARK(BlockEncryptVsNettle)->Arg(kShort)->Arg(kLarge);
BENCHMARK(BlockDecryptVsNettle)->Arg(kShort)->Arg(kLarge);
BENCHMARK(SingleBlockEncryptVsNettle)->Arg(kShort)->Arg(kLarge);
BENCHMARK(SingleBlockDecryptVsNettle)->Arg(kShort)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
