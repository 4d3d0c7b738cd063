#include "uhfctl/readers.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace uhfctl {

namespace {

struct Attempt {
    int rc = 0;
    int detail = 0;
    std::string device;
};

}  // namespace

bool is_serial(const std::string& device) {
    return device.rfind("usb", 0) != 0 && device.rfind("tcp:", 0) != 0;
}

std::vector<Target> targets(const ReaderOptions& o, const SimHost* sim) {
    std::vector<Target> out;
    const auto with_rate = [&](std::string device) {
        if (o.baud > 0 && is_serial(device) && device.find('@') == std::string::npos)
            device += "@" + std::to_string(o.baud);
        return device;
    };
    for (const std::string& d : o.devices) out.push_back({d, {with_rate(d)}});
    if (o.usb) out.push_back({"usb", {"usb"}});
    if (o.port == 32) {
        out.push_back({"port 32 (USB)", {"usb"}});
    } else if (o.port >= 0) {
        const std::string n = std::to_string(o.port);
        out.push_back({"port " + n, {with_rate("/dev/ttyS" + n), with_rate("/dev/ttyUSB" + n)}});
    }
    if (sim) out.push_back({sim->device(), {with_rate(sim->device())}});
    if (out.empty()) {
        const char* env = std::getenv("UHF_DEVICE");
        if (env && *env) out.push_back({env, {with_rate(env)}});
    }
    return out;
}

uhf_options link_options(const ReaderOptions& o) {
    uhf_options opt{};
    opt.handshake_attempts = o.attempts;
    opt.reply_timeout_ms = o.timeout_ms;
    opt.connect_timeout_ms = o.timeout_ms;
    return opt;
}

void trace_frame(void* user, int direction, const unsigned char* bytes, int len, unsigned long long t_us) {
    const auto* tap = static_cast<const TraceTap*>(user);
    tap->out->trace(tap->device, direction, std::span(bytes, static_cast<std::size_t>(len)), t_us);
}

int Readers::open(const ReaderOptions& o, Output& out, const std::vector<Target>& targets, Readers& into) {
    std::vector<Reader> readers(targets.size());
    std::vector<Attempt> failed(targets.size());
    const auto open_one = [&](std::size_t i) {
        Reader& r = readers[i];
        for (const std::string& device : targets[i].devices) {
            uhf_options opt = link_options(o);
            auto tap = o.trace ? std::make_unique<TraceTap>(TraceTap{&out, device}) : nullptr;
            if (tap) {
                opt.trace = trace_frame;
                opt.trace_user = tap.get();
            }
            uhf_link* l = nullptr;
            const auto t0 = std::chrono::steady_clock::now();
            const int rc = uhf_open_with(&l, device.c_str(), o.addr, &opt);
            r.link_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (rc == 0) {
                r.name = device;
                r.link.reset(l);
                r.tap = std::move(tap);
                failed[i] = {};
                return;
            }
            // A failed open leaves no link, so no detail code: the handshake's exchange code says it.
            failed[i] = {rc, -1, device};
        }
    };
    if (targets.size() == 1) {
        open_one(0);
    } else {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < targets.size(); ++i) threads.emplace_back(open_one, i);
    }
    int status = kExitOk;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (failed[i].rc == 0) continue;
        char addr[8];
        std::snprintf(addr, sizeof addr, "0x%02X", o.addr);
        const std::string what = failed[i].rc > 0 ? std::string("no reader answers at address ") + addr : "";
        const int s = out.failure(failed[i].device, what, failed[i].rc, failed[i].detail);
        if (s > status) status = s;
    }
    if (status == kExitOk) into.readers_ = std::move(readers);
    return status;
}

}  // namespace uhfctl
