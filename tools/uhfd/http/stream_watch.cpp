#include "http/stream_watch.hpp"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <charconv>
#include <cstddef>
#include <filesystem>

namespace uhfd::http {

std::string StreamWatch::judge(const std::deque<Sample>& s) {
    if (s.size() < 2) return {};
    const Sample& now = s.back();
    // The oldest sample at least kJudged old.
    const Sample* then = nullptr;
    for (const Sample& x : s)
        if (now.at - x.at >= kJudged) then = &x;
    if (!then) return {};
    const std::uint64_t taken = now.acked - then->acked;
    if (taken == 0 && then->queued > 0 && now.queued > 0)
        return "took nothing of " + std::to_string(now.queued) + " bytes for " + std::to_string(kJudged.count()) + " s";
    if (!now.has_window || !then->has_window || taken < kMinBytes) return {};
    // The window a reading client advertises stays put; it shrinks by what an idle one holds. A
    // reader caught with a message in hand dips at one sample, so the widest of the last two
    // counts, and the fall is weighed against the bytes taken up to that same sample: the two
    // must span the same seconds.
    const Sample* recent = &now;
    for (auto it = s.rbegin(); it != s.rend() && now.at - it->at < std::chrono::seconds(2); ++it)
        if (it->window > recent->window) recent = &*it;
    const std::uint64_t held = recent->acked - then->acked;
    if (then->window > recent->window && (then->window - recent->window) * kFallPerByte.den >= held * kFallPerByte.num)
        return "read nothing of " + std::to_string(taken) + " bytes in " + std::to_string(kJudged.count()) + " s";
    return {};
}

bool StreamWatch::keeping_up(Clock::time_point now) {
    if (fd_ < 0) return true;
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return true;
    // A client that closed its end (a tab closed or navigated away, an aborted fetch) is gone
    // now; a write would tell only at the next keep-alive or the one after it, half a minute on.
    // An event-stream client sends nothing after its request, so its FIN means it left.
    constexpr std::uint8_t kClose = 7, kCloseWait = 8;  // the kernel's TCP states (net/tcp_states.h)
    if (info.tcpi_state == kCloseWait || info.tcpi_state == kClose) {
        left_ = true;
        verdict_ = "closed the connection";
        return false;
    }
    Sample x;
    x.at = now;
    if (len >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked) x.acked = info.tcpi_bytes_acked;
    else return true;  // too old a kernel to judge by
    x.has_window = len >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd;
    if (x.has_window) x.window = info.tcpi_snd_wnd;
    int queued = 0;
    if (::ioctl(fd_, SIOCOUTQ, &queued) == 0 && queued > 0) x.queued = static_cast<std::uint32_t>(queued);
    samples_.push_back(x);
    while (samples_.size() > 2 && now - samples_[1].at >= kJudged) samples_.pop_front();
    verdict_ = judge(samples_);
    return verdict_.empty();
}

int find_connection_socket(int local_port, const std::string& peer_addr, int peer_port) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        const std::string name = entry.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc()) continue;
        sockaddr_storage local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0 || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (peer.ss_family == AF_INET) ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
        else if (peer.ss_family == AF_INET6) ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
        if (peer_addr != text) continue;
        auto port = [](const sockaddr_storage& a) {
            if (a.ss_family == AF_INET) return static_cast<int>(ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port));
            if (a.ss_family == AF_INET6) return static_cast<int>(ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port));
            return -1;
        };
        if (port(local) == local_port && port(peer) == peer_port) return fd;
    }
    return -1;
}

}  // namespace uhfd::http
