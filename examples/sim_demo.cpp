// Links to a reader and runs one raw exchange: the reader on the node named as the first
// argument, or a virtual reader on a pseudo-terminal when none is named.
#include <cstdio>
#include <cstring>
#include <memory>

#include "sim/pty_reader.hpp"
#include "uhfreader.h"

int main(int argc, char **argv) {
    std::unique_ptr<uhfsim::PtyReader> sim;
    const char *node = argc > 1 ? argv[1] : nullptr;
    if (node == nullptr) {
        sim = std::make_unique<uhfsim::PtyReader>();
        sim->set_handler([](const uhfsim::Request &r) {
            std::vector<std::uint8_t> info(22);
            for (std::size_t i = 0; i < info.size(); ++i) info[i] = static_cast<std::uint8_t>(i);
            return uhfsim::Action::reply(r.addr, r.cmd, 0, r.cmd == 0x05 ? info : std::vector<std::uint8_t>{});
        });
        node = sim->path().c_str();
        std::printf("virtual reader on %s\n", node);
    }
    int rc = LinkCom_Path(0x01, node, 115200);
    if (rc != 0) {
        std::fprintf(stderr, "no reader answers on %s (exchange %d, detail %d)\n", node, rc, IcRetCode);
        return 3;
    }
    std::printf("linked at %d baud\n", IcBaudRate);
    pc_id = 0x01;
    IcCmd = 0x05;
    BlkALength = 0;
    rc = PcSendOrder();
    std::printf("exchange %d, detail %d, status %d, %u reply bytes:", rc, IcRetCode, ErrorCode,
                static_cast<unsigned>(BlkBLength));
    for (std::uint32_t i = 0; i < BlkBLength; ++i) std::printf(" %02X", BlkBAdrBeg[i]);
    std::printf("\n");
    UnLinkCom();
    return rc == 0 ? 0 : 3;
}
