// The live queue: appending, handing out, settling and giving disk space back.
#include "disk_queue.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>
#include <stdexcept>

#include "log.hpp"
#include "queue_record.hpp"

namespace uhfd {

namespace {

std::string new_epoch() {
    std::random_device rd;
    const std::uint64_t v = (std::uint64_t{rd()} << 32) ^ rd();
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(v));
    return out;
}

}  // namespace

DiskQueue::SegmentFile::~SegmentFile() {
    if (fd >= 0) ::close(fd);
}

QueueIo& QueueIo::system() {
    static QueueIo io;
    return io;
}

DiskQueue::DiskQueue(std::string dir, std::size_t max_records, Limits limits)
    : dir_(std::move(dir)),
      max_records_(std::max<std::size_t>(max_records, 1)),
      segment_bytes_(limits.segment_bytes),
      memory_records_(limits.memory_records),
      io_(limits.io ? limits.io : &QueueIo::system()),
      now_(limits.clock ? std::move(limits.clock) : [] { return Clock::now(); }) {
    if (::mkdir(dir_.c_str(), 0750) != 0 && errno != EEXIST)
        throw std::runtime_error("queue directory " + dir_ + ": " + std::strerror(errno));
    recover();
    const std::string mark = dir_ + "/head";
    mark_fd_ = ::open(mark.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (mark_fd_ < 0) log::warning("queue: cannot open " + mark + ": " + std::strerror(errno));
    sync_thread_ = std::thread([this] { sync_loop(); });
}

DiskQueue::~DiskQueue() {
    {
        std::lock_guard lock(sync_mu_);
        sync_stop_ = true;
    }
    sync_cv_.notify_all();
    sync_thread_.join();
    sync_once(true);
    if (mark_fd_ >= 0) ::close(mark_fd_);
}

DiskQueue::SegmentRef DiskQueue::open_segment(std::uint64_t id) {
    char name[32];
    std::snprintf(name, sizeof name, "/%016llx.seg", static_cast<unsigned long long>(id));
    auto seg = std::make_shared<SegmentFile>();
    seg->id = id;
    seg->path = dir_ + name;
    seg->fd = ::open(seg->path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (seg->fd < 0) return nullptr;
    return seg;
}

// Starts the next segment; the one before goes once nothing in it is held.
void DiskQueue::roll_w() {
    SegmentRef fresh;
    std::uint64_t id;
    {
        std::lock_guard lock(mu_);
        id = next_segment_id_;
    }
    fresh = open_segment(id);
    if (!fresh) {
        write_errno_ = errno;
        return;
    }
    std::vector<SegmentRef> released;
    {
        std::lock_guard lock(mu_);
        ++next_segment_id_;
        segments_[id] = fresh;
        SegmentRef old = std::exchange(current_, fresh);
        if (old && old->live == 0) release_locked(old, released);
        dirty_ = true;
    }
    current_size_ = 0;
    for (const SegmentRef& s : released) ::unlink(s->path.c_str());
}

bool DiskQueue::write_record_w(const std::string& rec, Entry& e) {
    // A full segment: a new one, so the old one can go once settled. (An empty queue's segment is
    // given back by the sync tick, not here: live traffic would otherwise make a file per event.)
    if (!current_ || current_size_ >= segment_bytes_) roll_w();
    if (!current_) return false;  // no segment could be made
    if (!queue_record::write_all(*io_, current_->fd, rec)) {
        write_errno_ = errno;
        // Whatever part reached the file is cut off again, so the next record starts clean.
        if (::ftruncate(current_->fd, static_cast<off_t>(current_size_)) != 0) roll_w();
        return false;
    }
    e.segment = current_->id;
    e.offset = current_size_;
    current_size_ += rec.size();
    return true;
}

// Under write_mu_. The first refusal is said at once; later ones in a summary at most once a
// minute (sync_once), and the recovery once.
void DiskQueue::note_write_failure(int err) {
    write_errno_ = err;
    if (failing_) {
        ++failed_since_log_;
        return;
    }
    failing_ = true;
    failed_since_log_ = 0;
    last_failure_log_ = now_();
    log::error("queue: cannot write to " + dir_ + ": " + std::strerror(err) + "; events are kept in memory (up to " +
               std::to_string(memory_records_) + ") until it can");
}

std::uint32_t DiskQueue::key_index_locked(const std::string& key) {
    auto [it, fresh] = key_ids_.try_emplace(key, static_cast<std::uint32_t>(keys_.size()));
    if (fresh) {
        keys_.emplace_back();
        keys_.back().name = key;
    }
    return it->second;
}

std::uint64_t DiskQueue::append(const std::string& key, const std::string& topic,
                                const std::function<std::string(const Sequence&)>& encode) {
    std::lock_guard writer(write_mu_);
    Sequence seq;
    Entry e;
    bool new_epoch_made = false;
    {
        std::lock_guard lock(mu_);
        e.key = key_index_locked(key);
        KeyInfo& k = keys_[e.key];
        if (k.epoch.empty()) {  // a sequence the queue cannot vouch for starts a new epoch
            k.epoch = new_epoch();
            urgent_ = new_epoch_made = true;
        }
        seq = {k.epoch, ++k.seq};
        dirty_ = true;
    }
    if (new_epoch_made) sync_cv_.notify_one();
    const std::string payload = encode(seq);
    if (!queue_record::fits(key.size(), topic.size(), payload.size())) {
        if (oversize_logged_.insert(key).second)
            log::error("queue: an event of " + key + " too large to keep (" + std::to_string(payload.size()) +
                       " bytes); dropped and counted");
        std::lock_guard lock(mu_);
        ++dropped_;
        ++keys_[e.key].counts.dropped;
        return seq.seq;
    }
    std::string rec = queue_record::encode(seq.seq, key, topic, payload);
    e.seq = seq.seq;
    e.size = static_cast<std::uint32_t>(rec.size());
    const bool on_disk = write_record_w(rec, e);
    if (on_disk && failing_) {
        log::info("queue: " + dir_ + " takes records again (" + std::to_string(failed_since_log_) +
                  " more refused since last said)");
        failing_ = false;
    }
    if (!on_disk) note_write_failure(write_errno_ ? write_errno_ : EIO);

    std::vector<SegmentRef> released;
    std::function<void()> wake;
    {
        std::lock_guard lock(mu_);
        if (!on_disk) {
            if (memory_ >= memory_records_) {
                ++dropped_;
                ++keys_[e.key].counts.dropped;
                return seq.seq;
            }
            e.memory = std::make_shared<const Record>(Record{seq.seq, key, topic, payload});
            ++memory_;
        } else {
            end_ = {e.segment, e.offset + e.size};
            if (unsynced_.empty() || unsynced_.back() != current_) unsynced_.push_back(current_);
        }
        while (held_ >= max_records_ && waiting_ > 0) drop_oldest_waiting_locked();
        if (held_ >= max_records_) {
            // Everything held is in flight: the new record is the one that goes.
            e.state = State::settled;
            if (e.memory) --memory_;
            e.memory.reset();
            ++dropped_;
            ++keys_[e.key].counts.dropped;
        } else {
            ++held_;
            ++waiting_;
            if (!e.memory) ++segments_.at(e.segment)->live;
        }
        entries_.push_back(std::move(e));
        pop_settled_locked(released);
        wake = on_append_;
    }
    for (const SegmentRef& s : released) ::unlink(s->path.c_str());
    if (wake) wake();
    return seq.seq;
}

void DiskQueue::advance_cursor_locked() {
    while (cursor_ < entries_.size() && entries_[cursor_].state != State::waiting) ++cursor_;
}

void DiskQueue::drop_oldest_waiting_locked() {
    advance_cursor_locked();
    if (cursor_ >= entries_.size()) return;
    settle_locked(first_ticket_ + cursor_, true, false);
}

DiskQueue::Entry* DiskQueue::entry_locked(Ticket t) {
    if (t < first_ticket_ || t - first_ticket_ >= entries_.size()) return nullptr;
    return &entries_[t - first_ticket_];
}

// Under mu_; the segment is unlinked by the caller, outside the lock.
void DiskQueue::release_locked(SegmentRef seg, std::vector<SegmentRef>& released) {
    if (seg == current_ || !segments_.erase(seg->id)) return;
    released.push_back(seg);
    dirty_ = true;
}

void DiskQueue::settle_locked(Ticket t, bool count_drop, bool count_reject) {
    Entry* e = entry_locked(t);
    if (!e || e->state == State::settled) return;
    if (e->state == State::waiting) --waiting_;
    e->state = State::settled;
    --held_;
    if (e->memory) {
        --memory_;
        e->memory.reset();
    } else if (auto it = segments_.find(e->segment); it != segments_.end()) {
        if (--it->second->live == 0) release_locked(it->second, released_);
    }
    KeyInfo& k = keys_[e->key];
    if (count_drop) {
        ++dropped_;
        ++k.counts.dropped;
    }
    if (count_reject) {
        ++rejected_;
        ++k.counts.rejected;
    }
    dirty_ = true;
}

// A segment whose every record is settled has been released by now, wherever it lies; the caller
// unlinks it outside the lock.
void DiskQueue::pop_settled_locked(std::vector<SegmentRef>& released) {
    while (!entries_.empty() && entries_.front().state == State::settled) {
        entries_.pop_front();
        ++first_ticket_;
        if (cursor_ > 0) --cursor_;
    }
    released.insert(released.end(), released_.begin(), released_.end());
    released_.clear();
}

DiskQueue::SegmentRef DiskQueue::find_segment_locked(std::uint64_t id) const {
    auto it = segments_.find(id);
    return it == segments_.end() ? nullptr : it->second;
}

std::optional<std::pair<DiskQueue::Ticket, DiskQueue::Record>> DiskQueue::next() {
    auto one = next_batch(1);
    if (one.empty()) return std::nullopt;
    return std::move(one.front());
}

namespace {
// What one read from a segment may take at most while handing out a batch.
constexpr std::uint64_t kBatchReadBytes = 256u << 10;
}  // namespace

std::vector<std::pair<DiskQueue::Ticket, DiskQueue::Record>> DiskQueue::next_batch(std::size_t max) {
    struct Taken {
        Ticket ticket;
        Entry entry;
        SegmentRef seg;
    };
    std::vector<std::pair<Ticket, Record>> out;
    std::vector<Taken> taken;
    std::string bytes;
    // Again while everything taken turned out damaged, so an empty answer means nothing waits.
    while (out.empty()) {
        taken.clear();
        {
            std::lock_guard lock(mu_);
            while (taken.size() < max) {
                advance_cursor_locked();
                if (cursor_ >= entries_.size()) break;
                Entry& at = entries_[cursor_];
                at.state = State::sent;
                --waiting_;
                taken.push_back({first_ticket_ + cursor_++, at, at.memory ? nullptr : find_segment_locked(at.segment)});
            }
        }
        if (taken.empty()) break;
        out.reserve(taken.size());
        // Read outside the lock (appends go on meanwhile), one run of adjoining records at a time.
        for (std::size_t i = 0; i < taken.size();) {
            const Taken& first = taken[i];
            if (first.entry.memory) {
                out.emplace_back(first.ticket, *first.entry.memory);
                ++i;
                continue;
            }
            std::size_t j = i + 1;
            std::uint64_t end = first.entry.offset + first.entry.size;
            while (j < taken.size() && !taken[j].entry.memory && taken[j].entry.segment == first.entry.segment &&
                   taken[j].entry.offset == end && end - first.entry.offset + taken[j].entry.size <= kBatchReadBytes)
                end += taken[j++].entry.size;
            bytes.resize(end - first.entry.offset);
            std::string why = "its segment is gone";
            bool read = false;
            if (first.seg) {
                read = queue_record::pread_all(first.seg->fd, bytes.data(), bytes.size(), first.entry.offset);
                if (!read) why = std::strerror(errno);
            }
            for (std::size_t k = i; k < j; ++k) {
                const Entry& e = taken[k].entry;
                std::optional<Record> rec;
                std::string record_why = why;
                if (read) {
                    rec = queue_record::decode(std::string_view(bytes).substr(e.offset - first.entry.offset, e.size));
                    if (!rec) record_why = "its length or CRC does not check out";
                } else if (first.seg && j - i > 1) {
                    // The run could not be read whole: each record alone, so one bad spot costs one record.
                    std::string alone(e.size, '\0');
                    if (!queue_record::pread_all(first.seg->fd, alone.data(), alone.size(), e.offset)) record_why = std::strerror(errno);
                    else if (!(rec = queue_record::decode(alone))) record_why = "its length or CRC does not check out";
                }
                if (rec) out.emplace_back(taken[k].ticket, std::move(*rec));
                else drop_damaged(taken[k].ticket, first.seg, e.offset, record_why);
            }
            i = j;
        }
    }
    return out;
}

// Damaged since it was written: dropped and counted; the records after it go on.
void DiskQueue::drop_damaged(Ticket t, const SegmentRef& seg, std::uint64_t offset, const std::string& why) {
    if (seg) keep_damaged(seg, "record at " + std::to_string(offset) + ": " + why);
    std::vector<SegmentRef> released;
    {
        std::lock_guard lock(mu_);
        settle_locked(t, true, false);
        pop_settled_locked(released);
    }
    for (const SegmentRef& s : released) ::unlink(s->path.c_str());
}

std::pair<std::uint64_t, std::uint64_t> DiskQueue::head_locked() const {
    for (const Entry& e : entries_)
        if (e.state != State::settled && !e.memory) return {e.segment, e.offset};
    return end_;
}

void DiskQueue::settle(Ticket t, bool reject) {
    std::vector<SegmentRef> released;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> mark;
    {
        std::lock_guard lock(mu_);
        Entry* e = entry_locked(t);
        if (!e || e->state != State::sent) return;  // rewound, or settled already
        settle_locked(t, false, reject);
        pop_settled_locked(released);
        if (++settled_since_mark_ >= kMarkEvery) {
            settled_since_mark_ = 0;
            mark = head_locked();
        }
    }
    for (const SegmentRef& s : released) ::unlink(s->path.c_str());
    if (mark) write_mark(mark->first, mark->second);
}

void DiskQueue::ack(Ticket t) { settle(t, false); }
void DiskQueue::reject(Ticket t) { settle(t, true); }

void DiskQueue::rewind() {
    std::lock_guard lock(mu_);
    for (Entry& e : entries_)
        if (e.state == State::sent) {
            e.state = State::waiting;
            ++waiting_;
        }
    cursor_ = 0;
}

std::size_t DiskQueue::depth() const {
    std::lock_guard lock(mu_);
    return held_;
}

std::size_t DiskQueue::unsent() const {
    std::lock_guard lock(mu_);
    return waiting_;
}

std::size_t DiskQueue::in_memory() const {
    std::lock_guard lock(mu_);
    return memory_;
}

std::uint64_t DiskQueue::dropped() const {
    std::lock_guard lock(mu_);
    return dropped_;
}

std::uint64_t DiskQueue::rejected() const {
    std::lock_guard lock(mu_);
    return rejected_;
}

std::map<std::string, std::uint64_t> DiskQueue::dropped_by_key() const {
    std::lock_guard lock(mu_);
    std::map<std::string, std::uint64_t> out;
    for (const KeyInfo& k : keys_)
        if (k.counts.dropped) out[k.name] = k.counts.dropped;
    return out;
}

std::map<std::string, std::uint64_t> DiskQueue::rejected_by_key() const {
    std::lock_guard lock(mu_);
    std::map<std::string, std::uint64_t> out;
    for (const KeyInfo& k : keys_)
        if (k.counts.rejected) out[k.name] = k.counts.rejected;
    return out;
}

std::map<std::string, DiskQueue::Counts> DiskQueue::counts_by_key() const {
    std::lock_guard lock(mu_);
    std::map<std::string, Counts> out;
    for (const KeyInfo& k : keys_) out[k.name] = k.counts;
    return out;
}

std::uint64_t DiskQueue::last_sequence(const std::string& key) const {
    std::lock_guard lock(mu_);
    auto it = key_ids_.find(key);
    return it == key_ids_.end() ? 0 : keys_[it->second].seq;
}

std::string DiskQueue::epoch(const std::string& key) const {
    std::lock_guard lock(mu_);
    auto it = key_ids_.find(key);
    return it == key_ids_.end() ? std::string() : keys_[it->second].epoch;
}

std::uint64_t DiskQueue::disk_bytes() const {
    std::vector<SegmentRef> segs;
    {
        std::lock_guard lock(mu_);
        for (const auto& [id, s] : segments_) segs.push_back(s);
    }
    std::uint64_t total = 0;
    for (const SegmentRef& s : segs) {
        struct stat st{};
        if (::fstat(s->fd, &st) == 0) total += static_cast<std::uint64_t>(st.st_size);
    }
    return total;
}

void DiskQueue::set_on_append(std::function<void()> fn) {
    std::lock_guard lock(mu_);
    on_append_ = std::move(fn);
}

}  // namespace uhfd
