// Link handles over USB through the real libusb: which reader a device string takes, a reader
// one link holds is busy for another, everything is given back at close, and two readers at
// once answer each their own link.
#include <memory>
#include <string>
#include <thread>

#include "usb_support.hpp"

namespace {

using namespace uhftest;

struct LinkCloser {
    void operator()(uhf_link *l) const { uhf_close(l); }
};
using LinkPtr = std::unique_ptr<uhf_link, LinkCloser>;

int open_code(const std::string &device, LinkPtr *out = nullptr) {
    uhf_link *l = nullptr;
    const int rc = uhf_open(&l, device.c_str(), kAddr);
    if (out != nullptr) out->reset(l);
    else uhf_close(l);
    return rc;
}

// Signs every reply with the reader's own mark, so a reply on the wrong link shows.
void sign(uhfsim::UsbReader &r, std::uint8_t mark) {
    r.set_handler([mark](const uhfsim::Request &q) { return uhfsim::Action::reply(q.addr, q.cmd, 0, {1, mark}); });
}

using UsbLink = UsbTest;

TEST_F(UsbLink, NoReaderOnTheBusIsNoUsbReader) {
    add_reader(0x6126);  // another product of the same vendor
    EXPECT_EQ(open_code("usb"), UHF_ERR_NO_USB_READER);
    const std::string words = uhf_strerror(UHF_ERR_NO_USB_READER, 0);
    EXPECT_NE(words.find("03EB:6125"), std::string::npos);
}

TEST_F(UsbLink, BusAndAddressTakeThatReader) {
    uhfsim::UsbReader &a = add_reader();
    uhfsim::UsbReader &b = add_reader();
    sign(a, 0xA);
    sign(b, 0xB);
    LinkPtr l;
    ASSERT_EQ(open_code("usb:" + std::to_string(b.bus_number()) + "." + std::to_string(b.address()), &l), 0);
    unsigned char reply[256] = {};
    unsigned char req[4] = {3, 0, 1, 0};
    EXPECT_EQ(uhf_EPC_Read_TAG(l.get(), kAddr, req, reply), 0);
    EXPECT_EQ(reply[1], 0xB);
    EXPECT_EQ(open_code("usb:" + std::to_string(b.bus_number()) + ".99"), UHF_ERR_NO_USB_READER);
}

TEST_F(UsbLink, ReaderHeldByAnotherLinkIsBusy) {
    add_reader();
    LinkPtr first;
    ASSERT_EQ(open_code("usb", &first), 0);
    EXPECT_EQ(open_code("usb"), UHF_ERR_BUSY);
    EXPECT_EQ(USB_Open(), 1) << "the designed link took a reader a link holds";
    first.reset();
    EXPECT_EQ(open_code("usb"), 0) << "closing the first link did not free the reader";
}

TEST_F(UsbLink, CloseGivesEverythingBack) {
    uhfsim::UsbReader &r = add_reader();
    const int before = settled(descriptors_but_eventfds, descriptors_but_eventfds());
    for (int i = 0; i < 20; ++i) {
        LinkPtr l;
        ASSERT_EQ(open_code("usb", &l), 0);
        unsigned char info[22];
        EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);
    }
    EXPECT_TRUE(all_closed(r));
    const uhfsim::UsbCounters c = r.counters();
    EXPECT_EQ(c.claims, 20);
    EXPECT_FALSE(c.claimed);
    EXPECT_EQ(settled(descriptors_but_eventfds, before), before) << describe_descriptors();
}

TEST_F(UsbLink, TwoReadersInTwoThreadsEachAnswerTheirOwnLink) {
    uhfsim::UsbReader &a = add_reader();
    uhfsim::UsbReader &b = add_reader();
    sign(a, 0xA);
    sign(b, 0xB);
    LinkPtr la, lb;
    ASSERT_EQ(open_code("usb:1." + std::to_string(a.address()), &la), 0);
    ASSERT_EQ(open_code("usb:1." + std::to_string(b.address()), &lb), 0);
    int wrong_a = 0, wrong_b = 0;
    auto run = [](uhf_link *l, std::uint8_t mark, int &wrong) {
        for (int i = 0; i < 100; ++i) {
            unsigned char reply[256] = {};
            unsigned char req[4] = {3, 0, static_cast<unsigned char>(i), 0};
            if (uhf_EPC_Read_TAG(l, kAddr, req, reply) != 0 || reply[1] != mark) ++wrong;
        }
    };
    std::thread ta(run, la.get(), 0xA, std::ref(wrong_a));
    std::thread tb(run, lb.get(), 0xB, std::ref(wrong_b));
    ta.join();
    tb.join();
    EXPECT_EQ(wrong_a, 0);
    EXPECT_EQ(wrong_b, 0);
}

