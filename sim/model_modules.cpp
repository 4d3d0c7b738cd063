// The reader model: the FD extensions, and the PSAM and FM151M modules behind the reader.
#include "sim/model.hpp"

#include <algorithm>
#include <cstring>

#include "sim/model_reply.hpp"

namespace uhfsim {

using namespace model_detail;

Reply ReaderModel::fd_command(const Request& req) {
    const auto& d = req.data;
    auto reply = [&](std::uint8_t s, std::vector<std::uint8_t> data = {}) {
        return make(req, addr_, s, std::move(data));
    };
    auto echo = [&](std::uint8_t s) { return reply(s, {s}); };

    // The GJB block commands reach the same memory, in the GJB tag layouts.
    if (req.cmd >= 0xB0) {
        static constexpr std::uint8_t as_gjb[] = {op::read, op::write, op::erase, op::lock};
        if (req.cmd == 0xB4) {
            const auto t = target(Family::gjb);
            if (!d.empty()) return reply(status::bad_request, {0});
            if (!t) return reply(status::no_tag, {0});
            std::vector<std::uint8_t> info;
            for (LockState l : tags_[*t].locks) info.push_back(static_cast<std::uint8_t>(l));
            return reply(status::ok, counted(info));
        }
        return tag_command(req, Family::gjb, as_gjb[req.cmd - 0xB0]);
    }

    FamilyState& gb = families_[static_cast<std::size_t>(Family::gb)];
    const auto t = target(Family::gb);
    switch (req.cmd) {
        case 0xA0:  // custom access: [password 4]
            if (d.size() != 4) return echo(status::bad_request);
            if (!t) return echo(status::no_tag);
            if (!std::equal(d.begin(), d.end(), tags_[*t].fd_password.begin())) return echo(status::wrong_password);
            gb.fd_access = *t;
            return echo(status::ok);
        case 0xA1:  // new custom password: [password 4]
            if (d.size() != 4) return echo(status::bad_request);
            if (!t) return echo(status::no_tag);
            if (gb.fd_access != *t) return echo(status::not_authenticated);
            if (tags_[*t].fd_password_lock != 0) return echo(status::locked);
            std::copy(d.begin(), d.end(), tags_[*t].fd_password.begin());
            return echo(status::ok);
        case 0xA2:  // custom password lock: [mode]
            if (d.size() != 1) return echo(status::bad_request);
            if (!t) return echo(status::no_tag);
            if (gb.fd_access != *t) return echo(status::not_authenticated);
            tags_[*t].fd_password_lock = d[0];
            return echo(status::ok);
        case 0xA3:  // end of initialisation: [password 4]
            if (d.size() != 4) return echo(status::bad_request);
            if (!t) return echo(status::no_tag);
            if (!std::equal(d.begin(), d.end(), tags_[*t].fd_password.begin())) return echo(status::wrong_password);
            tags_[*t].fd_init_ended = true;
            return echo(status::ok);
        case 0xA4: {
            if (!d.empty()) return reply(status::bad_request, {0});
            if (!t) return reply(status::no_tag, {0});
            const Tag& tag = tags_[*t];
            std::vector<std::uint8_t> info{tag.fd_password_lock, static_cast<std::uint8_t>(tag.fd_init_ended)};
            for (LockState l : tag.locks) info.push_back(static_cast<std::uint8_t>(l));
            return reply(status::ok, counted(info));
        }
        case 0xA5:
            if (d.size() != 16) return echo(status::bad_request);
            std::copy(d.begin(), d.end(), gb.auth_password.begin());
            gb.auth_set = true;
            return echo(status::ok);
        case 0xA6:
            if (d.size() != 2) return reply(status::bad_request);
            if (!gb.auth_set) return reply(status::not_authenticated);
            return reply(t ? status::ok : status::no_tag);
        case 0xA7: {
            // Always 16 bytes: the caller copies 16 whatever the status.
            std::vector<std::uint8_t> key(16, 0);
            if (d.size() != 1) return reply(status::bad_request, key);
            if (!gb.auth_set) return reply(status::not_authenticated, key);
            if (!t) return reply(status::no_tag, key);
            std::vector<std::uint8_t> input(gb.auth_password.begin(), gb.auth_password.end());
            const auto id = tags_[*t].id();
            input.insert(input.end(), id.begin(), id.end());
            const auto k = digest(input.data(), input.size(), d[0]);
            return reply(status::ok, std::vector<std::uint8_t>(k.begin(), k.end()));
        }
        default:
            return reply(status::unknown_command);
    }
}

// ---- Security modules ----

Reply ReaderModel::psam(const Request& req) {
    const auto& d = req.data;
    auto reply = [&](std::uint8_t s, std::vector<std::uint8_t> body) {
        return make(req, addr_, s, counted(body));
    };
    const std::vector<std::uint8_t> atr{0x3B, 0x68, 0x00, 0x00, 'U', 'S', 'I', 'M',
                                        info_[8], info_[9], info_[10], info_[11]};
    switch (req.cmd) {
        case 0xF0:
            if (d.size() != 2) return reply(status::bad_request, {});
            psam_powered_ = true;
            return reply(status::ok, atr);
        case 0xF1:
            if (d.size() != 1) return reply(status::bad_request, {});
            if (!psam_powered_) return reply(status::not_powered, {});
            return reply(status::ok, atr);
        default:
            break;
    }
    // A command block: [n, APDU of n bytes]. The card's verdict travels in the status word at
    // the end of the answer; the reader's status byte only says whether the card answered.
    if (d.empty() || d[0] + 1u != d.size()) return reply(status::bad_request, {});
    if (!psam_powered_) return reply(status::not_powered, {});
    const std::vector<std::uint8_t> apdu(d.begin() + 1, d.end());
    if (apdu.size() < 4) return reply(status::ok, {0x67, 0x00});
    const std::uint8_t ins = apdu[1];
    const std::size_t le = apdu.size() >= 5 ? apdu[4] : 0;
    std::vector<std::uint8_t> out;
    switch (ins) {
        case 0x84:  // get challenge
            for (std::size_t i = 0; i < (le == 0 ? 8 : std::min<std::size_t>(le, 252)); ++i)
                out.push_back(random_byte());
            break;
        case 0xA4:  // select
            break;
        case 0xB0:  // read binary: the card's serial number, repeated
            for (std::size_t i = 0; i < std::min<std::size_t>(le == 0 ? 8 : le, 252); ++i)
                out.push_back(info_[8 + i % 4]);
            break;
        default:
            return reply(status::ok, {0x6D, 0x00});
    }
    out.push_back(0x90);
    out.push_back(0x00);
    return reply(status::ok, out);
}

Reply ReaderModel::fm151m(const Request& req) {
    const auto& d = req.data;
    auto reply = [&](std::uint8_t s, std::vector<std::uint8_t> data) {
        return make(req, addr_, s, std::move(data));
    };
    switch (req.cmd) {
        case 0xD0:
            if (!d.empty()) return reply(status::bad_request, {0});
            return reply(status::ok, counted(std::vector<std::uint8_t>(fm_id_.begin(), fm_id_.end())));
        case 0xD1: {
            // [count hi, count lo] -> [count hi, count lo, count random bytes]
            if (d.size() != 2) return reply(status::bad_request, {0, 0});
            const std::size_t n = be16(d.data());
            if (n > kReplyCapacity - 2) return reply(status::bad_request, {0, 0});
            std::vector<std::uint8_t> out{d[0], d[1]};
            for (std::size_t i = 0; i < n; ++i) out.push_back(random_byte());
            return reply(status::ok, out);
        }
        case 0xD2: {
            // [h0, h1, n, body...] -> 16-byte digest of the body, salted with h0 h1
            if (d.size() < 3 || d.size() != 3u + d[2]) return reply(status::bad_request, {0});
            const auto h = digest(d.data() + 3, d[2], be16(d.data()));
            return reply(status::ok, counted(std::vector<std::uint8_t>(h.begin(), h.end())));
        }
        case 0xD3: {
            // [mode, key, iv hi, iv lo, n, body...] -> the body under a keystream. The same
            // keystream both ways, so a second pass gives the body back whatever the mode.
            if (d.size() < 5 || d.size() != 5u + d[4] || d[0] > 1) return reply(status::bad_request, {0});
            std::vector<std::uint8_t> out(d.begin() + 5, d.end());
            const std::uint8_t seed[3] = {d[1], d[2], d[3]};
            for (std::size_t block = 0; block * 16 < out.size(); ++block) {
                const auto ks = digest(seed, sizeof seed, block + (std::uint64_t{fm_id_[0]} << 32));
                for (std::size_t i = block * 16; i < std::min(out.size(), block * 16 + 16); ++i)
                    out[i] ^= ks[i - block * 16];
            }
            return reply(status::ok, counted(out));
        }
        default:
            return reply(status::unknown_command, {});
    }
}

}  // namespace uhfsim
