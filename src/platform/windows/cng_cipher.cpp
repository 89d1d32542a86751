// AES-CBC and random bytes through CNG (bcrypt.dll).
//
// Every call opens its own algorithm provider and key, and releases both on
// every path; nothing is shared between calls or threads.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <array>
#include <limits>

#include "platform/platform.h"
#include "platform/windows/heap_buffer.h"

namespace tarvola::platform {
namespace {

bool Succeeded(NTSTATUS status) noexcept {
    return status >= 0;
}

// CNG counts in ULONG; anything larger cannot be handed over in one call.
bool FitsUlong(std::size_t size) noexcept {
    return size <= std::numeric_limits<ULONG>::max();
}

// CNG takes non-const pointers for its inputs but does not write to them.
PUCHAR InputPointer(std::span<const std::uint8_t> bytes) noexcept {
    return const_cast<PUCHAR>(bytes.data());
}

class AlgorithmProvider {
  public:
    AlgorithmProvider() = default;
    AlgorithmProvider(const AlgorithmProvider&) = delete;
    AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
    ~AlgorithmProvider() {
        if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
    }

    bool Open() noexcept {
        return Succeeded(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_AES_ALGORITHM, nullptr, 0));
    }
    [[nodiscard]] BCRYPT_ALG_HANDLE get() const noexcept { return handle_; }

  private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// A symmetric key and the object buffer CNG keeps its key schedule in. The
// key is destroyed before its buffer is wiped and freed.
class SymmetricKey {
  public:
    explicit SymmetricKey(std::size_t object_length) : object_(object_length) {}
    SymmetricKey(const SymmetricKey&) = delete;
    SymmetricKey& operator=(const SymmetricKey&) = delete;
    ~SymmetricKey() {
        if (handle_ != nullptr) BCryptDestroyKey(handle_);
    }

    bool Generate(BCRYPT_ALG_HANDLE algorithm, std::span<const std::uint8_t> key) noexcept {
        return Succeeded(BCryptGenerateSymmetricKey(
            algorithm, &handle_, object_.data(), static_cast<ULONG>(object_.size()),
            InputPointer(key), static_cast<ULONG>(key.size()), 0));
    }
    [[nodiscard]] BCRYPT_KEY_HANDLE get() const noexcept { return handle_; }

  private:
    HeapBuffer object_;
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

std::optional<ULONG> DwordProperty(BCRYPT_ALG_HANDLE algorithm, LPCWSTR name) noexcept {
    DWORD value = 0;
    ULONG written = 0;
    if (!Succeeded(BCryptGetProperty(algorithm, name, reinterpret_cast<PUCHAR>(&value),
                                     sizeof value, &written, 0)) ||
        written != sizeof value) {
        return std::nullopt;
    }
    return value;
}

// An AES-CBC key for `key`, or nullptr. The sizes are checked here, before
// CNG sees the key: CNG implementations differ in which other sizes they take.
std::unique_ptr<SymmetricKey> MakeCbcKey(const AlgorithmProvider& provider,
                                         std::span<const std::uint8_t> key) {
    if (key.size() != 16 && key.size() != 32) return nullptr;
    const auto object_length = DwordProperty(provider.get(), BCRYPT_OBJECT_LENGTH);
    const auto block_length = DwordProperty(provider.get(), BCRYPT_BLOCK_LENGTH);
    if (!object_length || *object_length == 0 || !block_length ||
        *block_length != kAesBlockLength) {
        return nullptr;
    }
    static constexpr wchar_t kCbc[] = BCRYPT_CHAIN_MODE_CBC;
    if (!Succeeded(BCryptSetProperty(provider.get(), BCRYPT_CHAINING_MODE,
                                     reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kCbc)),
                                     sizeof kCbc, 0))) {
        return nullptr;
    }
    auto symmetric = std::make_unique<SymmetricKey>(*object_length);
    if (!symmetric->Generate(provider.get(), key)) return nullptr;
    return symmetric;
}

// CNG writes the chaining state back into the IV buffer it is given; each
// call gets its own copy so that the caller's IV stays as it was.
using IvCopy = std::array<std::uint8_t, kAesBlockLength>;
IvCopy CopyIv(std::span<const std::uint8_t, kAesBlockLength> iv) noexcept {
    IvCopy copy{};
    std::copy(iv.begin(), iv.end(), copy.begin());
    return copy;
}

}  // namespace

