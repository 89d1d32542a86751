#include <openssl/crypto.h>

#include "platform/secret.h"

namespace tarvola::platform {

// OPENSSL_cleanse is built so that the compiler cannot prove the stores dead.
void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) OPENSSL_cleanse(data, size);
}

}  // namespace tarvola::platform
