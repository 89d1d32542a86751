// Fetches a key text from where the command line said it is, and says
// whether it can be used.
#ifndef TARVOLA_TOOLS_KEY_SOURCE_H
#define TARVOLA_TOOLS_KEY_SOURCE_H

#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "secret_text.h"

namespace tarvola::tool {

struct FetchedKey {
    std::optional<SecretText> key;
    // Why there is no key, ready to print.
    std::string error;
    // Things about the key that are legal but probably unintended.
    std::vector<std::string> warnings;
};

// A key file gives its first line without the line end (LF or CRLF). The
// prompt reads from the controlling terminal, also when standard input
// carries values, and with `confirm` asks twice, so that a mistyped key
// cannot encrypt values nobody can decrypt.
[[nodiscard]] FetchedKey FetchKey(const KeySource& source, bool confirm);

// Why `key` cannot be used at all, or nothing. An empty key text would leave
// values readable by anyone, so it is refused unless `allow_empty`.
[[nodiscard]] std::optional<std::string> KeyRefusal(std::string_view key, bool used_in_mode_1,
                                                    bool allow_empty);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_KEY_SOURCE_H
