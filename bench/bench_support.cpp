#include "bench_support.h"

#include <random>

namespace tarvola::bench {

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<unsigned> byte(0, 255);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(generator));
    return bytes;
}

std::string RandomText(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> printable(0x20, 0x7e);
    std::string text(size, ' ');
    for (auto& c : text) c = static_cast<char>(printable(generator));
    return text;
}

FetchedCipher FetchCipher(const char* name) {
    return FetchedCipher(EVP_CIPHER_fetch(nullptr, name, nullptr));
}

bool Fail(benchmark::State& state, const char* message) {
    state.SkipWithError(message);
    return false;
}

void SetThroughput(benchmark::State& state, std::size_t bytes_per_iteration) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes_per_iteration));
}

}  // namespace tarvola::bench
