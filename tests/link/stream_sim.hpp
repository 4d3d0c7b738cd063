// A simulated reader on either byte-stream transport, for the tests that run on both: a
// pseudo-terminal or a loopback TCP port, and the device string that reaches it.
#pragma once

#include <memory>
#include <string>

#include "sim/pty_reader.hpp"
#include "sim/tcp_reader.hpp"

namespace uhftest {

enum class Stream { serial, tcp };

inline const char *stream_name(Stream s) { return s == Stream::serial ? "Serial" : "Tcp"; }

class StreamSim {
public:
    explicit StreamSim(Stream kind) {
        if (kind == Stream::serial) {
            pty_ = std::make_unique<uhfsim::PtyReader>();
            device_ = pty_->path();
        } else {
            tcp_ = std::make_unique<uhfsim::TcpReader>();
            device_ = "tcp:" + tcp_->address();
        }
    }

    const std::string &device() const { return device_; }
    uhfsim::detail::StreamReader &reader() {
        return pty_ ? static_cast<uhfsim::detail::StreamReader &>(*pty_)
                    : static_cast<uhfsim::detail::StreamReader &>(*tcp_);
    }
    // The TCP server, or null on a pseudo-terminal.
    uhfsim::TcpReader *tcp() const { return tcp_.get(); }

private:
    std::unique_ptr<uhfsim::PtyReader> pty_;
    std::unique_ptr<uhfsim::TcpReader> tcp_;
    std::string device_;
};

}  // namespace uhftest
