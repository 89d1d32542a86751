#include "hexscheme/hex_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/bytes.h"
#include "hexscheme/text_helpers.h"

namespace tarvola::hexscheme {
namespace {

using common::kEachByte;

constexpr std::size_t kBlockBytes = 16;

// The 8 uppercase hex digits of bytes[0..3], high nibble first.
std::uint64_t HexDigitsOf(const std::uint8_t* bytes) noexcept {
    // Byte k moves to bits 16k to 16k + 7.
    std::uint64_t spread = common::LoadLittleEndian<std::uint32_t>(bytes);
    spread = (spread | spread << 16) & 0x0000ffff0000ffffULL;
    spread = (spread | spread << 8) & 0x00ff00ff00ff00ffULL;
    const std::uint64_t nibbles =
        ((spread >> 4) & 0x000f000f000f000fULL) | ((spread & 0x000f000f000f000fULL) << 8);
    // 1 in every byte whose nibble is 10 or more: those become letters, which
    // start 7 codes after '9' + 1.
    const std::uint64_t letters = ((nibbles + 6 * kEachByte) >> 4) & kEachByte;
    return nibbles + '0' * kEachByte + 7 * letters;
}

// True when none of the eight characters is white space. The body has passed
// IsUpperHexOrWhiteSpace, so every character is a digit (0x30-0x39, 0x41-0x46: bit 4 or
// bit 6 set) or white space (0x09-0x0d, 0x20: neither set).
bool AllDigits(std::uint64_t chars) noexcept {
    return (((chars >> 4) | (chars >> 6)) & kEachByte) == kEachByte;
}

// Bytes 0 to 3 from eight digits, high nibble first, as the low half of a
// little-endian word.
std::uint64_t BytesOfDigits(std::uint64_t chars) noexcept {
    // Same digit rule as ParseHexPair: a letter is worth 9 more than its low nibble.
    const std::uint64_t nibbles = (chars & 0x0f * kEachByte) + 9 * ((chars >> 6) & kEachByte);
    // Each 16-bit lane holds a high nibble in its low byte and the low nibble
    // above it: byte k's value goes to the lane's low byte.
    const std::uint64_t pairs = ((nibbles << 4) | (nibbles >> 8)) & 0x00ff00ff00ff00ffULL;
    // Byte k from bits 16k to 16k + 7.
    const std::uint64_t packed = (pairs | pairs >> 8) & 0x0000ffff0000ffffULL;
    return (packed | packed >> 16) & 0xffffffffULL;
}

void ParseHexBlockByPairs(std::string_view body, std::size_t pos, std::uint8_t* block) noexcept {
    std::memset(block, 0, kBlockBytes);
    for (std::size_t k = 0; k < kBlockBytes && pos + 2 * k < body.size(); ++k) {
        block[k] = ParseHexPair(body[pos + 2 * k], body[pos + 2 * k + 1]);
    }
}

}  // namespace

void WriteHexDigits(const std::uint8_t* bytes, std::size_t count, char* out) noexcept {
    for (std::size_t k = 0; k < count; k += 4) {
        common::StoreLittleEndian(out + 2 * k, HexDigitsOf(bytes + k));
    }
}

// A full group without white space, the only kind encryption writes, is
// converted eight characters at a time; anything else pair by pair.
void ParseHexBlocks(std::string_view body, std::size_t first, std::size_t count,
                    std::uint8_t* blocks) noexcept {
    constexpr std::size_t kGroupChars = 2 * kBlockBytes;
    for (std::size_t pos = first * kGroupChars; count > 0;
         --count, pos += kGroupChars, blocks += kBlockBytes) {
        if (pos + kGroupChars <= body.size()) {
            std::array<std::uint64_t, 4> chars;
            bool all_digits = true;
            for (std::size_t k = 0; k < chars.size(); ++k) {
                chars[k] = common::LoadLittleEndian<std::uint64_t>(body.data() + pos + 8 * k);
                all_digits &= AllDigits(chars[k]);
            }
            if (all_digits) {
                for (std::size_t k = 0; k < chars.size(); k += 2) {
                    common::StoreLittleEndian(blocks + 4 * k,
                                              BytesOfDigits(chars[k]) | BytesOfDigits(chars[k + 1])
                                                                            << 32);
                }
                continue;
            }
        }
        ParseHexBlockByPairs(body, pos, blocks);
    }
}

// Sixteen digits make eight bytes, one store. A body of an odd multiple of
// 16 characters ends in half a group: its last block is 8 bytes and 8 zeros.
void ParseDigitBlocks(std::string_view body, std::size_t first, std::size_t count,
                      std::uint8_t* blocks) noexcept {
    constexpr std::size_t kGroupChars = 2 * kBlockBytes;
    const std::size_t begin = first * kGroupChars;
    const std::size_t end = std::min(body.size(), begin + count * kGroupChars);
    const char* chars = body.data();
    std::uint8_t* out = blocks;
    for (std::size_t pos = begin; pos < end; pos += 16, out += 8) {
        const auto low = common::LoadLittleEndian<std::uint64_t>(chars + pos);
        const auto high = common::LoadLittleEndian<std::uint64_t>(chars + pos + 8);
        common::StoreLittleEndian(out, BytesOfDigits(low) | BytesOfDigits(high) << 32);
    }
    std::fill(out, blocks + count * kBlockBytes, std::uint8_t{0});
}

}  // namespace tarvola::hexscheme
