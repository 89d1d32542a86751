#include "envelope/cbc_padding.h"

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

std::optional<std::size_t> UnpaddedLength(std::span<const std::uint8_t> padded) {
    const std::uint32_t pad = padded.back();
    // All arithmetic from here is branch-free in the padded bytes' values.
    // bad collects a non-zero bit for every defect.
    std::uint32_t bad = ((pad - 1U) >> 8) & 1U;  // pad == 0
    bad |= ((kAesBlockLength - pad) >> 8) & 1U;  // pad > 16
    for (std::uint32_t i = 1; i <= kAesBlockLength; ++i) {
        // in_padding is all ones when i <= pad, else zero.
        const std::uint32_t in_padding = 0U - ((((pad - i) >> 8) & 1U) ^ 1U);
        bad |= in_padding & (padded[padded.size() - i] ^ pad);
    }
    if (bad != 0) return std::nullopt;
    return padded.size() - pad;
}

}  // namespace tarvola::envelope
