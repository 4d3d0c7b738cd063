// uhfctl: drives a reader through the library from the command line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/model.hpp"
#include "sim/pty_reader.hpp"
#include "transport/serial.hpp"
#include "inventory/taglist.hpp"
#include "uhfctl/catalog.hpp"
#include "uhfctl/output.hpp"
#include "uhfctl/proxy.hpp"
#include "uhfctl/text.hpp"
#include "uhfctl/usb_access.hpp"
#include "uhfreader.h"

namespace uhfctl {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

constexpr const char* kUsage =
    "usage: uhfctl [--device PATH | --port N | --usb | --sim] [--baud B] [--addr A]\n"
    "              [--json] [--trace] COMMAND [ARGS]\n"
    "\n"
    "Reader (one of; default: the node in UHF_DEVICE):\n"
    "  --device PATH   a serial node, e.g. /dev/ttyUSB0 or a uhfsim pseudo-terminal\n"
    "  --port N        serial port N: /dev/ttyS<N>, then /dev/ttyUSB<N>; 32 is USB\n"
    "  --usb           the USB reader\n"
    "  --sim           a virtual reader started inside uhfctl (--sim-tags N, --sim-seed S)\n"
    "Options:\n"
    "  --baud B        serial line rate: 9600, 19200, 38400, 57600 or 115200 (default 115200)\n"
    "  --addr A        reader address (default 0x01; 0xFF broadcasts)\n"
    "  --json          one JSON object per result on stdout\n"
    "  --trace         each request and reply frame in hex as it went on the wire, on stderr\n"
    "                  (serial and --sim only: the USB transport is inside the library)\n"
    "\n"
    "Commands:\n"
    "  link                       prove a reader answers, with the time it took\n"
    "  info                       device information, address, temperature, RF power,\n"
    "                             work parameters\n"
    "  scan                       try the serial nodes at every rate, and USB; list readers\n"
    "  inventory [--watch] [--family epc|gb|gjb|all] [--rounds N] [--interval MS]\n"
    "                             repeat tag-list rounds; tags and reads per second\n"
    "  raw CODE [HEX]             one exchange with any command code and request data\n"
    "  demo                       link, info, inventory, tag memory, random numbers\n"
    "  commands                   list every reader command with its arguments\n"
    "  help [COMMAND]             this text, or one command's\n"
    "  <command name> ARGS        any exported command by its own name, e.g.\n"
    "                             uhfctl --sim EPC_Read_TAG 03000400\n"
    "\n"
    "Integers are decimal or 0x hex; blocks are hex strings (\"0a1b\", \"0a 1b\", \"0a:1b\").\n"
    "Exit status: 0 success, 1 the reader answered with a non-zero status, 2 usage,\n"
    "3 no valid reply (the exchange failed, or no link).\n";

[[noreturn]] void usage_error(const std::string& msg) {
    std::fprintf(stderr, "uhfctl: %s (try 'uhfctl --help')\n", msg.c_str());
    std::exit(kExitUsage);
}

struct Global {
    std::string device;
    int port = -1;
    bool usb = false;
    bool sim = false;
    int baud = 115200;
    int addr = 0x01;
    bool addr_given = false;
    bool json = false;
    bool trace = false;
    std::size_t sim_tags = 8;
    std::uint32_t sim_seed = 1;
};

Global g;

void trace_line(const std::string& line) { std::fprintf(stderr, "trace %s\n", line.c_str()); }

void emit(const Json& j) {
    std::printf("%s\n", j.text().c_str());
    std::fflush(stdout);
}

// ---- The link: a reader somewhere, maybe a virtual one, maybe behind the trace proxy ----

class Session {
public:
    // Links; false (with the failure reported) when no reader answers.
    bool open(bool sim_when_unnamed) {
        const char* env = std::getenv("UHF_DEVICE");
        if (!g.sim && g.device.empty() && g.port < 0 && !g.usb) {
            if (env && *env) g.device = env;
            else if (sim_when_unnamed) g.sim = true;
            else usage_error("no reader named: use --device PATH, --port N, --usb or --sim");
        }
        if (g.sim) {
            model_ = std::make_unique<uhfsim::ReaderModel>(
                uhfsim::ModelOptions{static_cast<std::uint8_t>(g.addr == 0xFF ? 1 : g.addr), g.sim_tags, g.sim_seed});
            sim_ = std::make_unique<uhfsim::PtyReader>();
            sim_->set_handler(model_->handler());
            where_ = "virtual reader " + sim_->path();
        } else if (!g.device.empty()) {
            where_ = g.device;
        } else if (g.usb || g.port == 32) {
            where_ = "USB";
        } else {
            where_ = "port " + std::to_string(g.port);
        }

        std::string node = g.sim ? sim_->path() : g.device;
        if (g.trace) {
            const int far = open_line(node, g.baud);
            if (far < 0) return fail_open("cannot open " + node + ": " + std::strerror(errno));
            proxy_ = std::make_unique<TraceProxy>(far, trace_line);
            node = proxy_->path();
        }
        const auto t0 = Clock::now();
        int rc;
        if (!node.empty()) rc = LinkCom_Path(g.addr, node.c_str(), g.baud);
        else rc = LinkCom(g.addr, g.usb ? 32 : g.port, g.baud);
        link_ms_ = ms_since(t0);
        settle();
        if (rc != 0) {
            const int handshake = IcRetCode;
            if (handshake == 0 && (g.usb || g.port == 32)) {
                const std::string denied = usb_access_problem();
                if (!denied.empty()) return fail_open(denied);
            }
            std::string why = handshake ? exchange_words(handshake, 0) : "the port could not be opened";
            // The detail code is gone: the link keeps the handshake's exchange code instead.
            if (handshake) why = why.substr(0, why.rfind(", detail")) + ")";
            return fail_open("no reader answers at address " + addr_text() + " on " + where_ + ": " + why);
        }
        linked_ = true;
        return true;
    }

