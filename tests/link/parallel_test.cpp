// Many links at once, each in its own thread on its own simulated reader: every reply lands in
// the link that asked. Built under ThreadSanitizer as well.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link_support.hpp"

namespace {

using namespace uhftest;

constexpr int kExchanges = 150;

// A reader that signs every reply: its own address, and the request's bytes echoed back.
uhfsim::Action signed_reply(std::uint8_t self, const uhfsim::Request &r) {
    Bytes data{static_cast<std::uint8_t>(r.data.size() + 1), self};
    data.insert(data.end(), r.data.begin(), r.data.end());
    return uhfsim::Action::reply(self, r.cmd, 0, data);
}

struct Reader {
    explicit Reader(std::uint8_t addr) : addr(addr) {
        sim.set_handler([addr](const uhfsim::Request &r) { return signed_reply(addr, r); });
    }
    std::uint8_t addr;
    uhfsim::PtyReader sim;
};

// Runs exchanges on one link, each with request bytes of its own, and counts replies that are
// not the answer to that request from that reader.
int misattributed(uhf_link *l, std::uint8_t addr, int thread) {
    int wrong = 0;
    for (int i = 0; i < kExchanges; ++i) {
        // EPC_Read_TAG: a 4-byte request, reply copied by its own count.
        unsigned char req[4] = {static_cast<unsigned char>(thread), static_cast<unsigned char>(i),
                                static_cast<unsigned char>(i >> 8), addr};
        unsigned char reply[256] = {};
        const int rc = uhf_EPC_Read_TAG(l, addr, req, reply);
        if (rc != 0 || reply[0] != 5 || reply[1] != addr || std::memcmp(reply + 2, req, 4) != 0) ++wrong;
        if (uhf_status(l) != 0) ++wrong;
    }
    return wrong;
}

class ManyLinks : public testing::TestWithParam<int> {
protected:
    void SetUp() override { uhf::serial::timing().first_byte_poll_ms = 50; }
    void TearDown() override { uhf::serial::timing() = {}; }
};

TEST_P(ManyLinks, EveryReplyLandsInTheLinkThatAsked) {
    const int n = GetParam();
    std::vector<std::unique_ptr<Reader>> readers;
    std::vector<LinkPtr> links;
    for (int i = 0; i < n; ++i) {
        readers.push_back(std::make_unique<Reader>(static_cast<std::uint8_t>(0x10 + i)));
        links.push_back(open_link(readers.back()->sim.path(), readers.back()->addr));
        ASSERT_TRUE(links.back());
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] { wrong += misattributed(links[i].get(), readers[i]->addr, i); });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wrong, 0);
    // Each reader saw its handshake and its own link's requests, no more.
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(readers[i]->sim.requests().size(), static_cast<std::size_t>(kExchanges + 1));
}

INSTANTIATE_TEST_SUITE_P(Links, ManyLinks, testing::Values(2, 4, 8));

TEST(OneLink, CallsFromSeveralThreadsAreTakenInTurn) {
    uhf::serial::timing().first_byte_poll_ms = 50;
    Reader reader(0x22);
    LinkPtr l = open_link(reader.sim.path(), reader.addr);
    ASSERT_TRUE(l);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { wrong += misattributed(l.get(), reader.addr, i); });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wrong, 0);
    uhf::serial::timing() = {};
}

}  // namespace
