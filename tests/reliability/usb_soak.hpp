// The soak over the emulated USB reader: the library's USB transport through the real libusb.
#pragma once

#include <chrono>
#include <memory>

#include "core/frame.hpp"
#include "sim/usb/usb_reader.hpp"
#include "soak.hpp"
#include "transport/usb.hpp"
#include "uhfreader.h"

namespace uhfsoak {

class UsbSoakReader final : public Reader {
public:
    explicit UsbSoakReader(uhfsim::UsbReader &dev) : dev_(dev) {}
    void script(uhfsim::Action a) override { dev_.script(std::move(a)); }
    void send_now(std::vector<std::uint8_t> bytes) override { dev_.send_now(std::move(bytes)); }
    bool settle(std::size_t requests) override {
        using namespace std::chrono_literals;
        return dev_.wait_for_requests(requests, 5s) && dev_.wait_replies_due(5s);
    }
    std::vector<uhfsim::Request> requests() const override { return dev_.requests(); }
    void clear_log() override { dev_.clear_log(); }

private:
    uhfsim::UsbReader &dev_;
};

// Shortened reply wait so a late reply costs a fraction of a second. The drain of a failed
// exchange's leftovers ends at the first read that times out; through the emulator on a
// loaded machine (sanitizers, other soaks) handing over a reply already due can take tens of
// milliseconds, so each drain read here waits longer than on hardware.
inline Config usb_config(std::uint64_t seed, std::size_t exchanges) {
    auto &t = uhf::usb::timing();
    t.reply_ms = 150;
    t.piece_send_ms = 1000;
    t.drain_read_ms = 40;
    Config c;
    c.transport = Transport::usb;
    c.seed = seed;
    c.exchanges = exchanges;
    c.weights = default_weights(Transport::usb);
    c.first_byte_wait_ms = t.reply_ms;
    c.handshake_wait_ms = t.handshake_reply_ms;
    c.max_reply_frame = uhf::kReplyCapacity;
    // Every piece of the longest request, the drain, the reply wait, and a second to spare.
    const long long pieces = (uhf::kMaxRequestFrame + 2 + 63) / 64;
    c.bound_ms = pieces * t.piece_send_ms + 1LL * t.drain_reads_max * t.drain_read_ms + t.reply_ms + 1000;
    return c;
}

// Runs a USB soak on a fresh emulated bus; the link is closed again afterwards. The process
// must run under umockdev's preload.
inline Figures usb_soak(std::uint64_t seed, std::size_t exchanges,
                        const Progress &progress = {}) {
    Figures fig;
    auto bus = std::make_unique<uhfsim::UsbBus>();
    uhfsim::UsbReader &dev = bus->add_reader();
    UsbSoakReader reader(dev);
    const Config cfg = usb_config(seed, exchanges);
    if (LinkCom(0x05, 32, 9600) != 0) {
        fig.first_problems.push_back("could not link the emulated reader");
        fig.request_mismatch = 1;
    } else {
        dev.clear_log();
        fig = run(reader, cfg, progress);
    }
    UnLinkCom();
    USB_Flag = 0;
    uhf::usb::timing() = {};
    bus.reset();
    return fig;
}

}  // namespace uhfsoak
