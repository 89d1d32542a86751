// A small base64 codec of our own: OpenSSL's block decoder neither reports
// the padding it consumed nor treats the envelope's "$" the way the envelope
// format needs, and the rules here must match the Windows conversion service
// on every text the library writes.
//
// Envelopes of large values are megabytes of base64, so both directions write
// through a pointer into storage sized once, and decoding converts runs of
// whole 4-character groups without looking at the rules for white space,
// padding and "$", which apply only at the characters that are not data.
#include <array>
#include <cstring>

#include "common/text.h"
#include "platform/platform.h"

namespace tarvola::platform {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotInAlphabet = 0xff;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}
constexpr auto kDecodeTable = MakeDecodeTable();

// The two characters of every 12-bit value (8 KiB), so that encoding takes
// two look-ups per 3 bytes instead of four.
using CharPair = std::array<char, 2>;
constexpr std::array<CharPair, 4096> MakePairTable() {
    std::array<CharPair, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3f]};
    return table;
}
constexpr auto kPairTable = MakePairTable();

// The 4 characters of the 3 bytes in the low 24 bits of `group`.
char* EncodeGroup(std::uint32_t group, char* out) noexcept {
    std::memcpy(out, kPairTable[group >> 12].data(), 2);
    std::memcpy(out + 2, kPairTable[group & 0xfff].data(), 2);
    return out + 4;
}

// Decodes 4-character groups of alphabet characters from `in` for as long as
// they last, and returns where it stopped: at the end of the text, or at the
// start of the first group holding any other character (white space, "=",
// "$", a foreign byte) or too short to be whole. Every group it converts is
// one the general rules below would have converted the same way, since they
// only differ from it at those characters; they pick up from where it stops.
const char* DecodeWholeGroups(const char* in, const char* end, std::uint8_t*& out) noexcept {
    std::uint8_t* o = out;
    while (end - in >= 4) {
        const std::uint32_t a = kDecodeTable[static_cast<unsigned char>(in[0])];
        const std::uint32_t b = kDecodeTable[static_cast<unsigned char>(in[1])];
        const std::uint32_t c = kDecodeTable[static_cast<unsigned char>(in[2])];
        const std::uint32_t d = kDecodeTable[static_cast<unsigned char>(in[3])];
        // Alphabet values are below 64; kNotInAlphabet has bit 7 set.
        if (((a | b | c | d) & 0x80U) != 0) break;
        const std::uint32_t group = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<std::uint8_t>(group >> 16);
        o[1] = static_cast<std::uint8_t>(group >> 8);
        o[2] = static_cast<std::uint8_t>(group);
        o += 3;
        in += 4;
    }
    out = o;
    return in;
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

ByteVector Base64Decode(std::string_view text) {
    // Every 3 bytes take at least 4 characters, skipped ones aside.
    ByteVector bytes(text.size() / 4 * 3);
    std::uint8_t* out = bytes.data();
    const char* in = text.data();
    const char* const end = in + text.size();
    std::uint32_t group = 0;
    unsigned filled = 0;    // characters of the current 4-character group
    unsigned padding = 0;   // "=" seen; once non-zero only "=" may complete the group
    bool finished = false;  // a padded group has ended the data
    while (in != end) {
        // Between groups of unpadded data, and only there, whole groups of
        // alphabet characters can be taken in one go (padding is 0 then too).
        if (filled == 0 && !finished) {
            in = DecodeWholeGroups(in, end, out);
            if (in == end) break;
        }
        const char c = *in++;
        if (IsBlankOrLineBreak(c)) continue;
        if (finished) {
            // The envelope's first part ends in "$" right after the padding.
            if (c == '$') break;
            return {};
        }
        if (c == '=') {
            if (filled < 2) return {};
            ++padding;
        } else {
            const std::uint8_t value = kDecodeTable[static_cast<unsigned char>(c)];
            if (value == kNotInAlphabet || padding != 0) return {};
            group |= static_cast<std::uint32_t>(value) << (6 * (3 - filled));
        }
        if (++filled < 4) continue;
        *out++ = static_cast<std::uint8_t>(group >> 16);
        if (padding < 2) *out++ = static_cast<std::uint8_t>(group >> 8);
        if (padding < 1) *out++ = static_cast<std::uint8_t>(group);
        finished = padding != 0;
        group = 0;
        filled = 0;
    }
    if (filled != 0) return {};
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

}  // namespace tarvola::platform
