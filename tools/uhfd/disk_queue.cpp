#include "disk_queue.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "log.hpp"
#include "queue_record.hpp"

namespace uhfd {

using namespace queue_record;

DiskQueue::DiskQueue(std::string dir, std::size_t max_records, std::uint64_t segment_bytes)
    : dir_(std::move(dir)), max_records_(std::max<std::size_t>(max_records, 1)), segment_bytes_(segment_bytes) {
    if (::mkdir(dir_.c_str(), 0750) != 0 && errno != EEXIST)
        throw std::runtime_error("queue directory " + dir_ + ": " + std::strerror(errno));
    std::lock_guard lock(mu_);
    recover();
}

DiskQueue::~DiskQueue() {
    flush(true);
    std::lock_guard lock(mu_);
    for (Segment& s : segments_) ::close(s.fd);
}

std::string DiskQueue::segment_path(std::uint64_t id) const {
    char name[32];
    std::snprintf(name, sizeof name, "/%016llx.seg", static_cast<unsigned long long>(id));
    return dir_ + name;
}

void DiskQueue::open_segment_locked(std::uint64_t id) {
    const std::string path = segment_path(id);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd < 0) throw std::runtime_error("queue segment " + path + ": " + std::strerror(errno));
    struct stat st{};
    ::fstat(fd, &st);
    segments_.push_back({id, fd, static_cast<std::uint64_t>(st.st_size)});
}

DiskQueue::Segment* DiskQueue::find_segment(std::uint64_t id) {
    for (Segment& s : segments_)
        if (s.id == id) return &s;
    return nullptr;
}

// A position at the end of a segment that is no longer written to is the start of the next one.
DiskQueue::Position DiskQueue::normalise(Position p) const {
    for (std::size_t i = 0; i + 1 < segments_.size(); ++i)
        if (segments_[i].id == p.segment && p.offset >= segments_[i].size) return normalise({segments_[i + 1].id, 0});
    return p;
}

std::optional<std::uint32_t> DiskQueue::body_length_at(const Position& p) {
    Segment* s = find_segment(p.segment);
    unsigned char len[4];
    if (!s || p.offset + 8 > s->size || !pread_all(s->fd, len, 4, p.offset)) return std::nullopt;
    return body_length(len);
}

std::optional<DiskQueue::Record> DiskQueue::read_at(const Position& p, std::uint32_t body) {
    Segment* s = find_segment(p.segment);
    if (!s || body < kHeader - 8 || body > kMaxBody || p.offset + 8 + body > s->size) return std::nullopt;
    std::string buf(8 + body, '\0');
    if (!pread_all(s->fd, buf.data(), buf.size(), p.offset)) return std::nullopt;
    return decode(buf);
}

std::uint64_t DiskQueue::append(const std::string& key, const std::string& topic,
                                const std::function<std::string(std::uint64_t)>& encode) {
    std::uint64_t seq;
    std::function<void()> wake;
    {
        std::lock_guard lock(mu_);
        seq = ++sequences_[key];
        const std::string payload = encode(seq);
        const std::string rec = queue_record::encode(seq, key, topic, payload);

        if (segments_.back().size >= segment_bytes_) {
            ::fdatasync(segments_.back().fd);
            open_segment_locked(segments_.back().id + 1);
            save_state_locked();  // the sequence numbers outlive the segments that held them
        }
        while (unsent_locked() >= max_records_ && unsent_locked() > 0) drop_oldest_locked();
        Segment& s = segments_.back();
        if (!write_all(s.fd, rec)) {
            // Whatever part reached the file is cut off again; the event is counted as dropped.
            log::error("queue: writing " + segment_path(s.id) + " failed: " + std::strerror(errno));
            if (::ftruncate(s.fd, static_cast<off_t>(s.size)) != 0) log::error("queue: cannot cut the failed write");
            ++dropped_;
            ++dropped_by_key_[key];
            dirty_ = true;
            return seq;
        }
        s.size += rec.size();
        ++end_index_;
        dirty_ = true;
        wake = on_append_;
    }
    if (wake) wake();
    return seq;
}

