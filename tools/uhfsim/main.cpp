// uhfsim: a virtual reader on a pseudo-terminal or a TCP port, answering with the stateful
// reader model until SIGINT, SIGTERM or SIGHUP.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "control_channel.hpp"
#include "handler.hpp"
#include "options.hpp"
#include "sim/control.hpp"
#include "sim/model.hpp"
#include "sim/pty_reader.hpp"
#include "sim/tcp_reader.hpp"
#include "uhfctl/text.hpp"

namespace {

using namespace uhfsim_tool;

// The reader, over whichever line it serves.
class Served {
public:
    virtual ~Served() = default;
    virtual std::string where() const = 0;        // printed on stdout
    virtual std::string link_target() const = 0;  // what --link points at
    virtual std::vector<std::string> malformed() const = 0;
    virtual std::size_t logged() const = 0;
    virtual void clear_log() = 0;
    virtual void stop() = 0;
    virtual std::string news() { return {}; }  // for the trace: clients come and go
};

template <class Reader>
class ServedBy : public Served {
public:
    template <class... Args>
    ServedBy(const Options& opt, uhfsim::Responder::Handler handler, Args&&... args)
        : reader_(std::forward<Args>(args)...) {
        reader_.set_baud(opt.baud);
        reader_.set_handler(std::move(handler));
    }
    std::vector<std::string> malformed() const override { return reader_.malformed(); }
    std::size_t logged() const override { return reader_.requests().size(); }
    void clear_log() override { reader_.clear_log(); }
    void stop() override { reader_.stop(); }

protected:
    Reader reader_;
};

class ServedPty : public ServedBy<uhfsim::PtyReader> {
public:
    using ServedBy::ServedBy;
    std::string where() const override { return reader_.path(); }
    std::string link_target() const override { return reader_.path(); }
};

class ServedTcp : public ServedBy<uhfsim::TcpReader> {
public:
    using ServedBy::ServedBy;
    std::string where() const override { return reader_.address(); }
    // The device string a host opens it by.
    std::string link_target() const override { return "tcp:" + reader_.address(); }
    std::string news() override {
        const std::size_t n = reader_.connections();
        const bool on = reader_.connected();
        const std::size_t refused = reader_.refused();
        std::string out;
        if (n != seen_) out = "client " + std::to_string(n) + " connected" + (on ? "" : ", and gone");
        else if (on != was_on_ && !on) out = "client " + std::to_string(n) + " gone";
        if (refused != refused_) out += std::string(out.empty() ? "" : "; ") + "turned away a second client";
        seen_ = n;
        was_on_ = on;
        refused_ = refused;
        return out;
    }

private:
    std::size_t seen_ = 0;
    bool was_on_ = false;
    std::size_t refused_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const Options opt = parse(argc, argv);

    // Blocked before any thread starts, so only sigtimedwait() below ever takes them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    // A control client or a stdout reader gone away is not a reason to stop serving.
    ::signal(SIGPIPE, SIG_IGN);

    uhfsim::ReaderModel model(opt.model);

    std::unique_ptr<Served> served;
    try {
        if (opt.tcp) served = std::make_unique<ServedTcp>(opt, make_handler(model, opt), opt.tcp->port, opt.tcp->host);
        else served = std::make_unique<ServedPty>(opt, make_handler(model, opt));
    } catch (const std::exception& e) {
        if (opt.tcp)
            std::fprintf(stderr, "uhfsim: cannot listen on %s:%u: %s\n", opt.tcp->host.c_str(), opt.tcp->port, e.what());
        else
            std::fprintf(stderr, "uhfsim: cannot open a pseudo-terminal: %s\n", e.what());
        return 1;
    }

    bool linked = false;
    if (!opt.link.empty()) {
        struct stat st{};
        if (::lstat(opt.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(opt.link.c_str());
        if (::symlink(served->link_target().c_str(), opt.link.c_str()) != 0) {
            std::fprintf(stderr, "uhfsim: cannot make the link %s: %s\n", opt.link.c_str(), std::strerror(errno));
            return 1;
        }
        linked = true;
    }

    std::printf("%s\n", served->where().c_str());
    std::fflush(stdout);
    if (opt.trace)
        log_line("serving address " + uhfctl::hex(std::span(&opt.model.addr, 1)) + " with " +
                 std::to_string(model.list_tags().size()) + " tags on " + served->where());

    // After the node is printed, so a reader of stdout finds it on the first line.
    std::vector<std::unique_ptr<ControlChannel>> controls;
    for (const std::string& where : opt.controls) {
        try {
            controls.push_back(std::make_unique<ControlChannel>(where, [&model, &opt](std::string_view line) {
                std::string answer = uhfsim::run_control_line(model, line);
                if (opt.trace) log_line("control: " + std::string(line) + " -> " + answer.substr(0, answer.find('\n')));
                return answer;
            }));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "uhfsim: %s\n", e.what());
            controls.clear();
            served->stop();
            if (linked) ::unlink(opt.link.c_str());
            return 1;
        }
    }

    std::size_t malformed_seen = 0;
    int signo = 0;
    while (signo <= 0) {
        const timespec tick{0, 200'000'000};
        signo = sigtimedwait(&stop_signals, nullptr, &tick);
        const auto bad = served->malformed();
        for (std::size_t i = malformed_seen; i < bad.size(); ++i) log_line("skipped a malformed frame: " + bad[i]);
        malformed_seen = bad.size();
        if (opt.trace) {
            if (const std::string news = served->news(); !news.empty()) log_line(news);
        }
        // The request log is for tests; a long-running reader must not grow without end.
        if (served->logged() > 1000) {
            served->clear_log();
            malformed_seen = 0;
        }
    }
    controls.clear();
    served->stop();
    if (linked) ::unlink(opt.link.c_str());
    if (opt.trace) log_line(std::string("stopped by ") + strsignal(signo));
    return 0;
}
