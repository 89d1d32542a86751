#include <signal.h>

#include <atomic>

#include "common/stop_signal.h"

namespace tarvola::tool {
namespace {

// Set by the handler below, read wherever a run may stop.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void RecordStopSignal(int signal_number) {
    int none = 0;
    g_stop_signal.compare_exchange_strong(none, signal_number);
}

}  // namespace

void CatchStopSignals() noexcept {
    struct sigaction stop {};
    stop.sa_handler = RecordStopSignal;
    sigemptyset(&stop.sa_mask);
    // SA_RESETHAND: the second signal finds the default action and ends the
    // process, should the run be blocked waiting for input.
    stop.sa_flags = static_cast<int>(SA_RESETHAND | SA_RESTART);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
}

int StopSignal() noexcept {
    return g_stop_signal.load(std::memory_order_relaxed);
}

}  // namespace tarvola::tool