    ~Session() {
        if (linked_) UnLinkCom();
    }

    void settle() {
        if (proxy_) proxy_->settle();
    }
    const std::string& where() const { return where_; }
    double link_ms() const { return link_ms_; }
    static std::string addr_text() {
        char b[8];
        std::snprintf(b, sizeof b, "0x%02X", g.addr & 0xFF);
        return b;
    }

private:
    bool fail_open(const std::string& msg) {
        if (g.json) emit(Json().str("command", "link").boolean("ok", false).str("error", msg).num("exchange", IcRetCode));
        else std::fprintf(stderr, "uhfctl: %s\n", msg.c_str());
        return false;
    }

    std::unique_ptr<uhfsim::ReaderModel> model_;
    std::unique_ptr<uhfsim::PtyReader> sim_;
    std::unique_ptr<TraceProxy> proxy_;
    std::string where_;
    double link_ms_ = 0;
    bool linked_ = false;
};

// ---- One command's outcome ----

// True when a non-zero result is an exchange failure rather than the reader's status byte.
// The values overlap (a status byte may be 1 or 225..254), so the exchange state decides.
bool exchange_failed(int result, Result rule) {
    if (result == 0) return false;
    if (rule == Result::exchange) return true;
    if (result != ErrorCode || IcRetCode != 0) return true;
    // The failures that carry no detail code.
    if (USB_Flag == 0) {
        if (result == 254) return IcCmd_buf != IcCmd;
        if (result == 253)
            return !(pc_id_buf == pc_id || IcCmd == 0x06 || pc_id == 0xFF || pc_id_buf == 0xFF);
        return false;
    }
    return false;
}

const char* form_name(Form f) {
    switch (f) {
        case Form::none: return "none";
        case Form::counted: return "counted";
        case Form::self_counted: return "self-counted";
        case Form::total_length: return "total-length";
        case Form::status_echo: return "status echo";
        case Form::fixed: return "fixed";
        case Form::two_byte_counted: return "two-byte counted";
    }
    return "?";
}

std::string status_text(int status) {
    char b[32];
    std::snprintf(b, sizeof b, "status %d (0x%02X)", status, status & 0xFF);
    return b;
}

// Reports a failed exchange; returns the exit status.
int report_failure(const std::string& what, std::uint8_t code, int rc, double ms) {
    const std::string words = exchange_words(rc, IcRetCode);
    if (g.json)
        emit(Json().str("command", what).num("code", code).boolean("ok", false).num("exchange", rc)
                 .num("detail", IcRetCode).str("error", words).real("ms", ms));
    else
        std::fprintf(stderr, "uhfctl: %s: %s\n", what.c_str(), words.c_str());
    return kExitExchange;
}

// The reply copy split where the library's own counts split it.
struct Decoded {
    std::string label;  // "count 4", "total 53", ...
    std::vector<std::uint8_t> data;
};

Decoded decode(Form form, std::span<const std::uint8_t> copy) {
    switch (form) {
        case Form::counted: return {"count " + std::to_string(copy[0]), {copy.begin() + 1, copy.end()}};
        case Form::self_counted: return {"length " + std::to_string(copy[0]), {copy.begin(), copy.end()}};
        case Form::total_length:
            return {"total " + std::to_string((copy[0] << 8) | copy[1]), {copy.begin() + 2, copy.end()}};
        case Form::two_byte_counted:
            return {"count " + std::to_string((copy[0] << 8) | copy[1]), {copy.begin() + 2, copy.end()}};
        default: return {"", {copy.begin(), copy.end()}};
    }
}

std::array<std::uint8_t, kBufferSize> g_blocks[2];
std::array<std::uint8_t, kBufferSize> g_out;

// Parsed before the link is opened, so a typo costs no exchange.
Call parse_row_args(const CommandRow& row, const std::vector<std::string>& args) {
    const std::size_t want = std::strlen(row.args);
    if (args.size() != want)
        usage_error(std::string(row.name) + " takes " + std::to_string(want) + " argument(s): " +
                    (want ? row.arg_names : "none"));
    auto& blocks = g_blocks;
    Call call;
    std::size_t nb = 0, ni = 0;
    for (std::size_t i = 0; i < want; ++i) {
        if (row.args[i] == 'i') {
            auto v = parse_int(args[i], -2147483648LL, 4294967295LL);
            if (!v) usage_error(std::string(row.name) + ": '" + args[i] + "' is not an integer");
            call.ints[ni++] = static_cast<int>(static_cast<std::uint32_t>(*v));
        } else {
            auto v = parse_hex(args[i]);
            if (!v) usage_error(std::string(row.name) + ": '" + args[i] + "' is not a hex block");
            if (v->size() > kBufferSize) usage_error(std::string(row.name) + ": block longer than 2048 bytes");
            blocks[nb].fill(0);
            std::copy(v->begin(), v->end(), blocks[nb].begin());
            call.blocks[nb] = blocks[nb].data();
            ++nb;
        }
    }
    // The library refuses this before sending and returns 4, which reads like a status byte.
    if (row.code == 0x04 && call.ints[0] > 7)
        usage_error("ALARM: the library refuses a first argument above 7 and sends nothing (result 4)");
    g_out.fill(0);
    call.out = g_out.data();
    return call;
}

int run_row(Session& s, const CommandRow& row, Call call) {
    const auto& blocks = g_blocks;
    const auto& out = g_out;
    const auto t0 = Clock::now();
    const int rc = row.invoke(g.addr, call);
    const double ms = ms_since(t0);
    s.settle();
    if (exchange_failed(rc, row.result)) return report_failure(row.name, row.code, rc, ms);

    const int status = ErrorCode;
    const std::uint8_t* copy = row.form == Form::status_echo ? blocks[0].data() : out.data();
    const std::size_t size = copied_size(row, copy);
    const std::span<const std::uint8_t> copied(copy, size);
    const Decoded dec = decode(row.form, copied);
    const std::span<const std::uint8_t> reply_data(BlkBAdrBeg, std::min<std::size_t>(BlkBLength, 2048));

    if (g.json) {
        Json j;
        j.str("command", row.name).num("code", row.code).boolean("ok", status == 0).num("exchange", 0)
            .num("status", status).num("result", rc).str("form", form_name(row.form));
        if (row.form != Form::none) j.str("copy", hex(copied, ""));
        if (!dec.label.empty()) j.str("decoded", dec.label);
        if (row.form != Form::none) j.str("data", hex(dec.data, ""));
        j.str("reply_data", hex(reply_data, "")).real("ms", ms);
        emit(j);
    } else {
        std::printf("%s: %s, %s%s (%.1f ms)\n", row.name, status == 0 ? "ok" : "reader refused",
                    status_text(status).c_str(),
                    row.result == Result::exchange && status != 0 ? "; the command's result is 0" : "", ms);
        if (row.form == Form::status_echo) {
            std::printf("  block byte 0 now %02X\n", copy[0]);
        } else if (row.form != Form::none) {
            std::printf("  reply (%s copy, %zu bytes): %s\n", form_name(row.form), size, hex(copied).c_str());
            if (!dec.label.empty())
                std::printf("  %s, %zu data bytes: %s\n", dec.label.c_str(), dec.data.size(), hex(dec.data).c_str());
        } else if (!reply_data.empty()) {
            std::printf("  reply data (%zu bytes): %s\n", reply_data.size(), hex(reply_data).c_str());
        }
    }
    return status == 0 ? kExitOk : kExitStatus;
}

void print_row_help(const CommandRow& row) {
    std::printf("usage: uhfctl [options] %s%s%s\n", row.name, *row.arg_names ? " " : "", row.arg_names);
    std::printf("  %s\n", row.help);
    std::printf("  command code %d (0x%02X); reply: %s%s; result: %s\n", row.code, row.code,
                form_name(row.form),
                row.form == Form::fixed ? (" " + std::to_string(row.fixed_size) + " bytes").c_str() : "",
                row.result == Result::status ? "the reader's status byte" : "the exchange code (status byte shown)");
    if (std::strchr(row.args, 'b'))
        std::printf("  blocks are hex; bytes the command reads past the ones given are sent as 00\n");
    std::printf("  the bytes' meaning is the reader's; the virtual reader's: docs/simulator.md\n");
}

// ---- link, info, raw ----

int cmd_link(Session& s) {
    if (g.json)
        emit(Json().str("command", "link").boolean("ok", true).str("reader", s.where()).num("addr", g.addr)
                 .num("baud", IcBaudRate).real("ms", s.link_ms()));
    else
        std::printf("reader %s answers on %s%s in %.1f ms\n", Session::addr_text().c_str(), s.where().c_str(),
                    USB_Flag ? "" : (" at " + std::to_string(IcBaudRate) + " baud").c_str(), s.link_ms());
    return kExitOk;
}

std::string printable(std::span<const std::uint8_t> b) {
    std::string s;
    for (auto c : b) s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    return s;
}

int cmd_info(Session& s) {
    std::uint8_t info[22], no[1], temp[1], power[3] = {}, work[7];
    struct Step {
        const char* name;
        int rc;
    };
    const auto t0 = Clock::now();
    const Step steps[] = {
        {"GetDeviceInfo", GetDeviceInfo(g.addr, info)},   {"ReadDeviceNo", ReadDeviceNo(g.addr, no)},
        {"Read_DeviceTemp", Read_DeviceTemp(g.addr, temp)}, {"Get_RF_Power", Get_RF_Power(g.addr, power)},
        {"Get_Work_Param", Get_Work_Param(g.addr, work)},
    };
    const double ms = ms_since(t0);
    s.settle();
    for (const Step& st : steps)
        if (st.rc != 0) return report_failure(st.name, find_command(st.name)->code, st.rc, ms);
    if (g.json) {
        emit(Json().str("command", "info").boolean("ok", true).str("device_info", hex(info, ""))
                 .num("address", no[0]).num("temperature", static_cast<std::int8_t>(temp[0]))
                 .str("rf_power", hex(power, "")).str("work_param", hex(work, "")).real("ms", ms));
    } else {
        std::printf("device information  %s  |%s|\n", hex(info).c_str(), printable(info).c_str());
        std::printf("address             0x%02X\n", no[0]);
        std::printf("temperature         %d (0x%02X)\n", static_cast<std::int8_t>(temp[0]), temp[0]);
        std::printf("RF power            %s\n", hex(power).c_str());
        std::printf("work parameters     %s\n", hex(work).c_str());
        std::printf("(5 exchanges, %.1f ms)\n", ms);
    }
    return kExitOk;
}

struct RawArgs {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> data;
};

RawArgs parse_raw(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2) usage_error("raw takes CODE and an optional HEX block");
    const auto code = parse_int(args[0], 0, 255);
    if (!code) usage_error("raw: '" + args[0] + "' is not a command code 0..255");
    std::vector<std::uint8_t> data;
    if (args.size() == 2) {
        auto v = parse_hex(args[1]);
        if (!v) usage_error("raw: '" + args[1] + "' is not a hex block");
        if (v->size() > 255) usage_error("raw: at most 255 request bytes fit in one frame");
        data = *v;
    }
    return {static_cast<std::uint8_t>(*code), data};
}

