// What a queue keeps across runs: recovering the segments and the saved state at start, and the
// queue's own thread that saves the state and syncs the segments, outside the lock.
//
// The state file is JSON with a CRC of itself ("check"), so a damaged one is known and not
// believed: the queue then sends every record kept again (duplicates, never a loss).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "disk_queue.hpp"
#include "log.hpp"
#include "queue_record.hpp"

namespace uhfd {

namespace {

using Clock = std::chrono::steady_clock;
using Position = std::pair<std::uint64_t, std::uint64_t>;  // segment, offset

constexpr std::chrono::seconds kSaveEvery{1};
constexpr std::chrono::milliseconds kUrgentSave{50};
constexpr std::chrono::seconds kFailureSummaryEvery{60};

std::uint32_t crc_of(std::string_view s) {
    return static_cast<std::uint32_t>(::crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

std::optional<std::uint64_t> segment_id(const std::string& name) {
    if (name.size() != 20 || name.substr(16) != ".seg") return std::nullopt;
    std::uint64_t id = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + 16, id, 16);
    if (ec != std::errc() || end != name.data() + 16 || id == 0) return std::nullopt;
    return id;
}

std::optional<std::string> read_file(int fd) {
    struct stat st{};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!bytes.empty() && !queue_record::pread_all(fd, bytes.data(), bytes.size(), 0)) return std::nullopt;
    return bytes;
}

// The head as the last run noted it between state saves: segment, offset, CRC of both.
std::optional<Position> read_mark(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char b[20];
    if (!in.read(reinterpret_cast<char*>(b), sizeof b)) return std::nullopt;
    std::uint64_t seg = 0, off = 0;
    for (int i = 7; i >= 0; --i) seg = (seg << 8) | b[i];
    for (int i = 7; i >= 0; --i) off = (off << 8) | b[8 + i];
    std::uint32_t c = 0;
    for (int i = 3; i >= 0; --i) c = (c << 8) | b[16 + i];
    if (c != crc_of({reinterpret_cast<const char*>(b), 16})) return std::nullopt;
    return Position{seg, off};
}

}  // namespace

struct DiskQueue::Snapshot {
    std::string text;  // the state file's bytes; empty: nothing to save
    std::vector<SegmentRef> to_sync;
};

namespace {
// What lives in the queue directory besides the segments: the queue's own files, damaged
// segments kept aside, and the readers' saved presence.
bool kept_beside_segments(const std::string& name) {
    for (const char* known : {".", "..", "state", "state.tmp", "head", "damaged", "presence"})
        if (name == known) return true;
    return false;
}
}  // namespace

void DiskQueue::recover() {
    std::vector<std::uint64_t> ids;
    if (DIR* d = ::opendir(dir_.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (auto id = segment_id(name)) ids.push_back(*id);
            else if (!kept_beside_segments(name))
                log::warning("queue: ignoring " + dir_ + "/" + name + ", which is not the queue's");
        }
        ::closedir(d);
    }
    std::sort(ids.begin(), ids.end());

    // The saved state, if it can be believed.
    Position head{0, 0};
    std::set<Position> settled;
    std::map<std::string, std::uint64_t> saved_seq;
    std::map<std::string, std::uint64_t> head_seq;  // each key's first record held when saved
    const std::string state_path = dir_ + "/state";
    if (std::ifstream in{state_path}) {
        try {
            std::stringstream text;
            text << in.rdbuf();
            nlohmann::json j = nlohmann::json::parse(text.str());
            const auto check = j.at("check").get<std::uint32_t>();
            j.erase("check");
            if (check != crc_of(j.dump())) throw std::runtime_error("its check does not match");
            head = {j.at("head").at(0).get<std::uint64_t>(), j.at("head").at(1).get<std::uint64_t>()};
            next_segment_id_ = j.value("next_segment", std::uint64_t{1});
            dropped_ = j.value("dropped", std::uint64_t{0});
            rejected_ = j.value("rejected", std::uint64_t{0});
            for (const auto& [name, k] : j.at("keys").items()) {
                KeyInfo& info = keys_[key_index_locked(name)];
                info.seq = saved_seq[name] = k.value("seq", std::uint64_t{0});
                info.epoch = k.value("epoch", std::string());
                info.counts = {k.value("dropped", std::uint64_t{0}), k.value("rejected", std::uint64_t{0})};
                if (k.contains("head_seq")) head_seq[name] = k["head_seq"].get<std::uint64_t>();
            }
            for (const auto& p : j.value("settled", std::vector<Position>{})) settled.insert(p);
        } catch (const std::exception& e) {
            log::warning("queue state " + state_path + " unreadable (" + e.what() + "); sending every record kept again, under new epochs");
            head = {0, 0};
            settled.clear();
            saved_seq.clear();
            head_seq.clear();
            for (KeyInfo& k : keys_) {
                k.seq = 0;
                k.epoch.clear();
                k.counts = {};
            }
            dropped_ = rejected_ = 0;
        }
    }
    if (const auto mark = read_mark(dir_ + "/head"); mark && *mark > head) head = *mark;
    next_segment_id_ = std::max(next_segment_id_, head.first + 1);

    // Walk every record: sequence numbers of records already delivered still count. A damaged
    // stretch is skipped to the next intact record; a record cut short at the very end is cut off.
    std::map<std::uint32_t, std::uint64_t> last_seen;  // key: last sequence read
    std::set<std::uint32_t> gap_possible;               // keys with damage after their last record read
    std::map<std::uint32_t, std::uint64_t> lost;
    // What came before the records kept: a key's records before its first one held are settled.
    for (const auto& [name, seq] : head_seq)
        if (seq > 0) last_seen[key_index_locked(name)] = seq - 1;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SegmentRef seg = open_segment(ids[i]);
        if (!seg) {
            log::error("queue: cannot open segment " + std::to_string(ids[i]) + ": " + std::strerror(errno));
            continue;
        }
        segments_[seg->id] = seg;
        next_segment_id_ = std::max(next_segment_id_, seg->id + 1);
        const auto bytes = read_file(seg->fd);
        if (!bytes) continue;
        const bool last = i + 1 == ids.size();
        std::size_t at = 0;
        while (at < bytes->size()) {
            auto found = queue_record::examine(*bytes, at);
            if (found.kind == queue_record::Found::Kind::record) {
                const std::uint32_t k = key_index_locked(found.record->key);
                KeyInfo& info = keys_[k];
                info.seq = std::max(info.seq, found.record->seq);
                if (gap_possible.erase(k) && found.record->seq > last_seen[k] + 1)
                    lost[k] += found.record->seq - last_seen[k] - 1;
                last_seen[k] = std::max(last_seen[k], found.record->seq);
                const Position p{seg->id, at};
                Entry e;
                e.segment = seg->id;
                e.offset = at;
                e.size = static_cast<std::uint32_t>(found.size);
                e.key = k;
                e.seq = found.record->seq;
                if (p >= head && !settled.count(p)) {
                    ++held_;
                    ++waiting_;
                    ++seg->live;
                    entries_.push_back(e);
                }
                end_ = {seg->id, at + found.size};
                at += found.size;
                continue;
            }
            const std::size_t resume = queue_record::resynchronise(*bytes, at);
            if (resume == std::string::npos && last && found.kind == queue_record::Found::Kind::cut_short) {
                log::warning("queue: " + std::to_string(bytes->size() - at) + " bytes of a record cut short by a crash cut off the end of " +
                             seg->path);
                if (::ftruncate(seg->fd, static_cast<off_t>(at)) != 0) log::warning("queue: cannot cut " + seg->path);
                // Usually the record being written when the process died; if the saved state knew
                // of it, it was whole once and is counted below.
                for (const auto& [k, seq] : last_seen) gap_possible.insert(k);
                break;
            }
            const std::size_t until = resume == std::string::npos ? bytes->size() : resume;
            if (Position{seg->id, until} > head) {  // damage among records still to send
                keep_damaged(seg, std::to_string(until - at) + " bytes at " + std::to_string(at) + " are not a record");
                for (const auto& [k, seq] : last_seen) gap_possible.insert(k);
            }
            at = until;
        }
    }
    // Damage after a key's last record read: the saved sequence says how many went with it.
    for (std::uint32_t k : gap_possible)
        if (auto it = saved_seq.find(keys_[k].name); it != saved_seq.end() && it->second > last_seen[k])
            lost[k] += it->second - last_seen[k];
    for (const auto& [k, n] : lost) {
        log::warning("queue: " + std::to_string(n) + " events of " + keys_[k].name + " lost to damage; counted as dropped");
        dropped_ += n;
        keys_[k].counts.dropped += n;
    }
    std::vector<SegmentRef> released;
    for (auto it = segments_.begin(); it != segments_.end();) {
        SegmentRef seg = (it++)->second;
        if (seg->live == 0) release_locked(seg, released);
    }
    for (const SegmentRef& s : released) ::unlink(s->path.c_str());
    if (held_) log::info("queue: " + std::to_string(held_) + " events kept from the last run");
    dirty_ = true;
}

