// Every exported command as a row: its name, code, argument kinds and the reply form the
// library copies, with a one-line invoker. uhfctl dispatches from this table, and the
// simulator's trace names frames by it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace uhfctl {

enum class Form { none, counted, self_counted, total_length, status_echo, fixed, two_byte_counted };
enum class Result { status, exchange };

// Buffers of the size the library may write (a total-length copy reaches 2048 bytes).
inline constexpr std::size_t kBufferSize = 2048;

struct Call {
    int ints[4] = {};
    std::uint8_t* blocks[2] = {};
    std::uint8_t* out = nullptr;
};

struct CommandRow {
    const char* name;
    std::uint8_t code;
    // One letter per argument after the address: 'i' an integer, 'b' a hex block.
    const char* args;
    const char* arg_names;  // for the help line
    Form form;
    std::size_t fixed_size;  // Form::fixed only
    Result result;
    const char* help;
    int (*invoke)(int addr, Call& call);
};

std::span<const CommandRow> commands();
// Case-insensitive.
const CommandRow* find_command(std::string_view name);
const CommandRow* find_command(std::uint8_t code);
// "EPC_Read_TAG", "handshake", or "unknown".
const char* command_name(std::uint8_t code);

// How many bytes of the copy the library made, worked out from the counts the way it does.
std::size_t copied_size(const CommandRow& row, const std::uint8_t* copy);

}  // namespace uhfctl
