#include "sim/action.hpp"

#include <algorithm>
#include <utility>

namespace uhfsim {

Action Action::reply(Reply r) {
    Action a;
    a.segments_.push_back({});
    a.segments_.back().frame = std::move(r);
    return a;
}

Action Action::reply(std::uint8_t addr, std::uint8_t cmd, std::uint8_t status,
                     std::vector<std::uint8_t> data) {
    return reply(Reply{addr, cmd, status, std::move(data)});
}

Action Action::silent() { return Action{}; }

Action Action::raw(std::vector<std::uint8_t> bytes) {
    Action a;
    a.segments_.push_back({});
    a.segments_.back().raw = std::move(bytes);
    return a;
}

Action Action::stray_dle() { return raw({kDle}); }

FrameFaults* Action::last_faults() {
    Segment* s = last();
    return s && s->frame ? &s->faults : nullptr;
}

Action& Action::delayed(int ms) {
    if (Segment* s = last()) s->delay_ms = ms;
    return *this;
}

Action& Action::with_noise(std::vector<std::uint8_t> bytes) {
    if (Segment* s = last()) s->noise = std::move(bytes);
    return *this;
}

Action& Action::wrong_second_byte() {
    if (FrameFaults* f = last_faults()) f->wrong_second_byte = true;
    return *this;
}

Action& Action::bad_checksum() {
    if (FrameFaults* f = last_faults()) f->bad_checksum = true;
    return *this;
}

Action& Action::bad_end_first() {
    if (FrameFaults* f = last_faults()) f->bad_end_first = true;
    return *this;
}

Action& Action::bad_end_last() {
    if (FrameFaults* f = last_faults()) f->bad_end_last = true;
    return *this;
}

Action& Action::length_field(std::uint16_t announced) {
    if (FrameFaults* f = last_faults()) f->length_field = announced;
    return *this;
}

Action& Action::cut_after(std::size_t wire_bytes) {
    if (Segment* s = last()) s->cut = wire_bytes;
    return *this;
}

Action& Action::chunked(std::size_t size, int gap_ms) {
    if (Segment* s = last()) {
        s->chunk_size = size;
        s->chunk_gap_ms = gap_ms;
    }
    return *this;
}

Action& Action::then(const Action& next) {
    segments_.insert(segments_.end(), next.segments_.begin(), next.segments_.end());
    return *this;
}

std::vector<Chunk> Action::chunks() const {
    std::vector<Chunk> out;
    for (const Segment& s : segments_) {
        std::vector<std::uint8_t> body = s.frame ? encode_reply(*s.frame, s.faults) : s.raw;
        if (s.cut && *s.cut < body.size()) body.resize(*s.cut);
        body.insert(body.begin(), s.noise.begin(), s.noise.end());

        // A segment cut to nothing still keeps its pause, so a later segment's timing holds.
        const std::size_t piece = s.chunk_size ? s.chunk_size : std::max<std::size_t>(body.size(), 1);
        std::size_t at = 0;
        do {
            const std::size_t n = std::min(piece, body.size() - at);
            out.push_back({std::vector<std::uint8_t>(body.begin() + static_cast<std::ptrdiff_t>(at),
                                                     body.begin() + static_cast<std::ptrdiff_t>(at + n)),
                           at == 0 ? s.delay_ms : s.chunk_gap_ms});
            at += n;
        } while (at < body.size());
    }
    return out;
}

std::vector<std::uint8_t> Action::bytes() const {
    std::vector<std::uint8_t> out;
    for (const Chunk& c : chunks()) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    return out;
}

}  // namespace uhfsim
