// A stop asked for by the user: SIGINT and SIGTERM (on Windows Ctrl+C,
// Ctrl+Break and the console closing) only ask the run to stop, which every
// layer looks at where it can stop cleanly: after a whole value, before a
// commit, while a statement waits. One implementation per platform
// (stop_signal_posix.cpp, stop_signal_windows.cpp).
#ifndef TARVOLA_TOOLS_COMMON_STOP_SIGNAL_H
#define TARVOLA_TOOLS_COMMON_STOP_SIGNAL_H

namespace tarvola::tool {

// From here on a stop signal is recorded instead of ending the process. A
// second signal of the same kind ends the process at once, for input that
// never comes.
void CatchStopSignals() noexcept;

// The signal that asked the run to stop (SIGINT's 2, SIGTERM's 15), 0 while
// none did. Safe to call from any thread.
[[nodiscard]] int StopSignal() noexcept;

// The exit status of a run stopped by `signal`, as shells report one killed
// by it: 130 for SIGINT, 143 for SIGTERM.
[[nodiscard]] constexpr int StoppedRunStatus(int signal) noexcept {
    return 128 + signal;
}

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_COMMON_STOP_SIGNAL_H
