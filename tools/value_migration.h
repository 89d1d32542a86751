// One stored value on its way to the target mode and key: the new value,
// "already there, leave it", or a reason it cannot be moved. This is the one
// seam between `migrate` and the per-value rules of `reencrypt`.
#ifndef TARVOLA_TOOLS_VALUE_MIGRATION_H
#define TARVOLA_TOOLS_VALUE_MIGRATION_H

#include <optional>
#include <string>
#include <string_view>

#include "tarvolacrypt.hpp"

namespace tarvola::tool {

struct MigrationRules {
    // Nothing: recognise each value's mode from its shape.
    std::optional<Mode> from_mode;
    Mode to_mode = Mode::kEnvelope;
    std::string_view key;
    std::string_view new_key;
};

struct ValueVerdict {
    enum class Kind { kNew, kUnchanged, kFailed };
    Kind kind = Kind::kFailed;
    // kNew: the value to store, already checked to decrypt back to the
    // plaintext under the new key. Not secret.
    std::string value;
    // kFailed: why.
    std::string reason;
};

// The plaintext lives only inside this call and is wiped before it returns.
[[nodiscard]] ValueVerdict MigrateValue(const MigrationRules& rules, std::string_view value);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUE_MIGRATION_H
