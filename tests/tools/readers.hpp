// Readers a test starts for uhfctl to talk to: the reader model behind a pseudo-terminal or a
// TCP port, recording every byte it sends, so a test can hold uhfctl's trace against the wire.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "process.hpp"
#include "sim/model.hpp"
#include "sim/pty_reader.hpp"
#include "sim/tcp_reader.hpp"

namespace tooltest {

// The model's answers, with what went on the wire kept in order.
class RecordingModel {
public:
    explicit RecordingModel(uhfsim::ModelOptions o = {}) : model_(o), inner_(model_.handler()) {}
    uhfsim::Action operator()(const uhfsim::Request& r) {
        uhfsim::Action a = inner_(r);
        std::lock_guard lock(mu_);
        const auto b = a.bytes();
        wire_.insert(wire_.end(), b.begin(), b.end());
        return a;
    }
    std::vector<std::uint8_t> wire() const {
        std::lock_guard lock(mu_);
        return wire_;
    }

private:
    uhfsim::ReaderModel model_;
    std::function<uhfsim::Action(const uhfsim::Request&)> inner_;
    mutable std::mutex mu_;
    std::vector<std::uint8_t> wire_;
};

// A reader on a pseudo-terminal (Endpoint = PtyReader) or a loopback TCP port (TcpReader).
template <class Endpoint>
struct ModelReader {
    explicit ModelReader(uhfsim::ModelOptions o = {}) : model(o) {
        endpoint.set_handler([this](const uhfsim::Request& r) { return model(r); });
    }
    std::string device() const {
        if constexpr (std::is_same_v<Endpoint, uhfsim::TcpReader>) return "tcp:" + endpoint.address();
        else return endpoint.path();
    }
    RecordingModel model;  // outlives the endpoint's serving thread
    Endpoint endpoint;
};

inline std::vector<std::string> ctl(std::vector<std::string> args) {
    args.insert(args.begin(), UHFCTL_PATH);
    return args;
}

// "10 01 05" or "100105" as bytes.
inline std::vector<std::uint8_t> bytes_of(const std::string& hex) {
    std::vector<std::uint8_t> out;
    std::string digits;
    for (char c : hex)
        if (c != ' ') digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// uhfctl's trace lines ("trace +T DEVICE > HEX"): the frames sent and the bytes received.
struct Traced {
    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<std::uint8_t> received;  // in order, as one stream
    std::size_t lines = 0;
};

inline Traced traced(const std::string& err) {
    Traced t;
    for (const std::string& l : lines(err)) {
        if (l.rfind("trace +", 0) != 0) continue;
        ++t.lines;
        // trace, +T, DEVICE, direction, bytes...
        std::size_t at = 0;
        for (int field = 0; field < 3; ++field) at = l.find(' ', at) + 1;
        const char dir = l[at];
        const auto bytes = bytes_of(l.substr(at + 2));
        if (dir == '>') t.sent.push_back(bytes);
        else if (dir == '<') t.received.insert(t.received.end(), bytes.begin(), bytes.end());
    }
    return t;
}

}  // namespace tooltest
