/* The C header from a C translation unit: mode 0 there and back. */
#include <string.h>

#include "tarvolacrypt.h"

int c_round_trip(void) {
    char sealed[64] = "";
    char opened[32];
    memset(opened, 0, sizeof opened);
    if (Encrypt("from C", "key", sealed, 0) != 0) return 0;
    if (Decrypt(sealed, "key", opened, 0) != 0) return 0;
    return strcmp(opened, "from C") == 0;
}
