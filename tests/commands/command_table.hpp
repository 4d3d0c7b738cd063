// Command rows over a simulated reader: each row names a call, the request data the reader
// must receive, the reply it sends, and what the caller's buffers hold afterwards. Every row
// runs three times: a reply with status 0, a reply with a non-zero status, and a reply whose
// checksum is wrong (a failed exchange).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "sim/pty_reader.hpp"
#include "uhfreader.h"

namespace cmdtest {

using u8 = std::uint8_t;
using Bytes = std::vector<u8>;

// The calls pass 0x105: only the low byte, 0x05, may reach the wire.
inline constexpr int kAddr = 0x105;
inline constexpr u8 kReader = 0x05;
// Big enough for the largest copy (2048) with room for guard bytes after it.
inline constexpr std::size_t kBuf = 4096;

// Distinct, non-zero, and now and then 0x10, so over-reads show and doubling is exercised.
inline u8 filler(std::size_t i) { return static_cast<u8>(0x80 + 3 * i); }

// head, then filler bytes up to n in all.
inline Bytes fill(Bytes head, std::size_t n) {
    for (std::size_t i = head.size(); i < n; ++i) head.push_back(filler(i));
    return head;
}

// head, then zeros up to n in all.
inline Bytes pad(Bytes head, std::size_t n) {
    head.resize(n, 0);
    return head;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

enum Out { none, A, B };  // A: the request block buffer, B: the reply buffer
enum Result { status, exchange };

using Call = int (*)(int addr, u8 *a, u8 *b);
#define CALL(expr) []([[maybe_unused]] int addr, [[maybe_unused]] u8 *a, [[maybe_unused]] u8 *b) { return expr; }

struct Row {
    const char *name;
    Call call;
    Bytes block;  // head of buffer A (filler after it); buffer B starts as 0xCC throughout
    u8 cmd;
    Bytes sent{};   // request data the reader receives
    Bytes reply{};  // reply data the reader sends
    Out out = none;
    Bytes written{};  // what the copy leaves at the start of `out` (the rest keeps its bytes)
    Result result = status;
    std::size_t cleared = 0;  // leading bytes of `out` zeroed before the exchange
};

enum class Scenario { ok, status5, broken };

// Rows print as their names in test output.
inline void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }
inline void PrintTo(Scenario s, std::ostream *os) { *os << static_cast<int>(s); }

class Commands : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    uhfsim::PtyReader sim;
};

class Table : public Commands, public testing::WithParamInterface<std::tuple<Row, Scenario>> {};

std::string table_name(const testing::TestParamInfo<Table::ParamType> &info);

#define COMMAND_TABLE(Family, rows)                                                              \
    INSTANTIATE_TEST_SUITE_P(Family, Table,                                                      \
                             testing::Combine(testing::ValuesIn(rows),                           \
                                              testing::Values(Scenario::ok, Scenario::status5,   \
                                                              Scenario::broken)),                \
                             table_name)

}  // namespace cmdtest
