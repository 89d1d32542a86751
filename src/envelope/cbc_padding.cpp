#include "envelope/cbc_padding.h"

#include "common/constant_time.h"

namespace tarvola::envelope {

using platform::kAesBlockLength;

PaddingCheck CheckPadding(std::span<const std::uint8_t> padded) noexcept {
    const ct::Word pad = padded.back();
    ct::Word bad = ct::Eq(pad, 0) | ct::Lt(kAesBlockLength, pad);
    for (ct::Word i = 1; i <= kAesBlockLength; ++i) {
        const ct::Word in_padding = ct::Le(i, pad);
        bad |= in_padding & (ct::Eq(padded[padded.size() - i], pad) ^ 1U);
    }
    return {bad, padded.size() - pad};
}

std::optional<std::size_t> UnpaddedLength(std::span<const std::uint8_t> padded) {
    const PaddingCheck check = CheckPadding(padded);
    if (check.bad != 0) return std::nullopt;
    return check.length;
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

}  // namespace tarvola::envelope
