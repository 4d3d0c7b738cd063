// A catalogue command's arguments, from the words on the command line to what uhf_call takes,
// checked against the catalogue before any link is opened: a scalar outside its range, a block
// of the wrong size, or a count field that disagrees with the bytes given is refused with a
// UsageError naming the argument. Nothing is truncated, padded or dropped.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "uhfreader.h"

namespace uhfctl {

struct PreparedCall {
    const uhf_command_info* cmd = nullptr;
    int scalars[4] = {};
    // Blocks hold the bytes given and room for any reply copied into them; reply buffers the
    // most their copy may write. Empty for scalars.
    std::array<std::vector<std::uint8_t>, 4> buffers;
    std::array<std::size_t, 4> sent{};  // bytes of each block the command sends

    // uhf_call's buffers[] for this call's own storage.
    std::array<unsigned char*, 4> pointers();
    // The buffer that receives the copy, or nullptr.
    const std::uint8_t* copy() const;
};

// The words a command takes, one per argument a caller supplies (replies excluded).
std::vector<const uhf_arg_info*> user_arguments(const uhf_command_info& cmd);

// Throws UsageError.
PreparedCall prepare_call(const uhf_command_info& cmd, const std::vector<std::string>& words);

// "REQ", "A", ...: how the usage line names an argument.
std::string argument_word(const uhf_arg_info& arg);
// "0..255", "exactly 4 bytes", "4-byte header, byte 3 counts 16-bit words: 4 + 2w bytes", ...
std::string argument_rule(const uhf_arg_info& arg);

}  // namespace uhfctl
