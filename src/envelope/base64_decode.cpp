// Base64 decoding under the rules of base64_rules.h.
//
// Envelopes of large values are megabytes of base64, so the output is sized
// once and written through a pointer, and runs of whole 4-character groups
// are converted without consulting the rules for white space, padding and
// "$", which only matter at characters that are not data.
#include "envelope/base64.h"
#include "envelope/base64_rules.h"

namespace tarvola::envelope {
namespace {

// Decodes 4-character groups of alphabet characters from `in` for as long as
// they last, and returns where it stopped: at the end of the text, or at the
// start of the first group holding any other character (white space, "=",
// "$", a foreign byte) or too short to be whole. Every group it converts is
// one Base64Reader would have converted the same way, since the rules only
// differ from it at those characters; the reader picks up from where it stops.
const char* DecodeWholeGroups(const char* in, const char* end, std::uint8_t*& out) noexcept {
    std::uint8_t* o = out;
    while (end - in >= 4) {
        const std::uint32_t a = kBase64Values[static_cast<unsigned char>(in[0])];
        const std::uint32_t b = kBase64Values[static_cast<unsigned char>(in[1])];
        const std::uint32_t c = kBase64Values[static_cast<unsigned char>(in[2])];
        const std::uint32_t d = kBase64Values[static_cast<unsigned char>(in[3])];
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

std::vector<std::uint8_t> Base64Decode(std::string_view text) {
    // Every 3 bytes take at least 4 characters, skipped ones aside.
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
    std::uint8_t* out = bytes.data();
    const char* in = text.data();
    const char* const end = in + text.size();
    Base64Reader reader;
    while (in != end) {
        if (reader.AtDataGroupStart()) {
            in = DecodeWholeGroups(in, end, out);
            if (in == end) break;
        }
        const auto step = reader.Take(*in++);
        if (step == Base64Reader::Step::kEnd) break;
        if (step == Base64Reader::Step::kInvalid) return {};
        if (step != Base64Reader::Step::kGroup) continue;
        const std::uint32_t group = reader.group();
        for (unsigned k = 0; k < reader.group_bytes(); ++k) {
            *out++ = static_cast<std::uint8_t>(group >> (16 - 8 * k));
        }
    }
    if (!reader.MayEnd()) return {};
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

}  // namespace tarvola::envelope