int cmd_raw(Session& s, const RawArgs& a) {
    const auto& data = a.data;
    const std::optional<long long> code = a.code;
    pc_id = static_cast<unsigned char>(g.addr);
    IcCmd = static_cast<unsigned char>(*code);
    std::copy(data.begin(), data.end(), BlkAAdrBeg);
    BlkALength = static_cast<unsigned char>(data.size());
    const auto t0 = Clock::now();
    const int rc = PcSendOrder();
    const double ms = ms_since(t0);
    s.settle();
    const std::string name = std::string("raw ") + command_name(static_cast<std::uint8_t>(*code));
    if (rc != 0) return report_failure(name, static_cast<std::uint8_t>(*code), rc, ms);
    const std::span<const std::uint8_t> reply(BlkBAdrBeg, std::min<std::size_t>(BlkBLength, 2048));
    if (g.json)
        emit(Json().str("command", "raw").num("code", *code).boolean("ok", ErrorCode == 0).num("exchange", 0)
                 .num("status", ErrorCode).str("reply_data", hex(reply, "")).real("ms", ms));
    else
        std::printf("%s: %s, %s (%.1f ms)\n  reply data (%zu bytes): %s\n", name.c_str(),
                    ErrorCode == 0 ? "ok" : "reader refused", status_text(ErrorCode).c_str(), ms, reply.size(),
                    hex(reply).c_str());
    return ErrorCode == 0 ? kExitOk : kExitStatus;
}

