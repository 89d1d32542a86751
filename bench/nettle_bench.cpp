// The block cipher beside nettle's AES-128, a table cipher (four 1 KiB
// tables per direction, where ours has the two 256-byte S-boxes), in two
// builds:
//
// - nettle's generic C rounds, compiled from nettle's source with our
//   compiler and flags (bench/CMakeLists.txt, when TARVOLA_NETTLE_SOURCE_DIR
//   names the source), the yardstick of our speed;
// - the installed libnettle. Its AES-NI path must be off: a fat build of
//   nettle, such as Debian's, leaves it off when the environment variable
//   NETTLE_FAT_OVERRIDE names no processor feature at start-up
//   (scripts/bench.sh sets it), and these benchmarks do not run without it.
//   What is left in Debian's amd64 build is nettle's x86-64 assembly of the
//   table rounds, not its C code.
//
// Both take their key set-up from the installed library (C code in every
// build), so the two differ only in the rounds.
#include <nettle/aes.h>

#include <cstdlib>
#include <string>

#include "bench_support.h"

#ifdef TARVOLA_NETTLE_C
// nettle's aes128_encrypt and aes128_decrypt from its source, renamed.
extern "C" {
void tarvola_nettle_c_aes128_encrypt(const aes128_ctx* ctx, std::size_t length, std::uint8_t* dst,
                                     const std::uint8_t* src);
void tarvola_nettle_c_aes128_decrypt(const aes128_ctx* ctx, std::size_t length, std::uint8_t* dst,
                                     const std::uint8_t* src);
}
#endif

namespace tarvola::bench {
namespace {

using NettleRun = void (*)(const aes128_ctx*, std::size_t, std::uint8_t*, const std::uint8_t*);

struct NettleBuild {
    NettleRun encrypt;
    NettleRun decrypt;
    bool fat;  // dispatches at start-up: needs NETTLE_FAT_OVERRIDE
};

constexpr NettleBuild kLibnettle{nettle_aes128_encrypt, nettle_aes128_decrypt, true};

// nettle's AES-128 over the same data as OwnBlockCipher, the key set up on
// every run as ours is (for decryption that includes inverting it).
Work NettleAes(const NettleBuild& build, std::size_t size, bool encrypt) {
    auto data = std::make_shared<std::vector<std::uint8_t>>(RandomBytes(size, 1));
    auto ctx = std::make_shared<aes128_ctx>();
    const NettleRun run = encrypt ? build.encrypt : build.decrypt;
    return [data, ctx, encrypt, run] {
        std::uint8_t* const bytes = data->data();
        if (encrypt) {
            nettle_aes128_set_encrypt_key(ctx.get(), kBlockKey.data());
        } else {
            nettle_aes128_set_decrypt_key(ctx.get(), kBlockKey.data());
        }
        run(ctx.get(), data->size(), bytes, bytes);
        benchmark::DoNotOptimize(bytes);
        benchmark::ClobberMemory();
        return true;
    };
}

void RunAgainstNettle(benchmark::State& state, const NettleBuild& build, bool encrypt,
                      bool one_at_a_time) {
    if (build.fat && std::getenv("NETTLE_FAT_OVERRIDE") == nullptr) {
        state.SkipWithError("NETTLE_FAT_OVERRIDE is unset: nettle may run AES-NI");
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, OwnBlockCipher(size, encrypt, one_at_a_time),
              NettleAes(build, size, encrypt));
}

// Each of our forms (Block: the multi-block functions, SingleBlock) in each
// direction beside `build`, named e.g. BlockDecrypt<suffix>.
bool RegisterAgainst(const NettleBuild& build, const std::string& suffix) {
    for (const bool one_at_a_time : {false, true}) {
        for (const bool encrypt : {true, false}) {
            const std::string name = std::string(one_at_a_time ? "SingleBlock" : "Block") +
                                     (encrypt ? "Encrypt" : "Decrypt") + suffix;
            benchmark::RegisterBenchmark(name.c_str(),
                                         [&build, encrypt, one_at_a_time](benchmark::State& state) {
                                             RunAgainstNettle(state, build, encrypt, one_at_a_time);
                                         })
                ->Arg(kShort)
                ->Arg(kLarge);
        }
    }
    return true;
}

#ifdef TARVOLA_NETTLE_C
constexpr NettleBuild kNettleC{tarvola_nettle_c_aes128_encrypt, tarvola_nettle_c_aes128_decrypt,
                               false};
[[maybe_unused]] const bool kNettleCRegistered = RegisterAgainst(kNettleC, "VsNettleC");
#endif
[[maybe_unused]] const bool kLibnettleRegistered = RegisterAgainst(kLibnettle, "VsLibnettle");

}  // namespace
}  // namespace tarvola::bench
