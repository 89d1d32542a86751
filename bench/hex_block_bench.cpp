// Encrypt and Decrypt in mode 0 through the shared library's entry points.
// Throughput counts plaintext bytes in both directions, so that it compares
// directly with the bare cipher (AesEncryptBlocks, AesDecryptBlocks) and
// with OpenSSL's ECB at the same size.
#include <string_view>

#include "bench_support.h"
#include "tarvolacrypt.h"

namespace tarvola::bench {
namespace {

constexpr const char* kKeyText = "mode-0 bench key";
constexpr std::size_t kHeaderLength = 8;

std::size_t CiphertextLength(std::size_t plaintext_length) {
    return kHeaderLength + 32 * ((plaintext_length + 15) / 16);
}

void Mode0Encrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string plaintext = RandomText(size, 2);
    std::vector<char> output(CiphertextLength(size) + 1);
    for (auto _ : state) {
        // Encrypt appends to the text already in the buffer.
        output[0] = '\0';
        if (Encrypt(plaintext.c_str(), kKeyText, output.data(), 0) != 0) {
            Fail(state, "Encrypt mode 0 failed");
            break;
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state, size);
}

void Mode0Decrypt(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string plaintext = RandomText(size, 2);
    std::vector<char> ciphertext(CiphertextLength(size) + 1);
    // Decrypt writes no terminator; the zero fill ends the plaintext, and
    // every iteration rewrites the same characters over it.
    std::vector<char> output(size + 1);
    if (Encrypt(plaintext.c_str(), kKeyText, ciphertext.data(), 0) != 0 ||
        Decrypt(ciphertext.data(), kKeyText, output.data(), 0) != 0 ||
        std::string_view(output.data()) != plaintext) {
        Fail(state, "mode 0 round trip failed");
        return;
    }
    for (auto _ : state) {
        if (Decrypt(ciphertext.data(), kKeyText, output.data(), 0) != 0) {
            Fail(state, "Decrypt mode 0 failed");
            break;
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state, size);
}

BENCHMARK(Mode0Encrypt)->Arg(kSmall)->Arg(kPage)->Arg(kLarge);
BENCHMARK(Mode0Decrypt)->Arg(kSmall)->Arg(kPage)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
