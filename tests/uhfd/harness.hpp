// What the gateway tests start for real: a mosquitto broker with its own scratch configuration
// on a free loopback port, mosquitto_sub / mosquitto_pub / mosquitto_rr as independent clients,
// virtual readers and uhfd itself. Every process is killed and reaped by its owner's destructor,
// so a failing test leaves nothing running.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>


namespace gwtest {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A port nothing listens on now: bound once to port 0, then released.
inline int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool port_open(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Polls `done` until it holds or the time is up.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (fs::temp_directory_path() / "uhfd-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        // mosquitto started as root drops to its own user, which must still read its files here.
        ::chmod(tmpl.c_str(), 0755);
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name)) << text;
        return file(name);
    }

private:
    fs::path path_;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A child whose stdout and stderr go to files, so its output can be read at any time.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path)
        : out_(out_path), err_(err_path) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Killed with the test process however it ends (a crash, a sanitizer halting it),
            // so nothing it started outlives it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0]);
    }
    ~Process() { kill(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ < 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return false;
        }
        return true;
    }
    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // Waits for the exit; the exit status, or -1 when still running at the deadline.
    int wait(std::chrono::milliseconds within) {
        if (!eventually([&] { return !running(); }, within)) return -1;
        return exit_;
    }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    std::string out() const { return slurp(out_); }
    std::string err() const { return slurp(err_); }

private:
    pid_t pid_ = -1;
    int exit_ = -1;
    std::string out_, err_;
};

struct BrokerOptions {
    std::string password_file;  // user:hash lines (mosquitto_passwd); empty: anonymous
    std::string ca, cert, key;  // TLS listener when cert is set
    std::string acl_file;       // topic rules; empty: every topic open
};

// A mosquitto broker on a loopback port of its own, persistent across restarts of itself so a
// subscriber's session (and what was queued for it) survives an outage.
class Broker {
public:
    Broker(const ScratchDir& dir, BrokerOptions opt = {}) : dir_(dir), opt_(std::move(opt)), port_(free_port()) {
        fs::create_directories(dir_.path() / "broker");
        ::chmod((dir_.path() / "broker").c_str(), 0777);  // the broker's persistence, as its own user
        std::ostringstream conf;
        conf << "listener " << port_ << " 127.0.0.1\n"
             << "persistence true\npersistence_location " << (dir_.path() / "broker").string() << "/\n"
             << "max_queued_messages 0\nmax_inflight_messages 0\nlog_type error\nlog_type warning\n";
        if (opt_.password_file.empty()) conf << "allow_anonymous true\n";
        else conf << "allow_anonymous false\npassword_file " << opt_.password_file << "\n";
        if (!opt_.acl_file.empty()) conf << "acl_file " << opt_.acl_file << "\n";
        if (!opt_.cert.empty()) conf << "cafile " << opt_.ca << "\ncertfile " << opt_.cert << "\nkeyfile " << opt_.key << "\n";
        conf_ = dir_.write("mosquitto.conf", conf.str());
        start();
    }
    int port() const { return port_; }
    void start() {
        proc_ = std::make_unique<Process>(std::vector<std::string>{"mosquitto", "-c", conf_}, dir_.file("broker.out"),
                                          dir_.file("broker.err"));
        if (!eventually([&] { return port_open(port_); }, 10s)) throw std::runtime_error("mosquitto did not start: " + proc_->err());
    }
    // A clean stop, so the broker saves its sessions.
    void stop() {
        proc_->signal(SIGTERM);
        proc_->wait(5s);
        proc_.reset();
    }

private:
    const ScratchDir& dir_;
    BrokerOptions opt_;
    int port_;
    std::string conf_;
    std::unique_ptr<Process> proc_;
};

struct Message {
    std::string topic;
    nlohmann::json body;  // null when the payload is not JSON
    std::string raw;
};

// mosquitto_sub printing "topic payload" lines. With an id, its session persists at the broker.
class Subscriber {
public:
    Subscriber(const ScratchDir& dir, int port, const std::vector<std::string>& topics, const std::string& id = "",
               std::vector<std::string> extra = {})
        : path_(dir.file("sub-" + std::to_string(counter()++) + ".out")) {
        const std::string probe = "probe/" + std::to_string(::getpid()) + "/" + std::to_string(counter());
        std::vector<std::string> argv{"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-q", "1", "-v",
                                      "-t", probe};
        for (const auto& t : topics) argv.insert(argv.end(), {"-t", t});
        if (!id.empty()) argv.insert(argv.end(), {"-c", "-i", id});
        argv.insert(argv.end(), extra.begin(), extra.end());
        proc_ = std::make_unique<Process>(argv, path_, path_ + ".err");
        // Returns once the subscription is in place: a probe it is subscribed to comes back.
        std::vector<std::string> pub{"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port), "-t", probe, "-m", "{}"};
        pub.insert(pub.end(), extra.begin(), extra.end());
        for (int i = 0; i < 50; ++i) {
            Process(pub, path_ + ".pub", path_ + ".pub.err").wait(5s);
            if (eventually([&] { return !on(probe).empty(); }, 200ms)) break;
        }
    }
    std::vector<Message> messages() const {
        std::vector<Message> out;
        std::istringstream in(slurp(path_));
        std::string line;
        while (std::getline(in, line)) {
            const auto sp = line.find(' ');
            if (sp == std::string::npos) continue;
            Message m{line.substr(0, sp), nlohmann::json::parse(line.substr(sp + 1), nullptr, false), line.substr(sp + 1)};
            if (m.raw == "(null)") m.raw.clear();  // how mosquitto_sub shows an empty payload
            if (m.body.is_discarded()) m.body = nullptr;
            out.push_back(std::move(m));
        }
        return out;
    }
    std::vector<Message> on(const std::string& topic) const {
        std::vector<Message> out;
        for (auto& m : messages())
            if (m.topic == topic) out.push_back(std::move(m));
        return out;
    }
    void stop() { proc_->kill(); }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    std::string path_;
    std::unique_ptr<Process> proc_;
};

// Waits until the subscriber holds a retained or live message on `topic` satisfying `pred`.
inline bool wait_message(const Subscriber& s, const std::string& topic, const std::function<bool(const nlohmann::json&)>& pred,
                         std::chrono::milliseconds within) {
    return eventually(
        [&] {
            for (const auto& m : s.on(topic))
                if (pred(m.body)) return true;
            return false;
        },
        within);
}

}  // namespace gwtest
