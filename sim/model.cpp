#include "sim/model.hpp"

#include <algorithm>
#include <cstring>

namespace uhfsim {

namespace {

constexpr std::uint8_t kBroadcast = 0xFF;
constexpr std::size_t kReplyCapacity = 2048;
constexpr std::size_t kMaxReadWords = 127;  // a counted reply holds at most 255 bytes after its count
constexpr std::size_t kChannelPages = 4;
constexpr std::uint8_t kMaxPowerDbm = 30;

// The family and operation of a tag command code.
struct TagCode {
    Family family;
    std::uint8_t op;  // the code's offset from its family's first code
};

std::optional<TagCode> tag_code(std::uint8_t cmd) {
    if (cmd >= 0x20 && cmd <= 0x2F) return TagCode{Family::epc, static_cast<std::uint8_t>(cmd - 0x20)};
    if (cmd >= 0x40 && cmd <= 0x59) return TagCode{Family::gb, static_cast<std::uint8_t>(cmd - 0x40)};
    if (cmd >= 0x60 && cmd <= 0x70) return TagCode{Family::gjb, static_cast<std::uint8_t>(cmd - 0x60)};
    return std::nullopt;
}

// Operations, as offsets from a family's first code.
namespace op {
constexpr std::uint8_t read_select = 0, write_select = 1, query = 2, tag_list = 3, set_pwd = 5,
                       wake = 6, access = 7, read = 8, write = 9, kill = 10, lock = 11,
                       write_block = 12, erase = 13, halt = 14, edit_pwd = 15, get_sec = 16,
                       set_sec = 17, set_auth = 18, first_auth_step = 19, last_auth_step = 25;
}

Reply make(const Request& req, std::uint8_t addr, std::uint8_t st,
           std::vector<std::uint8_t> data = {}) {
    return Reply{addr, req.cmd, st, std::move(data)};
}

std::vector<std::uint8_t> counted(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out;
    out.reserve(body.size() + 1);
    out.push_back(static_cast<std::uint8_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::size_t be16(const std::uint8_t* p) { return (std::size_t{p[0]} << 8) | p[1]; }

// A stand-in digest (FNV-1a, widened): stable and input-sensitive, not cryptographic.
std::array<std::uint8_t, 16> digest(const std::uint8_t* data, std::size_t n, std::uint64_t salt) {
    std::array<std::uint8_t, 16> out{};
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t h = 1469598103934665603ULL ^ (salt + half * 0x9E3779B97F4A7C15ULL);
        for (std::size_t i = 0; i < n; ++i) {
            h ^= data[i];
            h *= 1099511628211ULL;
        }
        for (std::size_t i = 0; i < 8; ++i) out[half * 8 + i] = static_cast<std::uint8_t>(h >> (56 - 8 * i));
    }
    return out;
}

}  // namespace

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

// ---- Tags ----

bool ReaderModel::matches_select(const Tag& tag, const std::vector<std::uint8_t>& sel) const {
    // [length, bank, byte offset, mask length, mask...]; shorter means "every tag".
    if (sel.size() < 4 || sel[3] == 0) return true;
    if (sel[1] >= kBanks) return false;
    const auto& words = tag.banks[sel[1]];
    const std::size_t off = sel[2];
    const std::size_t len = sel[3];
    if ((off + len) > words.size() * 2) return false;
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint16_t w = words[(off + i) / 2];
        const auto b = static_cast<std::uint8_t>((off + i) % 2 == 0 ? w >> 8 : w);
        if (b != sel[4 + i]) return false;
    }
    return true;
}

std::optional<std::size_t> ReaderModel::target(Family fam) {
    FamilyState& st = families_[static_cast<std::size_t>(fam)];
    if (st.woken && !tags_[*st.woken].killed) return st.woken;
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        const Tag& t = tags_[i];
        if (t.family == fam && !t.killed && matches_select(t, st.select)) return i;
    }
    return std::nullopt;
}

bool ReaderModel::secured(Family fam, std::size_t tag) {
    const FamilyState& st = families_[static_cast<std::size_t>(fam)];
    return tags_[tag].access_password() == 0 || st.secured == tag;
}

std::uint8_t ReaderModel::inventory(Family fam) {
    FamilyState& st = families_[static_cast<std::size_t>(fam)];
    st.list.clear();
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        const Tag& t = tags_[i];
        if (t.family != fam || t.killed || !matches_select(t, st.select)) continue;
        const int jitter = static_cast<int>(rng_() % 7) - 3;
        st.list.push_back({i, t.rssi + jitter, static_cast<std::uint8_t>(1 + rng_() % 4)});
    }
    temperature_ = std::clamp(temperature_ + static_cast<int>(rng_() % 3) - 1, 28, 45);
    return st.list.empty() ? status::no_tag : status::ok;
}

