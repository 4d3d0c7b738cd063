// The engine's tag-memory operations on the reader: one job between rounds per tag, which
// singles the tag out by its EPC (the reader's wake), proves the access password where one is
// given, then runs the C1G2 reads and writes in order through the reader's own commands.
//
// The request and reply blocks are the reader's own, so where their fields sit is data
// (MemoryLayout), like the tag-list layouts; the virtual reader's is built in
// (docs/simulator.md, EPC column):
//   wake   [1, byte offset, 0, bit count, EPC...]        reply counted [n, id...]
//   read   [bank, word pointer, word count, 0]            reply counted [2 x count, words...]
//   write  [bank, word pointer, 0, word count, words...]  (block write the same)
//   set passwords [0, access 4, kill 4], then access
// and the status bytes: 0x02 no tag answers, 0x03 past the bank's end, 0x04 locked, 0x05 wrong
// password.
#pragma once

#include <cstdint>
#include <memory>

#include "llrp/ro_engine.hpp"
#include "reader_worker.hpp"

namespace uhfd {

struct MemoryLayout {
    // Where the EPC starts in bank 1: the virtual reader keeps the ID from its first word; a
    // reader that exposes a Gen2 tag's CRC and PC words first needs 4.
    int wake_epc_byte_offset = 0;
    int max_words = 120;           // words one read or write carries
    std::uint8_t no_tag = 0x02, overrun = 0x03, locked = 0x04, wrong_password = 0x05;
};
const MemoryLayout& virtual_memory_layout();

class LlrpAccess : public uhf::llrp::AccessPort {
public:
    LlrpAccess(std::shared_ptr<ReaderWorker> worker, MemoryLayout layout = virtual_memory_layout())
        : worker_(std::move(worker)), layout_(layout) {}
    void access(const uhf::llrp::AccessRequest& request,
                std::function<void(std::vector<uhf::llrp::AccessResult>)> done) override;

    // The operations on a linked reader (the job's body, for the tests).
    static std::vector<uhf::llrp::AccessResult> run(uhf_link* link, int addr, const MemoryLayout& layout,
                                                    const uhf::llrp::AccessRequest& request);

private:
    std::shared_ptr<ReaderWorker> worker_;
    MemoryLayout layout_;
};

}  // namespace uhfd