void DiskQueue::drop_oldest_locked() {
    pass_skipped_locked();
    const auto body = body_length_at(cursor_);
    const auto rec = body ? read_at(cursor_, *body) : std::nullopt;
    if (!rec) {  // unreadable: the queue ends here
        end_index_ = cursor_index_;
        return;
    }
    const Position end = normalise({cursor_.segment, cursor_.offset + 8 + *body});
    if (in_flight_.empty()) {
        head_ = end;
        ++head_index_;
    } else {
        // Records before it are in flight: it waits, as done, for the head to pass it.
        in_flight_.push_back({end, rec->key, true});
        skipped_.insert(cursor_);
    }
    cursor_ = end;
    ++cursor_index_;
    ++dropped_;
    ++dropped_by_key_[rec->key];
    dirty_ = true;
    release_segments_locked();
}

// Steps the cursor over dropped records, which are never sent.
void DiskQueue::pass_skipped_locked() {
    cursor_ = normalise(cursor_);
    while (cursor_index_ < end_index_ && skipped_.count(cursor_)) {
        const auto body = body_length_at(cursor_);
        if (!body) return;
        const Position end = normalise({cursor_.segment, cursor_.offset + 8 + *body});
        in_flight_.push_back({end, {}, true});
        cursor_ = end;
        ++cursor_index_;
    }
    advance_head_locked();
}

// Moves the head past the acknowledged (or dropped) records at the front.
void DiskQueue::advance_head_locked() {
    bool moved = false;
    while (!in_flight_.empty() && in_flight_.front().acked) {
        head_ = normalise(in_flight_.front().end);
        in_flight_.pop_front();
        ++head_index_;
        moved = true;
    }
    if (!moved) return;
    skipped_.erase(skipped_.begin(), skipped_.lower_bound(head_));
    dirty_ = true;
    release_segments_locked();
}

std::size_t DiskQueue::unsent_locked() const {
    std::size_t n = end_index_ - cursor_index_;
    for (auto it = skipped_.lower_bound(cursor_); it != skipped_.end() && n > 0; ++it) --n;
    return n;
}

std::optional<std::pair<DiskQueue::Ticket, DiskQueue::Record>> DiskQueue::next() {
    std::lock_guard lock(mu_);
    pass_skipped_locked();
    if (cursor_index_ >= end_index_) return std::nullopt;
    const auto body = body_length_at(cursor_);
    auto rec = body ? read_at(cursor_, *body) : std::nullopt;
    if (!rec) {
        log::error("queue: record at " + segment_path(cursor_.segment) + ":" + std::to_string(cursor_.offset) +
                   " unreadable; the queue ends there");
        end_index_ = cursor_index_;
        return std::nullopt;
    }
    const Position end = normalise({cursor_.segment, cursor_.offset + 8 + *body});
    in_flight_.push_back({end, rec->key, false});
    cursor_ = end;
    return std::pair{cursor_index_++, std::move(*rec)};
}

void DiskQueue::ack(Ticket t) {
    std::lock_guard lock(mu_);
    if (t < head_index_ || t >= cursor_index_) return;  // rewound meanwhile
    in_flight_[t - head_index_].acked = true;
    advance_head_locked();
}

void DiskQueue::rewind() {
    std::lock_guard lock(mu_);
    in_flight_.clear();
    cursor_ = head_;
    cursor_index_ = head_index_;
}

// Segments wholly before the head are done with; the one written to always stays.
void DiskQueue::release_segments_locked() {
    while (segments_.size() > 1 && segments_.front().id < head_.segment) {
        ::close(segments_.front().fd);
        ::unlink(segment_path(segments_.front().id).c_str());
        segments_.pop_front();
        dirty_ = true;
    }
}

void DiskQueue::flush(bool sync) {
    std::lock_guard lock(mu_);
    if (sync)
        for (Segment& s : segments_) ::fdatasync(s.fd);
    if (dirty_) save_state_locked();
}

std::size_t DiskQueue::depth() const {
    std::lock_guard lock(mu_);
    return end_index_ - head_index_ - skipped_.size();
}

std::size_t DiskQueue::unsent() const {
    std::lock_guard lock(mu_);
    return unsent_locked();
}

std::uint64_t DiskQueue::dropped() const {
    std::lock_guard lock(mu_);
    return dropped_;
}

std::map<std::string, std::uint64_t> DiskQueue::dropped_by_key() const {
    std::lock_guard lock(mu_);
    return dropped_by_key_;
}

std::uint64_t DiskQueue::last_sequence(const std::string& key) const {
    std::lock_guard lock(mu_);
    auto it = sequences_.find(key);
    return it == sequences_.end() ? 0 : it->second;
}

void DiskQueue::set_on_append(std::function<void()> fn) {
    std::lock_guard lock(mu_);
    on_append_ = std::move(fn);
}

}  // namespace uhfd
