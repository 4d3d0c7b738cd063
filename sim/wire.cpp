#include "sim/wire.hpp"

#include <cstdio>

namespace uhfsim {

std::uint8_t frame_checksum(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes)
        if (b != kDle) sum ^= b;
    return sum;
}

namespace {

void put_doubled(std::vector<std::uint8_t>& out, std::uint8_t b) {
    out.push_back(b);
    if (b == kDle) out.push_back(b);
}

}  // namespace

void RequestDecoder::reset() {
    state_ = State::hunt;
    pending_dle_ = false;
    garbage_reported_ = false;
    frame_ = {};
}

void RequestDecoder::begin_frame() {
    state_ = State::body;
    pending_dle_ = false;
    garbage_reported_ = false;
    fields_ = 0;
    length_ = 0;
    checksum_ = 0;
    frame_ = {};
    frame_.wire = {kDle, kStart};
}

RequestDecoder::Status RequestDecoder::fail(const char* why) {
    reason_ = why;
    state_ = State::hunt;
    pending_dle_ = false;
    // The rest of a broken frame would otherwise be reported again as garbage.
    garbage_reported_ = true;
    return Status::malformed;
}

RequestDecoder::Status RequestDecoder::take_field(std::uint8_t value) {
    const std::size_t index = fields_++;
    if (index < 3u + length_) {
        if (index == 0) frame_.addr = value;
        else if (index == 1) frame_.cmd = value;
        else if (index == 2) length_ = value;
        else frame_.data.push_back(value);
        if (value != kDle) checksum_ ^= value;
        return Status::incomplete;
    }
    sent_checksum_ = value;
    state_ = State::end_first;
    return Status::incomplete;
}

RequestDecoder::Status RequestDecoder::feed(std::uint8_t b) {
    switch (state_) {
    case State::hunt:
        if (b == kDle) {
            state_ = State::start_second;
            return Status::incomplete;
        }
        break;
    case State::start_second:
        if (b == kStart) {
            begin_frame();
            return Status::incomplete;
        }
        if (b == kDle) break;  // the earlier 0x10 was garbage; this one may start a frame
        state_ = State::hunt;
        break;
    case State::body:
        frame_.wire.push_back(b);
        if (pending_dle_) {
            pending_dle_ = false;
            if (b == kDle) return take_field(kDle);
            if (b == kStart) {
                // The host gave up on a frame and began another: keep the new one.
                fail("lone 0x10 in frame, new start pair");
                begin_frame();
                return Status::malformed;
            }
            return fail(b == kEnd ? "frame ended early" : "lone 0x10 in frame");
        }
        if (b == kDle) {
            pending_dle_ = true;
            return Status::incomplete;
        }
        return take_field(b);
    case State::end_first:
        frame_.wire.push_back(b);
        if (b != kDle) return fail("bad end pair, first byte");
        state_ = State::end_second;
        return Status::incomplete;
    case State::end_second:
        frame_.wire.push_back(b);
        if (b == kStart) {
            fail("bad end pair, new start pair");
            begin_frame();
            return Status::malformed;
        }
        if (b != kEnd) return fail("bad end pair, second byte");
        if (sent_checksum_ != checksum_) return fail("bad checksum");
        state_ = State::hunt;
        request_ = std::move(frame_);
        frame_ = {};
        return Status::request;
    }
    // Garbage outside a frame.
    if (garbage_reported_) return Status::incomplete;
    garbage_reported_ = true;
    reason_ = "garbage before start pair";
    return Status::malformed;
}

void RequestDecoder::feed(std::span<const std::uint8_t> bytes, Output& out) {
    for (std::uint8_t b : bytes) {
        switch (feed(b)) {
        case Status::request: out.requests.push_back(request_); break;
        case Status::malformed: out.malformed.push_back(reason_); break;
        case Status::incomplete: break;
        }
    }
}

std::vector<std::uint8_t> encode_reply(const Reply& reply, const FrameFaults& faults) {
    const std::uint16_t length =
        faults.length_field ? *faults.length_field : static_cast<std::uint16_t>(reply.data.size());
    std::vector<std::uint8_t> fields = {reply.addr, reply.cmd, reply.status,
                                        static_cast<std::uint8_t>(length >> 8),
                                        static_cast<std::uint8_t>(length & 0xFF)};
    fields.insert(fields.end(), reply.data.begin(), reply.data.end());
    std::uint8_t checksum = frame_checksum(fields);
    if (faults.bad_checksum) checksum ^= 0x01;

    std::vector<std::uint8_t> out;
    out.reserve(fields.size() * 2 + 6);
    out.push_back(kDle);
    out.push_back(faults.wrong_second_byte ? 0x03 : kStart);
    for (std::uint8_t b : fields) put_doubled(out, b);
    put_doubled(out, checksum);
    out.push_back(faults.bad_end_first ? 0x11 : kDle);
    out.push_back(faults.bad_end_last ? 0x03 : kEnd);
    return out;
}

std::vector<std::uint8_t> encode_request(std::uint8_t addr, std::uint8_t cmd,
                                         std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> fields = {addr, cmd, static_cast<std::uint8_t>(data.size())};
    fields.insert(fields.end(), data.begin(), data.end());
    std::vector<std::uint8_t> out = {kDle, kStart};
    for (std::uint8_t b : fields) put_doubled(out, b);
    put_doubled(out, frame_checksum(fields));
    out.push_back(kDle);
    out.push_back(kEnd);
    return out;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string s;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

}  // namespace uhfsim
