// Base64 encoding through CryptoAPI's conversion function (crypt32.dll).
//
// The DLL has always imported crypt32.dll, and host installers list its
// imports, so encoding keeps going through it; it writes the same text as the
// portable encoder. Decoding is the portable decoder on every platform:
// crypt32 versions differ in what else they accept (white space, text after
// the padding, a "$" in the middle), and a value must open, or fail, the same
// way here as on Linux.
#include <windows.h>
// windows.h first: wincrypt.h needs its types.
#include <wincrypt.h>

#include <limits>

#include "envelope/base64.h"
#include "platform/windows/heap_buffer.h"

namespace tarvola::envelope {

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
    platform::HeapBuffer text(needed);
    DWORD written = needed;  // characters, without the terminator
    if (!CryptBinaryToStringA(bytes.data(), size, flags, text.chars(), &written) ||
        written >= needed) {
        return std::nullopt;
    }
    const std::size_t expected = (bytes.size() + 2) / 3 * 4;
    if (written != expected) return std::nullopt;
    return std::string(text.chars(), written);
}

}  // namespace tarvola::envelope
