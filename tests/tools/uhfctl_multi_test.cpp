// Several readers at once: every command that makes sense runs on each, side by side, and says
// which reader each result is from; the threads it drives them from end cleanly.
#include <signal.h>

#include "readers.hpp"

namespace {

using namespace tooltest;
using namespace std::chrono_literals;

TEST(SeveralReaders, InventoryHasAColumnPerReader) {
    ModelReader<uhfsim::PtyReader> a(uhfsim::ModelOptions{1, 3, 1});
    ModelReader<uhfsim::TcpReader> b(uhfsim::ModelOptions{1, 5, 2});
    const auto json = run(ctl({"--device", a.device(), "--device", b.device(), "--json", "inventory", "--rounds", "2"}));
    ASSERT_EQ(json.exit, 0) << json.err;
    const auto j = parse_json_object(lines(json.out).back());
    ASSERT_TRUE(j) << json.out;
    std::size_t ids = 0;
    for (std::size_t at = 0; (at = j->at("tags").find("\"id\"", at)) != std::string::npos; ++at) ++ids;
    EXPECT_EQ(ids, 8u) << "three tags on one, five on the other";
    EXPECT_NE(j->at("tags").find("\"" + a.device() + "\":"), std::string::npos);
    EXPECT_NE(j->at("tags").find("\"" + b.device() + "\":"), std::string::npos);

    const auto text = run(ctl({"--device", a.device(), "--device", b.device(), "inventory", "--watch", "--rounds", "3",
                               "--interval", "500"}));
    ASSERT_EQ(text.exit, 0) << text.err;
    const auto head = lines(text.out).front();
    EXPECT_NE(head.find("tag"), std::string::npos) << head;
    EXPECT_NE(head.find(a.device().substr(a.device().size() - 5)), std::string::npos) << head;
    EXPECT_NE(head.find(b.device().substr(b.device().size() - 5)), std::string::npos) << head;
}

TEST(SeveralReaders, CommandResultsNameTheirReaderInOrder) {
    ModelReader<uhfsim::PtyReader> a(uhfsim::ModelOptions{1, 3, 1});
    ModelReader<uhfsim::PtyReader> b(uhfsim::ModelOptions{1, 3, 2});
    const auto r = run(ctl({"--device", a.device(), "--device", b.device(), "Read_DeviceTemp"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto first = r.out.find(a.device() + ": Read_DeviceTemp: ok");
    const auto second = r.out.find(b.device() + ": Read_DeviceTemp: ok");
    EXPECT_NE(first, std::string::npos) << r.out;
    EXPECT_NE(second, std::string::npos) << r.out;
    EXPECT_LT(first, second) << "in the order named";
}

TEST(SeveralReaders, OneMissingFailsTheRunAndIsNamed) {
    ModelReader<uhfsim::PtyReader> a;
    const auto r = run(ctl({"--device", a.device(), "--device", "/nonexistent/ttyUSB7", "link"}));
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find("/nonexistent/ttyUSB7: no such device"), std::string::npos) << r.err;
    EXPECT_TRUE(a.endpoint.requests().size() <= 3u);
}

// Ctrl-C ends a watch over several readers cleanly: every reader's round finishes, the final
// table comes out, and the status is success.
TEST(SeveralReaders, InterruptEndsTheWatchWithTheFinalTable) {
    ModelReader<uhfsim::PtyReader> a(uhfsim::ModelOptions{1, 3, 1});
    ModelReader<uhfsim::PtyReader> b(uhfsim::ModelOptions{1, 3, 2});
    Child c(ctl({"--device", a.device(), "--device", b.device(), "--json", "inventory", "--watch", "--interval", "10"}));
    ASSERT_TRUE(a.endpoint.wait_for_requests(10, 5s));
    ASSERT_TRUE(b.endpoint.wait_for_requests(10, 5s));
    ASSERT_EQ(::kill(c.pid(), SIGINT), 0);
    const auto r = c.finish(10s);
    EXPECT_EQ(r.exit, 0) << r.err;
    const auto j = parse_json_object(lines(r.out).back());
    ASSERT_TRUE(j) << r.out;
    EXPECT_EQ(j->at("final"), "true");
    EXPECT_EQ(r.err, "") << "nothing but results";
}

}  // namespace
