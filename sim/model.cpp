#include "sim/model.hpp"

#include <algorithm>
#include <cstring>

#include "sim/model_reply.hpp"

namespace uhfsim {

using namespace model_detail;

const char* family_name(Family f) {
    switch (f) {
        case Family::epc: return "EPC";
        case Family::gb: return "GB";
        case Family::gjb: return "GJB";
    }
    return "?";
}

std::vector<std::uint8_t> Tag::id() const {
    std::vector<std::uint8_t> out;
    for (std::uint16_t w : banks[static_cast<std::size_t>(Bank::id)]) {
        out.push_back(static_cast<std::uint8_t>(w >> 8));
        out.push_back(static_cast<std::uint8_t>(w));
    }
    return out;
}

std::uint32_t Tag::kill_password() const {
    const auto& r = banks[0];
    return (std::uint32_t{r[0]} << 16) | r[1];
}

std::uint32_t Tag::access_password() const {
    const auto& r = banks[0];
    return (std::uint32_t{r[2]} << 16) | r[3];
}

ReaderModel::ReaderModel(ModelOptions options)
    : addr_(options.addr), seed_(options.seed), rng_(options.seed) {
    populate(std::min(options.tags, kMaxTags));
    restore_defaults();
    for (auto& b : fm_id_) b = random_byte();
    // Fixed identity; the serial number follows the seed so two simulators can be told apart.
    const char model[4] = {'U', 'S', 'I', 'M'};
    std::memcpy(info_.data(), model, 4);
    info_[4] = 1;  // hardware 1.0
    info_[5] = 0;
    info_[6] = 2;  // firmware 2.3
    info_[7] = 3;
    for (std::size_t i = 0; i < 4; ++i) info_[8 + i] = static_cast<std::uint8_t>(seed_ >> (24 - 8 * i));
    for (std::size_t i = 12; i < 16; ++i) info_[i] = random_byte();
    info_[17] = kAntennas;
    info_[20] = kMaxPowerDbm;
    info_[21] = 0x07;  // EPC, GB and GJB
}

std::uint8_t ReaderModel::random_byte() { return static_cast<std::uint8_t>(rng_() & 0xFF); }

void ReaderModel::reset_reader_state() {
    for (auto& f : families_) {
        f.woken.reset();
        f.secured.reset();
        f.fd_access.reset();
        f.list.clear();
    }
    psam_powered_ = false;
}

void ReaderModel::restore_defaults() {
    reset_reader_state();
    rate_code_ = 4;
    r2000_ = 1;
    cw_ = 0;
    antenna_ = 0;
    alarm_ = {};
    work_ = {26, 0x01, 10, 1, 0, 4, 0};
    menjin_ = {0, 0, 0, 10, 0};
    for (auto& page : channels_) page.fill(0xFF);
    for (auto& f : families_) {
        f.select = {1};
        f.access_password = {};
        f.kill_password = {};
        f.security = {};
        f.auth_password = {};
        f.auth_set = false;
    }
}

std::function<Action(const Request&)> ReaderModel::handler() {
    return [this](const Request& req) {
        std::optional<Reply> r = answer(req);
        return r ? Action::reply(*r) : Action::silent();
    };
}

std::optional<Reply> ReaderModel::answer(const Request& req) {
    std::lock_guard lock(mu_);
    if (req.addr != addr_ && req.addr != kBroadcast) return std::nullopt;
    const std::uint8_t c = req.cmd;
    if (c == 0x00) return make(req, addr_, status::ok);
    if ((c >= 0x01 && c <= 0x07) || (c >= 0x10 && c <= 0x1B && c != 0x16)) return admin(req);
    if (c == 0xE0 || c == 0xE1 || c == 0xE2) {
        const Family fam = c == 0xE0 ? Family::gb : c == 0xE1 ? Family::gjb : Family::epc;
        return tag_command(req, fam, 0xFF);
    }
    if (auto tc = tag_code(c); tc && tc->op != 4 && !(tc->family == Family::epc && tc->op > op::edit_pwd) &&
                               !(tc->family == Family::gjb && tc->op > op::get_sec))
        return tag_command(req, tc->family, tc->op);
    if ((c >= 0xA0 && c <= 0xA7) || (c >= 0xB0 && c <= 0xB4)) return fd_command(req);
    if (c >= 0xF0 && c <= 0xF3) return psam(req);
    if (c >= 0xD0 && c <= 0xD3) return fm151m(req);
    return make(req, addr_, status::unknown_command);
}

// ---- Reader administration ----

Reply ReaderModel::admin(const Request& req) {
    const auto& d = req.data;
    auto need = [&](std::size_t n) { return d.size() == n; };
    auto fixed = [&](std::uint8_t st, const auto& block) {
        return make(req, addr_, st, std::vector<std::uint8_t>(block.begin(), block.end()));
    };
    switch (req.cmd) {
        case 0x01:
            if (!need(0)) break;
            restore_defaults();
            return make(req, addr_, status::ok);
        case 0x02:
            if (!need(0)) break;
            reset_reader_state();
            return make(req, addr_, status::ok);
        case 0x03:
            if (!need(1) || d[0] > 4) break;
            rate_code_ = d[0];
            return make(req, addr_, status::ok);
        case 0x04:
            if (!need(4)) break;
            std::copy(d.begin(), d.end(), alarm_.begin());
            return make(req, addr_, status::ok);
        case 0x05: {
            auto info = info_;
            info[16] = addr_;
            info[18] = antenna_;
            info[19] = rate_code_;
            return fixed(need(0) ? status::ok : status::bad_request, info);
        }
        case 0x06:
            if (!need(1) || d[0] == kBroadcast) break;
            addr_ = d[0];
            return make(req, addr_, status::ok);
        case 0x07:
            return make(req, addr_, need(0) ? status::ok : status::bad_request, {addr_});
        case 0x10: {
            // Drifts a degree at a time, so a host polling it sees a live value.
            temperature_ = std::clamp(temperature_ + static_cast<int>(rng_() % 3) - 1, 28, 45);
            return make(req, addr_, need(0) ? status::ok : status::bad_request,
                        {static_cast<std::uint8_t>(temperature_)});
        }
        case 0x11:
            if (!need(7) || d[0] > kMaxPowerDbm) break;
            std::copy(d.begin(), d.end(), work_.begin());
            return make(req, addr_, status::ok);
        case 0x12:
            return fixed(need(0) ? status::ok : status::bad_request, work_);
        case 0x13:
            if (!need(1)) break;
            r2000_ = d[0];
            return make(req, addr_, status::ok);
        case 0x14:
            if (!need(1) || d[0] > 1) break;
            cw_ = d[0];
            return make(req, addr_, status::ok);
        case 0x15:
            return make(req, addr_, need(0) ? status::ok : status::bad_request,
                        {work_[0], antenna_, kMaxPowerDbm});
        case 0x17:
            if (!need(1) || d[0] >= kAntennas) break;
            antenna_ = d[0];
            return make(req, addr_, status::ok);
        case 0x18:
            if (!need(9) || d[0] >= kChannelPages) break;
            std::copy(d.begin() + 1, d.end(), channels_[d[0]].begin());
            return make(req, addr_, status::ok);
        case 0x19:
            // Always eight bytes, so the caller's copy never takes stale data.
            if (!need(1) || d[0] >= kChannelPages)
                return make(req, addr_, status::bad_request, std::vector<std::uint8_t>(8, 0));
            return fixed(status::ok, channels_[d[0]]);
        case 0x1A:
            if (!need(5)) break;
            std::copy(d.begin(), d.end(), menjin_.begin());
            return make(req, addr_, status::ok);
        case 0x1B:
            return fixed(need(0) ? status::ok : status::bad_request, menjin_);
        default:
            break;
    }
    return make(req, addr_, status::bad_request);
}


}  // namespace uhfsim
