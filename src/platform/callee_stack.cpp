#include <array>

#include "platform/secret.h"

namespace tarvola::platform {

// Not inlined, so that its frame lies where the callees' frames were; the
// wipe itself is the backend's SecureWipe.
[[gnu::noinline]] void WipeCalleeStack() noexcept {
    std::array<unsigned char, kCalleeStackBytes> area;
    SecureWipe(area.data(), area.size());
}

}  // namespace tarvola::platform