// Copies a segment with damage in it to damaged/ once, for whoever wants to look at it.
void DiskQueue::keep_damaged(const SegmentRef& seg, const std::string& why) {
    {
        std::lock_guard lock(mu_);
        if (!damaged_kept_.insert(seg->id).second) {
            log::warning("queue: " + seg->path + ": " + why + "; skipped");
            return;
        }
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path aside = fs::path(dir_) / "damaged" /
                           (fs::path(seg->path).filename().string() + "." + std::to_string(std::time(nullptr)));
    fs::create_directories(aside.parent_path(), ec);
    if (!ec) fs::copy_file(seg->path, aside, fs::copy_options::overwrite_existing, ec);
    log::warning("queue: " + seg->path + ": " + why + "; skipped to the next intact record" +
                 (ec ? " (cannot copy it aside: " + ec.message() + ")" : ", the segment copied to " + aside.string()));
}

DiskQueue::Snapshot DiskQueue::snapshot_locked() {
    Snapshot s;
    s.to_sync.swap(unsynced_);
    if (!dirty_) return s;
    nlohmann::json j;
    j["version"] = 2;
    const Position head = head_locked();
    j["head"] = {head.first, head.second};
    j["next_segment"] = next_segment_id_;
    j["dropped"] = dropped_;
    j["rejected"] = rejected_;
    j["keys"] = nlohmann::json::object();
    std::vector<std::uint64_t> first_held(keys_.size(), 0);
    for (const Entry& e : entries_)
        if (e.state != State::settled && !e.memory && first_held[e.key] == 0) first_held[e.key] = e.seq;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const KeyInfo& k = keys_[i];
        j["keys"][k.name] = {{"seq", k.seq},
                             {"epoch", k.epoch},
                             {"dropped", k.counts.dropped},
                             {"rejected", k.counts.rejected},
                             {"head_seq", first_held[i] ? first_held[i] : k.seq + 1}};
    }
    j["settled"] = nlohmann::json::array();
    for (const Entry& e : entries_)
        if (e.state == State::settled && !e.memory && e.segment) j["settled"].push_back({e.segment, e.offset});
    j["check"] = crc_of(j.dump());
    s.text = j.dump();
    dirty_ = urgent_ = false;
    return s;
}

