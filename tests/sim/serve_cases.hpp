// One table for every stream reader: the host writes a request and must read back exactly what
// the reader was scripted to say, no sooner than its delays and line pacing allow.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/action.hpp"
#include "sim_test_util.hpp"

namespace simtest {

inline const std::vector<std::uint8_t> kRequest = bytes("10 01 05 02 00 07 10 02");
inline const std::vector<std::uint8_t> kReply = bytes("10 01 05 02 00 00 00 07 10 02");

struct ServeCase {
    const char* name;
    uhfsim::Action scripted;  // empty: the default handler answers
    unsigned baud;
    std::vector<std::uint8_t> expected;
    std::chrono::milliseconds at_least;
};

inline std::vector<ServeCase> serve_cases() {
    using namespace std::chrono_literals;
    using uhfsim::Action;
    return {
        {"DefaultHandler", Action::silent(), 0, kReply, 0ms},
        {"Delayed", Action::reply(5, 2, 0).delayed(300), 0, kReply, 250ms},
        {"ChunkedWithGaps", Action::reply(5, 2, 0).chunked(3, 60), 0, kReply, 150ms},
        {"LateSecondFrame", Action::reply(5, 2, 0).then(Action::reply(5, 2, 1).delayed(200)), 0,
         bytes("10 01 05 02 00 00 00 07 10 02 10 01 05 02 01 00 00 06 10 02"), 150ms},
        // 100 data bytes at 9600 baud need about 115 ms on the line.
        {"PacedByBaud", Action::raw(std::vector<std::uint8_t>(110, 0x55)), 9600,
         std::vector<std::uint8_t>(110, 0x55), 80ms},
    };
}

inline std::string serve_case_name(const testing::TestParamInfo<ServeCase>& info) { return info.param.name; }

// Scripts the reader before the host writes; the host must already be connected.
template <class Reader>
void prepare(Reader& reader, const ServeCase& c) {
    if (!c.scripted.empty()) reader.script(c.scripted);
    reader.set_baud(c.baud);
}

template <class Reader, class Host>
void expect_served(Reader& reader, Host& host, const ServeCase& c) {
    using namespace std::chrono_literals;
    const auto start = std::chrono::steady_clock::now();
    host.write_all(kRequest);
    EXPECT_EQ(host.read(c.expected.size(), 5s), c.expected);
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.at_least);

    ASSERT_TRUE(reader.wait_for_requests(1, 2s));
    const auto reqs = reader.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].wire, kRequest);
    EXPECT_TRUE(reader.malformed().empty());
    EXPECT_TRUE(reader.wait_idle(2s));
}

// Bytes sent at once overtake a reply still waiting out its delay.
template <class Reader, class Host>
void expect_send_now_goes_first(Reader& reader, Host& host) {
    using namespace std::chrono_literals;
    reader.script(uhfsim::Action::reply(5, 2, 0).delayed(400));
    host.write_all(kRequest);
    ASSERT_TRUE(reader.wait_for_requests(1, 2s));
    reader.send_now({0xEE});
    auto expected = kReply;
    expected.insert(expected.begin(), 0xEE);
    EXPECT_EQ(host.read(expected.size(), 3s), expected);
}

// Stopping does not wait out a scripted delay.
template <class Reader, class Host>
void expect_prompt_stop(Reader& reader, Host& host) {
    using namespace std::chrono_literals;
    reader.script(uhfsim::Action::reply(5, 2, 0).delayed(60'000));
    host.write_all(kRequest);
    ASSERT_TRUE(reader.wait_for_requests(1, 2s));
    const auto start = std::chrono::steady_clock::now();
    reader.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace simtest
