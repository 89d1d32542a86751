// AES-128-ECB from the platform's crypto provider (OpenSSL on Linux, CNG on
// Windows): an implementation independent of the library's own AES, against
// which the mode-0 output is checked.
#ifndef TARVOLA_TESTS_REFERENCE_ECB_H
#define TARVOLA_TESTS_REFERENCE_ECB_H

#include <string>

namespace tarvola::test {

// Encrypts or decrypts `blocks` (a multiple of 16 bytes) block by block under
// the first 16 bytes of `key`, zero-filled when shorter.
[[nodiscard]] std::string ReferenceEcb(const std::string& key, const std::string& blocks,
                                       bool encrypt);

}  // namespace tarvola::test

#endif  // TARVOLA_TESTS_REFERENCE_ECB_H
