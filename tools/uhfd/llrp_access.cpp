#include "llrp_access.hpp"

#include <algorithm>
#include <array>

#include "log.hpp"
#include "uhfreader.h"

namespace uhfd {

using uhf::llrp::AccessOp;
using uhf::llrp::AccessRequest;
using uhf::llrp::AccessResult;
using Outcome = AccessResult::Outcome;

const MemoryLayout& virtual_memory_layout() {
    static const MemoryLayout layout;
    return layout;
}

namespace {

// Exchange codes are 225 and up (include/uhfreader.h) or negative; below that, a command
// returns the reader's status byte, or 0 with the status byte left on the link.
Outcome outcome(int rc, uhf_link* link, const MemoryLayout& l) {
    if (rc < 0 || rc >= 225) return Outcome::reader_error;
    const int status = rc != 0 ? rc : uhf_status(link);
    if (status == 0) return Outcome::success;
    if (status == l.no_tag) return Outcome::no_response;
    if (status == l.overrun) return Outcome::memory_overrun;
    if (status == l.locked || status == l.wrong_password) return Outcome::memory_locked;
    return Outcome::tag_error;
}

AccessResult one(uhf_link* link, int addr, const MemoryLayout& l, const AccessOp& op) {
    AccessResult r;
    const auto bank = static_cast<std::uint8_t>(op.bank);
    if (op.word_pointer > 0xFF || op.word_count > l.max_words || op.data.size() > static_cast<std::size_t>(l.max_words)) {
        r.outcome = Outcome::memory_overrun;  // past what one of the reader's requests can say
        return r;
    }
    const auto ptr = static_cast<std::uint8_t>(op.word_pointer);
    if (op.kind == AccessOp::Kind::read) {
        std::array<std::uint8_t, 4> req{bank, ptr, static_cast<std::uint8_t>(op.word_count), 0};
        std::array<std::uint8_t, 256> reply{};
        const int rc = uhf_EPC_Read_TAG(link, addr, req.data(), reply.data());
        r.outcome = outcome(rc, link, l);
        if (r.outcome == Outcome::success)
            for (int i = 0, n = reply[0]; i + 1 < n; i += 2)
                r.words.push_back(static_cast<std::uint16_t>(reply[1 + i] << 8 | reply[2 + i]));
        return r;
    }
    std::vector<std::uint8_t> block{bank, ptr, 0, static_cast<std::uint8_t>(op.data.size())};
    for (std::uint16_t w : op.data) {
        block.push_back(static_cast<std::uint8_t>(w >> 8));
        block.push_back(static_cast<std::uint8_t>(w));
    }
    const int rc = op.kind == AccessOp::Kind::block_write ? uhf_EPC_Write_Block_TAG(link, addr, block.data())
                                                          : uhf_EPC_Write_TAG(link, addr, block.data());
    r.outcome = outcome(rc, link, l);
    if (r.outcome == Outcome::success) r.words_written = static_cast<std::uint16_t>(op.data.size());
    return r;
}

}  // namespace

std::vector<AccessResult> LlrpAccess::run(uhf_link* link, int addr, const MemoryLayout& l, const AccessRequest& request) {
    std::vector<AccessResult> results;
    auto fail = [&](Outcome o) {
        AccessResult r;
        r.outcome = o;
        results.push_back(r);
        return results;
    };
    if (request.family != uhf::llrp::TagFamily::epc) return fail(Outcome::reader_error);
    // Single the tag out by its EPC, as far as one wake's mask reaches.
    const std::size_t bytes = std::min<std::size_t>(request.tag.size(), 31);
    std::vector<std::uint8_t> wake{1, static_cast<std::uint8_t>(l.wake_epc_byte_offset), 0, static_cast<std::uint8_t>(bytes * 8)};
    wake.insert(wake.end(), request.tag.begin(), request.tag.begin() + static_cast<std::ptrdiff_t>(bytes));
    std::array<std::uint8_t, 256> reply{};
    int rc = uhf_EPC_Wake_TAG(link, addr, wake.data(), reply.data());
    if (Outcome o = outcome(rc, link, l); o != Outcome::success) return fail(o);
    for (const AccessOp& op : request.ops) {
        if (op.password != 0) {
            std::array<std::uint8_t, 4> access{static_cast<std::uint8_t>(op.password >> 24), static_cast<std::uint8_t>(op.password >> 16),
                                               static_cast<std::uint8_t>(op.password >> 8), static_cast<std::uint8_t>(op.password)};
            std::array<std::uint8_t, 4> kill{};
            rc = uhf_EPC_Set_Pwd(link, addr, 0, access.data(), kill.data());
            if (rc == 0) rc = uhf_EPC_Access_Proc(link, addr);
            if (Outcome o = outcome(rc, link, l); o != Outcome::success)
                return fail(o);
        }
        results.push_back(one(link, addr, l, op));
        if (results.back().outcome != Outcome::success) break;
    }
    return results;
}

void LlrpAccess::access(const AccessRequest& request, std::function<void(std::vector<AccessResult>)> done) {
    auto shared_done = std::make_shared<std::function<void(std::vector<AccessResult>)>>(std::move(done));
    const MemoryLayout layout = layout_;
    worker_->submit_task(
        [request, layout, shared_done](uhf_link* link, int addr) { (*shared_done)(run(link, addr, layout, request)); },
        [shared_done, id = request.access_id](const std::string& why) {
            log::debug("LLRP AccessSpec " + std::to_string(id) + " not run: " + why);
            AccessResult r;
            r.outcome = Outcome::reader_error;
            (*shared_done)({r});
        });
}

}  // namespace uhfd
