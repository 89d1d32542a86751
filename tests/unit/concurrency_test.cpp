// Calls from many threads at once share nothing: 8 threads mix both modes and
// both entry points and check every result.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tarvolacrypt.h"

namespace tarvola {
namespace {

// One thread's work: round trips whose texts, keys and modes depend on the
// thread and the iteration, so that a value leaking between calls shows.
int RoundTripFailures(int thread, int iterations) {
    int failures = 0;
    for (int i = 0; i < iterations; ++i) {
        const int32_t mode = (thread + i) % 2;
        const std::string key = "key-" + std::to_string(thread) + "-" + std::to_string(i % 7);
        const std::string text = "value " + std::to_string(thread) + "/" + std::to_string(i) +
                                 std::string(static_cast<std::size_t>(i % 40), 'x');
        std::string encrypted(256, '\0');
        std::string decrypted(256, '\0');
        if (Encrypt(text.c_str(), key.c_str(), encrypted.data(), mode) != 0 ||
            Decrypt(encrypted.c_str(), key.c_str(), decrypted.data(), mode) != 0 ||
            text != decrypted.c_str()) {
            ++failures;
        }
    }
    return failures;
}

TEST(Concurrency, EightThreadsMixingModesAndEntryPoints) {
    constexpr int kThreads = 8;
    constexpr int kIterations = 500;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] { failures += RoundTripFailures(t, kIterations); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace tarvola