struct Frame {
    int direction;
    std::vector<std::uint8_t> bytes;
};
void record(void *user, int direction, const unsigned char *bytes, int len, unsigned long long) {
    static_cast<std::vector<Frame> *>(user)->push_back({direction, {bytes, bytes + len}});
}

TEST_F(UsbLink, TraceShowsTheFramesAsTheyWent) {
    uhfsim::UsbReader &r = add_reader();
    LinkPtr l;
    ASSERT_EQ(open_code("usb", &l), 0);
    std::vector<Frame> frames;
    uhf_set_trace(l.get(), record, &frames);
    r.clear_log();
    const uhfsim::Reply reply{kAddr, 0x05, 0, std::vector<std::uint8_t>(22, 0x10)};
    r.script(uhfsim::Action::reply(reply));
    unsigned char info[22];
    ASSERT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].direction, UHF_TRACE_SENT);
    std::vector<std::uint8_t> sent;
    for (const auto &piece : r.pieces()) sent.insert(sent.end(), piece.begin(), piece.end());
    EXPECT_EQ(frames[0].bytes, sent);
    EXPECT_EQ(frames[1].direction, UHF_TRACE_RECEIVED);
    EXPECT_EQ(frames[1].bytes, uhfsim::encode_reply(reply));
}

}  // namespace

namespace {

using namespace uhftest;

TEST_F(UsbLink, ListedReadersOpenByTheirDeviceString) {
    add_reader();
    add_reader(0x6126);  // not a reader: not listed
    add_reader();
    uhf_device_info found[8];
    const int n = uhf_list_devices(found, 8);
    int readers = 0;
    for (int i = 0; i < n && i < 8; ++i) {
        if (found[i].kind != UHF_DEVICE_USB) continue;
        ++readers;
        EXPECT_EQ(found[i].vendor, 0x03EB);
        EXPECT_EQ(found[i].product, 0x6125);
        EXPECT_EQ(found[i].bus, 1);
        LinkPtr l;
        EXPECT_EQ(open_code(found[i].device, &l), 0) << found[i].device;
    }
    EXPECT_EQ(readers, 2);
}

}  // namespace

// Readers told apart by where they are plugged and what they are, and a reader that is unplugged
// under a link and plugged back.
#include "sim/pty_reader.hpp"
#include "sim/tcp_reader.hpp"
#include "transport/serial.hpp"

