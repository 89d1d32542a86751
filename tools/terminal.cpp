#include "terminal.h"

#include <array>
#include <iostream>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <stdio.h>
#include <windows.h>
#else
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace tarvola::tool {
namespace {

// std::getline leaves the line end out; a terminal in raw-ish modes or a
// Windows console may still deliver a CR.
std::optional<SecretText> ReadLine(std::string_view prompt) {
    std::cerr << prompt << std::flush;
    SecretText line;
    const bool got = static_cast<bool>(std::getline(std::cin, line.value()));
    std::cerr << '\n';
    if (!got) return std::nullopt;
    if (!line.value().empty() && line.value().back() == '\r') line.value().pop_back();
    return line;
}

#if defined(_WIN32)

int DescriptorOf(StandardStream stream) noexcept {
    switch (stream) {
        case StandardStream::kInput:
            return _fileno(stdin);
        case StandardStream::kOutput:
            return _fileno(stdout);
        case StandardStream::kError:
            return _fileno(stderr);
    }
    return -1;
}

class EchoOff {
  public:
    EchoOff() : console_(GetStdHandle(STD_INPUT_HANDLE)) {
        saved_ok_ = GetConsoleMode(console_, &saved_) != 0;
        if (saved_ok_) SetConsoleMode(console_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() {
        if (saved_ok_) SetConsoleMode(console_, saved_);
    }

  private:
    HANDLE console_;
    DWORD saved_ = 0;
    bool saved_ok_ = false;
};

}  // namespace

bool IsTerminal(StandardStream stream) noexcept {
    return _isatty(DescriptorOf(stream)) != 0;
}

#else

int DescriptorOf(StandardStream stream) noexcept {
    switch (stream) {
        case StandardStream::kInput:
            return STDIN_FILENO;
        case StandardStream::kOutput:
            return STDOUT_FILENO;
        case StandardStream::kError:
            return STDERR_FILENO;
    }
    return -1;
}

// The terminal settings to put back if a signal ends the process while echo
// is off; only the handler below reads it.
struct termios g_saved_settings;

extern "C" void RestoreEchoAndReraise(int signal_number) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_settings);
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

class EchoOff {
  public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &g_saved_settings) != 0) return;
        struct sigaction restore {};
        restore.sa_handler = RestoreEchoAndReraise;
        sigemptyset(&restore.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            sigaction(kSignals[i], &restore, &previous_[i]);
        }
        struct termios quiet = g_saved_settings;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        // TCSAFLUSH drops anything typed before the prompt, as password
        // prompts do, so that it cannot end up in the key.
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        if (!active_) RestoreHandlers();
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() {
        if (!active_) return;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_settings);
        RestoreHandlers();
    }

  private:
    static constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

    void RestoreHandlers() noexcept {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }

    std::array<struct sigaction, kSignals.size()> previous_{};
    bool active_ = false;
};

}  // namespace

bool IsTerminal(StandardStream stream) noexcept {
    return isatty(DescriptorOf(stream)) != 0;
}

#endif

std::optional<SecretText> ReadHiddenLine(std::string_view prompt) {
    const EchoOff echo_off;
    return ReadLine(prompt);
}

}  // namespace tarvola::tool
