#include "envelope/cbc_padding.h"

#include "common/constant_time.h"
#include "platform/platform.h"

namespace tarvola::envelope {

using platform::kAesBlockLength;

platform::SecretBytes DeriveKeyMaterial(std::span<const std::uint8_t> key_text,
                                        std::size_t block_length) {
    platform::SecretBytes material;
    const std::size_t padding = block_length - key_text.size() % block_length;
    material.reserve(key_text.size() + padding);
    material.assign(key_text.begin(), key_text.end());
    material.resize(key_text.size() + padding, 0);
    return material;
}

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

}  // namespace tarvola::envelope
