// Base64 through CryptoAPI's conversion functions (crypt32.dll).
//
// Decoding checks the text against our own rules first and hands crypt32
// only the checked characters, white space removed and cut at the envelope's
// "$": crypt32 versions differ in what else they accept (white space, text
// after the padding, a "$" in the middle), and a value must open, or fail,
// the same way here as on Linux.
#include <windows.h>
// windows.h first: wincrypt.h needs its types.
#include <wincrypt.h>

#include <limits>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/windows/heap_buffer.h"

namespace tarvola::platform {
namespace {

bool IsBase64Data(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// The characters crypt32 gets, and the number of bytes they must decode to.
struct CheckedText {
    std::size_t length = 0;
    std::size_t bytes = 0;
};

// Copies the significant characters of `text` to `compact` (room for
// text.size()) and checks them: only the alphabet and "=", whole groups of
// four, at most two "=" and only at the end of a group, nothing after a
// padded group except white space and a "$" that ends the text.
std::optional<CheckedText> CheckAndCompact(std::string_view text, char* compact) noexcept {
    CheckedText checked;
    unsigned filled = 0;    // characters of the current 4-character group
    unsigned padding = 0;   // "=" in the current group
    bool finished = false;  // a padded group has ended the data
    for (const char c : text) {
        if (IsBlankOrLineBreak(c)) continue;
        if (finished) {
            if (c == '$') break;
            return std::nullopt;
        }
        if (c == '=') {
            if (filled < 2) return std::nullopt;
            ++padding;
        } else if (!IsBase64Data(c) || padding != 0) {
            return std::nullopt;
        }
        compact[checked.length++] = c;
        if (++filled < 4) continue;
        checked.bytes += 3 - padding;
        finished = padding != 0;
        filled = 0;
        padding = 0;
    }
    if (filled != 0) return std::nullopt;
    return checked;
}

}  // namespace

std::optional<std::string> Base64Encode(std::span<const std::uint8_t> bytes) {
    // Nothing to convert; crypt32 refuses a zero-length input.
    if (bytes.empty()) return std::string();
    if (bytes.size() > std::numeric_limits<DWORD>::max() / 4 * 3 - 3) return std::nullopt;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    const auto size = static_cast<DWORD>(bytes.size());

    DWORD needed = 0;  // characters, the terminator included
    if (!CryptBinaryToStringA(bytes.data(), size, flags, nullptr, &needed) || needed == 0) {
        return std::nullopt;
    }
    HeapBuffer text(needed);
    DWORD written = needed;  // characters, without the terminator
    if (!CryptBinaryToStringA(bytes.data(), size, flags, text.chars(), &written) ||
        written >= needed) {
        return std::nullopt;
    }
    const std::size_t expected = (bytes.size() + 2) / 3 * 4;
    if (written != expected) return std::nullopt;
    return std::string(text.chars(), written);
}

ByteVector Base64Decode(std::string_view text) {
    if (text.size() > std::numeric_limits<DWORD>::max()) return {};
    HeapBuffer compact(text.size());
    const auto checked = CheckAndCompact(text, compact.chars());
    if (!checked || checked->length == 0) return {};

    const auto length = static_cast<DWORD>(checked->length);
    DWORD needed = 0;
    if (!CryptStringToBinaryA(compact.chars(), length, CRYPT_STRING_BASE64, nullptr, &needed,
                              nullptr, nullptr) ||
        needed < checked->bytes) {
        return {};
    }
    HeapBuffer bytes(needed);
    DWORD written = needed;
    if (!CryptStringToBinaryA(compact.chars(), length, CRYPT_STRING_BASE64, bytes.data(), &written,
                              nullptr, nullptr) ||
        written != checked->bytes) {
        return {};
    }
    return ByteVector(bytes.data(), bytes.data() + written);
}

}  // namespace tarvola::platform
