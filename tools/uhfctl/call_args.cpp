#include "uhfctl/call_args.hpp"

#include <algorithm>
#include <cctype>

#include "uhfctl/options.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

// A request carries at most this many data bytes.
constexpr std::size_t kMaxRequest = 255;
// The most any copy writes (a total-length tag list).
constexpr std::size_t kMaxCopy = 2048;

std::string layout_rule(int block, int size) {
    const std::string head = std::to_string(size);
    switch (block) {
        case UHF_BLOCK_FIXED: return "exactly " + head + (size == 1 ? " byte" : " bytes");
        case UHF_BLOCK_SELECT: return "byte 0 is the block's total length, itself included";
        case UHF_BLOCK_BITS: return "byte 3 counts bits: 4 + ceil(bits / 8) bytes";
        case UHF_BLOCK_WORDS3: return "byte 2 counts 16-bit words: 3 + 2 x words bytes";
        case UHF_BLOCK_WORDS4: return "byte 3 counts 16-bit words: 4 + 2 x words bytes";
        case UHF_BLOCK_WORDS5: return "bytes 3-4 count 16-bit words (high byte first): 5 + 2 x words bytes";
        case UHF_BLOCK_CUSTOM: return "bytes 0-1 count bits (high byte first): 5 + ceil(bits / 8) bytes";
        case UHF_BLOCK_PREFIXED: return "byte 0 counts the bytes after it: 1 + n bytes";
        case UHF_BLOCK_HASH: return "byte 2 counts the body after a 3-byte header: 3 + n bytes";
        case UHF_BLOCK_CIPHER: return "byte 4 counts the body after a 5-byte header: 5 + n bytes";
    }
    return "a block";
}

std::string bytes_word(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

}  // namespace

std::array<unsigned char*, 4> PreparedCall::pointers() {
    std::array<unsigned char*, 4> p{};
    for (std::size_t i = 0; i < 4; ++i) p[i] = buffers[i].empty() ? nullptr : buffers[i].data();
    return p;
}

const std::uint8_t* PreparedCall::copy() const {
    if (!cmd || cmd->copy_arg < 0) return nullptr;
    return buffers[static_cast<std::size_t>(cmd->copy_arg)].data();
}

std::vector<const uhf_arg_info*> user_arguments(const uhf_command_info& cmd) {
    std::vector<const uhf_arg_info*> out;
    for (int i = 0; i < cmd.arg_count; ++i)
        if (cmd.args[i].kind != UHF_ARG_REPLY) out.push_back(&cmd.args[i]);
    return out;
}

std::string argument_word(const uhf_arg_info& arg) {
    std::string w = arg.name;
    std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return std::toupper(c); });
    return w;
}

std::string argument_rule(const uhf_arg_info& arg) {
    switch (arg.kind) {
        case UHF_ARG_SCALAR8:
        case UHF_ARG_SCALAR16:
            return "an integer " + std::to_string(arg.min) + ".." + std::to_string(arg.max);
        case UHF_ARG_BLOCK:
        case UHF_ARG_BLOCK_REPLY:
            return "hex bytes; " + layout_rule(arg.block, arg.size);
    }
    return "";
}

PreparedCall prepare_call(const uhf_command_info& cmd, const std::vector<std::string>& words) {
    const std::vector<const uhf_arg_info*> wanted = user_arguments(cmd);
    const std::string name = cmd.name;
    if (words.size() != wanted.size()) {
        std::string list;
        for (const uhf_arg_info* a : wanted) list += (list.empty() ? "" : " ") + argument_word(*a);
        throw UsageError(name + " takes " + std::to_string(wanted.size()) +
                         (wanted.size() == 1 ? " argument" : " arguments") + (list.empty() ? "" : " (" + list + ")") +
                         ", " + std::to_string(words.size()) + " given");
    }
    PreparedCall call;
    call.cmd = &cmd;
    std::size_t word = 0, request = 0;
    for (int i = 0; i < cmd.arg_count; ++i) {
        const uhf_arg_info& a = cmd.args[i];
        const auto at = static_cast<std::size_t>(i);
        const std::string which = name + ": " + argument_word(a);
        if (a.kind == UHF_ARG_REPLY) {
            call.buffers[at].assign(std::max<std::size_t>(static_cast<std::size_t>(a.size), kMaxCopy), 0);
            continue;
        }
        const std::string& text = words[word++];
        if (a.kind == UHF_ARG_SCALAR8 || a.kind == UHF_ARG_SCALAR16) {
            const auto v = parse_int(text, -(1LL << 40), 1LL << 40);
            if (!v) throw UsageError(which + ": '" + text + "' is not an integer");
            if (*v < a.min || *v > a.max)
                throw UsageError(which + ": " + text + " is out of range " + std::to_string(a.min) + ".." +
                                 std::to_string(a.max));
            call.scalars[i] = static_cast<int>(*v);
            request += a.kind == UHF_ARG_SCALAR8 ? 1 : 2;
            continue;
        }
        const auto bytes = parse_hex(text);
        if (!bytes) throw UsageError(which + ": '" + text + "' is not a hex block (whole bytes: 0a1b, 0a:1b, 0a 1b)");
        const int len = static_cast<int>(bytes->size());
        const int need = uhf_block_length(&cmd, i, bytes->data(), len);
        if (a.block == UHF_BLOCK_FIXED) {
            if (len != need)
                throw UsageError(which + ": the block is exactly " + bytes_word(static_cast<std::size_t>(need)) + ", " +
                                 bytes_word(bytes->size()) + " given");
        } else if (need < 0) {
            throw UsageError(which + ": " + bytes_word(bytes->size()) + " given, too short for its " +
                             bytes_word(static_cast<std::size_t>(a.size)) + " header (" + layout_rule(a.block, a.size) +
                             ")");
        } else if (need != len) {
            throw UsageError(which + ": its count field makes the block " + bytes_word(static_cast<std::size_t>(need)) +
                             " but " + bytes_word(bytes->size()) + " are given (" + layout_rule(a.block, a.size) + ")");
        }
        std::vector<std::uint8_t>& buf = call.buffers[at];
        buf.assign(bytes->begin(), bytes->end());
        // A block that also receives the copy needs the copy's room.
        const std::size_t room = a.kind == UHF_ARG_BLOCK_REPLY ? static_cast<std::size_t>(std::max(a.size, 0)) + kMaxCopy : 0;
        buf.resize(std::max(buf.size(), room) + (cmd.copy == UHF_COPY_STATUS_ECHO ? 1 : 0), 0);
        call.sent[at] = static_cast<std::size_t>(need);
        request += static_cast<std::size_t>(need);
    }
    if (request > kMaxRequest)
        throw UsageError(name + ": the request would be " + bytes_word(request) + "; one request carries at most " +
                         std::to_string(kMaxRequest));
    return call;
}

}  // namespace uhfctl
