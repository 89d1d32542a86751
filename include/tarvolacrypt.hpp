// TarvolaCrypt for C++: the two C entry points behind an interface that sizes
// the output buffers itself, refuses what the C interface cannot carry and
// says why a call failed.
//
//   tarvola::Result sealed = tarvola::encrypt("value", key, tarvola::Mode::kEnvelope);
//   if (!sealed) std::cerr << sealed.message() << '\n';
//
// Header only, C++17 or later; link against the TarvolaCrypt library, which
// exports nothing but `Encrypt` and `Decrypt`.
//
// Strings returned by `decrypt` hold plaintext: pass them to `wipe` once they
// are no longer needed. Every buffer this header fills on its own is wiped
// before it is released.
#ifndef TARVOLACRYPT_HPP
#define TARVOLACRYPT_HPP

#if __cplusplus < 201703L && (!defined(_MSVC_LANG) || _MSVC_LANG < 201703L)
#error "tarvolacrypt.hpp needs C++17 or later; C callers include tarvolacrypt.h"
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tarvolacrypt.h"

namespace tarvola {

enum class Mode : std::int32_t {
    // AES-128 block by block, deterministic, no integrity: header + hex.
    kHexBlock = TARVOLA_MODE_HEX_BLOCK,
    // AES-CBC with a random IV and PKCS #7 padding: base64(IV) "$" base64(ct).
    kEnvelope = TARVOLA_MODE_ENVELOPE,
};

enum class Error {
    kNone,
    kUnknownMode,
    kZeroByteInText,
    kZeroByteInKey,
    kTextTooLong,
    kEmptyHexBlockText,
    kKeyTooLongForEnvelope,
    kNotHexBlockValue,
    kNotEnvelopeValue,
    kEnvelopeRejected,
    kLibraryFailure,
};

// The reason as a phrase a tool can print after "line 17: ".
[[nodiscard]] constexpr std::string_view describe(Error error) noexcept {
    switch (error) {
        case Error::kNone:
            return "no error";
        case Error::kUnknownMode:
            return "unknown mode (only 0 and 1 exist)";
        case Error::kZeroByteInText:
            return "the text contains a zero byte";
        case Error::kZeroByteInKey:
            return "the key text contains a zero byte";
        case Error::kTextTooLong:
            return "the text is too long";
        case Error::kEmptyHexBlockText:
            return "mode 0 cannot encrypt an empty text";
        case Error::kKeyTooLongForEnvelope:
            return "key text of 32 or more characters cannot be used in mode 1";
        case Error::kNotHexBlockValue:
            return "not a mode-0 value";
        case Error::kNotEnvelopeValue:
            return "not a mode-1 value (no \"$\")";
        case Error::kEnvelopeRejected:
            return "mode-1 value rejected: wrong key or damaged value";
        case Error::kLibraryFailure:
            return "the library failed (random source or cryptography provider)";
    }
    return "unknown error";
}

// The 8 characters a mode-0 value starts with, for a plaintext of `length`
// bytes: the length in upper-case hex, at least two digits and cut to its
// first three, then "0" up to 8 ("0D000000" for 13 bytes, "1F400000" for
// 8000). What decryption checks a value's length against.
[[nodiscard]] constexpr std::array<char, 8> hex_block_header(std::size_t length) noexcept {
    constexpr std::string_view digits = "0123456789ABCDEF";
    std::array<char, 8> header{'0', '0', '0', '0', '0', '0', '0', '0'};
    std::size_t count = 2;
    while (count < 2 * sizeof length && (length >> (4 * count)) != 0) ++count;
    for (std::size_t i = 0; i < count && i < 3; ++i)
        header[i] = digits[(length >> (4 * (count - 1 - i))) & 0xF];
    return header;
}

// Either a value or the reason there is none.
struct Result {
    std::optional<std::string> value;
    Error error = Error::kNone;

    [[nodiscard]] explicit operator bool() const noexcept { return value.has_value(); }
    [[nodiscard]] std::string_view message() const noexcept { return describe(error); }
};

// Overwrites `size` bytes at `data` with zeros through a volatile pointer, so
// that the stores cannot be dropped as dead.
inline void secure_wipe(void* data, std::size_t size) noexcept {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

// What wiping_allocator zeros a block with unless told otherwise.
struct secure_wiper {
    void operator()(void* data, std::size_t size) const noexcept { secure_wipe(data, size); }
};

// An allocator that zeros each block before handing it back, including the
// old block a string or vector leaves behind when it grows: for text that
// holds a key or a plaintext while it changes size. `Wiper` does the zeroing.
template <class T, class Wiper = secure_wiper>
struct wiping_allocator {
    using value_type = T;

    wiping_allocator() noexcept = default;
    template <class U>
    wiping_allocator(const wiping_allocator<U, Wiper>& /*other*/) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        Wiper{}(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }

    template <class U>
    bool operator==(const wiping_allocator<U, Wiper>& /*other*/) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const wiping_allocator<U, Wiper>& /*other*/) const noexcept {
        return false;
    }
};

// A string whose heap blocks are zeroed when they go. Its short-string
// buffer is part of the object, which no allocator sees: `wipe` clears that.
using secret_string = std::basic_string<char, std::char_traits<char>, wiping_allocator<char>>;

// Zeros every byte `text` owns, up to its capacity (the short-string buffer
// included), and leaves it empty.
template <class Allocator>
inline void wipe(std::basic_string<char, std::char_traits<char>, Allocator>& text) noexcept {
    text.resize(text.capacity());
    secure_wipe(text.data(), text.size());
    text.clear();
}

inline void wipe(Result& result) noexcept {
    if (result.value) wipe(*result.value);
}

namespace detail {

// Longest text accepted: the C interface counts characters in a signed 32-bit
// integer, and no output size computed below may overflow std::size_t.
inline constexpr std::size_t kMaxTextLength =
    std::min<std::size_t>(static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()),
                          (std::numeric_limits<std::size_t>::max() - 64) / 2 - 16);

// A zero-terminated copy for the C interface, wiped when it goes: it holds a
// key text or a plaintext.
class CText {
  public:
    explicit CText(std::string_view text) : text_(text) {}
    CText(const CText&) = delete;
    CText& operator=(const CText&) = delete;
    ~CText() { wipe(text_); }

