// The little the tool needs to know about terminals, with one implementation
// per platform in terminal.cpp.
#ifndef TARVOLA_TOOLS_TERMINAL_H
#define TARVOLA_TOOLS_TERMINAL_H

#include <optional>
#include <string_view>

#include "secret_text.h"

namespace tarvola::tool {

enum class StandardStream { kInput, kOutput, kError };

[[nodiscard]] bool IsTerminal(StandardStream stream) noexcept;

// Writes `prompt` to standard error and reads one line from standard input,
// which MUST be a terminal, with echo switched off; echo comes back on every
// way out, an interrupt included. Nothing at end of input.
[[nodiscard]] std::optional<SecretText> ReadHiddenLine(std::string_view prompt);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_TERMINAL_H
