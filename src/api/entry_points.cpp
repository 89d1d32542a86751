// The library's whole boundary: Encrypt and Decrypt, the dispatch on `mode`,
// and the promise that nothing is thrown across it.
#include "tarvolacrypt.h"

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

enum Mode : std::int32_t { kHexBlock = 0, kEnvelope = 1 };

int32_t ResultCode(bool ok) noexcept {
    return ok ? 0 : 1;
}

// Mode-1 failures leave the empty text behind, whatever failed; memory
// exhaustion is no different.
int32_t EnvelopeFailure(char* output) noexcept {
    output[0] = '\0';
    return 1;
}

}  // namespace

extern "C" TARVOLA_EXPORT int32_t Encrypt(const char* plaintext, const char* key, char* output,
                                          int32_t mode) {
    if (output == nullptr) return 1;
    switch (mode) {
        case kHexBlock:
            return ResultCode(tarvola::hexscheme::EncryptHexBlock(plaintext, key, output));
        case kEnvelope:
            try {
                return ResultCode(tarvola::envelope::EncryptEnvelope(plaintext, key, output));
            } catch (...) {
                return EnvelopeFailure(output);
            }
        default:
            return 1;
    }
}

extern "C" TARVOLA_EXPORT int32_t Decrypt(const char* ciphertext, const char* key, char* output,
                                          int32_t mode) {
    if (output == nullptr) return 1;
    switch (mode) {
        case kHexBlock:
            return ResultCode(tarvola::hexscheme::DecryptHexBlock(ciphertext, key, output));
        case kEnvelope:
            try {
                return ResultCode(tarvola::envelope::DecryptEnvelope(ciphertext, key, output));
            } catch (...) {
                return EnvelopeFailure(output);
            }
        default:
            return 1;
    }
}
