// How many ciphertext bytes the library decodes from a mode-1 value, worked
// out without decoding it: what tells a plaintext the library cut at a zero
// byte from a whole one. The tool sees the library through its public
// headers only, so this is the tool's own reading of the library's base64
// rules; a test holds the two to the same answers.
#ifndef TARVOLA_TOOLS_VALUES_ENVELOPE_LENGTH_H
#define TARVOLA_TOOLS_VALUES_ENVELOPE_LENGTH_H

#include <cstddef>
#include <optional>
#include <string_view>

namespace tarvola::tool {

// The bytes the part after the first "$" decodes to: standard base64 with
// "=" padding, blanks and line breaks skipped anywhere, at most two "=" in a
// group of four that holds two data characters or more, and after such a
// group only skipped characters or a "$", which ends the part. Nothing when
// there is no "$" or the part does not decode.
[[nodiscard]] std::optional<std::size_t> EnvelopeCiphertextLength(std::string_view value) noexcept;

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_ENVELOPE_LENGTH_H
