#include "envelope/random_iv.h"

#include <array>
#include <cstdint>

namespace tarvola::envelope {

std::optional<platform::ByteVector> MakeRandomIv(std::size_t block_length) {
    platform::ByteVector iv(block_length);
    for (auto& byte : iv) {
        std::array<std::uint8_t, 4> draw{};
        if (!platform::FillRandom(draw)) return std::nullopt;
        byte = draw[0];
    }
    return iv;
}

}  // namespace tarvola::envelope