// ---- inventory ----

struct FamilyCalls {
    const char* name;
    int (*query)(int);
    int (*list)(int, int, int, unsigned char*);
};
constexpr FamilyCalls kFamilies[] = {
    {"EPC", EPC_Query_ON, EPC_Read_Tag_List},
    {"GB", GB_Query_ON, GB_Read_Tag_List},
    {"GJB", GJB_Query_ON, GJB_Read_Tag_List},
};

struct TagStats {
    std::string family;
    long reads = 0;
    int rssi = 0;
    int antenna = 0;
    long rounds_seen = 0;
};

volatile sig_atomic_t g_interrupted = 0;
void on_interrupt(int) { g_interrupted = 1; }

struct RoundResult {
    int exit = kExitOk;
    long reads = 0;
    std::size_t unparsed = 0;  // lists that were not in the expected form
};

// One round over the chosen families; tags accumulate into `seen`.
RoundResult inventory_round(const std::vector<const FamilyCalls*>& fams, std::map<std::string, TagStats>& seen,
                            std::vector<std::string>* raw_lists) {
    RoundResult r;
    static std::array<std::uint8_t, kBufferSize> list;
    for (const FamilyCalls* f : fams) {
        int rc = f->query(g.addr);
        if (exchange_failed(rc, Result::status))
            return {report_failure(std::string(f->name) + "_Query_ON", 0, rc, 0), 0, 0};
        // A non-zero status here is the reader saying it found nothing; the list tells.
        std::size_t first = 0;
        for (int page = 0; page < 64; ++page) {
            list.fill(0);
            rc = f->list(g.addr, static_cast<int>(first), 0, list.data());
            if (exchange_failed(rc, Result::status))
                return {report_failure(std::string(f->name) + "_Read_Tag_List", 0, rc, 0), 0, 0};
            const std::size_t size = std::clamp<std::size_t>((list[0] << 8) | list[1], 2, kBufferSize);
            auto parsed = inventory::parse_tag_list(std::span(list.data(), size));
            if (!parsed) {
                ++r.unparsed;
                if (raw_lists) raw_lists->push_back(std::string(f->name) + ": " + hex(std::span(list.data(), size)));
                break;
            }
            for (const inventory::SeenTag& t : parsed->tags) {
                TagStats& st = seen[hex(t.id, "")];
                st.family = f->name;
                st.reads += t.reads;
                st.rssi = t.rssi.value_or(0);
                st.antenna = t.antenna.value_or(0);
                ++st.rounds_seen;
                r.reads += t.reads;
            }
            first += parsed->tags.size();
            if (parsed->tags.empty() || first >= parsed->in_list || first > 255) break;
        }
    }
    return r;
}

