/*
 * TarvolaCrypt: encryption of short text values (passwords, connection
 * strings, field values) into printable text, and back.
 *
 * Two schemes sit behind the `mode` argument:
 *   mode 0  AES-128 applied block by block (no IV, no chaining), written as an
 *           8-character length header plus uppercase hex. Deterministic.
 *   mode 1  AES-CBC with a random IV and PKCS #7 padding, written as
 *           base64(IV) "$" base64(ciphertext). Key texts of 0-15 characters
 *           give AES-128, 16-31 characters AES-256; 32 or more are refused.
 *
 * Both functions return 0 on success and 1 on failure, keep no state between
 * calls and may be called from any number of threads at once.
 *
 * The library is never told the size of `output`; the caller MUST make it at
 * least as large as the table below says (L = strlen(input), all sizes
 * include the terminating zero):
 *
 *   Encrypt mode 0  strlen(output) + 8 + 32 * ceil(L / 16) + 1. The result is
 *                   APPENDED to the text already in `output`, which MUST hold
 *                   a zero-terminated text (normally the empty one).
 *   Encrypt mode 1  25 + 4 * ceil(C / 3) + 1, where C = 16 * (L / 16 + 1).
 *   Decrypt mode 0  16 * ceil((L - 8) / 32) + 1. No terminator is written:
 *                   `output` MUST be zero-filled beforehand.
 *   Decrypt mode 1  3 * (characters after the first "$") / 4 + 1.
 *
 * On failure: any mode other than 0 and 1 leaves `output` untouched; mode 0
 * refusals leave it untouched; mode 1 failures leave it holding the empty
 * text (first byte zero, nothing else written).
 *
 * Neither mode authenticates its values: mode 0 cannot detect a wrong key
 * and returns whatever the block decryption gives; mode 1 detects most wrong
 * keys only through the padding check.
 */
#ifndef TARVOLACRYPT_H
#define TARVOLACRYPT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Encrypts the zero-terminated `plaintext` under the zero-terminated `key`
 * into `output`. A null key counts as the empty key. */
int32_t Encrypt(const char* plaintext, const char* key, char* output, int32_t mode);

/* Decrypts a text written by Encrypt in the same mode with the same key. */
int32_t Decrypt(const char* ciphertext, const char* key, char* output, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* TARVOLACRYPT_H */
