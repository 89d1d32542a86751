// What a base64 text means to this library, character by character: the
// rules every decoder here follows, and the length they give, in one
// header-only piece with no dependency on the rest of the library (the tool
// compiles it too, to know how long a ciphertext part is without decoding it).
//
// Standard alphabet, "=" padding. Blanks and line breaks (IsBlankOrLineBreak)
// are skipped wherever they are. At most two "=" end a group of four that
// holds at least two data characters; after such a group only skipped
// characters may follow, or a "$", which ends the text (the envelope's first
// part ends there). Anything else, or a group left unfinished, fails.
#ifndef TARVOLA_ENVELOPE_BASE64_RULES_H
#define TARVOLA_ENVELOPE_BASE64_RULES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/text.h"

namespace tarvola::envelope {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Alphabet values are below 64; this one has bit 7 set, so that one test
// tells whether any of several looked-up characters is outside the alphabet.
inline constexpr std::uint8_t kNotInBase64Alphabet = 0xff;

inline constexpr std::array<std::uint8_t, 256> kBase64Values = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInBase64Alphabet);
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
        table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}();

// Reads a text one character at a time under the rules above and gathers the
// 24 bits of each 4-character group.
class Base64Reader {
  public:
    enum class Step {
        kSkipped,  // white space: nothing changed
        kTaken,    // part of a group that is not complete yet
        kGroup,    // completed a group: group() and group_bytes() hold it
        kEnd,      // the "$" after a padded group: the text ends here
        kInvalid,  // the text does not decode
    };

    [[nodiscard]] constexpr Step Take(char c) noexcept {
        if (IsBlankOrLineBreak(c)) return Step::kSkipped;
        if (finished_) return c == '$' ? Step::kEnd : Step::kInvalid;
        if (c == '=') {
            if (filled_ < 2) return Step::kInvalid;
            ++padding_;
        } else {
            const std::uint8_t value = kBase64Values[static_cast<unsigned char>(c)];
            if (value == kNotInBase64Alphabet || padding_ != 0) return Step::kInvalid;
            bits_ |= static_cast<std::uint32_t>(value) << (6 * (3 - filled_));
        }
        if (++filled_ < 4) return Step::kTaken;
        group_ = bits_;
        group_bytes_ = 3 - padding_;
        finished_ = padding_ != 0;
        bits_ = 0;
        filled_ = 0;
        padding_ = 0;
        return Step::kGroup;
    }

    // The last completed group: its bytes are the top group_bytes() of the
    // low 24 bits, most significant first.
    [[nodiscard]] constexpr std::uint32_t group() const noexcept { return group_; }
    [[nodiscard]] constexpr unsigned group_bytes() const noexcept { return group_bytes_; }

    // Between groups of unpadded data: where whole groups of alphabet
    // characters may be taken without looking at the rules.
    [[nodiscard]] constexpr bool AtDataGroupStart() const noexcept {
        return filled_ == 0 && !finished_;
    }

    // Whether the text may end here: no group left unfinished.
    [[nodiscard]] constexpr bool MayEnd() const noexcept { return filled_ == 0; }

  private:
    std::uint32_t bits_ = 0;
    std::uint32_t group_ = 0;
    unsigned filled_ = 0;       // characters of the current group
    unsigned padding_ = 0;      // "=" in the current group
    unsigned group_bytes_ = 0;  // bytes of the last completed group
    bool finished_ = false;     // a padded group has ended the data
};

// The number of bytes `text` decodes to, or nothing when it does not decode.
// It never exceeds text.size() / 4 * 3, so it cannot wrap.
[[nodiscard]] constexpr std::optional<std::size_t> Base64DecodedLength(
    std::string_view text) noexcept {
    Base64Reader reader;
    std::size_t bytes = 0;
    for (const char c : text) {
        const auto step = reader.Take(c);
        if (step == Base64Reader::Step::kGroup) bytes += reader.group_bytes();
        if (step == Base64Reader::Step::kEnd) break;
        if (step == Base64Reader::Step::kInvalid) return std::nullopt;
    }
    if (!reader.MayEnd()) return std::nullopt;
    return bytes;
}

}  // namespace tarvola::envelope

#endif  // TARVOLA_ENVELOPE_BASE64_RULES_H
