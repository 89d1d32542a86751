// The bare block cipher: our AES-128 one block at a time over 1 MiB, beside
// OpenSSL's AES-128-ECB on the same data. Both sides set up their key once
// per iteration, as one mode-0 call does. The OpenSSL families also run at
// the mode-0 sizes, as the reference beside Encrypt/Decrypt mode 0.
#include <cstring>

#include "aes/aes128.h"
#include "bench_support.h"

namespace tarvola::bench {
namespace {

constexpr aes::Block kKey = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                             0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

std::vector<aes::Block> RandomBlocks(std::size_t size) {
    const auto bytes = RandomBytes(size, 1);
    std::vector<aes::Block> blocks(size / sizeof(aes::Block));
    std::memcpy(blocks.data(), bytes.data(), blocks.size() * sizeof(aes::Block));
    return blocks;
}

template <void (*Cipher)(aes::Block&, const aes::RoundKeySchedule&) noexcept>
void OwnBlocks(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    auto blocks = RandomBlocks(size);
    aes::RoundKeySchedule schedule{};
    for (auto _ : state) {
        aes::Aes128KeySchedule(schedule, kKey);
        for (auto& block : blocks) Cipher(block, schedule);
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state, size);
}

void AesEncryptBlocks(benchmark::State& state) {
    OwnBlocks<aes::Aes128EncryptBlock>(state);
}
void AesDecryptBlocks(benchmark::State& state) {
    OwnBlocks<aes::Aes128DecryptBlock>(state);
}

void OpenSslEcb(benchmark::State& state, int encrypt) {
    const auto size = static_cast<std::size_t>(state.range(0));
    auto data = RandomBytes(size, 1);
    const auto cipher = FetchCipher("AES-128-ECB");
    const CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!cipher || !ctx ||
        EVP_CipherInit_ex(ctx.get(), cipher.get(), nullptr, kKey.data(), nullptr, encrypt) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        Fail(state, "OpenSSL set-up failed");
        return;
    }
    for (auto _ : state) {
        int written = 0;
        if (EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, kKey.data(), nullptr, encrypt) != 1 ||
            EVP_CipherUpdate(ctx.get(), data.data(), &written, data.data(),
                             static_cast<int>(size)) != 1 ||
            static_cast<std::size_t>(written) != size) {
            Fail(state, "OpenSSL ECB failed");
            break;
        }
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state, size);
}

void OpenSslEcbEncrypt(benchmark::State& state) {
    OpenSslEcb(state, 1);
}
void OpenSslEcbDecrypt(benchmark::State& state) {
    OpenSslEcb(state, 0);
}

BENCHMARK(AesEncryptBlocks)->Arg(kLarge);
BENCHMARK(AesDecryptBlocks)->Arg(kLarge);
BENCHMARK(OpenSslEcbEncrypt)->Arg(kSmall)->Arg(kPage)->Arg(kLarge);
BENCHMARK(OpenSslEcbDecrypt)->Arg(kSmall)->Arg(kPage)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
