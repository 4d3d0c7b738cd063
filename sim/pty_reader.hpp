// A reader on the far side of a pseudo-terminal.
//
// The host opens path() like any serial node. A serving thread decodes the host's requests and
// answers each with an Action: the next scripted one if any, otherwise the handler's.
//
//   uhfsim::PtyReader reader;
//   reader.script(uhfsim::Action::reply(5, 0, 0).delayed(300));
//   RS232_InitPort_Path(reader.path().c_str(), 9600);
//   ...
//   reader.wait_for_requests(1, 2s);
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/scripted_reader.hpp"

namespace uhfsim {

class PtyReader : public detail::StreamReader {
public:
    // Opens the pseudo-terminal and starts serving. Throws std::system_error on failure.
    PtyReader();
    ~PtyReader() override;
    PtyReader(const PtyReader&) = delete;
    PtyReader& operator=(const PtyReader&) = delete;

    // The slave node for the host to open.
    const std::string& path() const { return path_; }

    // Stops serving; the pseudo-terminal stays open until destruction. Idempotent.
    void stop();

    // The device vanishes, as an unplugged USB-serial adapter does: the master side and the
    // slave this reader holds are closed, so a host holding the node open sees a hang-up (poll
    // gives POLLHUP, read gives end of file or EIO, write EIO). Nothing is answered after it,
    // and the node cannot be opened again. Idempotent.
    void hang_up();

private:
    int connection() const override { return master_; }
    void on_hangup() override;

    int master_ = -1;
    int slave_ = -1;  // held until hang_up() so the master never sees a hang-up
    std::string path_;
};

}  // namespace uhfsim
