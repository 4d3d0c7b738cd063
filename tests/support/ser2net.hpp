// Debian's ser2net, started by a test on a free loopback port with a scratch configuration,
// forwarding TCP to a serial node (a simulated reader's pseudo-terminal); stopped with the
// object, also when the test fails.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "ports.hpp"

namespace uhftest {

class Ser2net {
public:
    // `program` is ser2net's path; an empty one or a failed start leaves running() false.
    Ser2net(const std::string &program, const std::string &node, int port = 0) : port_(port ? port : free_loopback_port()) {
        char tmpl[] = "/tmp/uhf-ser2net-XXXXXX";
        dir_ = mkdtemp(tmpl);
        if (program.empty()) return;
        const std::string config = dir_ + "/ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\n"
                              << "connection: &reader\n"
                              << "  accepter: tcp,127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << node << ",115200n81,local\n"
                              << "  options:\n"
                              << "    kickolduser: true\n"
                              << "    mdns: false\n";
        pid_ = fork();
        if (pid_ == 0) {
            const int log = open((dir_ + "/log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(log, 1);
            dup2(log, 2);
            execl(program.c_str(), program.c_str(), "-n", "-d", "-c", config.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!accepts_connections(port_) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        running_ = accepts_connections(port_);
        // The probing connections made ser2net open and close the node; let it settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Ser2net() {
        stop();
        const std::string cmd = "rm -rf '" + dir_ + "'";
        if (std::system(cmd.c_str()) != 0) { /* a scratch directory left in /tmp */ }
    }
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        running_ = false;
    }
    bool running() const { return running_; }
    int port() const { return port_; }
    std::string device() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

private:
    int port_;
    std::string dir_;
    pid_t pid_ = -1;
    bool running_ = false;
};

}  // namespace uhftest