void print_tags(const std::map<std::string, TagStats>& seen, double seconds, long rounds, long reads,
                FILE* out = stdout) {
    std::fprintf(out, "%-34s %-4s %7s %8s %5s %4s\n", "tag", "fam", "reads", "reads/s", "rssi", "ant");
    for (const auto& [id, st] : seen)
        std::fprintf(out, "%-34s %-4s %7ld %8.1f %5d %4d\n", id.c_str(), st.family.c_str(), st.reads,
                    seconds > 0 ? st.reads / seconds : 0.0, st.rssi, st.antenna);
    std::fprintf(out, "%zu tags, %ld reads in %ld rounds, %.2f s: %.1f reads/s\n", seen.size(), reads, rounds, seconds,
                seconds > 0 ? reads / seconds : 0.0);
}

std::string tags_json(const std::map<std::string, TagStats>& seen, double seconds) {
    std::string arr = "[";
    for (const auto& [id, st] : seen) {
        if (arr.size() > 1) arr += ",";
        arr += Json().str("id", id).str("family", st.family).num("reads", st.reads)
                   .real("reads_per_s", seconds > 0 ? st.reads / seconds : 0).num("rssi", st.rssi)
                   .num("antenna", st.antenna).text();
    }
    return arr + "]";
}

struct InventoryArgs {
    bool watch = false;
    long rounds = -1;
    int interval_ms = 0;
    std::string family = "all";
};

InventoryArgs parse_inventory(const std::vector<std::string>& args) {
    InventoryArgs a;
    bool& watch = a.watch;
    long& rounds = a.rounds;
    int& interval_ms = a.interval_ms;
    std::string& family = a.family;
    for (std::size_t i = 0; i < args.size(); ++i) {
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) usage_error("inventory: " + args[i] + " needs a value");
            return args[++i];
        };
        if (args[i] == "--watch") watch = true;
        else if (args[i] == "--rounds") {
            auto v = parse_int(value(), 1, 1000000);
            if (!v) usage_error("inventory: --rounds takes a count of at least 1");
            rounds = *v;
        } else if (args[i] == "--interval") {
            auto v = parse_int(value(), 0, 60000);
            if (!v) usage_error("inventory: --interval takes milliseconds");
            interval_ms = static_cast<int>(*v);
        } else if (args[i] == "--family") {
            family = value();
            std::transform(family.begin(), family.end(), family.begin(), ::tolower);
            if (family != "epc" && family != "gb" && family != "gjb" && family != "all")
                usage_error("inventory: --family is epc, gb, gjb or all");
        } else {
            usage_error("inventory: unknown argument '" + args[i] + "'");
        }
    }
    return a;
}

int cmd_inventory(Session& s, const InventoryArgs& a) {
    const bool watch = a.watch;
    long rounds = a.rounds;
    const int interval_ms = a.interval_ms;
    const std::string& family = a.family;
    if (rounds < 0) rounds = watch ? 0 : 3;  // 0: until interrupted
    std::vector<const FamilyCalls*> fams;
    for (const FamilyCalls& f : kFamilies) {
        std::string n = f.name;
        std::transform(n.begin(), n.end(), n.begin(), ::tolower);
        if (family == "all" || family == n) fams.push_back(&f);
    }

    struct sigaction sa{};
    sa.sa_handler = on_interrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::map<std::string, TagStats> seen;
    std::vector<std::string> raw_lists;
    const auto t0 = Clock::now();
    auto last_draw = t0;
    long done = 0, reads = 0;
    std::size_t unparsed = 0;
    const bool tty = ::isatty(STDOUT_FILENO);
    while (!g_interrupted && (rounds == 0 || done < rounds)) {
        RoundResult r = inventory_round(fams, seen, raw_lists.size() < 3 ? &raw_lists : nullptr);
        s.settle();
        if (r.exit != kExitOk) return r.exit;
        reads += r.reads;
        unparsed += r.unparsed;
        ++done;
        if (watch && std::chrono::duration<double>(Clock::now() - last_draw).count() >= 1.0) {
            last_draw = Clock::now();
            const double secs = ms_since(t0) / 1000;
            if (g.json) {
                emit(Json().str("command", "inventory").boolean("ok", true).boolean("final", false).num("rounds", done)
                         .num("reads", reads).real("seconds", secs).raw("tags", tags_json(seen, secs)));
            } else {
                if (tty) std::printf("\x1b[H\x1b[2J");
                print_tags(seen, secs, done, reads);
                std::fflush(stdout);
            }
        }
        if (interval_ms > 0) ::usleep(static_cast<useconds_t>(interval_ms) * 1000);
    }
    const double secs = ms_since(t0) / 1000;
    if (g.json) {
        emit(Json().str("command", "inventory").boolean("ok", true).boolean("final", true).num("rounds", done)
                 .num("reads", reads).real("seconds", secs).num("unparsed_lists", static_cast<long long>(unparsed))
                 .raw("tags", tags_json(seen, secs)));
    } else {
        print_tags(seen, secs, done, reads);
        for (const std::string& l : raw_lists) std::printf("tag list not in the virtual reader's form: %s\n", l.c_str());
    }
    return kExitOk;
}

// ---- scan ----

