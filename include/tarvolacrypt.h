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
 * least as large as the TARVOLA_*_SIZE_* macros below say. Texts and keys are
 * bytes: "characters" here and in the README are bytes, up to the terminator.
 *
 * On failure: any mode other than 0 and 1 leaves `output` untouched; mode 0
 * refusals leave it untouched; mode 1 failures leave it holding the empty
 * text (first byte zero, nothing else written).
 *
 * Neither mode authenticates its values: mode 0 cannot detect a wrong key
 * and returns whatever the block decryption gives; mode 1 detects a wrong key
 * only through the padding check, which passes by chance for about 1 value
 * in 256.
 */
#ifndef TARVOLACRYPT_H
#define TARVOLACRYPT_H

#include <stddef.h>
#include <stdint.h>

/* The two values of `mode`. */
#define TARVOLA_MODE_HEX_BLOCK 0
#define TARVOLA_MODE_ENVELOPE 1

/* Key texts of this many bytes or more make no AES key: mode 1 refuses them. */
#define TARVOLA_MODE1_KEY_LIMIT 32

/* Output buffer sizes in bytes, the terminating zero included. `n` is a
 * size_t: the length of the input text, except for TARVOLA_DECRYPT_SIZE_MODE1,
 * where it is the number of bytes after the first "$". Every intermediate
 * value stays below the result, so nothing wraps for any n whose result fits
 * in a size_t (32-bit builds included). The macros evaluate `n` more than once.
 *
 * Encrypt mode 0 APPENDS to the text already in `output`, which MUST hold a
 * zero-terminated text (normally the empty one): add strlen(output).
 * Decrypt mode 0 writes no terminator: `output` MUST be zero-filled.
 *
 * The README's formulas, rearranged so that no product exceeds the result:
 * mode 1 encryption's 4 * ceil(C / 3) with C = 16m, m = n / 16 + 1, is
 * 20m + 4 * ceil(m / 3); mode 1 decryption's 3 * n / 4 is
 * n / 4 * 3 + n % 4 * 3 / 4. */
#define TARVOLA_ENCRYPT_SIZE_MODE0(n) \
    ((size_t)9 + ((size_t)(n) / 16 + (size_t)((size_t)(n) % 16 != 0)) * 32)
#define TARVOLA_ENCRYPT_SIZE_MODE1(n) \
    ((size_t)26 + ((size_t)(n) / 16 + 1) * 20 + ((size_t)(n) / 16 + 3) / 3 * 4)
#define TARVOLA_DECRYPT_SIZE_MODE0(n) \
    ((size_t)(n) <= 8 ? (size_t)1     \
                      : (((size_t)(n)-8) / 32 + (size_t)(((size_t)(n)-8) % 32 != 0)) * 16 + 1)
#define TARVOLA_DECRYPT_SIZE_MODE1(n) ((size_t)(n) / 4 * 3 + (size_t)(n) % 4 * 3 / 4 + 1)

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