void DiskQueue::write_state(const Snapshot& s) {
    const std::string tmp = dir_ + "/state.tmp";
    std::string failure;
    int err = 0;
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    if (fd < 0) {
        err = errno;
        failure = "cannot write " + tmp;
    } else {
        bool saved = queue_record::write_all(*io_, fd, s.text) && io_->fdatasync(fd) == 0;
        if (!saved) err = errno;
        ::close(fd);
        if (saved && ::rename(tmp.c_str(), (dir_ + "/state").c_str()) != 0) {
            err = errno;
            saved = false;
        }
        if (!saved) failure = "cannot save " + dir_ + "/state";
    }
    if (failure.empty()) {
        if (state_failures_ > 0)
            log::info("queue: " + dir_ + "/state saved again, after " + std::to_string(state_failures_) + " failed attempts");
        state_failures_ = 0;
        return;
    }
    {
        // Not saved: the next tick tries again.
        std::lock_guard lock(mu_);
        dirty_ = true;
    }
    // A full disk fails every tick: said once, then summed up at most once a minute.
    const bool first = state_failures_++ == 0;
    if (!first && now_() - last_state_log_ < kFailureSummaryEvery) return;
    // An injected or odd failure may leave errno unset: "Success" would say the opposite.
    log::error("queue: " + failure + ": " + (err ? std::strerror(err) : "no reason given by the system") +
               (first ? std::string("; tried again each second")
                      : "; " + std::to_string(state_failures_) + " attempts have failed so far"));
    last_state_log_ = now_();
}

