// The link twin of every command, one per row: uhf_NAME(l, addr, ...) runs NAME on link l.
#include "commands/catalogue.hpp"
#include "commands/rows.hpp"
#include "link/link.hpp"
#include "uhfreader.h"

extern "C" {
#define UHF_ROW(name, code, family, access, copy, copy_size, clears, result, summary, ...)                     \
    UHF_API int uhf_##name(uhf_link *l, int addr UHF_FOR_EACH(UHF_DECL, __VA_ARGS__)) {                   \
        const int scalars[4] = {UHF_FOR_EACH(UHF_SCALAR, __VA_ARGS__)};                                   \
        unsigned char *const buffers[4] = {UHF_FOR_EACH(UHF_BUFFER, __VA_ARGS__)};                        \
        return uhf::link_command(l, uhf::catalogue_row(uhf::RowId::name), addr, scalars, buffers);        \
    }
#include "commands/all.def"
#undef UHF_ROW
}
