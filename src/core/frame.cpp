#include "core/frame.hpp"

namespace uhf {
namespace {

class FrameWriter {
public:
    explicit FrameWriter(std::span<std::uint8_t, kMaxRequestFrame> out) : out_(out) {}
    void raw(std::uint8_t b) { out_[n_++] = b; }
    void doubled(std::uint8_t b) {
        raw(b);
        if (b == kDle) raw(b);
    }
    void field(std::uint8_t b) {
        doubled(b);
        if (b != kDle) sum_ ^= b;
    }
    std::uint8_t checksum() const { return sum_; }
    std::size_t size() const { return n_; }

private:
    std::span<std::uint8_t, kMaxRequestFrame> out_;
    std::size_t n_ = 0;
    std::uint8_t sum_ = 0;
};

// Reads one field byte of the doubled region.
//   serial: a 0x10 must be followed by a second 0x10, else the read of the field failed;
//   USB:    the byte after a 0x10 is skipped unexamined.
bool read_field(ByteSource &src, Wire wire, std::uint8_t &byte) {
    if (!src.next(byte)) return false;
    if (byte != kDle) return true;
    std::uint8_t partner = 0;
    if (!src.next(partner)) return false;
    return wire == Wire::usb || partner == kDle;
}

void fold(std::uint8_t &sum, std::uint8_t b) {
    if (b != kDle) sum ^= b;
}

}  // namespace

std::size_t encode_request(std::uint8_t address, std::uint8_t command,
                           std::span<const std::uint8_t> data,
                           std::span<std::uint8_t, kMaxRequestFrame> out) {
    FrameWriter w(out);
    w.raw(kDle);
    w.raw(kStart);
    w.field(address);
    w.field(command);
    w.field(static_cast<std::uint8_t>(data.size()));
    for (std::uint8_t b : data) w.field(b);
    w.doubled(w.checksum());
    w.raw(kDle);
    w.raw(kEnd);
    return w.size();
}

Outcome request_send_failure(std::span<const std::uint8_t> frame, std::size_t offset) {
    if (offset == 0) return {225, 101};
    if (offset == 1) return {226, 101};
    if (frame.size() >= 2 && offset == frame.size() - 2) return {232, 101};
    if (frame.size() >= 1 && offset >= frame.size() - 1) return {233, 101};
    // Walk the doubled region: address, command, length, data..., checksum.
    std::size_t pos = 2;
    std::size_t field = 0;  // 0 address, 1 command, 2 length, 3.. data, then checksum
    std::size_t data_len = 0;
    while (pos < frame.size() - 2) {
        std::size_t width = frame[pos] == kDle ? 2 : 1;
        if (offset < pos + width) break;
        if (field == 2) data_len = frame[pos];
        pos += width;
        ++field;
    }
    if (field == 0) return {227, 102};
    if (field == 1) return {228, 103};
    if (field == 2) return {229, 103};
    if (field < 3 + data_len) return {230, 105};
    return {231, 107};
}

bool address_accepted(Wire wire, std::uint8_t replier, Expectation expect) {
    if (replier == expect.address) return true;
    if (expect.command == kWriteDeviceNo) return true;
    if (expect.address == kBroadcast) return true;
    return wire == Wire::serial && replier == kBroadcast;
}

Outcome decode_reply_rest(ByteSource &src, Wire wire, Expectation expect, ReplyFields &f,
                          std::span<std::uint8_t, kReplyCapacity> data) {
    std::uint8_t b = 0;
    std::uint8_t sum = 0;

    if (!src.next(b)) return code::second_missing;
    if (b != kStart) return code::second_not_start;

    if (!read_field(src, wire, f.address)) return code::address_missing;
    f.have_address = true;
    fold(sum, f.address);

    if (!read_field(src, wire, f.command)) return code::command_missing;
    f.have_command = true;
    fold(sum, f.command);
    if (wire == Wire::usb && f.command != expect.command) return code::usb_command_differs;

    if (!read_field(src, wire, f.status)) return code::status_missing;
    f.have_status = true;
    fold(sum, f.status);

    std::uint8_t hi = 0;
    std::uint8_t lo = 0;
    if (!read_field(src, wire, hi)) return code::length_missing;
    fold(sum, hi);
    if (!read_field(src, wire, lo)) return code::length_missing;
    fold(sum, lo);
    f.length = static_cast<std::uint32_t>(hi) << 8 | lo;
    f.have_length = true;
    if (f.length > kReplyCapacity) return code::length_too_long;

    for (std::uint32_t i = 0; i < f.length; ++i) {
        if (!read_field(src, wire, data[i])) return code::data_missing;
        fold(sum, data[i]);
    }

    std::uint8_t check = 0;
    if (!read_field(src, wire, check)) return code::checksum_missing;
    if (check != sum) return code::checksum_differs;

    if (!src.next(b)) return code::end_dle_missing;
    if (b != kDle) return code::end_dle_wrong;
    if (!src.next(b)) return code::end_last_missing;
    if (b != kEnd) return code::end_last_wrong;

    if (wire == Wire::serial && f.command != expect.command) return code::serial_command_differs;
    if (!address_accepted(wire, f.address, expect)) return code::address_rule;
    return code::ok;
}

Outcome decode_usb_reply(std::span<const std::uint8_t> transfer, Expectation expect,
                         ReplyFields &fields, std::span<std::uint8_t, kReplyCapacity> data) {
    BufferSource src(transfer);
    std::uint8_t first = 0;
    if (!src.next(first) || first != kDle) return code::first_not_dle;
    return decode_reply_rest(src, Wire::usb, expect, fields, data);
}

}  // namespace uhf
