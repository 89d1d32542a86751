#include "value_migration.h"

namespace tarvola::tool {

Reencrypted MigrateValue(std::string_view stored, const Rekeying& rekeying,
                         const ValueRules& rules) {
    Reencrypted result = ReencryptValue(stored, rekeying, rules);
    if (result.outcome != Reencrypted::Outcome::kWritten) return result;
    const ReadMode written =
        rekeying.to_mode == Mode::kHexBlock ? ReadMode::kHexBlock : ReadMode::kEnvelope;
    const Opened before = OpenValue(stored, rekeying.old_key, rekeying.from_mode, rules);
    const Opened after = OpenValue(result.value, rekeying.new_key, written, rules);
    if (!before || !after || before.plaintext->view() != after.plaintext->view()) {
        return Reencrypted{Reencrypted::Outcome::kFailed,
                           {},
                           "the new value does not decrypt back to the same plaintext"};
    }
    return result;
}

}  // namespace tarvola::tool
