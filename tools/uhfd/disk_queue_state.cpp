// What a queue keeps across runs: recovering the segments and the saved head, sequence numbers
// and drop counts at start, and saving them.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "disk_queue.hpp"
#include "log.hpp"
#include "queue_record.hpp"

namespace uhfd {

using queue_record::write_all;

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

}  // namespace uhfd
