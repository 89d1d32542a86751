// Base64 encoding. Envelopes of large values are megabytes of base64, so the
// text is sized once and written through a pointer.
#include <array>
#include <cstring>

#include "envelope/base64.h"
#include "envelope/base64_rules.h"

namespace tarvola::envelope {
namespace {

// The two characters of every 12-bit value (8 KiB), so that encoding takes
// two look-ups per 3 bytes instead of four.
using CharPair = std::array<char, 2>;
constexpr std::array<CharPair, 4096> MakePairTable() {
    std::array<CharPair, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {kBase64Alphabet[i >> 6], kBase64Alphabet[i & 0x3f]};
    return table;
}
constexpr auto kPairTable = MakePairTable();

// The 4 characters of the 3 bytes in the low 24 bits of `group`.
char* EncodeGroup(std::uint32_t group, char* out) noexcept {
    std::memcpy(out, kPairTable[group >> 12].data(), 2);
    std::memcpy(out + 2, kPairTable[group & 0xfff].data(), 2);
    return out + 4;
}

}  // namespace

std::optional<std::string> Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text((bytes.size() + 2) / 3 * 4, '\0');
    char* out = text.data();
    const std::uint8_t* in = bytes.data();
    const std::uint8_t* const whole_end = in + bytes.size() / 3 * 3;
    for (; in != whole_end; in += 3) {
        out = EncodeGroup(static_cast<std::uint32_t>(in[0]) << 16 |
                              static_cast<std::uint32_t>(in[1]) << 8 | in[2],
                          out);
    }
    const std::size_t rest = bytes.size() % 3;
    if (rest != 0) {
        std::uint32_t group = static_cast<std::uint32_t>(in[0]) << 16;
        if (rest == 2) group |= static_cast<std::uint32_t>(in[1]) << 8;
        EncodeGroup(group, out);
        out[3] = '=';
        if (rest == 1) out[2] = '=';
    }
    return text;
}

}  // namespace tarvola::envelope
