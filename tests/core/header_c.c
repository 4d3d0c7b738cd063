/* Compiled as C99 with -pedantic-errors: the public header must stay plain C. */
#include "uhfreader.h"

int uhf_header_compiles_as_c(void) {
    unsigned char reply[256];
    return PSAM_Command(1, BlkAAdrBeg, reply) + (int)BlkBLength + USB_Flag;
}
