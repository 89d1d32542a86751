// One stored value on its way to the target mode and key, by reencrypt's
// rules (format recognition, plausibility, pass-through of migrated values),
// plus the check a database write needs: the new value is decrypted again
// and compared with the plaintext before anyone stores it.
#ifndef TARVOLA_TOOLS_VALUE_MIGRATION_H
#define TARVOLA_TOOLS_VALUE_MIGRATION_H

#include <string_view>

#include "value_rules.h"

namespace tarvola::tool {

// kWritten only when the new value opens under the new key to exactly the
// plaintext the stored value opens to under the old one. Every plaintext
// lives in wiping storage inside this call.
[[nodiscard]] Reencrypted MigrateValue(std::string_view stored, const Rekeying& rekeying,
                                       const ValueRules& rules);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUE_MIGRATION_H
