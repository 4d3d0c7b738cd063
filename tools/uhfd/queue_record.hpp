// One queued event as it lies in a segment file:
//
//   offset  size  field
//   0       4     body length, little-endian (the record is 8 + body bytes)
//   4       4     CRC-32 of the body
//   8       8     sequence number, little-endian
//   16      2     key length (the reader's name)
//   18      2     topic length
//   20      4     payload length
//   24      ...   key, topic, payload
//
// A record whose CRC or lengths do not add up is not one. The writer refuses what the reader
// would refuse (`fits`), so every record written can be read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "disk_queue.hpp"

namespace uhfd::queue_record {

inline constexpr std::size_t kHeader = 24;  // length, CRC, sequence, key, topic and payload lengths
inline constexpr std::uint32_t kMaxBody = 16u << 20;
inline constexpr std::size_t kMaxName = 0xFFFF;  // key and topic: 16-bit lengths

// Whether a record of these parts can be written and read back.
bool fits(std::size_t key, std::size_t topic, std::size_t payload);
// The record's bytes, ready to append; call only when `fits`.
std::string encode(std::uint64_t seq, const std::string& key, const std::string& topic, const std::string& payload);
// The body length a record announces in its first 4 bytes.
std::uint32_t body_length(const unsigned char* first4);
// The record in `bytes` (8 + body bytes), or nothing when it is not a whole, intact record.
std::optional<DiskQueue::Record> decode(std::string_view bytes);

// What lies at `at` in a segment's bytes.
struct Found {
    enum class Kind { record, cut_short, damaged } kind;
    std::size_t size = 0;  // record: its bytes
    std::optional<DiskQueue::Record> record;
};
Found examine(std::string_view segment, std::size_t at);
// The first offset after `from` where an intact record starts, or npos.
std::size_t resynchronise(std::string_view segment, std::size_t from);

// Whole reads and writes, retried on EINTR; false on an error or end of file (errno set).
bool pread_all(int fd, void* buf, std::size_t n, std::uint64_t at);
bool write_all(QueueIo& io, int fd, std::string_view s);

}  // namespace uhfd::queue_record
