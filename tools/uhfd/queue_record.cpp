#include "queue_record.hpp"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>

namespace uhfd::queue_record {
namespace {

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

const unsigned char* bytes_of(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

bool fits(std::size_t key, std::size_t topic, std::size_t payload) {
    return key <= kMaxName && topic <= kMaxName && payload <= kMaxBody &&
           kHeader - 8 + key + topic + payload <= kMaxBody;
}

std::string encode(std::uint64_t seq, const std::string& key, const std::string& topic, const std::string& payload) {
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
    return rec;
}

std::uint32_t body_length(const unsigned char* first4) { return static_cast<std::uint32_t>(get(first4, 4)); }

std::optional<DiskQueue::Record> decode(std::string_view bytes) {
    if (bytes.size() < kHeader) return std::nullopt;
    const std::size_t body = bytes.size() - 8;
    const auto* u = bytes_of(bytes);
    if (get(u, 4) != body || get(u + 4, 4) != crc(bytes.data() + 8, body)) return std::nullopt;
    const std::size_t key = get(u + 16, 2), topic = get(u + 18, 2), payload = get(u + 20, 4);
    if (kHeader + key + topic + payload != bytes.size()) return std::nullopt;
    DiskQueue::Record r;
    r.seq = get(u + 8, 8);
    r.key.assign(bytes.substr(kHeader, key));
    r.topic.assign(bytes.substr(kHeader + key, topic));
    r.payload.assign(bytes.substr(kHeader + key + topic, payload));
    return r;
}

Found examine(std::string_view segment, std::size_t at) {
    const std::size_t left = segment.size() - at;
    if (left < 8) return {Found::Kind::cut_short, 0, std::nullopt};
    const std::uint32_t body = body_length(bytes_of(segment) + at);
    if (body < kHeader - 8 || body > kMaxBody) return {Found::Kind::damaged, 0, std::nullopt};
    if (8 + std::size_t{body} > left) return {Found::Kind::cut_short, 0, std::nullopt};
    auto rec = decode(segment.substr(at, 8 + body));
    if (!rec) return {Found::Kind::damaged, 0, std::nullopt};
    return {Found::Kind::record, 8 + std::size_t{body}, std::move(rec)};
}

std::size_t resynchronise(std::string_view segment, std::size_t from) {
    for (std::size_t at = from + 1; at + kHeader <= segment.size(); ++at)
        if (examine(segment, at).kind == Found::Kind::record) return at;
    return std::string_view::npos;
}

bool pread_all(int fd, void* buf, std::size_t n, std::uint64_t at) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(at));
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) errno = EIO;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
        at += static_cast<std::uint64_t>(r);
    }
    return true;
}

bool write_all(QueueIo& io, int fd, std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
    while (n > 0) {
        const ssize_t r = io.write(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) errno = ENOSPC;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace uhfd::queue_record
