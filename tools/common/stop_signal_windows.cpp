#include <windows.h>

#include <atomic>
#include <csignal>

#include "common/stop_signal.h"

namespace tarvola::tool {
namespace {

std::atomic<int> g_stop_signal{0};

// Runs on a thread of its own. The first Ctrl+C or Ctrl+Break asks the run
// to stop; a second one falls through to the default handler, which ends the
// process. Closing the console ends it once the handler returns, so the
// handler waits a moment for the run to stop at a whole value.
BOOL WINAPI RecordStopEvent(DWORD event) {
    int none = 0;
    const int signal_number = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (!g_stop_signal.compare_exchange_strong(none, signal_number)) return FALSE;
    if (event == CTRL_CLOSE_EVENT) Sleep(2000);
    return TRUE;
}

}  // namespace

void CatchStopSignals() noexcept {
    SetConsoleCtrlHandler(RecordStopEvent, TRUE);
}

int StopSignal() noexcept {
    return g_stop_signal.load(std::memory_order_relaxed);
}

}  // namespace tarvola::tool