// Written, not synced: it outlives a killed process, which is what it is for.
void DiskQueue::write_mark(std::uint64_t segment, std::uint64_t offset) {
    unsigned char b[20];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(segment >> (8 * i));
    for (int i = 0; i < 8; ++i) b[8 + i] = static_cast<unsigned char>(offset >> (8 * i));
    const std::uint32_t c = crc_of({reinterpret_cast<const char*>(b), 16});
    for (int i = 0; i < 4; ++i) b[16 + i] = static_cast<unsigned char>(c >> (8 * i));
    std::lock_guard lock(mark_mu_);
    if (mark_fd_ >= 0 && ::pwrite(mark_fd_, b, sizeof b, 0) != static_cast<ssize_t>(sizeof b))
        log::debug("queue: cannot note the head: " + std::string(std::strerror(errno)));
}

void DiskQueue::sync_once(bool final) {
    if (!final) {
        std::lock_guard writer(write_mu_);
        bool empty;
        {
            std::lock_guard lock(mu_);
            empty = held_ == 0;
        }
        // An empty queue gives its last segment back; an idle queue holds no records on disk.
        if (empty && current_ && current_size_ > 0) roll_w();
        if (failing_ && failed_since_log_ > 0 && now_() - last_failure_log_ >= kFailureSummaryEvery) {
            log::error("queue: " + std::to_string(failed_since_log_) + " more events could not be written to " + dir_ +
                       " in the last minute (" + std::strerror(write_errno_) + "); " + std::to_string(in_memory()) +
                       " held in memory, " + std::to_string(dropped()) + " dropped in all");
            failed_since_log_ = 0;
            last_failure_log_ = now_();
        }
    }
    std::lock_guard saving(save_mu_);
    Snapshot s;
    {
        std::lock_guard lock(mu_);
        if (final && memory_ > 0) {
            // Events the disk could not take and the broker did not get go with the process.
            log::warning("queue: " + std::to_string(memory_) + " events held only in memory were not delivered; counted as dropped");
            for (std::size_t i = 0; i < entries_.size(); ++i)
                if (entries_[i].memory && entries_[i].state != State::settled) settle_locked(first_ticket_ + i, true, false);
        }
        s = snapshot_locked();
    }
    for (const SegmentRef& seg : s.to_sync)
        if (io_->fdatasync(seg->fd) != 0 && errno != EBADF) log::debug("queue: sync " + seg->path + ": " + std::strerror(errno));
    if (!s.text.empty()) write_state(s);
}

void DiskQueue::flush(bool) { sync_once(false); }

void DiskQueue::sync_loop() {
    pthread_setname_np(pthread_self(), "uhfd-queue");
    std::unique_lock lock(sync_mu_);
    auto last = Clock::now();
    while (!sync_stop_) {
        sync_cv_.wait_for(lock, kUrgentSave);
        if (sync_stop_) break;
        bool urgent;
        {
            std::lock_guard q(mu_);
            urgent = urgent_;
        }
        if (!urgent && Clock::now() - last < kSaveEvery) continue;
        last = Clock::now();
        lock.unlock();
        try {
            sync_once(false);
        } catch (const std::exception& e) {
            log::error(std::string("queue: saving its state failed: ") + e.what());
        }
        lock.lock();
    }
}

}  // namespace uhfd
