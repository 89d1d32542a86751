#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <array>
#include <cerrno>
#include <cstdlib>

#include "cli/platform.h"

namespace tarvola::tool {
namespace {

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

int WriteAll(int descriptor, const char* data, std::size_t size) noexcept {
    while (size > 0) {
        const ssize_t written = write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// The terminal and its settings to put back if a signal ends the process
// while echo is off; only the handler below reads them.
int g_terminal = -1;
struct termios g_saved_settings;

extern "C" void RestoreEchoAndReraise(int signal_number) {
    tcsetattr(g_terminal, TCSANOW, &g_saved_settings);
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

class EchoOff {
  public:
    explicit EchoOff(int terminal) {
        if (tcgetattr(terminal, &g_saved_settings) != 0) return;
        g_terminal = terminal;
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
        active_ = tcsetattr(terminal, TCSAFLUSH, &quiet) == 0;
        if (!active_) RestoreHandlers();
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() {
        if (!active_) return;
        tcsetattr(g_terminal, TCSAFLUSH, &g_saved_settings);
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

class Descriptor {
  public:
    explicit Descriptor(int descriptor) noexcept : descriptor_(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (descriptor_ >= 0) close(descriptor_);
    }
    [[nodiscard]] int get() const noexcept { return descriptor_; }

  private:
    int descriptor_;
};

// Byte by byte, so that no stream buffer keeps a copy of the key. End of
// input (Ctrl-D) before anything was typed gives nothing.
std::optional<SecretText> ReadLineFrom(int terminal) {
    SecretText line;
    char byte = 0;
    bool got_any = false;
    for (;;) {
        const ssize_t count = read(terminal, &byte, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0 || byte == '\n') break;
        got_any = true;
        line.value().push_back(byte);
    }
    got_any = got_any || byte == '\n';
    secure_wipe(&byte, sizeof byte);
    if (!got_any) return std::nullopt;
    // A terminal in raw-ish mode may deliver a CR before the LF.
    if (!line.view().empty() && line.view().back() == '\r') line.value().pop_back();
    return line;
}

}  // namespace

bool IsTerminal(StandardStream stream) noexcept {
    return isatty(DescriptorOf(stream)) != 0;
}

void KeepMemoryOutOfDumps() noexcept {
    const struct rlimit none {};
    setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

void UseBinaryStandardStreams() noexcept {}

std::span<char*> ArgumentsAsUtf8(int argc, char** argv, ArgumentStorage& /*storage*/) {
    return {argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)};
}

std::optional<SecretText> EnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return SecretText(value);
}

int ReadFromStandardInput(char* data, std::size_t size, std::size_t& got) noexcept {
    got = 0;
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, data, size);
        if (count >= 0) {
            got = static_cast<std::size_t>(count);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int WriteToStandardOutput(const char* data, std::size_t size) noexcept {
    return WriteAll(STDOUT_FILENO, data, size);
}

std::string_view KeyArgumentRisk() noexcept {
    return "--key shows the key to other users in the process list and keeps it in the shell "
           "history; use --key-file or --key-env";
}

bool ReadableByOthers(const std::string& path) noexcept {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

std::string_view DatabaseArgumentRisk() noexcept {
    return "--db holds a password, which other users can see in the process list and which "
           "stays in the shell history; use --db-file or --db-env (or, for PostgreSQL, "
           "PGPASSWORD or ~/.pgpass)";
}

HiddenLine ReadHiddenLine(std::string_view prompt) {
    const Descriptor terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (terminal.get() < 0) return HiddenLine{std::nullopt, true};
    std::optional<SecretText> line;
    {
        // Echo goes off before the prompt shows, so that nothing typed after
        // it can be echoed.
        const EchoOff echo_off(terminal.get());
        (void)WriteAll(terminal.get(), prompt.data(), prompt.size());
        line = ReadLineFrom(terminal.get());
    }
    (void)WriteAll(terminal.get(), "\n", 1);
    return HiddenLine{std::move(line), false};
}

}  // namespace tarvola::tool
