#include "service.hpp"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.hpp"
#include "gateway.hpp"
#include "http/console.hpp"
#include "log.hpp"

namespace uhfd {

namespace {

constexpr std::chrono::milliseconds kStopWithin{1800};

void print_problems(const ConfigError& e) {
    for (const std::string& p : e.problems()) std::fprintf(stderr, "%s\n", p.c_str());
}

}  // namespace

int check_config(const std::string& path) {
    try {
        const Config c = load_config(path);
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
            gateway->stop(kStopWithin);
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
    const bool stopped = gateway->stop(kStopWithin);
    if (console) console->finish_stop();
    console.reset();
    if (!stopped) {
        // A reader still inside an exchange cannot be interrupted; the queue is saved, and the
        // kernel closes its device as the process ends.
        log::warning("stopped with a reader still busy");
        std::_Exit(0);
    }
    gateway.reset();
    log::info("stopped");
    return 0;
}

}  // namespace uhfd
