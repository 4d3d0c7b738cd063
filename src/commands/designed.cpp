// The designed command functions, one per row, on the default link.
#include "commands/catalogue.hpp"
#include "commands/rows.hpp"
#include "core/command.hpp"
#include "link/default_link.hpp"
#include "uhfreader.h"

namespace {

// The default link as a place commands run: the exported variables, and PcSendOrder.
class DefaultExchanger final : public uhf::Exchanger {
public:
    const uhf::ExchangeState &state() override { return uhf::default_link().state; }
    int exchange() override { return PcSendOrder(); }
};

int run(uhf::RowId row, int addr, const int *scalars, unsigned char *const *buffers) {
    DefaultExchanger x;
    return uhf::run_command(x, uhf::catalogue_row(row), addr, scalars, buffers);
}

}  // namespace

extern "C" {
#define UHF_ROW(name, code, family, access, copy, copy_size, clears, result, summary, ...)        \
    UHF_API int name(int addr UHF_FOR_EACH(UHF_DECL, __VA_ARGS__)) {                         \
        const int scalars[4] = {UHF_FOR_EACH(UHF_SCALAR, __VA_ARGS__)};                      \
        unsigned char *const buffers[4] = {UHF_FOR_EACH(UHF_BUFFER, __VA_ARGS__)};           \
        return run(uhf::RowId::name, addr, scalars, buffers);                                \
    }
#include "commands/all.def"
#undef UHF_ROW
}
