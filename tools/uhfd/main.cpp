// uhfd: runs readers and streams their reads to an MQTT broker (docs/gateway.md).
#include <CLI/CLI.hpp>

#include "llrp_config.hpp"
#include "service.hpp"

#if defined(__SANITIZE_THREAD__)
// civetweb's own answers (a malformed request, a timeout) also date themselves with gmtime(), on
// its worker threads and outside uhfd's lock: they all format the current second, so the shared
// result is the same whoever wins. ThreadSanitizer is told so; any other race still stops the run.
extern "C" const char* __tsan_default_suppressions() { return "race:gmtime\n"; }
#endif

int main(int argc, char** argv) {
    CLI::App app{"uhfd: a gateway that runs UHF readers and publishes their reads to an MQTT broker"};
    std::string config, check;
    auto* run = app.add_option("--config", config, "run with this configuration file")->check(CLI::ExistingFile);
    auto* chk = app.add_option("--check-config", check, "check a configuration file and exit (2: problems found)");
    run->excludes(chk);
    app.set_version_flag("--version", std::string("uhfd ") + UHFD_VERSION);
    try {
        app.parse(argc, argv);
        if (!*run && !*chk) throw CLI::RequiredError("--config or --check-config");
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    if (*chk) return uhfd::check_llrp_listeners(check) ? uhfd::check_config(check) : 2;
    return uhfd::run_service(config);
}
