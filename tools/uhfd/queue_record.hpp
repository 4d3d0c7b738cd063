// One queued event as it lies in a segment file: a little-endian header (body length, CRC-32 of
// the body, sequence number, key, topic and payload lengths) and then key, topic and payload.
// A record whose CRC or lengths do not add up is not one: recovery cuts the segment there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "disk_queue.hpp"

namespace uhfd::queue_record {

inline constexpr std::size_t kHeader = 24;  // length, CRC, sequence, key, topic and payload lengths
inline constexpr std::uint32_t kMaxBody = 16u << 20;

// The record's bytes, ready to append.
std::string encode(std::uint64_t seq, const std::string& key, const std::string& topic, const std::string& payload);
// The body length a record announces in its first 4 bytes (the record is 8 + body bytes).
std::uint32_t body_length(const unsigned char* first4);
// The record in `bytes` (8 + body bytes), or nothing when it is not a whole, intact record.
std::optional<DiskQueue::Record> decode(const std::string& bytes);

// Whole reads and writes, retried on EINTR; false on an error or end of file.
bool pread_all(int fd, void* buf, std::size_t n, std::uint64_t at);
bool write_all(int fd, const std::string& s);

}  // namespace uhfd::queue_record
