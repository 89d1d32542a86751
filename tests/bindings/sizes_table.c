/* The header's buffer sizes for a range of lengths, one line per length:
 *   n ENCRYPT_SIZE_MODE0 ENCRYPT_SIZE_MODE1 DECRYPT_SIZE_MODE0 DECRYPT_SIZE_MODE1
 * so that each binding's tests compare its own sizes with the macros
 * themselves, up to lengths no test could encrypt. */
#include <stdio.h>

#include "tarvolacrypt.h"

static void PrintSizes(unsigned long n) {
    printf("%lu %lu %lu %lu %lu\n", n, (unsigned long)TARVOLA_ENCRYPT_SIZE_MODE0(n),
           (unsigned long)TARVOLA_ENCRYPT_SIZE_MODE1(n),
           (unsigned long)TARVOLA_DECRYPT_SIZE_MODE0(n),
           (unsigned long)TARVOLA_DECRYPT_SIZE_MODE1(n));
}

int main(void) {
    /* Every length over a few blocks, then the largest text a 32-bit length allows. */
    static const unsigned long kLarge[] = {4095UL,    4096UL,       4097UL,      1048576UL,
                                           1398128UL, 2147483646UL, 2147483647UL};
    unsigned long n;
    size_t i;
    for (n = 0; n <= 300; ++n) PrintSizes(n);
    for (i = 0; i < sizeof kLarge / sizeof kLarge[0]; ++i) PrintSizes(kLarge[i]);
    return 0;
}
