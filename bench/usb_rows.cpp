// USB exchanges against the emulated reader, printed as row lines for uhf_bench to merge.
//
// The emulated device lives in this process (umockdev answers libusb's usbfs calls on its own
// thread), so it cannot be moved out the way the serial reader is. The limit shares it: the
// same frames through the same libusb handle, cut into the same pieces, one bulk IN transfer
// for the reply, nothing encoded or decoded. What remains between the two is the library.
//
// Run under umockdev-wrapper; without the preload it prints one row saying so.
#include <libusb.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/pieces.hpp"
#include "bench/remote_reader.hpp"
#include "bench/table.hpp"
#include "core/frame.hpp"
#include "sim/usb/usb_reader.hpp"
#include "sim/wire.hpp"
#include "uhfreader.h"

namespace {

using uhfbench::Row;

constexpr std::uint8_t kAddr = 0x05;
constexpr std::uint8_t kCommand = 0x28;
constexpr int kUsbPort = 32;
// The device's fixed endpoints: bulk OUT 0x01, bulk IN 0x82.
constexpr unsigned char kEndpointOut = 0x01;
constexpr unsigned char kEndpointIn = 0x82;

double mono_s() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool raw_round_trip(const std::vector<std::uint8_t> &frame, std::size_t reply_len) {
    std::uint8_t out[uhf::kMaxRequestFrame + 2] = {};
    std::memcpy(out, frame.data(), frame.size());
    std::size_t at = 0;
    for (std::size_t n : uhfbench::usb_piece_sizes(frame.size())) {
        int moved = 0;
        if (libusb_bulk_transfer(q_usb_handle, kEndpointOut, out + at, static_cast<int>(n), &moved,
                                 2000) != 0)
            return false;
        at += n;
    }
    std::uint8_t in[uhf::kReplyCapacity];
    int got = 0;
    return libusb_bulk_transfer(q_usb_handle, kEndpointIn, in, sizeof in, &got, 2000) == 0 &&
           static_cast<std::size_t>(got) == reply_len;
}

bool library_exchange(const std::vector<std::uint8_t> &data, std::size_t reply_data) {
    pc_id = kAddr;
    IcCmd = kCommand;
    if (!data.empty()) std::memcpy(BlkAAdrBeg, data.data(), data.size());
    BlkALength = static_cast<unsigned char>(data.size());
    return PcSendOrder() == 0 && BlkBLength == reply_data;
}

void print(const Row &r) { std::printf("ROW\t%s\n", uhfbench::row_to_line(r).c_str()); }

Row unavailable(const std::string &why) {
    Row r;
    r.name = "USB exchange";
    r.note = "not measured: " + why;
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (!uhfsim::UsbBus::available()) {
        print(unavailable("no emulated USB bus (run under umockdev-wrapper)"));
        return 0;
    }
    uhfsim::UsbBus bus;
    uhfsim::UsbReader &reader = bus.add_reader();
    std::atomic<std::uint16_t> reply_data{0};
    reader.set_handler([&](const uhfsim::Request &req) {
        return uhfsim::Action::reply(req.addr, req.cmd, 0, uhfbench::reply_pattern(reply_data.load()));
    });
    if (LinkCom(kAddr, kUsbPort, 9600) != 0) {
        print(unavailable("LinkCom on the emulated reader failed"));
        return 1;
    }

    struct Size {
        std::size_t request;
        std::uint16_t reply;
        std::size_t samples;
    };
    // A USB request frame stays within 255 bytes and a reply within one 2048-byte transfer.
    static constexpr Size kSizes[] = {{0, 0, 600}, {16, 64, 600}, {200, 2000, 300}};
    int failures = 0;
    for (const Size &sz : kSizes) {
        reply_data.store(sz.reply);
        const std::vector<std::uint8_t> data = uhfbench::request_pattern(sz.request);
        const std::vector<std::uint8_t> frame = uhfsim::encode_request(kAddr, kCommand, data);
        const std::size_t reply_len =
            uhfsim::encode_reply({kAddr, kCommand, 0, uhfbench::reply_pattern(sz.reply)}).size();

        std::vector<double> raw;
        std::vector<double> lib;
        std::size_t failed = 0;
        const std::size_t total = quick ? 10 : sz.samples;
        const std::size_t block = 5;
        raw_round_trip(frame, reply_len);
        library_exchange(data, sz.reply);
        reader.clear_log();
        for (std::size_t done = 0; done < total; done += block) {
            for (std::size_t i = 0; i < block; ++i) {
                const double t0 = mono_s();
                const bool ok = raw_round_trip(frame, reply_len);
                const double t1 = mono_s();
                if (ok) raw.push_back(t1 - t0);
                else ++failed;
            }
            for (std::size_t i = 0; i < block; ++i) {
                const double t0 = mono_s();
                const bool ok = library_exchange(data, sz.reply);
                const double t1 = mono_s();
                if (ok) lib.push_back(t1 - t0);
                else ++failed;
            }
        }
        // Both clients cut the frame alike; what the device saw per exchange is the check.
        const std::size_t pieces = reader.piece_sizes().size() / (2 * total);
        Row r;
        r.name = "USB exchange " + std::to_string(sz.request) + "/" + std::to_string(sz.reply);
        r.samples = lib.size();
        r.median = uhfbench::median(lib);
        r.p99 = uhfbench::percentile(lib, 99);
        r.limit = uhfbench::median(raw);
        r.limit_kind = "raw libusb round trip";
        char note[160];
        const double extra = r.median - r.limit;
        std::snprintf(note, sizeof note, "%s%s per exchange; %zu-byte frame in %zu piece%s",
                      extra < 0 ? "" : "+", uhfbench::format_time(extra).c_str(), frame.size(), pieces,
                      pieces == 1 ? "" : "s");
        r.note = note;
        if (failed) r.note += "; " + std::to_string(failed) + " FAILED exchanges left out";
        failures += static_cast<int>(failed);
        print(r);
    }
    UnLinkCom();
    return failures ? 1 : 0;
}
