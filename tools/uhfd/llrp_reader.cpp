#include "llrp_reader.hpp"

#include <cctype>

#include "uhfreader.h"

namespace uhfd {

namespace {

std::string version(std::uint8_t major, std::uint8_t minor) { return std::to_string(major) + "." + std::to_string(minor); }

// The exchange's words, or the reader's status byte where the exchange went through.
std::string failed(const char* what, int rc, uhf_link* link) {
    if (rc == 0 && uhf_status(link) == 0) return "";
    if (rc == 0) return std::string(what) + ": the reader answered status " + std::to_string(uhf_status(link));
    return std::string(what) + ": " + uhf_strerror(rc, uhf_detail(link));
}

}  // namespace

ReaderFacts decode_facts(const std::array<std::uint8_t, 22>& info, const std::array<std::uint8_t, 3>& power,
                         const std::array<std::uint8_t, 7>& work, const std::array<std::array<std::uint8_t, 8>, 4>& pages) {
    ReaderFacts f;
    for (int i = 0; i < 4; ++i) {
        f.model_code = (f.model_code << 8) | info[i];
        if (std::isprint(info[i])) f.model += static_cast<char>(info[i]);
    }
    f.hardware = version(info[4], info[5]);
    f.firmware = version(info[6], info[7]);
    f.serial.assign(info.begin() + 12, info.begin() + 16);
    f.antennas = info[17] > 0 ? info[17] : 1;
    f.power_dbm = power[0];
    f.active_antenna = power[1];
    f.max_power_dbm = power[2] > 0 ? power[2] : info[20];
    f.region = work[3];
    for (int page = 0; page < 4; ++page)
        for (int b = 0; b < 8; ++b)
            for (int k = 0; k < 8; ++k)
                if (pages[page][b] & (1u << k)) f.channels.push_back(64 * page + 8 * b + k);
    return f;
}

std::string ReaderCommands::read_facts(ReaderFacts& out) {
    return run<ReaderFacts>(
        [](uhf_link* link, int addr, ReaderFacts& f) -> std::string {
            std::array<std::uint8_t, 22> info{};
            std::array<std::uint8_t, 3> power{};
            std::array<std::uint8_t, 7> work{};
            std::array<std::array<std::uint8_t, 8>, 4> pages{};
            if (auto why = failed("GetDeviceInfo", uhf_GetDeviceInfo(link, addr, info.data()), link); !why.empty()) return why;
            if (auto why = failed("Get_RF_Power", uhf_Get_RF_Power(link, addr, power.data()), link); !why.empty()) return why;
            if (auto why = failed("Get_Work_Param", uhf_Get_Work_Param(link, addr, work.data()), link); !why.empty()) return why;
            for (std::uint8_t page = 0; page < 4; ++page) {
                pages[page][0] = page;
                if (auto why = failed("Get_CH_Active", uhf_Get_CH_Active(link, addr, pages[page].data()), link); !why.empty())
                    return why;
            }
            f = decode_facts(info, power, work, pages);
            return "";
        },
        out);
}

std::string ReaderCommands::apply(const ReaderChange& change) {
    int unused = 0;
    return run<int>(
        [change](uhf_link* link, int addr, int&) -> std::string {
            if (change.power_dbm) {
                // A read-modify-write of the work parameters: no round comes between the two.
                std::array<std::uint8_t, 7> work{};
                if (auto why = failed("Get_Work_Param", uhf_Get_Work_Param(link, addr, work.data()), link); !why.empty())
                    return why;
                work[0] = static_cast<std::uint8_t>(*change.power_dbm);
                if (auto why = failed("Set_Work_Param", uhf_Set_Work_Param(link, addr, work.data()), link); !why.empty())
                    return why;
            }
            if (change.active_antenna) {
                if (auto why = failed("Set_Active_ANT", uhf_Set_Active_ANT(link, addr, *change.active_antenna), link);
                    !why.empty())
                    return why;
            }
            return "";
        },
        unused);
}

void ReaderCommands::cancel() {
    std::lock_guard lock(shared_->mu);
    shared_->cancelled = true;
    shared_->cv.notify_all();
}

}  // namespace uhfd