namespace {

using namespace uhftest;

uhfsim::UsbReader &reader_at(uhfsim::UsbBus &bus, const std::string &port, const std::string &serial) {
    uhfsim::UsbDeviceOptions o;
    o.port_path = port;
    o.serial = serial;
    return bus.add_reader(o);
}

class UsbPlaces : public UsbTest {};

TEST_F(UsbPlaces, PortPathAndSerialNumberTakeThatReader) {
    uhfsim::UsbReader &a = reader_at(*bus_, "1-2", "AAA111");
    uhfsim::UsbReader &b = reader_at(*bus_, "1-3.4", "BBB222");
    sign(a, 0xA);
    sign(b, 0xB);
    struct Pick {
        std::string device;
        std::uint8_t mark;
    };
    for (const Pick &p : {Pick{"usb:1-3.4", 0xB}, Pick{"usb:1-2", 0xA}, Pick{"usb:serial=AAA111", 0xA},
                          Pick{"usb:serial=BBB222", 0xB}}) {
        LinkPtr l;
        ASSERT_EQ(open_code(p.device, &l), 0) << p.device;
        unsigned char reply[256] = {};
        unsigned char req[4] = {3, 0, 1, 0};
        EXPECT_EQ(uhf_EPC_Read_TAG(l.get(), kAddr, req, reply), 0) << p.device;
        EXPECT_EQ(reply[1], p.mark) << p.device;
    }
    EXPECT_EQ(open_code("usb:1-3"), UHF_ERR_NO_USB_READER) << "a hub's port is not the reader's";
    EXPECT_EQ(open_code("usb:serial=CCC333"), UHF_ERR_NO_USB_READER);
    uhf_device_info found[4];
    ASSERT_EQ(uhf_list_devices(found, 4), 2);
    EXPECT_STREQ(found[0].serial, "AAA111");
    EXPECT_STREQ(found[0].device, "usb:1-2");
    EXPECT_STREQ(found[1].port_path, "1-3.4");
}

TEST_F(UsbPlaces, UnpluggedMidExchangeIsGoneAndComesBackOnReconnect) {
    uhfsim::UsbReader &r = reader_at(*bus_, "1-2", "AAA111");
    LinkPtr l;
    ASSERT_EQ(open_code("usb:1-2", &l), 0);
    r.script(uhfsim::Action::silent());
    std::thread puller([&] {
        r.wait_for_requests(2, 2s);  // the handshake and the exchange below
        std::this_thread::sleep_for(100ms);
        r.unplug();
    });
    unsigned char info[22];
    const long long took = elapsed_ms([&] { EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), UHF_ERR_GONE); });
    puller.join();
    EXPECT_LT(took, 1500) << "the exchange waited out its timeout instead of seeing the unplug";
    // A gone link answers at once; the fault would be waiting out the 4 s reply timeout again.
    EXPECT_LT(elapsed_ms([&] { EXPECT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), UHF_ERR_GONE); }), 2000);
    EXPECT_TRUE(all_closed(r)) << "the vanished reader's handle was kept";
    EXPECT_EQ(uhf_reconnect(l.get()), UHF_ERR_NO_USB_READER);

    // The emulator gives the replugged reader a node of its own: count from here.
    r.replug();
    const int before = settled(descriptors_but_eventfds, descriptors_but_eventfds());
    EXPECT_EQ(uhf_reconnect(l.get()), 0);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);
    l.reset();
    EXPECT_TRUE(all_closed(r));
    EXPECT_EQ(settled(descriptors_but_eventfds, before), before) << describe_descriptors();
}

// Links of every kind at once, each in its own thread: serial readers, readers behind TCP and
// two USB readers told apart by port path and by serial number.
class MixedLinks : public UsbTest, public testing::WithParamInterface<int> {};

TEST_P(MixedLinks, EveryReplyLandsInTheLinkThatAsked) {
    uhf::serial::timing().first_byte_poll_ms = 50;
    const int n = GetParam();
    std::vector<std::unique_ptr<uhfsim::PtyReader>> serial;
    std::vector<std::unique_ptr<uhfsim::TcpReader>> tcp;
    std::vector<std::string> devices;
    std::vector<std::uint8_t> marks;
    uhfsim::UsbReader &u1 = reader_at(*bus_, "1-1", "U1");
    uhfsim::UsbReader &u2 = reader_at(*bus_, "1-4.2", "U2");
    sign(u1, 0xE1);
    sign(u2, 0xE2);
    devices = {"usb:1-1", "usb:serial=U2"};
    marks = {0xE1, 0xE2};
    for (int i = 2; i < n; ++i) {
        const std::uint8_t mark = static_cast<std::uint8_t>(0x30 + i);
        auto handler = [mark](const uhfsim::Request &q) { return uhfsim::Action::reply(q.addr, q.cmd, 0, {1, mark}); };
        if (i % 2 == 0) {
            serial.push_back(std::make_unique<uhfsim::PtyReader>());
            serial.back()->set_handler(handler);
            devices.push_back(serial.back()->path());
        } else {
            tcp.push_back(std::make_unique<uhfsim::TcpReader>());
            tcp.back()->set_handler(handler);
            devices.push_back("tcp:" + tcp.back()->address());
        }
        marks.push_back(mark);
    }
    std::vector<LinkPtr> links(n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(open_code(devices[i], &links[i]), 0) << devices[i];
    std::vector<int> wrong(n, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            for (int k = 0; k < 60; ++k) {
                unsigned char reply[256] = {};
                unsigned char req[4] = {3, 0, static_cast<unsigned char>(k), 0};
                if (uhf_EPC_Read_TAG(links[i].get(), kAddr, req, reply) != 0 || reply[1] != marks[i]) ++wrong[i];
            }
        });
    for (std::thread &t : threads) t.join();
    for (int i = 0; i < n; ++i) EXPECT_EQ(wrong[i], 0) << devices[i];
    links.clear();
    uhf::serial::timing() = {};
}

INSTANTIATE_TEST_SUITE_P(Links, MixedLinks, testing::Values(2, 4, 8));

}  // namespace