    [[nodiscard]] const char* c_str() const noexcept { return text_.c_str(); }

  private:
    std::string text_;
};

// The output buffer of one call, zero-filled (Decrypt mode 0 writes no
// terminator, Encrypt mode 0 appends to the text already there) and wiped
// when it goes.
class OutputBuffer {
  public:
    explicit OutputBuffer(std::size_t size) : bytes_(size, '\0') {}
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    ~OutputBuffer() { wipe(bytes_); }

    [[nodiscard]] char* data() noexcept { return bytes_.data(); }

    // The zero-terminated text the call left, handed over; the buffer keeps
    // nothing of it.
    [[nodiscard]] Result Take() {
        bytes_.resize(std::strlen(bytes_.c_str()));
        Result result{std::move(bytes_), Error::kNone};
        return result;
    }

  private:
    std::string bytes_;
};

// The refusals that need no call, shared by both directions.
[[nodiscard]] inline Error CheckArguments(std::string_view text, std::string_view key, Mode mode) {
    if (mode != Mode::kHexBlock && mode != Mode::kEnvelope) return Error::kUnknownMode;
    if (text.find('\0') != std::string_view::npos) return Error::kZeroByteInText;
    if (key.find('\0') != std::string_view::npos) return Error::kZeroByteInKey;
    if (text.size() > kMaxTextLength) return Error::kTextTooLong;
    if (mode == Mode::kEnvelope && key.size() >= TARVOLA_MODE1_KEY_LIMIT) {
        return Error::kKeyTooLongForEnvelope;
    }
    return Error::kNone;
}

[[nodiscard]] inline Result Failure(Error error) {
    return Result{std::nullopt, error};
}

}  // namespace detail

// Encrypts `text` under the key text `key`. Mode 0 gives the same value for
// the same text and key and refuses the empty text; mode 1 draws a new IV
// every time and refuses key texts of 32 or more characters.
[[nodiscard]] inline Result encrypt(std::string_view text, std::string_view key, Mode mode) {
    if (const Error error = detail::CheckArguments(text, key, mode); error != Error::kNone) {
        return detail::Failure(error);
    }
    if (mode == Mode::kHexBlock && text.empty()) return detail::Failure(Error::kEmptyHexBlockText);

    const detail::CText c_text(text);
    const detail::CText c_key(key);
    detail::OutputBuffer output(mode == Mode::kHexBlock ? TARVOLA_ENCRYPT_SIZE_MODE0(text.size())
                                                        : TARVOLA_ENCRYPT_SIZE_MODE1(text.size()));
    if (Encrypt(c_text.c_str(), c_key.c_str(), output.data(), static_cast<std::int32_t>(mode)) !=
        0) {
        return detail::Failure(Error::kLibraryFailure);
    }
    return output.Take();
}

// Decrypts a value that `encrypt` wrote in the same mode. Mode 0 has no
// integrity check: under a wrong key it succeeds and returns garbage. A
// well-formed mode-0 value whose blocks decrypt to zero bytes only is
// reported as kNotHexBlockValue, like a malformed one.
[[nodiscard]] inline Result decrypt(std::string_view value, std::string_view key, Mode mode) {
    if (const Error error = detail::CheckArguments(value, key, mode); error != Error::kNone) {
        return detail::Failure(error);
    }
    std::size_t size = 0;
    if (mode == Mode::kHexBlock) {
        size = TARVOLA_DECRYPT_SIZE_MODE0(value.size());
    } else {
        const std::size_t separator = value.find('$');
        if (separator == std::string_view::npos) return detail::Failure(Error::kNotEnvelopeValue);
        size = TARVOLA_DECRYPT_SIZE_MODE1(value.size() - separator - 1);
    }

    const detail::CText c_value(value);
    const detail::CText c_key(key);
    detail::OutputBuffer output(size);
    if (Decrypt(c_value.c_str(), c_key.c_str(), output.data(), static_cast<std::int32_t>(mode)) !=
        0) {
        return detail::Failure(mode == Mode::kHexBlock ? Error::kNotHexBlockValue
                                                       : Error::kEnvelopeRejected);
    }
    return output.Take();
}

}  // namespace tarvola

#endif  // TARVOLACRYPT_HPP
