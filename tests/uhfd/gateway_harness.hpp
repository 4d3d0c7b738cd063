// uhfd and virtual readers as processes, for the end-to-end tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <vector>

#include "harness.hpp"

namespace gwtest {

// One command line to a virtual reader's control socket; its one-line answer.
// The socket's file appears at bind(), before uhfsim listens: a refused connection is tried
// again for a while.
inline std::string field(const std::string& socket_path, const std::string& line) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket_path.c_str());
    int fd = -1;
    const bool connected = eventually([&] {
        if (fd >= 0) ::close(fd);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }, std::chrono::seconds(5));
    if (!connected) {
        ::close(fd);
        return "error: cannot connect";
    }
    const std::string out = line + "\n";
    [[maybe_unused]] ssize_t w = ::write(fd, out.data(), out.size());
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
    ::close(fd);
    return answer;
}


// uhfsim on a pseudo-terminal reached through a link path that stays the same across restarts,
// or on a loopback TCP port (the same port again after a restart).
class Sim {
public:
    Sim(const ScratchDir& dir, const std::string& name, int tags, std::vector<std::string> extra = {}, bool tcp = false)
        : dir_(dir), name_(name), tags_(tags), extra_(std::move(extra)), tcp_port_(tcp ? free_port() : 0) {
        start();
    }
    std::string device() const {
        return tcp_port_ ? "tcp:127.0.0.1:" + std::to_string(tcp_port_) : dir_.file(name_ + ".pty");
    }
    void start() {
        std::vector<std::string> argv{UHFSIM_PATH, "--tags", std::to_string(tags_), "--seed", std::to_string(seed())};
        if (tcp_port_) argv.insert(argv.end(), {"--tcp", "127.0.0.1:" + std::to_string(tcp_port_)});
        else argv.insert(argv.end(), {"--link", device()});
        argv.insert(argv.end(), extra_.begin(), extra_.end());
        proc_ = std::make_unique<Process>(argv, dir_.file(name_ + ".out"), dir_.file(name_ + ".err"));
        const bool up = eventually([&] { return tcp_port_ ? port_open(tcp_port_) : fs::exists(device()); }, 5s);
        if (!up) throw std::runtime_error("uhfsim did not start: " + proc_->err());
        for (std::size_t i = 0; i + 1 < extra_.size(); ++i)
            if (extra_[i] == "--control" && !eventually([&] { return fs::exists(extra_[i + 1]); }, 5s))
                throw std::runtime_error("uhfsim's control socket did not appear");
    }
    void kill() {
        proc_.reset();
        std::error_code ec;
        fs::remove(device(), ec);
    }
    // SIGSTOP: the reader takes requests (the kernel still accepts them) and never answers.
    void signal(int sig) { proc_->signal(sig); }

private:
    int seed() const { return static_cast<int>(std::hash<std::string>{}(name_) % 1000); }
    const ScratchDir& dir_;
    std::string name_;
    int tags_;
    std::vector<std::string> extra_;
    int tcp_port_;
    std::unique_ptr<Process> proc_;
};

class Uhfd {
public:
    Uhfd(const ScratchDir& dir, const std::string& config) : dir_(dir) {
        path_ = dir_.write("uhfd.toml", config);
        start();
    }
    // Under the sanitizer builds uhfd is instrumented too: a report in its log fails the test.
    ~Uhfd() {
        if (proc_ && proc_->running()) {
            proc_->signal(SIGTERM);
            proc_->wait(5s);
        }
        const std::string l = log();
        for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"})
            if (l.find(report) != std::string::npos) ADD_FAILURE() << "uhfd: " << report << ":\n" << l;
    }
    void start() {
        proc_ = std::make_unique<Process>(std::vector<std::string>{UHFD_PATH, "--config", path_}, dir_.file("uhfd.out"),
                                          dir_.file("uhfd.err." + std::to_string(runs_++)));
    }
    void rewrite(const std::string& config) { dir_.write("uhfd.toml", config); }
    Process& process() { return *proc_; }
    std::string log() const {
        std::string all;
        for (int i = 0; i < runs_; ++i) all += slurp(dir_.file("uhfd.err." + std::to_string(i)));
        return all;
    }
    void kill() { proc_->kill(); }

private:
    const ScratchDir& dir_;
    std::string path_;
    int runs_ = 0;
    std::unique_ptr<Process> proc_;
};

// A gateway configuration for the tests: fast rounds, quick backoff.
struct GatewayConfig {
    std::string id = "gw";
    int broker_port = 0;
    std::string queue_dir;
    int queue_max = 100000;
    std::string broker_extra;     // more [broker] lines
    std::string extra;            // more top-level tables
    struct Reader {
        std::string name, device;
        int round_ms = 50, departure_ms = 600, report_ms = 0;
        std::string families = R"(["epc", "gb", "gjb"])";
    };
    std::vector<Reader> readers;

    std::string text() const {
        std::string t = "[gateway]\nid = \"" + id + "\"\nqueue_dir = \"" + queue_dir + "\"\nqueue_max_events = " +
                        std::to_string(queue_max) + "\nreconnect_min_ms = 50\nreconnect_max_ms = 400\n" +
                        "[broker]\nuri = \"mqtt://127.0.0.1:" + std::to_string(broker_port) + "\"\nkeepalive = 5\n" +
                        broker_extra + extra;
        for (const Reader& r : readers)
            t += "[[readers]]\nname = \"" + r.name + "\"\ndevice = \"" + r.device + "\"\nfamilies = " + r.families +
                 "\nround_interval_ms = " + std::to_string(r.round_ms) + "\ndeparture_timeout_ms = " +
                 std::to_string(r.departure_ms) + "\nreport_interval_ms = " + std::to_string(r.report_ms) + "\n";
        return t;
    }
};

// The events of one reader, each sequence number once (QoS 1 may deliver twice), in arrival order.
inline std::vector<nlohmann::json> events(const Subscriber& s, const std::string& topic) {
    std::vector<nlohmann::json> out;
    std::set<std::uint64_t> seen;
    for (const auto& m : s.on(topic))
        if (m.body.is_object() && seen.insert(m.body.value("seq", std::uint64_t{0})).second) out.push_back(m.body);
    return out;
}

// The newest JSON object on the topic, or an empty object.
inline nlohmann::json latest(const Subscriber& s, const std::string& topic) {
    const auto all = s.on(topic);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->body.is_object()) return it->body;
    return nlohmann::json::object();
}

// What the gateway's queue last saved (its state file, rewritten at most a second after a change),
// or an empty object while there is none: how far each reader's events went while no broker
// could say so.
inline nlohmann::json saved_queue(const std::string& queue_dir) {
    auto j = nlohmann::json::parse(slurp(queue_dir + "/state"), nullptr, false);
    return j.is_object() ? j : nlohmann::json::object();
}

// The last sequence number the queue saved for a reader: how many of its events were queued.
inline std::uint64_t saved_sequence(const std::string& queue_dir, const std::string& reader) {
    const auto j = saved_queue(queue_dir);
    return j.contains("keys") && j["keys"].contains(reader) ? j["keys"][reader].value("seq", std::uint64_t{0}) : 0;
}

inline long counter(const Subscriber& s, const std::string& topic, const std::string& name) {
    const auto j = latest(s, topic);
    return j.contains("counters") ? j["counters"].value(name, 0L) : 0L;
}

}  // namespace gwtest
