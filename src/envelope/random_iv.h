// The IV of every mode-1 encryption, drawn fresh from the operating system.
#ifndef TARVOLA_ENVELOPE_RANDOM_IV_H
#define TARVOLA_ENVELOPE_RANDOM_IV_H

#include <cstddef>
#include <optional>

#include "platform/platform.h"

namespace tarvola::envelope {

// `block_length` bytes, each the first byte of its own 4-byte random draw.
// Empty when the random source fails.
[[nodiscard]] std::optional<platform::ByteVector> MakeRandomIv(std::size_t block_length);

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_RANDOM_IV_H
