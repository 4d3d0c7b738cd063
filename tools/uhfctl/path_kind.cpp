#include "uhfctl/path_kind.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "uhfreader.h"

namespace uhfctl {
namespace {

// The node a serial device string names: "serial:" and "@BAUD" taken off.
std::string serial_node_of(std::string device) {
    if (device.rfind("serial:", 0) == 0) device.erase(0, 7);
    const auto at = device.rfind('@');
    if (at != std::string::npos) device.erase(at);
    return device;
}

}  // namespace

std::string path_kind(const std::string& device, int code) {
    if (code != UHF_ERR_NOT_TERMINAL && code != UHF_ERR_NOT_FOUND) return {};
    if (device.rfind("usb", 0) == 0 || device.rfind("tcp:", 0) == 0) return {};
    const std::string path = serial_node_of(device);
    struct stat st {};
    if (code == UHF_ERR_NOT_FOUND) {
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
        std::array<char, 4096> target{};
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
        if (n <= 0) return {};
        return "a link to " + std::string(target.data(), static_cast<std::size_t>(n)) + ", which does not exist";
    }
    if (::stat(path.c_str(), &st) != 0) return {};
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISREG(st.st_mode)) return "a regular file";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISBLK(st.st_mode)) return "a block device";
    if (S_ISCHR(st.st_mode)) return "a character device that is not a terminal";
    return {};
}

}  // namespace uhfctl
