#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "reference_ecb.h"

namespace tarvola::test {

std::string ReferenceEcb(const std::string& key, const std::string& blocks, bool encrypt) {
    unsigned char key_block[16] = {};
    std::memcpy(key_block, key.data(), std::min<std::size_t>(key.size(), 16));
    std::string out(blocks.size() + 16, '\0');
    int n = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const bool ok = ctx != nullptr &&
                    EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key_block, nullptr,
                                      encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                                     reinterpret_cast<const unsigned char*>(blocks.data()),
                                     static_cast<int>(blocks.size())) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) throw std::runtime_error("OpenSSL AES-128-ECB failed");
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace tarvola::test
