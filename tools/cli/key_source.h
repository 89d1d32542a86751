// Fetches a key text from where the command line said it is, and says
// whether it can be used.
#ifndef TARVOLA_TOOLS_CLI_KEY_SOURCE_H
#define TARVOLA_TOOLS_CLI_KEY_SOURCE_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/secret_text.h"

namespace tarvola::tool {

// kNone: no key given here (only for reencrypt's new key, which then is
// the old one).
enum class KeyOrigin { kNone, kPrompt, kFile, kEnvironment, kArgument };

struct KeySource {
    KeyOrigin origin = KeyOrigin::kPrompt;
    // The file path or variable name; for kArgument, the key text itself.
    SecretText detail;
};

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

// The database address of --db-file (its first line, like a key file) or
// --db-env; with the same errors and the warning when others can read the
// file. `origin` is kFile or kEnvironment, `detail` the path or the name.
[[nodiscard]] FetchedKey FetchDatabaseAddress(KeyOrigin origin, const std::string& detail);

// Why `key` cannot be used at all, or nothing. An empty key text would leave
// values readable by anyone, so it is refused unless `allow_empty`.
[[nodiscard]] std::optional<std::string> KeyRefusal(std::string_view key, bool used_in_mode_1,
                                                    bool allow_empty);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_CLI_KEY_SOURCE_H
