#include "envelope/cbc_envelope.h"

#include <array>
#include <cstring>
#include <string_view>

#include "envelope/base64_envelope.h"

namespace tarvola::envelope {
namespace {

using platform::kAesBlockLength;

// Key texts of 32 characters or more would need 48 bytes of key material or
// more, which is no AES key size; this is the one place that decides it.
bool IsUsableKeyMaterial(std::size_t size) noexcept {
    return size == 16 || size == 32;
}

std::span<const std::uint8_t> BytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string_view ViewOf(const char* text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view{text};
}

bool Fail(char* output) noexcept {
    output[0] = '\0';
    return false;
}

}  // namespace

std::optional<platform::ByteVector> MakeRandomIv(std::size_t block_length) {
    platform::ByteVector iv(block_length);
    for (auto& byte : iv) {
        std::array<std::uint8_t, 4> draw{};
        if (!platform::FillRandom(draw)) return std::nullopt;
        byte = draw[0];
    }
    return iv;
}

std::optional<platform::SecretBytes> DecryptCbcPadded(
    std::span<const std::uint8_t> key, std::span<const std::uint8_t, kAesBlockLength> iv,
    std::span<const std::uint8_t> ciphertext) {
    auto padded = platform::CbcDecryptBlocks(key, iv, ciphertext);
    if (!padded) return std::nullopt;
    const auto length = UnpaddedLength(*padded);
    if (!length) return std::nullopt;
    padded->resize(*length);
    return padded;
}

bool EncryptEnvelope(const char* input, const char* key, char* output) {
    if (input == nullptr) return Fail(output);
    const auto material = DeriveKeyMaterial(BytesOf(ViewOf(key)), kAesBlockLength);
    if (!IsUsableKeyMaterial(material.size())) return Fail(output);

    const auto iv = MakeRandomIv(kAesBlockLength);
    if (!iv) return Fail(output);
    const auto ciphertext = platform::CbcEncryptPadded(
        material, std::span<const std::uint8_t, kAesBlockLength>(iv->data(), kAesBlockLength),
        BytesOf(input));
    if (!ciphertext || !JoinEnvelope(*iv, *ciphertext, output)) return Fail(output);
    return true;
}

bool DecryptEnvelope(const char* envelope, const char* key, char* output) {
    if (envelope == nullptr) return Fail(output);
    const auto material = DeriveKeyMaterial(BytesOf(ViewOf(key)), kAesBlockLength);
    if (!IsUsableKeyMaterial(material.size())) return Fail(output);

    const EnvelopeParts parts = SplitEnvelope(envelope);
    // An IV part that decodes to more than a block contributes its first 16
    // bytes, as the provider would read them.
    if (parts.iv.size() < kAesBlockLength) return Fail(output);
    if (parts.ciphertext.empty() || parts.ciphertext.size() % kAesBlockLength != 0) {
        return Fail(output);
    }

    const auto plaintext = DecryptCbcPadded(
        material, std::span<const std::uint8_t, kAesBlockLength>(parts.iv.data(), kAesBlockLength),
        parts.ciphertext);
    if (!plaintext) return Fail(output);

    // The output is a text: it ends at the plaintext's first zero byte.
    const std::size_t size = plaintext->size();
    const void* zero = std::memchr(plaintext->data(), 0, size);
    const std::size_t length =
        zero == nullptr
            ? size
            : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - plaintext->data());
    if (length != 0) std::memcpy(output, plaintext->data(), length);
    output[length] = '\0';
    return true;
}

}  // namespace tarvola::envelope
