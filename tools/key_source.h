// Fetches a key text from where the command line said it is.
#ifndef TARVOLA_TOOLS_KEY_SOURCE_H
#define TARVOLA_TOOLS_KEY_SOURCE_H

#include <optional>
#include <string>

#include "command_line.h"
#include "secret_text.h"

namespace tarvola::tool {

struct FetchedKey {
    std::optional<SecretText> key;
    // Why there is no key, ready to print.
    std::string error;
};

// A key file gives its first line without the line end (LF or CRLF); an
// empty file gives the empty key text. The prompt reads from standard input,
// which must then be a terminal, and with `confirm` asks twice, so that a
// mistyped key cannot encrypt values nobody can decrypt.
[[nodiscard]] FetchedKey FetchKey(const KeySource& source, bool confirm);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_KEY_SOURCE_H
