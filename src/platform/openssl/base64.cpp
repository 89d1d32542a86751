// A small base64 codec of our own: OpenSSL's block decoder neither reports
// the padding it consumed nor treats the envelope's "$" the way the envelope
// format needs, and the rules here must match the Windows conversion service
// on every text the library writes.
#include <array>

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

bool IsSkippedWhitespace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::optional<std::string> Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16 |
                                    static_cast<std::uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 0x3f];
        text += kAlphabet[(group >> 6) & 0x3f];
        text += kAlphabet[group & 0x3f];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest != 0) {
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (rest == 2) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 0x3f];
        text += rest == 2 ? kAlphabet[(group >> 6) & 0x3f] : '=';
        text += '=';
    }
    return text;
}

ByteVector Base64Decode(std::string_view text) {
    ByteVector bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    unsigned filled = 0;    // characters of the current 4-character group
    unsigned padding = 0;   // "=" seen; once non-zero only "=" may complete the group
    bool finished = false;  // a padded group has ended the data
    for (const char c : text) {
        if (IsSkippedWhitespace(c)) continue;
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
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1) bytes.push_back(static_cast<std::uint8_t>(group));
        finished = padding != 0;
        group = 0;
        filled = 0;
    }
    if (filled != 0) return {};
    return bytes;
}

}  // namespace tarvola::platform
