// The catalogue entries, one per row, and the functions that read them.
#include "commands/catalogue.hpp"

#include <cstring>
#include <initializer_list>

#include "core/command.hpp"
#include "link/link.hpp"

namespace uhf {
namespace {

// Which argument receives the copy: the reply buffer, or for a status echo the block.
constexpr int copy_argument(const uhf_command_info &c) {
    if (c.copy == UHF_COPY_NONE) return -1;
    for (int i = 0; i < c.arg_count; ++i) {
        const int kind = c.args[i].kind;
        if (c.copy == UHF_COPY_STATUS_ECHO ? kind == UHF_ARG_BLOCK : kind == UHF_ARG_REPLY || kind == UHF_ARG_BLOCK_REPLY)
            return i;
    }
    return -1;
}

constexpr uhf_command_info row(const char *name, int code, int family, bool changes,
                               std::initializer_list<uhf_arg_info> args, int copy, int copy_size, int clears,
                               int result, const char *summary) {
    uhf_command_info c{};
    c.name = name;
    c.code = code;
    c.family = family;
    for (const uhf_arg_info &a : args) c.args[c.arg_count++] = a;
    c.copy = copy;
    c.copy_size = copy == UHF_COPY_STATUS_ECHO ? 1 : copy_size;
    c.copy_arg = copy_argument(c);
    c.clears = clears;
    c.result = result;
    c.summary = summary;
    c.changes = changes ? 1 : 0;
    return c;
}

constexpr uhf_command_info kCatalogue[] = {
#define UHF_ROW(name, code, family, access, copy, copy_size, clears, result, summary, ...)                  \
    row(#name, code, UHF_FAMILY_##family, UHF_ACCESS_##access, {UHF_FOR_EACH(UHF_INFO, __VA_ARGS__)},        \
        UHF_COPY_##copy, copy_size, clears, UHF_RESULT_##result, summary),
#include "commands/all.def"
#undef UHF_ROW
};

bool in_catalogue(const uhf_command_info *c) {
    return c != nullptr && c >= std::begin(kCatalogue) && c < std::end(kCatalogue);
}

std::size_t be16(const unsigned char *b) { return static_cast<std::size_t>(b[0]) << 8 | b[1]; }

}  // namespace

std::span<const uhf_command_info> catalogue() { return kCatalogue; }

}  // namespace uhf

using namespace uhf;

extern "C" {

UHF_API int uhf_command_count(void) { return static_cast<int>(std::size(kCatalogue)); }

UHF_API const uhf_command_info *uhf_command_at(int i) {
    return i >= 0 && i < uhf_command_count() ? &kCatalogue[i] : nullptr;
}

UHF_API const uhf_command_info *uhf_command_find(const char *name) {
    if (name == nullptr) return nullptr;
    for (const uhf_command_info &c : kCatalogue)
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

UHF_API int uhf_block_length(const uhf_command_info *cmd, int arg, const unsigned char *block, int len) {
    if (!in_catalogue(cmd) || arg < 0 || arg >= cmd->arg_count || len < 0 || (block == nullptr && len > 0))
        return UHF_ERR_INVALID;
    const uhf_arg_info &a = cmd->args[arg];
    if (a.kind != UHF_ARG_BLOCK && a.kind != UHF_ARG_BLOCK_REPLY) return UHF_ERR_INVALID;
    if (a.block == UHF_BLOCK_FIXED) return a.size;
    if (len < a.size) return -1;
    return static_cast<int>(block_layout(a, block).length());
}

UHF_API int uhf_copy_length(const uhf_command_info *cmd, const unsigned char *copy) {
    if (!in_catalogue(cmd) || copy == nullptr) return UHF_ERR_INVALID;
    switch (cmd->copy) {
    case UHF_COPY_COUNTED: return copy[0] + 1;
    case UHF_COPY_SELF_COUNTED: return copy[0] > 1 ? copy[0] : 1;
    case UHF_COPY_TOTAL_LENGTH: {
        const std::size_t t = be16(copy);
        return static_cast<int>(t < 2 ? 2 : t > kReplyCapacity ? kReplyCapacity : t);
    }
    case UHF_COPY_STATUS_ECHO: return 1;
    case UHF_COPY_FIXED: return cmd->copy_size;
    case UHF_COPY_TWO_BYTE: {
        const std::size_t c = be16(copy);
        return static_cast<int>((c > kReplyCapacity - 2 ? kReplyCapacity - 2 : c) + 2);
    }
    default: return 0;
    }
}

UHF_API int uhf_call(uhf_link *l, const uhf_command_info *cmd, int addr, const int *scalars,
                     unsigned char *const *buffers) {
    if (!in_catalogue(cmd)) return UHF_ERR_INVALID;
    int s[4] = {};
    unsigned char *b[4] = {};
    for (int i = 0; i < cmd->arg_count; ++i) {
        const int kind = cmd->args[i].kind;
        if (kind == UHF_ARG_SCALAR8 || kind == UHF_ARG_SCALAR16) {
            if (scalars == nullptr) return UHF_ERR_INVALID;
            s[i] = scalars[i];
        } else if (buffers != nullptr) {
            b[i] = buffers[i];
        }
    }
    return link_command(l, *cmd, addr, s, b);
}

}  // extern "C"