// Total-length form: [t hi, t lo, in list hi, in list lo, here, entries...], each entry
// [n, id..., rssi, antenna, reads] with n counting the bytes after itself.
std::vector<std::uint8_t> ReaderModel::tag_list(Family fam, std::size_t first, std::size_t max) const {
    const FamilyState& st = families_[static_cast<std::size_t>(fam)];
    std::vector<std::uint8_t> out(5, 0);
    std::size_t here = 0;
    for (std::size_t i = first; i < st.list.size(); ++i) {
        if (max != 0 && here == max) break;
        const auto& e = st.list[i];
        const std::vector<std::uint8_t> id = tags_[e.tag].id();
        if (out.size() + id.size() + 4 > kReplyCapacity || here == 255) break;
        out.push_back(static_cast<std::uint8_t>(id.size() + 3));
        out.insert(out.end(), id.begin(), id.end());
        out.push_back(static_cast<std::uint8_t>(e.rssi));
        out.push_back(tags_[e.tag].antenna);
        out.push_back(e.reads);
        ++here;
    }
    out[0] = static_cast<std::uint8_t>(out.size() >> 8);
    out[1] = static_cast<std::uint8_t>(out.size());
    out[2] = static_cast<std::uint8_t>(st.list.size() >> 8);
    out[3] = static_cast<std::uint8_t>(st.list.size());
    out[4] = static_cast<std::uint8_t>(here);
    return out;
}

std::uint8_t ReaderModel::read_words(Family fam, const MemOp& m, std::vector<std::uint8_t>& out) {
    const auto t = target(fam);
    if (!t) return status::no_tag;
    const Tag& tag = tags_[*t];
    const auto& words = tag.banks[static_cast<std::size_t>(m.bank)];
    if (m.pointer > words.size()) return status::out_of_range;
    // A count of 0 reads to the end of the bank.
    const std::size_t count = m.count == 0 ? std::min(words.size() - m.pointer, kMaxReadWords) : m.count;
    if (count > kMaxReadWords || m.pointer + count > words.size()) return status::out_of_range;
    if (m.bank == Bank::reserved && tag.locks[0] != LockState::open && !secured(fam, *t))
        return status::locked;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<std::uint8_t>(words[m.pointer + i] >> 8));
        out.push_back(static_cast<std::uint8_t>(words[m.pointer + i]));
    }
    return status::ok;
}

std::uint8_t ReaderModel::write_words(Family fam, const MemOp& m, const std::uint8_t* data) {
    const auto t = target(fam);
    if (!t) return status::no_tag;
    Tag& tag = tags_[*t];
    auto& words = tag.banks[static_cast<std::size_t>(m.bank)];
    if (m.pointer + m.count > words.size()) return status::out_of_range;
    const LockState lock = tag.locks[static_cast<std::size_t>(m.bank)];
    if (lock == LockState::permalocked || (lock == LockState::locked && !secured(fam, *t)))
        return status::locked;
    for (std::size_t i = 0; i < m.count; ++i)
        words[m.pointer + i] = static_cast<std::uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
    return status::ok;
}

std::uint8_t ReaderModel::erase_words(Family fam, const MemOp& m) {
    std::vector<std::uint8_t> zeros(m.count * 2, 0);
    return write_words(fam, m, zeros.data());
}

std::uint8_t ReaderModel::lock_bank(Family fam, std::uint8_t bank, std::uint8_t mode) {
    if (bank >= kBanks || mode > 2) return status::bad_request;
    const auto t = target(fam);
    if (!t) return status::no_tag;
    Tag& tag = tags_[*t];
    if (!secured(fam, *t)) return status::not_authenticated;
    if (tag.locks[bank] == LockState::permalocked) return status::locked;
    tag.locks[bank] = static_cast<LockState>(mode);
    return status::ok;
}

std::uint8_t ReaderModel::kill(Family fam, const std::uint8_t* password) {
    const auto t = target(fam);
    if (!t) return status::no_tag;
    Tag& tag = tags_[*t];
    std::uint32_t pw = be32(password);
    // An all-zero block asks the reader to use the kill password it was given.
    if (pw == 0) pw = be32(families_[static_cast<std::size_t>(fam)].kill_password.data());
    // A tag whose kill password is zero cannot be killed.
    if (tag.kill_password() == 0 || pw != tag.kill_password()) return status::wrong_password;
    tag.killed = true;
    FamilyState& st = families_[static_cast<std::size_t>(fam)];
    if (st.woken == *t) st.woken.reset();
    if (st.secured == *t) st.secured.reset();
    return status::ok;
}

