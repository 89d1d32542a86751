#include "envelope/cbc_envelope.h"

#include <cstring>
#include <string_view>

#include "common/text.h"
#include "envelope/base64_envelope.h"
#include "envelope/cbc_padding.h"
#include "envelope/random_iv.h"
#include "tarvolacrypt.h"

namespace tarvola::envelope {
namespace {

using platform::kAesBlockLength;
using Iv = std::span<const std::uint8_t, kAesBlockLength>;

// Key texts this long would need 48 bytes of key material or more, which is
// no AES key size.
bool IsUsableKeyText(std::string_view key) noexcept {
    return key.size() < TARVOLA_MODE1_KEY_LIMIT;
}

std::span<const std::uint8_t> BytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

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
    // Refused values draw no randomness.
    if (input == nullptr || !IsUsableKeyText(ViewOf(key))) return FailWithEmptyText(output);
    const auto iv = MakeRandomIv(kAesBlockLength);
    if (!iv) return FailWithEmptyText(output);
    return EncryptEnvelopeWithIv(input, key, Iv(iv->data(), kAesBlockLength), output);
}

bool EncryptEnvelopeWithIv(const char* input, const char* key, Iv iv, char* output) {
    if (input == nullptr || !IsUsableKeyText(ViewOf(key))) return FailWithEmptyText(output);
    const auto material = DeriveKeyMaterial(BytesOf(ViewOf(key)), kAesBlockLength);
    const auto ciphertext = platform::CbcEncryptPadded(material, iv, BytesOf(input));
    if (!ciphertext || !JoinEnvelope(iv, *ciphertext, output)) return FailWithEmptyText(output);
    return true;
}

bool DecryptEnvelope(const char* envelope, const char* key, char* output) {
    if (envelope == nullptr || !IsUsableKeyText(ViewOf(key))) return FailWithEmptyText(output);
    const auto material = DeriveKeyMaterial(BytesOf(ViewOf(key)), kAesBlockLength);

    const EnvelopeParts parts = SplitEnvelope(envelope);
    // An IV part that decodes to more than a block contributes its first 16
    // bytes, as the provider would read them.
    if (parts.iv.size() < kAesBlockLength) return FailWithEmptyText(output);
    if (parts.ciphertext.empty() || parts.ciphertext.size() % kAesBlockLength != 0) {
        return FailWithEmptyText(output);
    }

    const auto plaintext =
        DecryptCbcPadded(material, Iv(parts.iv.data(), kAesBlockLength), parts.ciphertext);
    if (!plaintext) return FailWithEmptyText(output);

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
