// link: does a reader answer, and how fast; info: what it says about itself.
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "uhfctl/commands.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

std::string addr_text(int addr) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", addr & 0xFF);
    return b;
}

void no_arguments(const Context& ctx) {
    if (!ctx.inv.args.empty()) throw UsageError(ctx.inv.command + " takes no arguments");
}

}  // namespace

int run_link(const Context& ctx) {
    no_arguments(ctx);
    Session session;
    if (const int s = open_session(ctx, session, false); s != kExitOk) return s;
    const int addr = ctx.inv.reader.addr;
    for (Reader& r : session.readers.all()) {
        if (ctx.out.json()) {
            ctx.out.emit(Json{{"command", "link"}, {"ok", true}, {"device", r.name}, {"addr", addr}, {"ms", r.link_ms}});
        } else {
            char line[512];
            std::snprintf(line, sizeof line, "reader %s answers on %s in %.1f ms\n", addr_text(addr).c_str(),
                          r.name.c_str(), r.link_ms);
            ctx.out.print(line);
        }
    }
    return kExitOk;
}

int run_info(const Context& ctx) {
    no_arguments(ctx);
    Session session;
    if (const int s = open_session(ctx, session, false); s != kExitOk) return s;
    const int addr = ctx.inv.reader.addr;
    const bool several = session.readers.size() > 1;
    return for_each_reader(ctx, session, [&](Reader& r, Output& out) {
        std::uint8_t info[22] = {}, no[1] = {}, temp[1] = {}, power[3] = {}, work[7] = {};
        uhf_link* l = r.link.get();
        const auto t0 = std::chrono::steady_clock::now();
        struct Step {
            const char* name;
            int (*run)(uhf_link*, int, unsigned char*);
            unsigned char* buf;
        };
        const Step steps[] = {{"GetDeviceInfo", uhf_GetDeviceInfo, info}, {"ReadDeviceNo", uhf_ReadDeviceNo, no},
                              {"Read_DeviceTemp", uhf_Read_DeviceTemp, temp}, {"Get_RF_Power", uhf_Get_RF_Power, power},
                              {"Get_Work_Param", uhf_Get_Work_Param, work}};
        for (const Step& st : steps)
            if (const int rc = st.run(l, addr, st.buf); rc != 0)
                return out.failure(r.name, st.name, rc, rc > 0 ? uhf_detail(l) : 0);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (out.json()) {
            out.emit(Json{{"command", "info"}, {"ok", true}, {"device", r.name}, {"device_info", hex(info, "")},
                          {"address", no[0]}, {"temperature", static_cast<std::int8_t>(temp[0])},
                          {"rf_power", hex(power, "")}, {"work_param", hex(work, "")}, {"ms", ms}});
            return kExitOk;
        }
        char text[1024];
        std::snprintf(text, sizeof text,
                      "%s%sdevice information  %s  |%s|\naddress             0x%02X\n"
                      "temperature         %d (0x%02X)\nRF power            %s\nwork parameters     %s\n"
                      "(5 exchanges, %.1f ms)\n",
                      several ? r.name.c_str() : "", several ? ":\n" : "", hex(info).c_str(), printable(info).c_str(),
                      no[0], static_cast<std::int8_t>(temp[0]), temp[0], hex(power).c_str(), hex(work).c_str(), ms);
        out.print(text);
        return kExitOk;
    });
}

}  // namespace uhfctl
