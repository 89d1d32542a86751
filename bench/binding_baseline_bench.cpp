// The C calls the language bindings are measured against
// (scripts/bench-bindings.sh): Encrypt and Decrypt in both modes at 64 B and
// 1 MiB, each with what the header asks of every C caller and nothing more:
// a buffer of the macro's size, reused, its first byte reset before a mode-0
// Encrypt and all of it zero-filled before a mode-0 Decrypt.
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tarvolacrypt.h"

namespace tarvola::bench {
namespace {

// What every binding benchmark encrypts: printable ASCII counting up, and a
// key text under 16 characters (AES-128 in both modes).
constexpr const char* kKeyText = "bench key";

std::string BenchText(std::size_t size) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(0x20 + i % 95);
    return text;
}

std::size_t EncryptSize(std::size_t n, std::int32_t mode) {
    return mode == 0 ? TARVOLA_ENCRYPT_SIZE_MODE0(n) : TARVOLA_ENCRYPT_SIZE_MODE1(n);
}

void CEncrypt(benchmark::State& state, std::int32_t mode) {
    const std::string text = BenchText(static_cast<std::size_t>(state.range(0)));
    std::vector<char> output(EncryptSize(text.size(), mode));
    for (auto _ : state) {
        output[0] = '\0';
        if (Encrypt(text.c_str(), kKeyText, output.data(), mode) != 0)
            state.SkipWithError("failed");
        benchmark::DoNotOptimize(output.data());
    }
}

void CDecrypt(benchmark::State& state, std::int32_t mode) {
    const std::string text = BenchText(static_cast<std::size_t>(state.range(0)));
    std::vector<char> value(EncryptSize(text.size(), mode));
    if (Encrypt(text.c_str(), kKeyText, value.data(), mode) != 0) state.SkipWithError("failed");
    const std::size_t length = std::strlen(value.data());
    const std::size_t size =
        mode == 0 ? TARVOLA_DECRYPT_SIZE_MODE0(length)
                  : TARVOLA_DECRYPT_SIZE_MODE1(length - std::strcspn(value.data(), "$") - 1);
    std::vector<char> output(size);
    for (auto _ : state) {
        if (mode == 0) std::memset(output.data(), 0, output.size());
        if (Decrypt(value.data(), kKeyText, output.data(), mode) != 0)
            state.SkipWithError("failed");
        benchmark::DoNotOptimize(output.data());
    }
}

BENCHMARK_CAPTURE(CEncrypt, mode0, 0)->Arg(kShort)->Arg(kLarge);
BENCHMARK_CAPTURE(CEncrypt, mode1, 1)->Arg(kShort)->Arg(kLarge);
BENCHMARK_CAPTURE(CDecrypt, mode0, 0)->Arg(kShort)->Arg(kLarge);
BENCHMARK_CAPTURE(CDecrypt, mode1, 1)->Arg(kShort)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