bool FillRandom(std::span<std::uint8_t> out) noexcept {
    if (out.empty()) return true;
    if (!FitsUlong(out.size())) return false;
    return Succeeded(BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                                     BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

std::optional<ByteVector> CbcEncryptPadded(std::span<const std::uint8_t> key,
                                           std::span<const std::uint8_t, kAesBlockLength> iv,
                                           std::span<const std::uint8_t> plaintext) {
    if (!FitsUlong(plaintext.size() + kAesBlockLength)) return std::nullopt;
    AlgorithmProvider provider;
    if (!provider.Open()) return std::nullopt;
    const auto cbc_key = MakeCbcKey(provider, key);
    if (!cbc_key) return std::nullopt;

    // An empty plaintext still encrypts to one block of padding; CNG wants a
    // valid pointer even for zero bytes.
    std::uint8_t empty = 0;
    const PUCHAR input = plaintext.empty() ? &empty : InputPointer(plaintext);
    const auto input_size = static_cast<ULONG>(plaintext.size());
    const std::size_t expected =
        plaintext.size() / kAesBlockLength * kAesBlockLength + kAesBlockLength;

    IvCopy query_iv = CopyIv(iv);
    ULONG needed = 0;
    if (!Succeeded(BCryptEncrypt(cbc_key->get(), input, input_size, nullptr, query_iv.data(),
                                 static_cast<ULONG>(query_iv.size()), nullptr, 0, &needed,
                                 BCRYPT_BLOCK_PADDING)) ||
        needed != expected) {
        return std::nullopt;
    }
    ByteVector ciphertext(needed);
    IvCopy chain_iv = CopyIv(iv);
    ULONG written = 0;
    if (!Succeeded(BCryptEncrypt(cbc_key->get(), input, input_size, nullptr, chain_iv.data(),
                                 static_cast<ULONG>(chain_iv.size()), ciphertext.data(), needed,
                                 &written, BCRYPT_BLOCK_PADDING)) ||
        written != expected) {
        return std::nullopt;
    }
    return ciphertext;
}

std::optional<SecretBytes> CbcDecryptBlocks(std::span<const std::uint8_t> key,
                                            std::span<const std::uint8_t, kAesBlockLength> iv,
                                            std::span<const std::uint8_t> ciphertext) {
    if (ciphertext.empty() || ciphertext.size() % kAesBlockLength != 0 ||
        !FitsUlong(ciphertext.size())) {
        return std::nullopt;
    }
    AlgorithmProvider provider;
    if (!provider.Open()) return std::nullopt;
    const auto cbc_key = MakeCbcKey(provider, key);
    if (!cbc_key) return std::nullopt;

    const auto input_size = static_cast<ULONG>(ciphertext.size());
    // No padding flag: the caller checks the padding the same way on every
    // platform.
    IvCopy query_iv = CopyIv(iv);
    ULONG needed = 0;
    if (!Succeeded(BCryptDecrypt(cbc_key->get(), InputPointer(ciphertext), input_size, nullptr,
                                 query_iv.data(), static_cast<ULONG>(query_iv.size()), nullptr, 0,
                                 &needed, 0)) ||
        needed != ciphertext.size()) {
        return std::nullopt;
    }
    SecretBytes plaintext(needed);
    IvCopy chain_iv = CopyIv(iv);
    ULONG written = 0;
    if (!Succeeded(BCryptDecrypt(cbc_key->get(), InputPointer(ciphertext), input_size, nullptr,
                                 chain_iv.data(), static_cast<ULONG>(chain_iv.size()),
                                 plaintext.data(), needed, &written, 0)) ||
        written != ciphertext.size()) {
        return std::nullopt;
    }
    return plaintext;
}

}  // namespace tarvola::platform
