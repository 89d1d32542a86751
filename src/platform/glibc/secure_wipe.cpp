#include <string.h>

#include "platform/secret.h"

namespace tarvola::platform {

// The C library's explicit_bzero: for builds without a crypto provider (the
// portable core on its own), where OPENSSL_cleanse is not available.
void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) explicit_bzero(data, size);
}

}  // namespace tarvola::platform
