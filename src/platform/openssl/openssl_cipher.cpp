// AES-CBC through OpenSSL's EVP interface and random bytes from the kernel.
#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "platform/platform.h"

namespace tarvola::platform {
namespace {

struct CipherContextDeleter {
    // EVP_CIPHER_CTX_free cleanses the context, key schedule included.
    void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

const EVP_CIPHER* CbcCipherFor(std::size_t key_size) noexcept {
    if (key_size == 16) return EVP_aes_128_cbc();
    if (key_size == 32) return EVP_aes_256_cbc();
    return nullptr;
}

// EVP takes int lengths; feed longer inputs in pieces.
constexpr std::size_t kMaxUpdate = std::size_t{1} << 30;

// Runs `in` through an initialised context into `out`, which must have room
// for the input plus one block; returns the number of bytes written.
template <class Bytes>
std::optional<std::size_t> RunCipher(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> in,
                                     Bytes& out) {
    std::size_t written = 0;
    for (std::size_t offset = 0; offset < in.size(); offset += kMaxUpdate) {
        const int chunk = static_cast<int>(std::min(kMaxUpdate, in.size() - offset));
        int n = 0;
        if (EVP_CipherUpdate(ctx, out.data() + written, &n, in.data() + offset, chunk) != 1) {
            return std::nullopt;
        }
        written += static_cast<std::size_t>(n);
    }
    int n = 0;
    if (EVP_CipherFinal_ex(ctx, out.data() + written, &n) != 1) return std::nullopt;
    return written + static_cast<std::size_t>(n);
}

CipherContext InitCipher(std::span<const std::uint8_t> key,
                         std::span<const std::uint8_t, kAesBlockLength> iv, bool encrypt,
                         bool padding) {
    const EVP_CIPHER* cipher = CbcCipherFor(key.size());
    if (cipher == nullptr) return nullptr;
    CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!ctx) throw std::bad_alloc();
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) !=
            1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) != 1) {
        return nullptr;
    }
    return ctx;
}

}  // namespace

bool FillRandom(std::span<std::uint8_t> out) noexcept {
    std::size_t filled = 0;
    while (filled < out.size()) {
        const ssize_t n = getrandom(out.data() + filled, out.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        filled += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<ByteVector> CbcEncryptPadded(std::span<const std::uint8_t> key,
                                           std::span<const std::uint8_t, kAesBlockLength> iv,
                                           std::span<const std::uint8_t> plaintext) {
    const CipherContext ctx = InitCipher(key, iv, true, true);
    if (!ctx) return std::nullopt;
    ByteVector ciphertext(plaintext.size() / kAesBlockLength * kAesBlockLength + kAesBlockLength);
    const auto written = RunCipher(ctx.get(), plaintext, ciphertext);
    if (!written || *written != ciphertext.size()) return std::nullopt;
    return ciphertext;
}

std::optional<SecretBytes> CbcDecryptBlocks(std::span<const std::uint8_t> key,
                                            std::span<const std::uint8_t, kAesBlockLength> iv,
                                            std::span<const std::uint8_t> ciphertext) {
    if (ciphertext.empty() || ciphertext.size() % kAesBlockLength != 0) return std::nullopt;
    const CipherContext ctx = InitCipher(key, iv, false, false);
    if (!ctx) return std::nullopt;
    SecretBytes plaintext(ciphertext.size() + kAesBlockLength);
    const auto written = RunCipher(ctx.get(), ciphertext, plaintext);
    if (!written || *written != ciphertext.size()) return std::nullopt;
    plaintext.resize(*written);
    return plaintext;
}

}  // namespace tarvola::platform
