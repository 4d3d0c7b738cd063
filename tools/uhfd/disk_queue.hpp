// The events waiting for the broker: a bounded FIFO on disk that outlives the process.
//
// Records are appended to segment files (NNNNNNNNNNNNNNNN.seg) in the queue directory; their
// byte layout is drawn in queue_record.hpp. The queue keeps an index of every record it holds, so
// a record leaves it the moment it is settled, whatever lies before it:
//
//   delivered  the broker acknowledged it;
//   rejected   the broker refused it (an MQTT 5 reason code >= 0x80): sending it again would be
//              refused again, so it is final, and counted per key;
//   dropped    the queue was full, the record could not be kept anywhere, or it was damaged on
//              disk: counted per key.
//
// `max_records` bounds everything held, sent and not yet settled included. When full, the oldest
// record not yet sent is dropped (one already sent may have arrived, and dropping it would count
// a loss that did not happen); when every record held is in flight, the new one is.
//
// Disk use follows depth: segments are small (256 KiB) and a segment is deleted once every record
// in it is settled; the sync tick gives an empty queue's segment back (at most one new file a
// second), so an idle queue holds no records on disk. Disk use is at most the held records' bytes plus one segment.
//
// Durability lives here, on a thread of the queue's own: the state file (`state`: head, counts,
// sequences and epochs, settled records past the head) is written and synced at most once a
// second, outside the lock, from a snapshot taken under it; segments are synced on the same tick.
// The head's position is also noted in the small file `head` every kMarkEvery settled records
// (written, not synced), so a process that is killed sends again at most kMarkEvery - 1 settled
// records plus what was in flight: with the publisher's window of 32, fewer than 48. After a
// power failure, at most one second of deliveries goes again.
//
// A write the disk refuses (no space, I/O error) does not lose the event: it is kept in memory
// (up to kMemoryRecords) and sent from there; it is lost, and counted, only if the process ends
// first. A damaged record found while running or at start is dropped and counted, the segment is
// copied to `damaged/` for inspection, and the records after it are kept. A record cut short by a
// crash (the end of the last segment) is cut off. Any other file in the directory is ignored.
#pragma once

#include <chrono>
#include <condition_variable>
#include <unistd.h>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace uhfd {

// The calls by which the queue's bytes reach the disk, apart so a test can make the disk full,
// failing or slow. Called from reader threads and the queue's own; must be thread-safe.
struct QueueIo {
    virtual ~QueueIo() = default;
    virtual ssize_t write(int fd, const void* data, std::size_t n) { return ::write(fd, data, n); }
    virtual int fdatasync(int fd) { return ::fdatasync(fd); }
    static QueueIo& system();
};

class DiskQueue {
public:
    struct Record {
        std::uint64_t seq = 0;
        std::string key;
        std::string topic;
        std::string payload;
    };
    // What an event carries to be told apart: the epoch changes only when the key's sequence
    // starts again from 1 (a new queue directory), so (key, epoch, seq) never repeats.
    struct Sequence {
        std::string epoch;
        std::uint64_t seq = 0;
    };
    using Ticket = std::uint64_t;
    struct Counts {
        std::uint64_t dropped = 0;
        std::uint64_t rejected = 0;
    };

    static constexpr std::uint64_t kSegmentBytes = 256u << 10;
    static constexpr std::size_t kMemoryRecords = 10000;
    static constexpr std::uint64_t kMarkEvery = 16;

    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::uint64_t segment_bytes = kSegmentBytes;
        std::size_t memory_records = kMemoryRecords;  // held while the disk refuses them
        QueueIo* io = nullptr;                        // the system's calls
        std::function<Clock::time_point()> clock{};   // times the refusals' summary; the steady clock
    };

    // Opens (creating the directory) and recovers what a previous run left. Throws
    // std::runtime_error when the directory cannot be used.
    DiskQueue(std::string dir, std::size_t max_records, Limits limits);
    DiskQueue(std::string dir, std::size_t max_records) : DiskQueue(std::move(dir), max_records, Limits{}) {}
    ~DiskQueue();
    DiskQueue(const DiskQueue&) = delete;
    DiskQueue& operator=(const DiskQueue&) = delete;

    // Gives the record the key's next sequence number, encodes it with that number and appends it.
    // Called from reader threads: never waits on a sync. Returns the sequence number.
    std::uint64_t append(const std::string& key, const std::string& topic,
                         const std::function<std::string(const Sequence&)>& encode);

    // The oldest record not yet handed out, or nullopt.
    std::optional<std::pair<Ticket, Record>> next();
    // Up to `max` of the oldest records not yet handed out, in order (empty: none waiting).
    // Records lying side by side in a segment are read from it in one call.
    std::vector<std::pair<Ticket, Record>> next_batch(std::size_t max);
    // The broker has it.
    void ack(Ticket ticket);
    // The broker refused it for good.
    void reject(Ticket ticket);
    // The connection was lost: every record handed out and not settled goes out again.
    void rewind();

    std::size_t depth() const;       // records held: not yet settled
    std::size_t unsent() const;      // records not yet handed out
    std::size_t in_memory() const;   // records the disk could not take, held in memory
    std::uint64_t dropped() const;   // since the queue was first made
    std::uint64_t rejected() const;
    std::map<std::string, std::uint64_t> dropped_by_key() const;
    std::map<std::string, std::uint64_t> rejected_by_key() const;
    std::map<std::string, Counts> counts_by_key() const;
    std::uint64_t last_sequence(const std::string& key) const;
    std::string epoch(const std::string& key) const;
    std::uint64_t disk_bytes() const;  // bytes of the segment files kept

    // Saves the state now and syncs the segments (at shutdown; the queue also does it by itself).
    void flush(bool sync = true);

    // Called (outside the lock) after each append; must not block.
    void set_on_append(std::function<void()> fn);

