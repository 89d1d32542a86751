// The library's whole boundary: Encrypt and Decrypt, the dispatch on `mode`,
// and the promise that nothing is thrown across it.
#include "tarvolacrypt.h"

#include "common/text.h"
#include "envelope/cbc_envelope.h"
#include "hexscheme/hex_block.h"

// Everything else in the library is hidden. On Windows the module-definition
// file names the exports instead.
#if defined(_WIN32)
#define TARVOLA_EXPORT
#else
#define TARVOLA_EXPORT __attribute__((visibility("default")))
#endif

namespace {

int32_t ResultCode(bool ok) noexcept {
    return ok ? 0 : 1;
}

}  // namespace

extern "C" TARVOLA_EXPORT int32_t Encrypt(const char* plaintext, const char* key, char* output,
                                          int32_t mode) {
    if (output == nullptr) return 1;
    switch (mode) {
        case TARVOLA_MODE_HEX_BLOCK:
            return ResultCode(tarvola::hexscheme::EncryptHexBlock(plaintext, key, output));
        case TARVOLA_MODE_ENVELOPE:
            // Memory exhaustion fails like everything else in mode 1.
            try {
                return ResultCode(tarvola::envelope::EncryptEnvelope(plaintext, key, output));
            } catch (...) {
                return ResultCode(tarvola::FailWithEmptyText(output));
            }
        default:
            return 1;
    }
}

extern "C" TARVOLA_EXPORT int32_t Decrypt(const char* ciphertext, const char* key, char* output,
                                          int32_t mode) {
    if (output == nullptr) return 1;
    switch (mode) {
        case TARVOLA_MODE_HEX_BLOCK:
            return ResultCode(tarvola::hexscheme::DecryptHexBlock(ciphertext, key, output));
        case TARVOLA_MODE_ENVELOPE:
            try {
                return ResultCode(tarvola::envelope::DecryptEnvelope(ciphertext, key, output));
            } catch (...) {
                return ResultCode(tarvola::FailWithEmptyText(output));
            }
        default:
            return 1;
    }
}
