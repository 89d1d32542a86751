// Windows: arguments and environment arrive as UTF-16 and are converted to
// UTF-8, so that a key gives the same bytes as on Linux; standard streams are
// binary, so that a Ctrl+Z byte or a CR is data; the key prompt uses the
// console itself and restores its echo from a console control handler.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/platform.h"

namespace tarvola::tool {
namespace {

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

// UTF-8 of `count` UTF-16 units, written into a string of type Text.
template <class Text>
Text ToUtf8(const wchar_t* wide, int count) {
    Text text;
    if (count <= 0) return text;
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return text;
    text.resize(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide, count, text.data(), size, nullptr, nullptr);
    return text;
}

std::wstring ToWide(const std::string& text) {
    std::wstring wide;
    const int count = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), count, nullptr, 0);
    if (size <= 0) return wide;
    wide.resize(static_cast<std::size_t>(size));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), count, wide.data(), size);
    return wide;
}

int WideLength(const wchar_t* wide) noexcept {
    const std::size_t length = wcslen(wide);
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

// The console and its mode to put back if Ctrl+C ends the process while echo
// is off; the control handler runs on a thread of its own.
HANDLE g_console = INVALID_HANDLE_VALUE;
DWORD g_saved_mode = 0;

BOOL WINAPI RestoreEchoOnInterrupt(DWORD /*event*/) {
    SetConsoleMode(g_console, g_saved_mode);
    return FALSE;  // the default handler ends the process
}

class EchoOff {
  public:
    explicit EchoOff(HANDLE console) {
        if (GetConsoleMode(console, &g_saved_mode) == 0) return;
        g_console = console;
        SetConsoleCtrlHandler(RestoreEchoOnInterrupt, TRUE);
        active_ =
            SetConsoleMode(console, g_saved_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    ~EchoOff() {
        if (active_) SetConsoleMode(g_console, g_saved_mode);
        SetConsoleCtrlHandler(RestoreEchoOnInterrupt, FALSE);
    }

  private:
    bool active_ = false;
};

// Ends a crashing process before Windows Error Reporting takes a dump of
// its memory.
LONG WINAPI EndWithoutDump(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

class Handle {
  public:
    explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid()) CloseHandle(handle_);
    }
    [[nodiscard]] HANDLE get() const noexcept { return handle_; }
    [[nodiscard]] bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

HANDLE OpenConsole(const wchar_t* name) noexcept {
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

void WriteToConsole(HANDLE console, std::string_view text) noexcept {
    DWORD written = 0;
    WriteConsoleA(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// One UTF-16 unit at a time into a buffer that is wiped, up to the line end;
// Ctrl+Z first (the console's end of input) or nothing read gives nothing.
std::optional<SecretText> ReadConsoleLine(HANDLE console) {
    std::array<wchar_t, 1024> units{};
    std::size_t count = 0;
    bool ended = false;
    for (; count < units.size(); ++count) {
        DWORD read = 0;
        if (ReadConsoleW(console, &units[count], 1, &read, nullptr) == 0 || read == 0) {
            ended = true;
            break;
        }
        if (units[count] == L'\n') break;
    }
    std::optional<SecretText> line;
    const bool end_of_input = (ended && count == 0) || (count > 0 && units[0] == 0x1A);
    if (!end_of_input) {
        while (count > 0 && (units[count - 1] == L'\n' || units[count - 1] == L'\r')) --count;
        line.emplace();
        line->value() = ToUtf8<SecretString>(units.data(), static_cast<int>(count));
    }
    secure_wipe(units.data(), sizeof units);
    return line;
}

}  // namespace

bool IsTerminal(StandardStream stream) noexcept {
    return _isatty(DescriptorOf(stream)) != 0;
}

void KeepMemoryOutOfDumps() noexcept {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndWithoutDump);
}

void UseBinaryStandardStreams() noexcept {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::span<char*> ArgumentsAsUtf8(int /*argc*/, char** /*argv*/, ArgumentStorage& storage) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {};
    for (int i = 1; i < count; ++i) {
        storage.texts.push_back(ToUtf8<std::string>(wide[i], WideLength(wide[i])));
    }
    LocalFree(wide);
    for (std::string& text : storage.texts) storage.pointers.push_back(text.data());
    return storage.pointers;
}

std::optional<SecretText> EnvironmentVariable(const std::string& name) {
    const wchar_t* value = _wgetenv(ToWide(name).c_str());
    if (value == nullptr) return std::nullopt;
    SecretText text;
    text.value() = ToUtf8<SecretString>(value, WideLength(value));
    return text;
}

int ReadFromStandardInput(char* data, std::size_t size, std::size_t& got) noexcept {
    got = 0;
    const unsigned int limit = size < (1U << 30) ? static_cast<unsigned int>(size) : 1U << 30;
    const int count = _read(_fileno(stdin), data, limit);
    if (count < 0) return errno;
    got = static_cast<std::size_t>(count);
    return 0;
}

int WriteToStandardOutput(const char* data, std::size_t size) noexcept {
    constexpr std::size_t kChunk = 1U << 30;
    while (size > 0) {
        const std::size_t chunk = size < kChunk ? size : kChunk;
        const int written = _write(_fileno(stdout), data, static_cast<unsigned int>(chunk));
        if (written < 0) return errno;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

std::string_view KeyArgumentRisk() noexcept {
    return "--key cannot be hidden from the Windows process list (any process can read the "
           "command line) and stays in the shell history; use --key-file or --key-env";
}

// Windows keeps access in ACLs, not mode bits; a key file's protection there
// is the profile directory's.
bool ReadableByOthers(const std::string& /*path*/) noexcept {
    return false;
}

std::string_view DatabaseArgumentRisk() noexcept {
    return "--db holds a password, which any process can read from the Windows process list "
           "and which stays in the shell history; use --db-file or --db-env";
}

HiddenLine ReadHiddenLine(std::string_view prompt) {
    const Handle input(OpenConsole(L"CONIN$"));
    if (!input.valid()) return HiddenLine{std::nullopt, true};
    const Handle output(OpenConsole(L"CONOUT$"));
    std::optional<SecretText> line;
    {
        const EchoOff echo_off(input.get());
        if (output.valid()) WriteToConsole(output.get(), prompt);
        line = ReadConsoleLine(input.get());
    }
    if (output.valid()) WriteToConsole(output.get(), "\n");
    return HiddenLine{std::move(line), false};
}

}  // namespace tarvola::tool
