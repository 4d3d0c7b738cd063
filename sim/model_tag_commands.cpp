// The reader model: inventory, tag memory, locks, kill and passwords for the three families.
#include "sim/model.hpp"

#include <algorithm>
#include <cstring>

#include "sim/model_reply.hpp"

namespace uhfsim {

using namespace model_detail;

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


}  // namespace uhfsim
