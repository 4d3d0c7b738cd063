// CPU time of a process or one of its threads, from /proc, for the gateway benchmarks' per-event
// costs. Clock-tick resolution (10 ms): measure over seconds, not milliseconds.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace gwbench {

// utime + stime of /proc/<path>/stat in seconds; 0 when it cannot be read.
inline double cpu_seconds(const std::string& stat_path) {
    std::ifstream f(stat_path);
    std::string line;
    if (!std::getline(f, line)) return 0;
    const auto close = line.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

inline std::string comm_of(const std::string& dir) {
    std::ifstream f(dir + "/comm");
    std::string name;
    std::getline(f, name);
    return name;
}

// The stat path of this process's thread named `name` (pthread_setname_np), or "".
inline std::string own_thread(const std::string& name) {
    std::string found;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && comm_of(std::string("/proc/self/task/") + e->d_name) == name)
                found = std::string("/proc/self/task/") + e->d_name + "/stat";
        ::closedir(d);
    }
    return found;
}

// The stat path of a child of this process running `name`, or "".
inline std::string own_child(const std::string& name) {
    std::string found;
    const std::string me = std::to_string(::getpid());
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
            const std::string dir = std::string("/proc/") + e->d_name;
            std::ifstream f(dir + "/stat");
            std::string line;
            if (!std::getline(f, line)) continue;
            const auto close = line.rfind(')');
            std::istringstream rest(close == std::string::npos ? "" : line.substr(close + 2));
            std::string state, ppid;
            if (rest >> state >> ppid && ppid == me && comm_of(dir) == name) found = dir + "/stat";
        }
        ::closedir(d);
    }
    return found;
}

inline std::string load_average() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace gwbench