std::uint8_t ReaderModel::edit_password(Family fam, std::uint8_t which, const std::uint8_t* old_pw,
                                        const std::uint8_t* new_pw) {
    if (which > 1) return status::bad_request;
    const auto t = target(fam);
    if (!t) return status::no_tag;
    Tag& tag = tags_[*t];
    const std::uint32_t current = which == 0 ? tag.access_password() : tag.kill_password();
    if (be32(old_pw) != current) return status::wrong_password;
    if (tag.locks[0] == LockState::permalocked) return status::locked;
    const std::size_t w = which == 0 ? 2 : 0;
    tag.banks[0][w] = static_cast<std::uint16_t>(be16(new_pw));
    tag.banks[0][w + 1] = static_cast<std::uint16_t>(be16(new_pw + 2));
    return status::ok;
}

Reply ReaderModel::tag_command(const Request& req, Family fam, std::uint8_t opcode) {
    const auto& d = req.data;
    FamilyState& st = families_[static_cast<std::size_t>(fam)];
    const bool epc = fam == Family::epc;
    auto reply = [&](std::uint8_t s, std::vector<std::uint8_t> data = {}) {
        return make(req, addr_, s, std::move(data));
    };
    auto echo = [&](std::uint8_t s) { return reply(s, {s}); };
    auto bad_echo = [&] { return echo(status::bad_request); };

    if (opcode == 0xFF) {  // custom command: [bits hi, bits lo, 3 header bytes, bits...]
        if (d.size() < 5) return reply(status::bad_request, {0});
        const std::size_t bits = be16(d.data());
        if (d.size() != 5 + (bits + 7) / 8) return reply(status::bad_request, {0});
        if (!target(fam)) return reply(status::no_tag, {0});
        return reply(status::ok, counted(std::vector<std::uint8_t>(d.begin() + 5, d.end())));
    }

    switch (opcode) {
        case op::read_select:
            if (!d.empty()) return reply(status::bad_request, {1});
            return reply(status::ok, st.select);
        case op::write_select:
            // [length, bank, byte offset, mask length, mask...], or just [1] for "every tag".
            if (d.empty() || d[0] != d.size()) return reply(status::bad_request);
            if (d.size() >= 4 && (d[1] >= kBanks || d.size() != 4u + d[3])) return reply(status::bad_request);
            if (d.size() > 1 && d.size() < 4) return reply(status::bad_request);
            st.select = d;
            st.woken.reset();
            st.secured.reset();
            return reply(status::ok);
        case op::query: {
            if (!d.empty()) return reply(status::bad_request);
            const std::uint8_t s = inventory(fam);
            const std::size_t n = st.list.size();
            return reply(s, {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        }
        case op::tag_list:
            if (d.size() != 2) return reply(status::bad_request, {0, 2});
            return reply(status::ok, tag_list(fam, d[0], d[1]));
        case op::set_pwd: {
            const std::size_t pw = epc ? 1 : fam == Family::gb ? 2 : 1;
            const std::size_t len = epc ? 9 : fam == Family::gb ? 10 : 17;
            if (d.size() != len) return reply(status::bad_request);
            std::copy_n(d.begin() + static_cast<long>(pw), 4, st.access_password.begin());
            std::copy_n(d.begin() + static_cast<long>(pw) + 4, 4, st.kill_password.begin());
            return reply(status::ok);
        }
        case op::wake: {
            // [bank, byte offset, 0, bit count, mask...]: singles out the first tag that matches.
            if (d.size() < 4 || d.size() != 4u + (d[3] + 7u) / 8 || d[0] >= kBanks)
                return reply(status::bad_request, {0});
            for (std::size_t i = 0; i < tags_.size(); ++i) {
                const Tag& t = tags_[i];
                if (t.family != fam || t.killed) continue;
                const auto& words = t.banks[d[0]];
                bool match = true;
                for (std::size_t bit = 0; bit < d[3] && match; ++bit) {
                    const std::size_t byte = d[1] + bit / 8;
                    if (byte >= words.size() * 2) {
                        match = false;
                        break;
                    }
                    const auto have = static_cast<std::uint8_t>(byte % 2 == 0 ? words[byte / 2] >> 8 : words[byte / 2]);
                    const int mask_bit = 7 - static_cast<int>(bit % 8);
                    match = ((have >> mask_bit) & 1) == ((d[4 + bit / 8] >> mask_bit) & 1);
                }
                if (!match) continue;
                st.woken = i;
                if (st.secured != i) st.secured.reset();
                return reply(status::ok, counted(t.id()));
            }
            return reply(status::no_tag, {0});
        }
        case op::access: {
            const std::size_t len = epc ? 0 : fam == Family::gb ? 2 : 1;
            if (d.size() != len) return reply(status::bad_request);
            const auto t = target(fam);
            if (!t) return reply(status::no_tag);
            if (tags_[*t].access_password() != be32(st.access_password.data()))
                return reply(status::wrong_password);
            st.secured = *t;
            return reply(status::ok);
        }
        case op::read: {
            MemOp m{};
            if (epc) {
                if (d.size() != 4 || d[0] >= kBanks) return reply(status::bad_request, {0});
                m = {static_cast<Bank>(d[0]), d[1], d[2]};
            } else {
                if (d.size() != 5 || d[0] >= kBanks) return reply(status::bad_request, {0});
                m = {static_cast<Bank>(d[0]), be16(&d[1]), d[3]};
            }
            std::vector<std::uint8_t> words;
            const std::uint8_t s = read_words(fam, m, words);
            return reply(s, counted(words));
        }
        case op::write:
        case op::write_block: {
            MemOp m{};
            std::size_t header = 0;
            if (epc) {  // [bank, pointer, 0, words, data...]
                header = 4;
                if (d.size() < header) return bad_echo();
                m = {static_cast<Bank>(d[0]), d[1], d[3]};
            } else if (opcode == op::write) {  // [bank, pointer hi, lo, words hi, lo, data...]
                header = 5;
                if (d.size() < header) return bad_echo();
                m = {static_cast<Bank>(d[0]), be16(&d[1]), be16(&d[3])};
            } else {  // [bank, pointer, words, data...]
                header = 3;
                if (d.size() < header) return bad_echo();
                m = {static_cast<Bank>(d[0]), d[1], d[2]};
            }
            if (d[0] >= kBanks || d.size() != header + 2 * m.count) return bad_echo();
            return echo(write_words(fam, m, d.data() + header));
        }
        case op::erase: {
            MemOp m{};
            if (epc) {  // [bank, pointer, words, 0]
                if (d.size() != 4 || d[0] >= kBanks) return bad_echo();
                m = {static_cast<Bank>(d[0]), d[1], d[2]};
            } else {  // [bank, pointer hi, lo, words hi, lo]
                if (d.size() != 5 || d[0] >= kBanks) return bad_echo();
                m = {static_cast<Bank>(d[0]), be16(&d[1]), be16(&d[3])};
            }
            return echo(erase_words(fam, m));
        }
        case op::kill:
            if (d.size() != 4) return bad_echo();
            return echo(kill(fam, d.data()));
        case op::lock:  // EPC [bank, mode, 0, 0, 0]; GB and GJB [bank, mode, 0]
            if (d.size() != (epc ? 5u : 3u)) return bad_echo();
            return echo(lock_bank(fam, d[0], d[1]));
        case op::halt:
            if (!d.empty()) return reply(status::bad_request);
            st.woken.reset();
            st.secured.reset();
            st.list.clear();
            return reply(status::ok);
        case op::edit_pwd:
            if (epc) {  // [old 4, new 4]; the access password; nothing echoed
                if (d.size() != 8) return reply(status::bad_request);
                return reply(edit_password(fam, 0, d.data(), d.data() + 4));
            }
            // [which, old 4, new 4], GJB padded to 16
            if (d.size() != (fam == Family::gb ? 9u : 16u)) return bad_echo();
            return echo(edit_password(fam, d[0], d.data() + 1, d.data() + 5));
        case op::get_sec:
            if (!d.empty()) return reply(status::bad_request, {0});
            return reply(status::ok, counted(std::vector<std::uint8_t>(st.security.begin(), st.security.end())));
        case op::set_sec:
            if (d.size() != 6) return bad_echo();
            std::copy(d.begin(), d.end(), st.security.begin());
            return echo(status::ok);
        case op::set_auth:
            if (d.size() != 16) return bad_echo();
            std::copy(d.begin(), d.end(), st.auth_password.begin());
            st.auth_set = true;
            return echo(status::ok);
        default:
            if (opcode >= op::first_auth_step && opcode <= op::last_auth_step) {
                if (!d.empty()) return reply(status::bad_request);
                if (!st.auth_set) return reply(status::not_authenticated);
                return reply(target(fam) ? status::ok : status::no_tag);
            }
            return reply(status::unknown_command);
    }
}

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
