// What the tool needs from the operating system, with one implementation per
// platform (platform_posix.cpp, platform_windows.cpp) chosen at configure time.
#ifndef TARVOLA_TOOLS_CLI_PLATFORM_H
#define TARVOLA_TOOLS_CLI_PLATFORM_H

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/secret_text.h"

namespace tarvola::tool {

enum class StandardStream { kInput, kOutput, kError };

[[nodiscard]] bool IsTerminal(StandardStream stream) noexcept;

// Keeps the keys and plaintexts in this process's memory out of crash dumps,
// called before anything is read. Linux: no core file, and the process is
// not dumpable, so that no process of the same user without CAP_SYS_PTRACE
// can attach to it or read its memory. Other POSIX systems: no core file.
// Windows: a crash ends the process at once, before Windows Error Reporting
// could write a dump (a fail-fast exit still reaches it, which writes one
// only where an administrator asked for local dumps).
void KeepMemoryOutOfDumps() noexcept;

// Puts standard input and output in binary mode where the C runtime would
// otherwise translate line ends or stop at a Ctrl+Z byte.
void UseBinaryStandardStreams() noexcept;

// Converted copies of the arguments, where the platform needs them.
struct ArgumentStorage {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

// The program's arguments after its name as UTF-8, whatever code page the
// system passed them in; they may point into `storage`.
[[nodiscard]] std::span<char*> ArgumentsAsUtf8(int argc, char** argv, ArgumentStorage& storage);

// The environment variable `name` as UTF-8, nothing when it is not set.
[[nodiscard]] std::optional<SecretText> EnvironmentVariable(const std::string& name);

// Reads up to `size` bytes of standard input, as many as are there (a
// terminal or pipe gives what it has): 0 with their count in `got`, 0 at the
// end of the input, or the error number.
[[nodiscard]] int ReadFromStandardInput(char* data, std::size_t size, std::size_t& got) noexcept;

// Writes all `size` bytes to standard output; 0 or the error number.
[[nodiscard]] int WriteToStandardOutput(const char* data, std::size_t size) noexcept;

// Why --key is a risk on this platform, for the warning.
[[nodiscard]] std::string_view KeyArgumentRisk() noexcept;

// Whether users other than the owner may read the file at `path` (false
// where the platform has no such bits to look at, or the file is missing).
[[nodiscard]] bool ReadableByOthers(const std::string& path) noexcept;

// Why a password in --db is a risk on this platform, for the warning.
[[nodiscard]] std::string_view DatabaseArgumentRisk() noexcept;

struct HiddenLine {
    std::optional<SecretText> text;
    // No controlling terminal (or console) to ask on.
    bool no_terminal = false;
};

// Writes `prompt` to the controlling terminal (/dev/tty, CONIN$/CONOUT$ on
// Windows), not to standard input or output, which may carry values, and
// reads one line from it with echo off; echo comes back on every way out, an
// interrupt included. Every buffer that held the typed text is wiped. No text
// at end of input.
[[nodiscard]] HiddenLine ReadHiddenLine(std::string_view prompt);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_CLI_PLATFORM_H
