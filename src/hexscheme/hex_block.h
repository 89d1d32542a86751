// Mode 0: AES-128 applied to each 16-byte block of the zero-padded text on
// its own (no IV, no chaining), written as an 8-character length header plus
// the ciphertext in uppercase hex.
//
// The key is the first 16 characters of the key text, zero bytes where it is
// shorter; a null key counts as the empty key. The format has no integrity
// check: a wrong key decrypts to garbage and still succeeds.
#ifndef TARVOLA_HEXSCHEME_HEX_BLOCK_H
#define TARVOLA_HEXSCHEME_HEX_BLOCK_H

namespace tarvola::hexscheme {

// Appends header and hex to the zero-terminated text already in `output`,
// followed by a terminator: 8 + 32 * ceil(L / 16) characters for an input of
// L characters. False, with `output` untouched, for a null or empty input and
// for one longer than a signed 32-bit count.
[[nodiscard]] bool EncryptHexBlock(const char* input, const char* key, char* output) noexcept;

// Checks the shape of `text` (length, header, hex body), then writes every
// non-zero byte of the decrypted blocks to `output` from its first byte,
// WITHOUT a terminator: `output` must come zero-filled. False, with `output`
// untouched, for a malformed text; false also when `output`'s first byte is
// still zero afterwards (nothing decrypted to a non-zero byte).
[[nodiscard]] bool DecryptHexBlock(const char* text, const char* key, char* output) noexcept;

}  // namespace tarvola::hexscheme

#endif  // TARVOLA_HEXSCHEME_HEX_BLOCK_H
