// Any catalogue command by name, and one raw exchange by code.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "inventory/result.hpp"
#include "uhfctl/call_args.hpp"
#include "uhfctl/catalog.hpp"
#include "uhfctl/commands.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

const char* copy_word(int copy) {
    switch (copy) {
        case UHF_COPY_COUNTED: return "counted";
        case UHF_COPY_SELF_COUNTED: return "self-counted";
        case UHF_COPY_TOTAL_LENGTH: return "total-length";
        case UHF_COPY_STATUS_ECHO: return "status echo";
        case UHF_COPY_FIXED: return "fixed";
        case UHF_COPY_TWO_BYTE: return "two-byte counted";
    }
    return "none";
}

// The copy split where its own count splits it: "count 4" and the bytes after the count.
struct Decoded {
    std::string label;
    std::span<const std::uint8_t> data;
};

Decoded decode(int copy, std::span<const std::uint8_t> c) {
    switch (copy) {
        case UHF_COPY_COUNTED: return {"count " + std::to_string(c[0]), c.subspan(1)};
        case UHF_COPY_SELF_COUNTED: return {"length " + std::to_string(c[0]), c};
        case UHF_COPY_TOTAL_LENGTH: return {"total " + std::to_string((c[0] << 8) | c[1]), c.subspan(2)};
        case UHF_COPY_TWO_BYTE: return {"count " + std::to_string((c[0] << 8) | c[1]), c.subspan(2)};
    }
    return {"", c};
}

std::string prefix(const Session& s, const Reader& r) { return s.readers.size() > 1 ? r.name + ": " : ""; }

}  // namespace

int run_call(const Context& ctx) {
    const uhf_command_info& cmd = *ctx.inv.catalogue;
    const PreparedCall prepared = prepare_call(cmd, ctx.inv.args);  // before anything is opened
    Session session;
    if (const int s = open_session(ctx, session, false); s != kExitOk) return s;
    const int addr = ctx.inv.reader.addr;
    return for_each_reader(ctx, session, [&](Reader& r, Output& out) {
        PreparedCall call = prepared;
        auto buffers = call.pointers();
        const auto t0 = Clock::now();
        const int rc = uhf_call(r.link.get(), &cmd, addr, call.scalars, buffers.data());
        const double ms = ms_since(t0);
        const inventory::Outcome o = inventory::classify(r.link.get(), rc, cmd.result);
        if (o == inventory::Outcome::exchange || o == inventory::Outcome::link)
            return out.failure(r.name, cmd.name, rc, rc > 0 ? uhf_detail(r.link.get()) : 0);

        const int status = uhf_status(r.link.get());
        const std::uint8_t* copy = call.copy();
        const std::size_t size = copy ? static_cast<std::size_t>(std::max(uhf_copy_length(&cmd, copy), 0)) : 0;
        const std::span<const std::uint8_t> copied(copy, size);
        const Decoded dec = cmd.copy == UHF_COPY_NONE ? Decoded{} : decode(cmd.copy, copied);
        if (out.json()) {
            Json j{{"command", cmd.name}, {"device", r.name}, {"code", cmd.code}, {"ok", status == 0},
                   {"exchange", 0}, {"status", status}, {"result", rc}, {"copy_rule", copy_word(cmd.copy)}};
            if (cmd.copy != UHF_COPY_NONE) j["copy"] = hex(copied, "");
            if (!dec.label.empty()) j["decoded"] = dec.label;
            if (cmd.copy != UHF_COPY_NONE) j["data"] = hex(dec.data, "");
            j["ms"] = ms;
            out.emit(j);
        } else {
            char head[256];
            std::snprintf(head, sizeof head, "%s%s: %s, %s%s (%.1f ms)\n", prefix(session, r).c_str(), cmd.name,
                          status == 0 ? "ok" : "reader refused", status_text(status).c_str(),
                          cmd.result == UHF_RESULT_EXCHANGE && status != 0 ? "; the command's result is 0" : "", ms);
            std::string text = head;
            if (cmd.copy == UHF_COPY_STATUS_ECHO) {
                text += "  block byte 0 now " + hex(copied) + "\n";
            } else if (cmd.copy != UHF_COPY_NONE) {
                text += "  reply (" + std::string(copy_word(cmd.copy)) + " copy, " + std::to_string(size) +
                        " bytes): " + hex(copied) + "\n";
                if (!dec.label.empty())
                    text += "  " + dec.label + ", " + std::to_string(dec.data.size()) + " data bytes: " + hex(dec.data) + "\n";
            }
            out.print(text);
        }
        return status == 0 ? kExitOk : kExitStatus;
    });
}

int run_raw(const Context& ctx) {
    const auto& args = ctx.inv.args;
    if (args.empty() || args.size() > 2) throw UsageError("raw takes CODE and an optional HEX block");
    const auto code = parse_int(args[0], 0, 255);
    if (!code) throw UsageError("raw: CODE: '" + args[0] + "' is not a command code 0..255");
    std::vector<std::uint8_t> data;
    if (args.size() == 2) {
        auto v = parse_hex(args[1]);
        if (!v) throw UsageError("raw: HEX: '" + args[1] + "' is not a hex block");
        if (v->size() > 255)
            throw UsageError("raw: HEX: " + std::to_string(v->size()) + " bytes given; one request carries at most 255");
        data = std::move(*v);
    }
    Session session;
    if (const int s = open_session(ctx, session, false); s != kExitOk) return s;
    const int addr = ctx.inv.reader.addr;
    const std::string name = std::string("raw ") + command_name(static_cast<std::uint8_t>(*code));
    return for_each_reader(ctx, session, [&](Reader& r, Output& out) {
        std::vector<std::uint8_t> reply(4096);
        int reply_len = 0;
        const auto t0 = Clock::now();
        const int rc = uhf_exchange(r.link.get(), addr, static_cast<int>(*code), data.data(),
                                    static_cast<int>(data.size()), reply.data(), static_cast<int>(reply.size()), &reply_len);
        const double ms = ms_since(t0);
        if (rc != 0) return out.failure(r.name, name, rc, rc > 0 ? uhf_detail(r.link.get()) : 0);
        const int status = uhf_status(r.link.get());
        const std::span<const std::uint8_t> got(reply.data(), std::min<std::size_t>(static_cast<std::size_t>(reply_len), reply.size()));
        if (out.json()) {
            out.emit(Json{{"command", "raw"}, {"device", r.name}, {"code", *code}, {"ok", status == 0}, {"exchange", 0},
                          {"status", status}, {"reply_data", hex(got, "")}, {"ms", ms}});
        } else {
            char head[256];
            std::snprintf(head, sizeof head, "%s%s: %s, %s (%.1f ms)\n  reply data (%zu bytes): ",
                          prefix(session, r).c_str(), name.c_str(), status == 0 ? "ok" : "reader refused",
                          status_text(status).c_str(), ms, got.size());
            out.print(head + hex(got) + "\n");
        }
        return status == 0 ? kExitOk : kExitStatus;
    });
}

}  // namespace uhfctl
