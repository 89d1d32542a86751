/* The size macros of tarvolacrypt.h in a C89 program: they compile under
 * -std=c89 -pedantic, agree with the README's buffer table for every length
 * up to a few blocks past 4 KiB, and do not wrap where the table's own
 * formulas would with a 32-bit size_t. Built for every target; in the 32-bit
 * Windows build the compile-time checks alone prove the last point. */
#include <stdio.h>

#include "tarvolacrypt.h"

/* A compile-time check in C89: an array of negative size does not compile. */
#define CHECK(name, condition) typedef char name[(condition) ? 1 : -1]

/* Lengths near the top of a 32-bit size_t, with what the README's formulas
 * give when computed without overflow. */
CHECK(encrypt_mode0_top, TARVOLA_ENCRYPT_SIZE_MODE0(0x7FFFFFF0UL) == 0xFFFFFFE9UL);
CHECK(encrypt_mode1_top, TARVOLA_ENCRYPT_SIZE_MODE1(0xBFFFFF00UL) == 0xFFFFFEDAUL);
CHECK(decrypt_mode0_top, TARVOLA_DECRYPT_SIZE_MODE0(0xFFFFFFFFUL) == 0x80000001UL);
CHECK(decrypt_mode1_top, TARVOLA_DECRYPT_SIZE_MODE1(0xFFFFFFFFUL) == 0xC0000000UL);
CHECK(decrypt_mode1_naive_wrap, TARVOLA_DECRYPT_SIZE_MODE1(1431655766UL) == 1073741825UL);
CHECK(key_limit, TARVOLA_MODE1_KEY_LIMIT == 32);
CHECK(modes, TARVOLA_MODE_HEX_BLOCK == 0 && TARVOLA_MODE_ENVELOPE == 1);

static unsigned long CeilDiv(unsigned long n, unsigned long d) {
    return n / d + (n % d != 0);
}

/* The README's table, L the input length, A the characters after the "$". */
static unsigned long ReadmeEncryptMode0(unsigned long L) {
    return 8 + 32 * CeilDiv(L, 16) + 1;
}
static unsigned long ReadmeEncryptMode1(unsigned long L) {
    unsigned long C = 16 * (L / 16 + 1);
    return 25 + 4 * CeilDiv(C, 3) + 1;
}
static unsigned long ReadmeDecryptMode0(unsigned long L) {
    return 16 * CeilDiv(L - 8, 32) + 1;
}
static unsigned long ReadmeDecryptMode1(unsigned long A) {
    return 3 * A / 4 + 1;
}

static int Check(const char* what, unsigned long n, size_t macro, unsigned long readme) {
    if (macro == readme) return 0;
    printf("%s(%lu): macro %lu, README %lu\n", what, n, (unsigned long)macro, readme);
    return 1;
}

int main(void) {
    unsigned long n;
    int failures = 0;
    for (n = 0; n <= 5000; ++n) {
        failures += Check("TARVOLA_ENCRYPT_SIZE_MODE0", n, TARVOLA_ENCRYPT_SIZE_MODE0(n),
                          ReadmeEncryptMode0(n));
        failures += Check("TARVOLA_ENCRYPT_SIZE_MODE1", n, TARVOLA_ENCRYPT_SIZE_MODE1(n),
                          ReadmeEncryptMode1(n));
        /* Decryption refuses texts under 40 characters; the macro gives at
         * least 1 byte for every length. */
        if (n >= 40) {
            failures += Check("TARVOLA_DECRYPT_SIZE_MODE0", n, TARVOLA_DECRYPT_SIZE_MODE0(n),
                              ReadmeDecryptMode0(n));
        }
        failures += Check("TARVOLA_DECRYPT_SIZE_MODE1", n, TARVOLA_DECRYPT_SIZE_MODE1(n),
                          ReadmeDecryptMode1(n));
    }
    if (TARVOLA_DECRYPT_SIZE_MODE0(0) != 1 || TARVOLA_DECRYPT_SIZE_MODE0(8) != 1) ++failures;
    printf("%s\n", failures == 0 ? "size macros agree with the README table" : "FAILED");
    return failures == 0 ? 0 : 1;
}
