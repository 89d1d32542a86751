#include <windows.h>

#include "platform/secret.h"

namespace tarvola::platform {

// SecureZeroMemory writes through a volatile pointer, so the compiler cannot
// drop the stores as dead.
void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}

}  // namespace tarvola::platform
