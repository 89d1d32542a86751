#include "value_migration.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace tarvola::tool {
namespace {

using Kind = ValueVerdict::Kind;

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kNotText = "does not decrypt to text: wrong key or damaged value";

std::string_view TrimBlanks(std::string_view text) noexcept {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

Mode RecognisedMode(std::string_view value) noexcept {
    return value.find('$') == std::string_view::npos ? Mode::kHexBlock : Mode::kEnvelope;
}

// Valid UTF-8 without control characters other than TAB: what a stored
// text value is, and what a wrong key practically never produces.
bool IsPlausibleText(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if ((lead < 0x20 && lead != '\t') || lead == 0x7F) return false;
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned min_code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            min_code = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            min_code = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            min_code = 0x10000;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        unsigned code = lead & (0x7FU >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3FU);
        }
        if (code < min_code || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// A mode-0 value states its plaintext length in its header and block count;
// a value cut short or decrypted with the wrong key disagrees with both.
bool HexBlockShapeMatches(std::string_view value, std::size_t plaintext_length) {
    std::array<char, 17> digits{};
    std::snprintf(digits.data(), digits.size(), "%02zX", plaintext_length);
    std::string header(digits.data(), std::min<std::size_t>(3, std::strlen(digits.data())));
    header.resize(detail::kHexBlockHeaderLength, '0');
    const std::size_t blocks = (plaintext_length + 15) / 16;
    return value.substr(0, header.size()) == header &&
           value.size() == detail::kHexBlockHeaderLength + 32 * blocks;
}

// Mode 1 stops the plaintext at its first zero byte; a wrong key that
// happens to pass the padding check usually leaves one early on, and then
// far fewer bytes come back than the ciphertext's last block allows.
bool EnvelopeLengthMatches(std::string_view value, std::size_t plaintext_length) {
    const std::string_view sealed = value.substr(value.find('$') + 1);
    std::size_t bytes = sealed.size() / 4 * 3;
    for (std::size_t i = sealed.size(); i > 0 && sealed[i - 1] == '='; --i) --bytes;
    return plaintext_length + 16 >= bytes;
}

// The plaintext, or nothing when the value does not open as a text under
// this key and mode.
Result Open(std::string_view value, std::string_view key, Mode mode) {
    Result plaintext = decrypt(value, key, mode);
    if (!plaintext) return plaintext;
    const std::string& text = *plaintext.value;
    const bool shape_ok = mode == Mode::kHexBlock ? HexBlockShapeMatches(value, text.size())
                                                  : EnvelopeLengthMatches(value, text.size());
    if (shape_ok && IsPlausibleText(text)) return plaintext;
    wipe(plaintext);
    return Result{std::nullopt, Error::kNone};
}

ValueVerdict Failed(std::string reason) {
    return ValueVerdict{Kind::kFailed, {}, std::move(reason)};
}

}  // namespace

ValueVerdict MigrateValue(const MigrationRules& rules, std::string_view stored) {
    const std::string_view value = TrimBlanks(stored);
    const Mode mode = rules.from_mode.value_or(RecognisedMode(value));
    const bool same_key = rules.key == rules.new_key;

    if (mode == rules.to_mode) {
        Result already = Open(value, rules.new_key, mode);
        if (already) {
            wipe(already);
            if (same_key || !Open(value, rules.key, mode)) return {Kind::kUnchanged, {}, {}};
            return Failed("ambiguous: opens under both the old and the new key");
        }
        if (same_key) return Failed(std::string(kNotText));
    }

    Result plaintext = Open(value, rules.key, mode);
    if (!plaintext) {
        return Failed(plaintext.error == Error::kNone ? std::string(kNotText)
                                                      : std::string(plaintext.message()));
    }
    Result sealed = encrypt(*plaintext.value, rules.new_key, rules.to_mode);
    if (!sealed) {
        wipe(plaintext);
        return Failed(std::string(sealed.message()));
    }
    Result check = decrypt(*sealed.value, rules.new_key, rules.to_mode);
    const bool verified = check && *check.value == *plaintext.value;
    wipe(check);
    wipe(plaintext);
    if (!verified) return Failed("the new value does not decrypt back to the old plaintext");
    return {Kind::kNew, std::move(*sealed.value), {}};
}

}  // namespace tarvola::tool
