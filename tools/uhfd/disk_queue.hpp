// The events waiting for the broker: a bounded FIFO on disk that outlives the process.
//
// Records are appended to segment files (NNNNNNNNNNNNNNNN.seg) in the queue directory:
//
//   offset  size  field
//   0       4     body length, little-endian
//   4       4     CRC-32 of the body
//   8       8     sequence number, little-endian
//   16      2     key length (the reader's name)
//   18      2     topic length
//   20      4     payload length
//   24      ...   key, topic, payload
//
// The file `state` (JSON, replaced atomically) keeps where the oldest undelivered record starts,
// how many records were dropped, and the last sequence number of every key. A record leaves the
// queue when the broker has acknowledged it; after a crash the records from the saved head on
// are sent again (at least once, never fewer). When the queue is full the oldest record not yet
// sent is dropped and counted (one already sent may have arrived: dropping it would count a
// record as lost that was delivered); so besides `max_records` waiting, up to the sender's window
// may be in flight. A write cut short by a crash is found by its length or CRC on the next
// start and cut off.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace uhfd {

class DiskQueue {
public:
    struct Record {
        std::uint64_t seq = 0;
        std::string key;
        std::string topic;
        std::string payload;
    };
    using Ticket = std::uint64_t;

    // Opens (creating the directory) and recovers what a previous run left. Throws
    // std::runtime_error when the directory cannot be used.
    DiskQueue(std::string dir, std::size_t max_records, std::uint64_t segment_bytes = 4u << 20);
    ~DiskQueue();
    DiskQueue(const DiskQueue&) = delete;
    DiskQueue& operator=(const DiskQueue&) = delete;

    // Gives the record the key's next sequence number, encodes it with that number and appends it,
    // dropping the oldest record when full. Returns the sequence number.
    std::uint64_t append(const std::string& key, const std::string& topic,
                         const std::function<std::string(std::uint64_t seq)>& encode);

    // The oldest record not yet handed out, or nullopt.
    std::optional<std::pair<Ticket, Record>> next();
    // The broker has it.
    void ack(Ticket ticket);
    // The connection was lost: every record handed out and not acknowledged goes out again.
    void rewind();

    std::size_t depth() const;         // records not yet acknowledged
    std::size_t unsent() const;        // records not yet handed out
    std::uint64_t dropped() const;     // records dropped since the queue was first made
    std::map<std::string, std::uint64_t> dropped_by_key() const;
    std::uint64_t last_sequence(const std::string& key) const;

    // Saves the state file; with `sync`, also forces the segments to disk.
    void flush(bool sync);

    // Called (outside the lock) after each append.
    void set_on_append(std::function<void()> fn);

private:
    struct Position {
        std::uint64_t segment = 0;
        std::uint64_t offset = 0;
        auto operator<=>(const Position&) const = default;
    };
    struct Segment {
        std::uint64_t id;
        int fd;
        std::uint64_t size;
    };

    std::string segment_path(std::uint64_t id) const;
    void recover();
    void save_state_locked();
    void open_segment_locked(std::uint64_t id);
    Segment* find_segment(std::uint64_t id);
    Position normalise(Position p) const;
    std::optional<std::uint32_t> body_length_at(const Position& p);
    std::optional<Record> read_at(const Position& p, std::uint32_t body);
    void drop_oldest_locked();
    void pass_skipped_locked();
    void advance_head_locked();
    std::size_t unsent_locked() const;
    void release_segments_locked();

    const std::string dir_;
    const std::size_t max_records_;
    const std::uint64_t segment_bytes_;

    mutable std::mutex mu_;
    std::deque<Segment> segments_;  // by id; the last is written to
    Position head_;                 // oldest record not acknowledged
    Position cursor_;               // next record to hand out
    std::uint64_t head_index_ = 0;  // record numbers, counted from this run's start
    std::uint64_t cursor_index_ = 0;
    std::uint64_t end_index_ = 0;
    struct InFlight {
        Position end;  // where the record after it starts
        std::string key;
        bool acked = false;
    };
    std::deque<InFlight> in_flight_;  // the records [head, cursor), oldest first
    std::set<Position> skipped_;      // dropped records not yet behind the head: never sent
    std::uint64_t dropped_ = 0;
    std::map<std::string, std::uint64_t> dropped_by_key_;
    std::map<std::string, std::uint64_t> sequences_;
    bool dirty_ = false;
    std::function<void()> on_append_;
};

}  // namespace uhfd
