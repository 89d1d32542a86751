#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "aes/aes128.h"

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

Work OwnBlockCipher(std::size_t size, bool encrypt, bool one_at_a_time) {
    auto data = std::make_shared<std::vector<std::uint8_t>>(RandomBytes(size, 1));
    auto schedule = std::make_shared<aes::Aes128Key>();
    const std::size_t count = size / sizeof(aes::Block);
    return [data, schedule, count, encrypt, one_at_a_time] {
        aes::Aes128ExpandKey(*schedule, kBlockKey);
        std::uint8_t* const bytes = data->data();
        if (!one_at_a_time) {
            if (encrypt) {
                aes::Aes128EncryptBlocks(bytes, bytes, count, *schedule);
            } else {
                aes::Aes128DecryptBlocks(bytes, bytes, count, *schedule);
            }
        }
        for (std::size_t i = 0; one_at_a_time && i < count; ++i) {
            aes::Block block;
            std::memcpy(block.data(), bytes + i * block.size(), block.size());
            if (encrypt) {
                aes::Aes128EncryptBlock(block, *schedule);
            } else {
                aes::Aes128DecryptBlock(block, *schedule);
            }
            std::memcpy(bytes + i * block.size(), block.data(), block.size());
        }
        benchmark::DoNotOptimize(data->data());
        benchmark::ClobberMemory();
        return true;
    };
}

Work OpenSslEcb(std::size_t size, bool encrypt) {
    auto data = std::make_shared<std::vector<std::uint8_t>>(RandomBytes(size, 1));
    const std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), CipherContextDeleter{});
    const int direction = encrypt ? 1 : 0;
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, kBlockKey.data(), nullptr,
                          direction) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        return nullptr;
    }
    return [data, ctx, direction] {
        int written = 0;
        if (EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, kBlockKey.data(), nullptr, direction) !=
                1 ||
            EVP_CipherUpdate(ctx.get(), data->data(), &written, data->data(),
                             static_cast<int>(data->size())) != 1) {
            return false;
        }
        benchmark::DoNotOptimize(data->data());
        benchmark::ClobberMemory();
        return static_cast<std::size_t>(written) == data->size();
    };
}

void RunPaired(benchmark::State& state, std::size_t bytes, const Work& ours, const Work& theirs) {
    if (!ours || !theirs) {
        state.SkipWithError("set-up failed");
        return;
    }
    using Clock = std::chrono::steady_clock;
    auto ours_fastest = Clock::duration::max();
    auto theirs_fastest = Clock::duration::max();
    const auto timed = [](const Work& work, Clock::duration& fastest) {
        const auto start = Clock::now();
        const bool ok = work();
        fastest = std::min(fastest, Clock::now() - start);
        return ok;
    };
    bool ours_first = true;
    for (auto _ : state) {
        const bool ok = ours_first ? timed(ours, ours_fastest) && timed(theirs, theirs_fastest)
                                   : timed(theirs, theirs_fastest) && timed(ours, ours_fastest);
        if (!ok) {
            state.SkipWithError("the work failed");
            return;
        }
        ours_first = !ours_first;
    }
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    state.counters["time_ratio"] = seconds(ours_fastest) / seconds(theirs_fastest);
    state.counters["ours"] = benchmark::Counter(static_cast<double>(bytes) / seconds(ours_fastest));
    state.counters["theirs"] =
        benchmark::Counter(static_cast<double>(bytes) / seconds(theirs_fastest));
}

}  // namespace tarvola::bench