private:
    struct SegmentFile {
        std::uint64_t id = 0;
        int fd = -1;
        std::string path;
        std::size_t live = 0;  // records in it not yet settled; under mu_
        ~SegmentFile();
    };
    using SegmentRef = std::shared_ptr<SegmentFile>;
    enum class State : std::uint8_t { waiting, sent, settled };
    struct Entry {
        std::uint64_t segment = 0;  // 0: held in memory only
        std::uint64_t offset = 0;
        std::uint32_t size = 0;     // bytes on disk
        std::uint32_t key = 0;      // index in keys_
        std::uint64_t seq = 0;
        State state = State::waiting;
        std::shared_ptr<const Record> memory;
    };
    struct KeyInfo {
        std::string name;
        std::uint64_t seq = 0;
        std::string epoch;
        Counts counts;
    };
    struct Snapshot;

    std::uint32_t key_index_locked(const std::string& key);
    Entry* entry_locked(Ticket t);
    void settle_locked(Ticket t, bool count_drop, bool count_reject);
    void drop_oldest_waiting_locked();
    void pop_settled_locked(std::vector<SegmentRef>& released);
    SegmentRef find_segment_locked(std::uint64_t id) const;
    std::pair<std::uint64_t, std::uint64_t> head_locked() const;
    void advance_cursor_locked();
    void release_locked(SegmentRef seg, std::vector<SegmentRef>& released);
    void settle(Ticket t, bool reject);
    void drop_damaged(Ticket t, const SegmentRef& seg, std::uint64_t offset, const std::string& why);
    bool write_record_w(const std::string& rec, Entry& e);
    SegmentRef open_segment(std::uint64_t id);
    void roll_w();
    void note_write_failure(int err);
    void keep_damaged(const SegmentRef& seg, const std::string& why);

    // disk_queue_state.cpp
    void recover();
    Snapshot snapshot_locked();
    void write_state(const Snapshot& s);
    void write_mark(std::uint64_t segment, std::uint64_t offset);
    void sync_loop();
    void sync_once(bool final);

    const std::string dir_;
    const std::size_t max_records_;
    const std::uint64_t segment_bytes_;
    const std::size_t memory_records_;
    QueueIo* const io_;
    const std::function<Clock::time_point()> now_;

    // The writer: appenders take write_mu_ (the segment written to), then mu_ briefly for the
    // index. Nothing under either lock waits on a sync.
    std::mutex write_mu_;
    SegmentRef current_;                 // written to; under write_mu_ (and mu_ to replace)
    std::uint64_t current_size_ = 0;     // under write_mu_
    int write_errno_ = 0;                // the disk's last refusal
    bool failing_ = false;               // the disk refuses records
    std::uint64_t failed_since_log_ = 0;
    Clock::time_point last_failure_log_{};
    std::set<std::string> oversize_logged_;

    mutable std::mutex mu_;
    std::map<std::uint64_t, SegmentRef> segments_;
    std::deque<Entry> entries_;  // tickets [first_ticket_, first_ticket_ + size)
    Ticket first_ticket_ = 0;
    std::size_t cursor_ = 0;     // entries_ index: none waiting before it
    std::size_t held_ = 0;       // entries not settled
    std::size_t waiting_ = 0;
    std::size_t memory_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t rejected_ = 0;
    std::vector<KeyInfo> keys_;
    std::map<std::string, std::uint32_t> key_ids_;
    std::uint64_t settled_since_mark_ = 0;
    std::uint64_t next_segment_id_ = 1;
    std::pair<std::uint64_t, std::uint64_t> end_{0, 0};  // where the last record written ends
    std::vector<SegmentRef> unsynced_;                   // written since the last sync
    std::vector<SegmentRef> released_;                   // to unlink, outside the lock
    std::set<std::uint64_t> damaged_kept_;  // segments already copied to damaged/
    bool dirty_ = false;
    bool urgent_ = false;  // a new epoch: saved at the next tick, not within a second
    std::function<void()> on_append_;

    // The sync thread.
    std::mutex save_mu_;  // one state writer at a time
    // Saves of the state that failed since the last save that worked, and when that was last
    // said (under save_mu_): said once, then summed up once a minute, like refused records.
    std::uint64_t state_failures_ = 0;
    Clock::time_point last_state_log_{};
    std::mutex mark_mu_;
    int mark_fd_ = -1;
    std::mutex sync_mu_;
    std::condition_variable sync_cv_;
    bool sync_stop_ = false;
    std::thread sync_thread_;
};

}  // namespace uhfd
