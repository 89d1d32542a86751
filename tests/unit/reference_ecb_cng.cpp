#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "reference_ecb.h"

namespace tarvola::test {

std::string ReferenceEcb(const std::string& key, const std::string& blocks, bool encrypt) {
    unsigned char key_block[16] = {};
    std::memcpy(key_block, key.data(), std::min<std::size_t>(key.size(), 16));
    std::string out(blocks.size(), '\0');
    if (blocks.empty()) return out;

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE handle = nullptr;
    static constexpr wchar_t kEcb[] = BCRYPT_CHAIN_MODE_ECB;
    ULONG written = 0;
    bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0) >= 0 &&
              BCryptSetProperty(algorithm, BCRYPT_CHAINING_MODE,
                                reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kEcb)), sizeof kEcb,
                                0) >= 0 &&
              BCryptGenerateSymmetricKey(algorithm, &handle, nullptr, 0, key_block,
                                         sizeof key_block, 0) >= 0;
    if (ok) {
        auto* input = reinterpret_cast<PUCHAR>(const_cast<char*>(blocks.data()));
        auto* output = reinterpret_cast<PUCHAR>(out.data());
        const auto size = static_cast<ULONG>(blocks.size());
        ok = (encrypt ? BCryptEncrypt(handle, input, size, nullptr, nullptr, 0, output, size,
                                      &written, 0)
                      : BCryptDecrypt(handle, input, size, nullptr, nullptr, 0, output, size,
                                      &written, 0)) >= 0 &&
             written == size;
    }
    if (handle != nullptr) BCryptDestroyKey(handle);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok) throw std::runtime_error("CNG AES-128-ECB failed");
    return out;
}

}  // namespace tarvola::test