int cmd_scan() {
    std::vector<std::string> nodes;
    std::unique_ptr<uhfsim::ReaderModel> model;
    std::unique_ptr<uhfsim::PtyReader> sim;
    if (g.sim) {
        model = std::make_unique<uhfsim::ReaderModel>(
            uhfsim::ModelOptions{static_cast<std::uint8_t>(g.addr_given && g.addr != 0xFF ? g.addr : 1), g.sim_tags, g.sim_seed});
        sim = std::make_unique<uhfsim::PtyReader>();
        sim->set_handler(model->handler());
        nodes.push_back(sim->path());
    } else if (!g.device.empty()) {
        nodes.push_back(g.device);
    } else {
        for (const char* fam : {"/dev/ttyS", "/dev/ttyUSB"})
            for (int i = 0; i < 10; ++i) {
                std::string n = fam + std::to_string(i);
                struct stat st{};
                if (::stat(n.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) nodes.push_back(n);
            }
    }
    const int addr = g.addr_given ? g.addr : 0xFF;
    const int rates[] = {115200, 57600, 38400, 19200, 9600};
    // A reader answers a handshake within milliseconds; waiting the full two seconds at every
    // rate of every node would make a scan take minutes.
    auto& timing = uhf::serial::timing();
    const auto saved = timing;
    timing.first_byte_poll_ms = 15;

    struct Found {
        std::string where;
        int baud;
        int addr;
    };
    std::vector<Found> found;
    const bool tty = ::isatty(STDERR_FILENO);
    const auto t0 = Clock::now();
    for (const std::string& node : nodes) {
        for (int baud : rates) {
            std::fprintf(stderr, tty ? "\rscanning %-20s at %6d baud " : "scanning %s at %d baud\n", node.c_str(), baud);
            if (RS232_InitPort_Path(node.c_str(), baud) != 0) {
                if (tty) std::fprintf(stderr, "\n");
                std::fprintf(stderr, "uhfctl: cannot open %s\n", node.c_str());
                break;
            }
            USB_Flag = 0;
            pc_id = static_cast<unsigned char>(addr);
            IcCmd = 0;
            BlkALength = 0;
            const int rc = PcSendOrder();
            const int replier = pc_id_buf;
            RS232_UnLinkCom();
            if (rc == 0) {
                found.push_back({node, baud, replier});
                break;  // one reader per node
            }
        }
    }
    timing = saved;
    if (!g.sim && g.device.empty()) {
        std::fprintf(stderr, tty ? "\rscanning %-31s " : "scanning %s\n", "USB");
        if (USB_LinkCom(addr) == 0) found.push_back({"USB", 0, addr});
        UnLinkCom();
    }
    if (tty) std::fprintf(stderr, "\r%50s\r", "");
    const double ms = ms_since(t0);
    if (g.json) {
        std::string arr = "[";
        for (const Found& f : found) {
            if (arr.size() > 1) arr += ",";
            arr += Json().str("node", f.where).num("baud", f.baud).num("addr", f.addr).text();
        }
        emit(Json().str("command", "scan").boolean("ok", true).num("nodes", static_cast<long long>(nodes.size()))
                 .raw("readers", arr + "]").real("ms", ms));
    } else {
        for (const Found& f : found) {
            if (f.baud) std::printf("reader 0x%02X on %s at %d baud\n", f.addr, f.where.c_str(), f.baud);
            else std::printf("reader on USB\n");
        }
        std::printf("%zu reader(s) found; %zu serial node(s) tried in %.1f s\n", found.size(), nodes.size(), ms / 1000);
    }
    return kExitOk;
}

// ---- demo ----

int cmd_demo(Session& s) {
    struct Timing {
        std::string step;
        double ms;
    };
    std::vector<Timing> timings{{"link", s.link_ms()}};
    const auto t_all = Clock::now();
    // With --json the narrative goes to stderr and stdout carries one summary object.
    FILE* out = g.json ? stderr : stdout;
    auto fail = [&](const char* what, int rc) { return report_failure(what, 0, rc, 0); };

    std::fprintf(out, "== link\n");
    std::fprintf(out, "reader %s answers on %s in %.1f ms\n", Session::addr_text().c_str(), s.where().c_str(), s.link_ms());

    std::fprintf(out, "\n== device\n");
    auto t = Clock::now();
    std::uint8_t info[22], temp[1], power[3];
    int rc = GetDeviceInfo(g.addr, info);
    if (rc) return fail("GetDeviceInfo", rc);
    if ((rc = Read_DeviceTemp(g.addr, temp))) return fail("Read_DeviceTemp", rc);
    if ((rc = Get_RF_Power(g.addr, power))) return fail("Get_RF_Power", rc);
    timings.push_back({"device information", ms_since(t)});
    std::fprintf(out, "device information  %s  |%s|\n", hex(info).c_str(), printable(info).c_str());
    std::fprintf(out, "temperature         %d\n", static_cast<std::int8_t>(temp[0]));
    std::fprintf(out, "RF power            %s\n", hex(power).c_str());

    std::fprintf(out, "\n== inventory, 5 rounds over EPC, GB and GJB\n");
    t = Clock::now();
    std::map<std::string, TagStats> seen;
    long reads = 0;
    std::vector<const FamilyCalls*> fams;
    for (const FamilyCalls& f : kFamilies) fams.push_back(&f);
    for (int i = 0; i < 5; ++i) {
        RoundResult r = inventory_round(fams, seen, nullptr);
        if (r.exit != kExitOk) return r.exit;
        reads += r.reads;
    }
    const double inv_ms = ms_since(t);
    timings.push_back({"5 inventory rounds", inv_ms});
    print_tags(seen, inv_ms / 1000, 5, reads, out);

    std::fprintf(out, "\n== tag memory\n");
    t = Clock::now();
    std::string epc_id;
    for (const auto& [id, st] : seen)
        if (st.family == "EPC") {
            epc_id = id;
            break;
        }
    bool memory_ok = false;
    if (epc_id.empty()) {
        std::fprintf(out, "no EPC tag in the field; skipped\n");
    } else {
        const std::vector<std::uint8_t> id = *parse_hex(epc_id);
        // Single the tag out by its ID, then write four words of user memory and read them back.
        std::vector<std::uint8_t> select{static_cast<std::uint8_t>(4 + id.size()), 1, 0,
                                         static_cast<std::uint8_t>(id.size())};
        select.insert(select.end(), id.begin(), id.end());
        rc = EPC_Write_Select_Para(g.addr, select.data());
        if (exchange_failed(rc, Result::status)) return fail("EPC_Write_Select_Para", rc);
        std::uint8_t pattern[8];
        for (int i = 0; i < 8; ++i) pattern[i] = static_cast<std::uint8_t>((Clock::now().time_since_epoch().count() >> (i * 3)) ^ (0x5A + i));
        std::uint8_t write[12] = {3, 0, 0, 4};
        std::memcpy(write + 4, pattern, 8);
        rc = EPC_Write_TAG(g.addr, write);
        if (exchange_failed(rc, Result::status)) return fail("EPC_Write_TAG", rc);
        const int write_status = rc;
        std::uint8_t req[4] = {3, 0, 4, 0}, back[256] = {};
        rc = EPC_Read_TAG(g.addr, req, back);
        if (exchange_failed(rc, Result::status)) return fail("EPC_Read_TAG", rc);
        memory_ok = write_status == 0 && rc == 0 && back[0] == 8 && std::memcmp(back + 1, pattern, 8) == 0;
        std::uint8_t every[1] = {1};
        EPC_Write_Select_Para(g.addr, every);
        std::fprintf(out, "tag %s\n  wrote user words 0-3  %s  (%s)\n  read back             %s  (%s)\n", epc_id.c_str(),
                    hex(pattern).c_str(), status_text(write_status).c_str(),
                    hex(std::span(back + 1, std::min<std::size_t>(back[0], 8))).c_str(), status_text(rc).c_str());
        std::fprintf(out, "  %s\n", memory_ok ? "read back what was written" : "MISMATCH: the read-back differs");
    }
    timings.push_back({"tag write + read-back", ms_since(t)});

    std::fprintf(out, "\n== FM151M random numbers\n");
    t = Clock::now();
    std::uint8_t rn[2 + 16 + 2048] = {};
    rc = FM151M_Get_RN(g.addr, 16, rn);
    if (exchange_failed(rc, Result::status)) return fail("FM151M_Get_RN", rc);
    const std::size_t c = std::min<std::size_t>((rn[0] << 8) | rn[1], 2046);
    timings.push_back({"16 random bytes", ms_since(t)});
    std::fprintf(out, "%s, %zu bytes: %s\n", status_text(rc).c_str(), c, hex(std::span(rn + 2, c)).c_str());
    const bool rn_ok = rc == 0 && c == 16;
    s.settle();

    std::fprintf(out, "\n== summary\n");
    for (const Timing& tm : timings) std::fprintf(out, "  %-24s %8.1f ms\n", tm.step.c_str(), tm.ms);
    std::fprintf(out, "  %-24s %8.1f ms\n", "total (after link)", ms_since(t_all));
    std::fprintf(out, "  %zu tags seen, tag memory %s, random numbers %s\n", seen.size(),
                epc_id.empty() ? "skipped" : memory_ok ? "ok" : "FAILED", rn_ok ? "ok" : "FAILED");
    const bool ok = (memory_ok || epc_id.empty()) && rn_ok;
    if (g.json) {
        std::string steps = "[";
        for (const Timing& tm : timings) {
            if (steps.size() > 1) steps += ",";
            steps += Json().str("step", tm.step).real("ms", tm.ms).text();
        }
        emit(Json().str("command", "demo").boolean("ok", ok).str("reader", s.where()).num("tags", static_cast<long long>(seen.size()))
                 .str("tag_memory", epc_id.empty() ? "skipped" : memory_ok ? "ok" : "failed").boolean("random_numbers", rn_ok)
                 .raw("timings", steps + "]").real("ms", ms_since(t_all)));
    }
    return ok ? kExitOk : kExitStatus;
}

// ---- main ----

int cmd_commands() {
    const char* group = "";
    for (const CommandRow& r : commands()) {
        std::string prefix = std::string(r.name).substr(0, std::string(r.name).find('_'));
        const char* grp = r.code < 0x20 ? "reader" : prefix == "EPC" ? "EPC" : prefix == "GB" && r.code < 0xA0 ? "GB"
                          : prefix == "GJB" && r.code < 0xA0 ? "GJB" : r.code < 0xC0 ? "FD" : prefix == "FM151M" ? "FM151M"
                          : prefix == "PSAM" ? "PSAM" : prefix == "GB" ? "GB" : "GJB";
        if (std::strcmp(grp, group) != 0) std::printf("%s%s:\n", *group ? "\n" : "", grp);
        group = grp;
        std::printf("  %-24s %-14s 0x%02X  %s\n", r.name, r.arg_names, r.code, r.help);
    }
    return kExitOk;
}

int help(const std::string& topic) {
    if (topic.empty()) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (const CommandRow* row = find_command(topic)) {
        print_row_help(*row);
        return kExitOk;
    }
    static const std::map<std::string, const char*> builtins = {
        {"link", "usage: uhfctl [reader options] link\n  Opens the link (handshake, tried as the library does) and prints the time it took.\n"},
        {"info", "usage: uhfctl [reader options] info\n  Reads the device information, address, temperature, RF power and work parameters.\n"},
        {"scan", "usage: uhfctl [--device PATH | --sim] [--addr A] scan\n  Tries each serial node (/dev/ttyS0-9, /dev/ttyUSB0-9 that exist, or the one named)\n  at 115200, 57600, 38400, 19200 and 9600 baud, then USB, with a handshake to A\n  (default: broadcast), and lists every reader that answers.\n"},
        {"inventory", "usage: uhfctl [reader options] inventory [--watch] [--family epc|gb|gjb|all]\n                                    [--rounds N] [--interval MS]\n  Runs tag-list rounds (query, then the tag list) and shows each tag with its reads\n  and reads per second. Without --watch: 3 rounds. With --watch: a live table every\n  second until interrupted (or N rounds). Tag lists are read in the virtual reader's\n  form (docs/simulator.md); others are shown as hex.\n"},
        {"raw", "usage: uhfctl [reader options] raw CODE [HEX]\n  One exchange through PcSendOrder with command CODE and up to 255 request bytes;\n  prints the status byte and the reply data.\n"},
        {"demo", "usage: uhfctl [reader options] demo\n  Links (to a virtual reader when none is named), shows the device, runs 5 inventory\n  rounds, writes and reads back 4 words of an EPC tag's user memory, asks the FM151M\n  for 16 random bytes and prints the timings.\n"},
        {"commands", "usage: uhfctl commands\n  Lists every reader command uhfctl can send by name.\n"},
    };
    if (auto it = builtins.find(topic); it != builtins.end()) {
        std::fputs(it->second, stdout);
        return kExitOk;
    }
    usage_error("no command '" + topic + "'");
}

int run(int argc, char** argv) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 2 || arg[0] != '-') break;
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage_error(arg + " needs a value");
            return argv[++i];
        };
        auto integer = [&](long long lo, long long hi) {
            const std::string v = value();
            auto n = parse_int(v, lo, hi);
            if (!n) usage_error(arg + ": '" + v + "' is not an integer in " + std::to_string(lo) + ".." + std::to_string(hi));
            return *n;
        };
        if (arg == "--help" || arg == "-h") return help("");
        else if (arg == "--device") g.device = value();
        else if (arg == "--port") g.port = static_cast<int>(integer(0, 255));
        else if (arg == "--usb") g.usb = true;
        else if (arg == "--sim") g.sim = true;
        else if (arg == "--sim-tags") g.sim_tags = static_cast<std::size_t>(integer(0, uhfsim::ReaderModel::kMaxTags));
        else if (arg == "--sim-seed") g.sim_seed = static_cast<std::uint32_t>(integer(0, 0xFFFFFFFFLL));
        else if (arg == "--baud") {
            g.baud = static_cast<int>(integer(1, 4000000));
            if (g.baud != 9600 && g.baud != 19200 && g.baud != 38400 && g.baud != 57600 && g.baud != 115200)
                usage_error("--baud: the library drives 9600, 19200, 38400, 57600 or 115200");
        } else if (arg == "--addr") {
            g.addr = static_cast<int>(integer(0, 255));
            g.addr_given = true;
        } else if (arg == "--json") g.json = true;
        else if (arg == "--trace") g.trace = true;
        else usage_error("unknown option '" + arg + "'");
    }
    if ((g.sim ? 1 : 0) + (g.device.empty() ? 0 : 1) + (g.port >= 0 ? 1 : 0) + (g.usb ? 1 : 0) > 1)
        usage_error("name one reader: --device, --port, --usb or --sim");
    if (g.trace && (g.usb || g.port >= 0))
        usage_error("--trace needs --device or --sim: USB and numbered ports are opened inside the library");
    if (i >= argc) usage_error("no command given");
    const std::string cmd = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);

    if (cmd == "help") return help(args.empty() ? "" : args[0]);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) return help(cmd);
    if (cmd == "commands") return cmd_commands();
    if (cmd == "scan") {
        if (!args.empty()) usage_error("scan takes no arguments");
        return cmd_scan();
    }
    const CommandRow* row = find_command(cmd);
    const bool known = row || cmd == "link" || cmd == "info" || cmd == "raw" || cmd == "inventory" || cmd == "demo";
    if (!known) usage_error("unknown command '" + cmd + "' ('uhfctl commands' lists them)");
    if ((cmd == "link" || cmd == "info" || cmd == "demo") && !args.empty()) usage_error(cmd + " takes no arguments");

    Call call;
    RawArgs raw;
    InventoryArgs inv;
    if (row) call = parse_row_args(*row, args);
    else if (cmd == "raw") raw = parse_raw(args);
    else if (cmd == "inventory") inv = parse_inventory(args);

    Session session;
    if (!session.open(cmd == "demo")) return kExitExchange;
    if (cmd == "link") return cmd_link(session);
    if (cmd == "info") return cmd_info(session);
    if (cmd == "raw") return cmd_raw(session, raw);
    if (cmd == "inventory") return cmd_inventory(session, inv);
    if (cmd == "demo") return cmd_demo(session);
    return run_row(session, *row, call);
}

}  // namespace
}  // namespace uhfctl

int main(int argc, char** argv) { return uhfctl::run(argc, argv); }
