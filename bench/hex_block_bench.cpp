// Encrypt and Decrypt in mode 0 through the shared library's entry points,
// beside OpenSSL's AES-128-ECB at every size and beside our bare block cipher
// at 1 MiB: there the difference is what the text format costs. Both sides
// count plaintext bytes.
#include <string_view>

#include "bench_support.h"
#include "tarvolacrypt.h"

namespace tarvola::bench {
namespace {

constexpr const char* kKeyText = "mode-0 bench key";

std::size_t CiphertextLength(std::size_t plaintext_length) {
    return TARVOLA_ENCRYPT_SIZE_MODE0(plaintext_length) - 1;
}

Work Mode0Encrypt(std::size_t size) {
    auto plaintext = std::make_shared<const std::string>(RandomText(size, 2));
    auto output = std::make_shared<std::vector<char>>(CiphertextLength(size) + 1);
    return [plaintext, output] {
        // Encrypt appends to the text already in the buffer.
        (*output)[0] = '\0';
        const bool ok = Encrypt(plaintext->c_str(), kKeyText, output->data(), 0) == 0;
        benchmark::DoNotOptimize(output->data());
        benchmark::ClobberMemory();
        return ok;
    };
}

Work Mode0Decrypt(std::size_t size) {
    const std::string plaintext = RandomText(size, 2);
    auto ciphertext = std::make_shared<std::vector<char>>(CiphertextLength(size) + 1);
    // Decrypt writes no terminator; the zero fill ends the plaintext, and
    // every run rewrites the same characters over it.
    auto output = std::make_shared<std::vector<char>>(size + 1);
    if (Encrypt(plaintext.c_str(), kKeyText, ciphertext->data(), 0) != 0 ||
        Decrypt(ciphertext->data(), kKeyText, output->data(), 0) != 0 ||
        std::string_view(output->data()) != plaintext) {
        return nullptr;
    }
    return [ciphertext, output] {
        const bool ok = Decrypt(ciphertext->data(), kKeyText, output->data(), 0) == 0;
        benchmark::DoNotOptimize(output->data());
        benchmark::ClobberMemory();
        return ok;
    };
}

void Mode0EncryptVsOpenSslEcb(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, Mode0Encrypt(size), OpenSslEcb(size, true));
}

void Mode0DecryptVsOpenSslEcb(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, Mode0Decrypt(size), OpenSslEcb(size, false));
}

void Mode0EncryptVsOwnCipher(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, Mode0Encrypt(size), OwnBlockCipher(size, true));
}

void Mode0DecryptVsOwnCipher(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, Mode0Decrypt(size), OwnBlockCipher(size, false));
}

BENCHMARK(Mode0EncryptVsOpenSslEcb)->Arg(kSmall)->Arg(kPage)->Arg(kLarge);
BENCHMARK(Mode0DecryptVsOpenSslEcb)->Arg(kSmall)->Arg(kPage)->Arg(kLarge);
BENCHMARK(Mode0EncryptVsOwnCipher)->Arg(kLarge);
BENCHMARK(Mode0DecryptVsOwnCipher)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
