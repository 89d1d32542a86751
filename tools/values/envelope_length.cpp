#include "values/envelope_length.h"

namespace tarvola::tool {
namespace {

bool IsBase64Data(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

std::optional<std::size_t> EnvelopeCiphertextLength(std::string_view value) noexcept {
    const std::size_t separator = value.find('$');
    if (separator == std::string_view::npos) return std::nullopt;
    std::size_t bytes = 0;
    unsigned filled = 0;    // characters of the group being read
    unsigned padding = 0;   // "=" among them
    bool finished = false;  // a padded group ended the data
    for (const char c : value.substr(separator + 1)) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if (finished) {
            if (c == '$') break;
            return std::nullopt;
        }
        if (c == '=' ? filled < 2 : !IsBase64Data(c) || padding != 0) return std::nullopt;
        if (c == '=') ++padding;
        if (++filled < 4) continue;
        bytes += 3 - padding;
        finished = padding != 0;
        filled = 0;
        padding = 0;
    }
    if (filled != 0) return std::nullopt;
    return bytes;
}

}  // namespace tarvola::tool
