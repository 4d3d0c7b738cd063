// scan: every candidate the library lists (serial nodes with their by-id names and adapters, USB
// readers by port path), or the devices named, each probed at every line rate; the candidates
// are probed in parallel, the rates of one candidate in turn (a port opens once at a time).
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "uhfctl/commands.hpp"

namespace uhfctl {

namespace {

constexpr int kRates[] = {115200, 57600, 38400, 19200, 9600};
// A reader answers a handshake within milliseconds; the library's two seconds at every rate of
// every node would make a scan take minutes.
constexpr int kProbeWaitMs = 300;

struct Candidate {
    uhf_device_info info{};
    std::string device;  // the device string to probe, without a rate
    bool found = false;
    int baud = 0;   // the rate it answered at (serial)
    int addr = -1;  // the address it reported, -1 unknown
    int failure = 0;  // why it could not even be opened (a UHF_ERR_*), 0 otherwise
};

std::string strip_rate(const std::string& d) {
    const auto at = d.rfind('@');
    return is_serial(d) && at != std::string::npos ? d.substr(0, at) : d;
}

void probe(Candidate& c, const ReaderOptions& o, int addr) {
    uhf_options opt = link_options(o);
    opt.handshake_attempts = o.attempts > 0 ? o.attempts : 1;
    if (o.timeout_ms == 0) opt.reply_timeout_ms = kProbeWaitMs;
    const bool serial = c.info.kind != UHF_DEVICE_USB && is_serial(c.device);
    std::vector<int> rates;
    if (!serial) rates = {0};
    else if (o.baud > 0) rates = {o.baud};
    else rates.assign(std::begin(kRates), std::end(kRates));
    for (int rate : rates) {
        const std::string device = rate ? c.device + "@" + std::to_string(rate) : c.device;
        uhf_link* l = nullptr;
        const int rc = uhf_open_with(&l, device.c_str(), addr, &opt);
        if (rc == 0) {
            c.found = true;
            c.baud = rate;
            unsigned char no[1] = {};
            // The handshake may have gone to any reader (0xFF); it says which address it has.
            if (uhf_ReadDeviceNo(l, addr, no) == 0 && uhf_status(l) == 0) c.addr = no[0];
            else if (addr != 0xFF) c.addr = addr;
            uhf_close(l);
            return;
        }
        if (rc < 0) {  // could not even be opened: no other rate will do better
            c.failure = rc;
            return;
        }
    }
}

Json candidate_json(const Candidate& c) {
    Json j{{"device", c.device}, {"kind", c.info.kind == UHF_DEVICE_USB ? "usb" : "serial"}, {"found", c.found}};
    if (c.found && c.baud) j["baud"] = c.baud;
    if (c.found && c.addr >= 0) j["addr"] = c.addr;
    if (c.failure) {
        j["code"] = c.failure;
        j["error"] = uhf_strerror(c.failure, 0);
    }
    if (c.info.node[0]) j["node"] = c.info.node;
    if (c.info.by_id[0]) j["by_id"] = c.info.by_id;
    if (c.info.driver[0]) j["driver"] = c.info.driver;
    if (c.info.vendor || c.info.product) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", c.info.vendor, c.info.product);
        j["usb_id"] = id;
    }
    if (c.info.serial[0]) j["serial"] = c.info.serial;
    if (c.info.port_path[0]) j["port_path"] = c.info.port_path;
    return j;
}

// "by-id usb-Acme_Reader_Cable_A50285BI-if00-port0, ftdi_sio, 0403:6001 Acme Reader Cable"
std::string about(const Candidate& c) {
    std::string s;
    const auto add = [&](const std::string& part) {
        if (!part.empty()) s += (s.empty() ? "" : ", ") + part;
    };
    if (c.info.by_id[0]) add(std::string("by-id ") + c.info.by_id);
    add(c.info.driver);
    if (c.info.vendor || c.info.product) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", c.info.vendor, c.info.product);
        std::string usb = id;
        if (c.info.manufacturer[0]) usb += std::string(" ") + c.info.manufacturer;
        if (c.info.product_name[0]) usb += std::string(" ") + c.info.product_name;
        if (c.info.serial[0]) usb += std::string(" serial ") + c.info.serial;
        add(usb);
    }
    return s.empty() ? "" : " (" + s + ")";
}

}  // namespace

int run_scan(const Context& ctx) {
    if (!ctx.inv.args.empty()) throw UsageError("scan takes no arguments");
    const ReaderOptions& o = ctx.inv.reader;
    std::unique_ptr<SimHost> sim;
    if (o.sim) sim = std::make_unique<SimHost>(o.addr_given ? o.addr : 1, o.sim_tags, o.sim_seed);

    std::vector<Candidate> candidates;
    if (o.any_named()) {
        for (const Target& t : targets(o, sim.get())) {
            Candidate c;
            c.device = strip_rate(t.devices.front());
            c.info.kind = is_serial(c.device) ? UHF_DEVICE_SERIAL : UHF_DEVICE_USB;
            candidates.push_back(c);
        }
    } else {
        std::vector<uhf_device_info> list(64);
        int n = uhf_list_devices(list.data(), static_cast<int>(list.size()));
        if (n > static_cast<int>(list.size())) {
            list.resize(static_cast<std::size_t>(n));
            n = uhf_list_devices(list.data(), n);
        }
        for (int i = 0; i < n && i < static_cast<int>(list.size()); ++i) {
            Candidate c;
            c.info = list[static_cast<std::size_t>(i)];
            c.device = c.info.device;
            candidates.push_back(c);
        }
    }

    const int addr = o.addr_given ? o.addr : 0xFF;
    const auto t0 = std::chrono::steady_clock::now();
    if (!ctx.out.json())
        ctx.out.note("scanning " + std::to_string(candidates.size()) + " candidate(s)" +
                     (candidates.empty() ? "" : " at every line rate"));
    {
        std::vector<std::jthread> threads;
        for (Candidate& c : candidates) threads.emplace_back([&c, &o, addr] { probe(c, o, addr); });
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::size_t found = 0;
    for (const Candidate& c : candidates) found += c.found ? 1 : 0;
    if (ctx.out.json()) {
        Json list = Json::array();
        for (const Candidate& c : candidates) list.push_back(candidate_json(c));
        ctx.out.emit(Json{{"command", "scan"}, {"ok", found > 0}, {"readers", found}, {"candidates", list},
                          {"seconds", seconds}});
    } else {
        std::string text;
        for (const Candidate& c : candidates) {
            char line[1024];
            if (c.found && c.baud)
                std::snprintf(line, sizeof line, "reader 0x%02X on %s at %d baud%s\n", c.addr < 0 ? addr : c.addr,
                              c.device.c_str(), c.baud, about(c).c_str());
            else if (c.found)
                std::snprintf(line, sizeof line, "reader 0x%02X on %s%s\n", c.addr < 0 ? addr : c.addr,
                              c.device.c_str(), about(c).c_str());
            else if (c.failure)
                std::snprintf(line, sizeof line, "cannot open %s%s: %s\n", c.device.c_str(), about(c).c_str(),
                              uhf_strerror(c.failure, 0));
            else
                std::snprintf(line, sizeof line, "no reader on %s%s\n", c.device.c_str(), about(c).c_str());
            text += line;
        }
        char tail[160];
        std::snprintf(tail, sizeof tail, "%zu reader(s) found among %zu candidate(s) in %.1f s\n", found,
                      candidates.size(), seconds);
        ctx.out.print(text + tail);
    }
    return found > 0 ? kExitOk : kExitStatus;
}

}  // namespace uhfctl
