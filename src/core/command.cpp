#include "core/command.hpp"

#include <cstring>

#include "link/default_link.hpp"

namespace uhf {
namespace {

// The one command refused by value: ALARM's first argument above 7 is refused once the request
// is placed, without sending, with 4 — which callers cannot tell from status byte 4, and have
// always seen so.
constexpr int kAlarmCode = 0x04;
constexpr int kAlarmHighestMode = 7;
constexpr int kAlarmRefused = 4;

bool is_block(const uhf_arg_info &a) { return a.kind == UHF_ARG_BLOCK || a.kind == UHF_ARG_BLOCK_REPLY; }

RequestLayout request_of(const uhf_command_info &row, const int *scalars, unsigned char *const *buffers) {
    RequestLayout layout;
    for (int i = 0; i < row.arg_count; ++i) {
        const uhf_arg_info &a = row.args[i];
        if (a.kind == UHF_ARG_SCALAR8) layout = layout + scalar_bytes(scalars[i]);
        else if (a.kind == UHF_ARG_SCALAR16) layout = layout + big_endian16(scalars[i]);
        else if (is_block(a)) layout = layout + block_layout(a, buffers[i]);
    }
    return layout;
}

CopyRule copy_of(const uhf_command_info &row, unsigned char *const *buffers) {
    std::uint8_t *dst = row.copy_arg >= 0 ? buffers[row.copy_arg] : nullptr;
    switch (row.copy) {
    case UHF_COPY_COUNTED: return CopyRule::counted(dst);
    case UHF_COPY_SELF_COUNTED: return CopyRule::self_counted(dst);
    case UHF_COPY_TOTAL_LENGTH: return CopyRule::total_length(dst);
    case UHF_COPY_STATUS_ECHO: return CopyRule::status_echo(dst);
    case UHF_COPY_FIXED: return CopyRule::fixed(dst, static_cast<std::size_t>(row.copy_size));
    case UHF_COPY_TWO_BYTE: return CopyRule::two_byte_counted(dst);
    default: return CopyRule::nothing();
    }
}

int place(const ExchangeState &s, int addr, int code, const RequestLayout &request) {
    s.address = static_cast<std::uint8_t>(addr & 0xFF);
    s.command = static_cast<std::uint8_t>(code);
    const auto length = request.place({s.request, kReplyCapacity}, kMaxRequestData);
    // A length byte that disagreed with the bytes sent would desynchronise the reader, and the
    // bytes cannot all be described by one length byte: send nothing instead.
    if (!length) return s.finish(code::refused_too_long);
    s.request_length = static_cast<std::uint8_t>(*length);
    return 0;
}

}  // namespace

RequestLayout block_layout(const uhf_arg_info &arg, const std::uint8_t *block) {
    switch (arg.block) {
    case UHF_BLOCK_SELECT: return select_block(block);
    case UHF_BLOCK_BITS: return bit_counted(block);
    case UHF_BLOCK_WORDS3: return word_counted<3>(block);
    case UHF_BLOCK_WORDS4: return word_counted<4>(block);
    case UHF_BLOCK_WORDS5: return word_counted<5>(block);
    case UHF_BLOCK_CUSTOM: return custom_block(block);
    case UHF_BLOCK_PREFIXED: return count_prefixed(block);
    case UHF_BLOCK_HASH: return hash_block(block);
    case UHF_BLOCK_CIPHER: return cipher_block(block);
    default: return fixed_block(block, static_cast<std::size_t>(arg.size));
    }
}

int run_command(Exchanger &x, const uhf_command_info &row, int addr, const int *scalars,
                unsigned char *const *buffers) {
    const ExchangeState &s = x.state();
    for (int i = 0; i < row.arg_count; ++i) {
        if (is_block(row.args[i]) && buffers[i] == nullptr) {
            // Sending zeros for a block that is not there would act on a tag with made-up bytes.
            s.address = static_cast<std::uint8_t>(addr & 0xFF);
            s.command = static_cast<std::uint8_t>(row.code);
            return s.finish(null_block_refusal);
        }
    }
    if (const int rc = place(s, addr, row.code, request_of(row, scalars, buffers)); rc != 0) return rc;
    if (row.code == kAlarmCode && scalars[0] > kAlarmHighestMode) return kAlarmRefused;
    if (row.clears > 0 && row.copy_arg >= 0 && buffers[row.copy_arg] != nullptr)
        std::memset(buffers[row.copy_arg], 0, static_cast<std::size_t>(row.clears));

    const int rc = x.exchange();
    if (rc != 0) return rc;
    apply_copy(copy_of(row, buffers), s.reply_area());
    return apply_result(row.result == UHF_RESULT_EXCHANGE ? ResultRule::exchange : ResultRule::status, rc,
                        s.status);
}

int prepare(int addr, std::uint8_t code, const RequestLayout &request) {
    return place(default_link().state, addr, code, request);
}

}  // namespace uhf
