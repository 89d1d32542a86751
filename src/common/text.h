// Small text helpers shared by both schemes and the entry points.
#ifndef TARVOLA_COMMON_TEXT_H
#define TARVOLA_COMMON_TEXT_H

#include <string_view>

namespace tarvola {

// A C text argument as a view; a null pointer counts as the empty text.
[[nodiscard]] inline std::string_view ViewOf(const char* text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view{text};
}

// White space as the C locale's isspace sees it: space, \t, \n, \v, \f, \r
// (the last five are the consecutive codes 9 to 13). Bytes from 0x80 up are
// never white space, whatever the host's locale. The mode-0 text allows it.
[[nodiscard]] inline bool IsCLocaleSpace(char c) noexcept {
    const auto code = static_cast<unsigned char>(c);
    return (code == ' ') | (static_cast<unsigned char>(code - '\t') < 5U);
}

// Blanks and line breaks: space, \t, \n, \r, and not \v or \f. The base64
// decoders skip exactly these, on every platform.
[[nodiscard]] constexpr bool IsBlankOrLineBreak(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Every mode-1 failure leaves the empty text in the caller's buffer, whatever
// failed: first byte zero, nothing else written. Returns false so that a
// failing path can end in `return FailWithEmptyText(output);`.
[[nodiscard]] inline bool FailWithEmptyText(char* output) noexcept {
    output[0] = '\0';
    return false;
}

}  // namespace tarvola

#endif  // TARVOLA_COMMON_TEXT_H
