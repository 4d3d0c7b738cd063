// What the reader sends back for one request, as a value.
//
// An action is a sequence of segments, each a reply frame or raw bytes. Every modifier acts on
// the most recently added segment, so faults compose left to right:
//
//   Action::reply({5, 0x28, 0, {1, 2}}).bad_checksum().chunked(3, 20)
//       .then(Action::reply({5, 0x28, 0, {}}).delayed(3000));
//
// Modifiers that change a frame's fields (bad_checksum, length_field, ...) do nothing on a raw
// segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/wire.hpp"

namespace uhfsim {

struct Chunk {
    std::vector<std::uint8_t> bytes;
    int delay_ms = 0;  // pause before this chunk, counted from the end of the previous one
};

class Action {
public:
    static Action reply(Reply r);
    static Action reply(std::uint8_t addr, std::uint8_t cmd, std::uint8_t status,
                        std::vector<std::uint8_t> data = {});
    static Action silent();  // the reader never answers
    static Action raw(std::vector<std::uint8_t> bytes);
    static Action stray_dle();  // a lone 0x10 and nothing after it

    Action& delayed(int ms);
    Action& with_noise(std::vector<std::uint8_t> bytes);  // sent just before the frame
    Action& wrong_second_byte();
    Action& bad_checksum();
    Action& bad_end_first();
    Action& bad_end_last();
    Action& length_field(std::uint16_t announced);
    Action& cut_after(std::size_t wire_bytes);  // of the frame, noise not counted
    Action& chunked(std::size_t size, int gap_ms);
    Action& then(const Action& next);

    // The bytes as they go on the wire, with their pauses.
    std::vector<Chunk> chunks() const;
    // All bytes without pauses.
    std::vector<std::uint8_t> bytes() const;
    bool empty() const { return segments_.empty(); }

private:
    struct Segment {
        std::optional<Reply> frame;
        FrameFaults faults;
        std::vector<std::uint8_t> raw;  // used when there is no frame
        std::vector<std::uint8_t> noise;
        std::optional<std::size_t> cut;
        int delay_ms = 0;
        std::size_t chunk_size = 0;  // 0: one piece
        int chunk_gap_ms = 0;
    };
    Segment* last() { return segments_.empty() ? nullptr : &segments_.back(); }
    FrameFaults* last_faults();

    std::vector<Segment> segments_;
};

}  // namespace uhfsim
