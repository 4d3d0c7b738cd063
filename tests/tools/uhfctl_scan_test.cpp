// scan through the library's device listing. uhfctl reads UHFCTL_TEST_ROOT (a test seam, not
// for users): device listing then looks under ROOT/dev, ROOT/sys/class/tty and
// ROOT/dev/serial/by-id instead of the machine's own, and lists no USB readers unless
// UHFCTL_TEST_USB=1. Here the tree holds simulated readers on pseudo-terminals under the names a
// kernel gives a CDC ACM reader and a USB-serial adapter.

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <vector>

#include "readers.hpp"
#include "support/device_tree.hpp"

namespace {

using namespace tooltest;
using namespace std::chrono_literals;

class ScanTree : public ::testing::Test {
protected:
    void node(const std::string& name, const std::string& target, const std::string& driver, bool usb = false) {
        ASSERT_TRUE(tree_.node(name, target, driver, usb ? "1-2" : ""));
    }
    void by_id(const std::string& name, const std::string& node) { ASSERT_TRUE(tree_.by_id(name, node)); }
    Outcome scan(std::vector<std::string> args = {}) {
        args.insert(args.begin(), "scan");
        return run(ctl(args), 30s, {"UHFCTL_TEST_ROOT=" + root_});
    }

    uhftest::DeviceTree tree_;
    const std::string& root_ = tree_.root;
};

TEST_F(ScanTree, FindsReadersByTheirNodesByIdNamesAndAdapters) {
    ModelReader<uhfsim::PtyReader> acm(uhfsim::ModelOptions{0x05, 8, 1});
    ModelReader<uhfsim::PtyReader> adapter;
    uhfsim::PtyReader silent;
    silent.set_handler([](const uhfsim::Request&) { return uhfsim::Action::silent(); });
    node("ttyACM0", acm.device(), "cdc_acm");
    node("ttyUSB0", adapter.device(), "ftdi_sio", true);
    node("ttyUSB1", silent.path(), "ftdi_sio");
    by_id("usb-Acme_Reader_Cable_A50285BI-if00-port0", "ttyUSB0");

    const auto r = scan({"--json"});
    EXPECT_EQ(r.exit, 0) << r.err;
    const auto j = parse_json_object(lines(r.out).at(0));
    ASSERT_TRUE(j) << r.out;
    EXPECT_EQ(j->at("readers"), "2");
    const std::string& c = j->at("candidates");
    const auto entry = [&](const std::string& name) {
        const auto at = c.find("\"device\":\"" + root_ + "/dev/" + name + "\"");
        return at == std::string::npos ? std::string() : c.substr(at, c.find('}', at) - at);
    };
    EXPECT_NE(entry("ttyACM0").find("\"found\":true"), std::string::npos) << c;
    EXPECT_NE(entry("ttyACM0").find("\"addr\":5"), std::string::npos) << "the address the reader reports: " << c;
    EXPECT_NE(entry("ttyACM0").find("\"driver\":\"cdc_acm\""), std::string::npos) << c;
    EXPECT_NE(entry("ttyUSB0").find("\"found\":true"), std::string::npos) << c;
    EXPECT_NE(entry("ttyUSB0").find("usb-Acme_Reader_Cable_A50285BI-if00-port0"), std::string::npos) << c;
    EXPECT_NE(entry("ttyUSB0").find("\"usb_id\":\"0403:6001\""), std::string::npos) << c;
    EXPECT_NE(entry("ttyUSB1").find("\"found\":false"), std::string::npos) << c;
    // Every rate of the silent node was tried; the others answered at the first.
    EXPECT_EQ(silent.requests().size(), 5u);
    EXPECT_EQ(acm.endpoint.requests().front().addr, 0xFF) << "any reader, whatever its address";

    const auto text = scan();
    EXPECT_NE(text.out.find("reader 0x05 on " + root_ + "/dev/ttyACM0 at 115200 baud (cdc_acm)"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("by-id " + root_ + "/dev/serial/by-id/usb-Acme"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("no reader on " + root_ + "/dev/ttyUSB1"), std::string::npos) << text.out;
}

TEST_F(ScanTree, NothingAnsweringIsExitOne) {
    uhfsim::PtyReader silent;
    silent.set_handler([](const uhfsim::Request&) { return uhfsim::Action::silent(); });
    node("ttyACM0", silent.path(), "cdc_acm");
    const auto r = scan();
    EXPECT_EQ(r.exit, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("0 reader(s) found among 1 candidate(s)"), std::string::npos) << r.out;
}

TEST_F(ScanTree, NoCandidatesIsExitOne) {
    const auto r = scan();
    EXPECT_EQ(r.exit, 1) << r.out << r.err;
}

// Four silent nodes at five rates, 200 ms each: side by side, every node hears its first request
// before any hears its last (one after another, the first would hear all five before the second
// heard one). An order, not a duration, so a loaded machine cannot fail it.
TEST_F(ScanTree, DevicesAreProbedSideBySide) {
    struct Heard {
        std::mutex mu;
        std::vector<std::chrono::steady_clock::time_point> at;
    };
    std::array<Heard, 4> heard;
    std::vector<std::unique_ptr<uhfsim::PtyReader>> silent;
    for (int i = 0; i < 4; ++i) {
        silent.push_back(std::make_unique<uhfsim::PtyReader>());
        silent.back()->set_handler([&h = heard[static_cast<std::size_t>(i)]](const uhfsim::Request&) {
            std::lock_guard lock(h.mu);
            h.at.push_back(std::chrono::steady_clock::now());
            return uhfsim::Action::silent();
        });
        node("ttyACM" + std::to_string(i), silent.back()->path(), "cdc_acm");
    }
    const auto r = scan({"--timeout", "200"});
    EXPECT_EQ(r.exit, 1) << r.err;
    for (const auto& s : silent) EXPECT_EQ(s->requests().size(), 5u);
    silent.clear();  // the handlers have run their last
    auto latest_first = std::chrono::steady_clock::time_point::min();
    auto earliest_last = std::chrono::steady_clock::time_point::max();
    for (const Heard& h : heard) {
        ASSERT_EQ(h.at.size(), 5u);
        latest_first = std::max(latest_first, h.at.front());
        earliest_last = std::min(earliest_last, h.at.back());
    }
    EXPECT_LT(latest_first, earliest_last) << "a node was probed to its last rate before another was begun";
}

}  // namespace
