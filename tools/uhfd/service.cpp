#include "service.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "config.hpp"
#include "gateway.hpp"
#include "http/console.hpp"
#include "log.hpp"

namespace uhfd {

namespace {


void print_problems(const ConfigError& e) {
    for (const std::string& p : e.problems()) std::fprintf(stderr, "%s\n", p.c_str());
}

// Whether the queue directory can be made and written, as the start will need; what it made
// for the check (directories, a probe file) it takes away again. Empty when it can.
std::string check_queue_dir(const std::string& dir) {
    std::error_code ec;
    std::vector<std::filesystem::path> made;
    std::filesystem::path p = std::filesystem::absolute(dir, ec);
    for (std::filesystem::path up = p; !up.empty() && !std::filesystem::exists(up, ec); up = up.parent_path()) {
        made.push_back(up);
        if (up == up.parent_path()) break;
    }
    std::string why;
    if (!std::filesystem::create_directories(p, ec) && ec) {
        why = "cannot make it: " + ec.message();
    } else if (!std::filesystem::is_directory(p, ec)) {
        why = "is not a directory";
    } else {
        const std::string probe = (p / (".uhfd-check-" + std::to_string(::getpid()))).string();
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, "x", 1) != 1 || ::fdatasync(fd) != 0) why = std::string("cannot write in it: ") + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
        }
    }
    for (const auto& d : made) std::filesystem::remove(d, ec);  // deepest first
    return why;
}

}  // namespace

int check_config(const std::string& path) {
    try {
        const Config c = load_config(path);
        if (const std::string why = check_queue_dir(c.queue_dir); !why.empty()) {
            std::fprintf(stderr, "%s: gateway.queue_dir: '%s' %s\n", path.c_str(), c.queue_dir.c_str(), why.c_str());
            return 2;
        }
        std::printf("%s: ok: gateway %s, %zu reader(s), broker %s\n", path.c_str(), c.gateway_id.c_str(), c.readers.size(),
                    c.broker.uri.c_str());
        return 0;
    } catch (const ConfigError& e) {
        print_problems(e);
        return 2;
    }
}

int run_service(const std::string& path) {
    Config config;
    try {
        config = load_config(path);
    } catch (const ConfigError& e) {
        print_problems(e);
        return 2;
    }
    log::set_level(config.log_level);

    // Signals are taken synchronously on this thread; every thread started later inherits the mask.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<Gateway> gateway;
    try {
        gateway = std::make_unique<Gateway>(config);
        gateway->start();
    } catch (const std::exception& e) {
        log::error(std::string("cannot start: ") + e.what());
        return 1;
    }
    log::info("uhfd " + config.gateway_id + ": " + std::to_string(config.readers.size()) + " reader(s), broker " +
              config.broker.uri + ", queue " + config.queue_dir);
    std::unique_ptr<http::Console> console;
    if (config.http.enabled) {
        try {
            console = std::make_unique<http::Console>(*gateway, config);
        } catch (const std::exception& e) {
            log::error(std::string("cannot start: ") + e.what());
            gateway->stop();
            return 1;
        }
        log::info("console on http://" + config.http.host + ":" + std::to_string(console->port()) + "/");
    }

    for (;;) {
        const timespec second{1, 0};
        siginfo_t info{};
        const int sig = sigtimedwait(&set, &info, &second);
        if (sig == SIGTERM || sig == SIGINT) {
            log::info(std::string("stopping (") + (sig == SIGTERM ? "SIGTERM" : "SIGINT") + ")");
            break;
        }
        if (sig == SIGHUP) {
            try {
                const Config fresh = load_config(path);
                log::set_level(fresh.log_level);
                if (!(fresh.http == config.http)) log::warning("reload: [http] settings take effect at the next start");
                gateway->reload(fresh);
            } catch (const ConfigError& e) {
                log::error("reload refused; the running configuration stays:");
                for (const std::string& p : e.problems()) log::error(p);
            }
            continue;
        }
        gateway->tick();
    }
    if (console) console->begin_stop();
    const Gateway::StopResult result = gateway->stop();
    if (console) console->finish_stop();
    console.reset();
    if (gateway->stragglers() > 0) {
        // A reader thread that has not ended cannot be joined; the queue is saved, and the
        // kernel closes its device as the process ends.
        log::warning("stopped with a reader still running; exit status " + std::to_string(kExitAbandoned));
        std::fflush(nullptr);
        std::_Exit(kExitAbandoned);
    }
    gateway.reset();
    if (result != Gateway::StopResult::clean) {
        log::warning("stopped, not cleanly; exit status " + std::to_string(kExitAbandoned));
        return kExitAbandoned;
    }
    log::info("stopped");
    return 0;
}

}  // namespace uhfd
