#include "disk_queue.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "log.hpp"

namespace uhfd {

namespace {

constexpr std::size_t kHeader = 24;  // length, CRC, sequence, key, topic and payload lengths
constexpr std::uint32_t kMaxBody = 16u << 20;

void put(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint64_t get(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

std::uint32_t crc(const char* data, std::size_t n) {
    return static_cast<std::uint32_t>(::crc32(0L, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n)));
}

bool pread_all(int fd, void* buf, std::size_t n, std::uint64_t at) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(at));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
        at += static_cast<std::uint64_t>(r);
    }
    return true;
}

bool write_all(int fd, const std::string& s) {
    const char* p = s.data();
    std::size_t n = s.size();
    while (n > 0) {
        const ssize_t r = ::write(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

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
    return static_cast<std::uint32_t>(get(len, 4));
}

std::optional<DiskQueue::Record> DiskQueue::read_at(const Position& p, std::uint32_t body) {
    Segment* s = find_segment(p.segment);
    if (!s || body < kHeader - 8 || body > kMaxBody || p.offset + 8 + body > s->size) return std::nullopt;
    std::string buf(8 + body, '\0');
    if (!pread_all(s->fd, buf.data(), buf.size(), p.offset)) return std::nullopt;
    const auto* u = reinterpret_cast<const unsigned char*>(buf.data());
    if (get(u + 4, 4) != crc(buf.data() + 8, body)) return std::nullopt;
    const std::size_t key = get(u + 16, 2), topic = get(u + 18, 2), payload = get(u + 20, 4);
    if (kHeader + key + topic + payload != 8 + body) return std::nullopt;
    Record r;
    r.seq = get(u + 8, 8);
    r.key.assign(buf, kHeader, key);
    r.topic.assign(buf, kHeader + key, topic);
    r.payload.assign(buf, kHeader + key + topic, payload);
    return r;
}

void DiskQueue::recover() {
    std::vector<std::uint64_t> ids;
    if (DIR* d = ::opendir(dir_.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() == 20 && name.substr(16) == ".seg") ids.push_back(std::stoull(name.substr(0, 16), nullptr, 16));
        }
        ::closedir(d);
    }
    std::sort(ids.begin(), ids.end());
    for (std::uint64_t id : ids) open_segment_locked(id);
    if (segments_.empty()) open_segment_locked(1);

    Position saved{segments_.front().id, 0};
    std::ifstream state(dir_ + "/state");
    if (state) {
        try {
            const nlohmann::json j = nlohmann::json::parse(state);
            saved = {j.at("head_segment").get<std::uint64_t>(), j.at("head_offset").get<std::uint64_t>()};
            dropped_ = j.value("dropped", std::uint64_t{0});
            dropped_by_key_ = j.value("dropped_by_key", std::map<std::string, std::uint64_t>{});
            sequences_ = j.value("sequences", std::map<std::string, std::uint64_t>{});
            for (const auto& p : j.value("skipped", std::vector<std::pair<std::uint64_t, std::uint64_t>>{}))
                skipped_.insert({p.first, p.second});
        } catch (const std::exception& e) {
            log::warning("queue state " + dir_ + "/state unreadable (" + e.what() + "); sending every record kept");
        }
    }
    if (saved.segment < segments_.front().id) saved = {segments_.front().id, 0};

    // Walk every record: the sequence numbers of records already delivered still count, and a
    // record cut short ends its segment.
    std::vector<Position> starts;
    std::vector<std::uint64_t> ends;  // offset past each record, in its segment
    std::size_t cut = 0;
    for (Segment& seg : segments_) {
        std::uint64_t at = 0;
        while (at < seg.size) {
            const Position p{seg.id, at};
            const auto body = body_length_at(p);
            const auto rec = body ? read_at(p, *body) : std::nullopt;
            if (!rec) {
                cut += seg.size - at;
                if (::ftruncate(seg.fd, static_cast<off_t>(at)) != 0) log::warning("queue: cannot cut " + segment_path(seg.id));
                seg.size = at;
                break;
            }
            auto& seq = sequences_[rec->key];
            seq = std::max(seq, rec->seq);
            starts.push_back(p);
            at += 8 + *body;
            ends.push_back(at);
        }
    }
    const auto before = [](const Position& a, const Position& b) {
        return a.segment < b.segment || (a.segment == b.segment && a.offset < b.offset);
    };
    auto first = std::lower_bound(starts.begin(), starts.end(), saved, before);
    // A head inside a record (it should not be) sends that record again rather than skip it.
    if (first != starts.begin() && (first == starts.end() || !(*first == saved))) {
        const std::size_t prev = static_cast<std::size_t>(first - starts.begin()) - 1;
        if (starts[prev].segment == saved.segment && ends[prev] > saved.offset) --first;
    }
    const std::size_t pending = static_cast<std::size_t>(starts.end() - first);
    if (cut) log::warning("queue: " + std::to_string(cut) + " bytes of an unfinished record cut off");
    head_ = first == starts.end() ? normalise(saved) : *first;
    if (!find_segment(head_.segment)) head_ = {segments_.back().id, segments_.back().size};
    cursor_ = head_;
    head_index_ = cursor_index_ = 0;
    end_index_ = pending;
    // Dropped records behind the head are done with; those after it stay skipped.
    skipped_.erase(skipped_.begin(), skipped_.lower_bound(head_));
    std::erase_if(skipped_, [&](const Position& p) { return !std::binary_search(starts.begin(), starts.end(), p, before); });
    release_segments_locked();
    if (pending > skipped_.size())
        log::info("queue: " + std::to_string(pending - skipped_.size()) + " events kept from the last run");
}

std::uint64_t DiskQueue::append(const std::string& key, const std::string& topic,
                                const std::function<std::string(std::uint64_t)>& encode) {
    std::uint64_t seq;
    std::function<void()> wake;
    {
        std::lock_guard lock(mu_);
        seq = ++sequences_[key];
        const std::string payload = encode(seq);
        std::string rec;
        rec.reserve(kHeader + key.size() + topic.size() + payload.size());
        const std::size_t body = kHeader - 8 + key.size() + topic.size() + payload.size();
        put(rec, body, 4);
        put(rec, 0, 4);  // CRC, below
        put(rec, seq, 8);
        put(rec, key.size(), 2);
        put(rec, topic.size(), 2);
        put(rec, payload.size(), 4);
        rec += key;
        rec += topic;
        rec += payload;
        const std::uint32_t c = crc(rec.data() + 8, body);
        for (int i = 0; i < 4; ++i) rec[4 + i] = static_cast<char>((c >> (8 * i)) & 0xFF);

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

void DiskQueue::save_state_locked() {
    nlohmann::json j;
    j["head_segment"] = head_.segment;
    j["head_offset"] = head_.offset;
    j["dropped"] = dropped_;
    j["dropped_by_key"] = dropped_by_key_;
    j["sequences"] = sequences_;
    j["skipped"] = nlohmann::json::array();
    for (const Position& p : skipped_) j["skipped"].push_back({p.segment, p.offset});
    const std::string tmp = dir_ + "/state.tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    if (fd < 0) {
        log::error("queue: cannot write " + tmp + ": " + std::strerror(errno));
        return;
    }
    const bool ok = write_all(fd, j.dump()) && ::fdatasync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), (dir_ + "/state").c_str()) != 0) {
        log::error("queue: cannot save " + dir_ + "/state: " + std::strerror(errno));
        return;
    }
    dirty_ = false;
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
