#include <windows.h>

#include <array>

#include "platform/secret.h"

namespace tarvola::platform {

// SecureZeroMemory writes through a volatile pointer, so the compiler cannot
// drop the stores as dead.
void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}

// Not inlined, so that its frame lies where the callees' frames were.
[[gnu::noinline]] void WipeCalleeStack() noexcept {
    std::array<unsigned char, kCalleeStackBytes> area;
    SecureWipe(area.data(), area.size());
}

}  // namespace tarvola::platform
