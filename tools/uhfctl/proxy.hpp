// A pseudo-terminal between the library and the reader's line that relays every byte and
// logs each frame as it passed, so --trace shows the wire itself rather than a re-encoding.
// The library opens path(); the proxy owns the far side's descriptor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace uhfctl {

// Splits one direction's byte stream into frames: from a 0x10 0x01 start pair to the 0x10
// 0x02 end pair, DLE doubling respected. Bytes outside any frame come out as noise.
class FrameSplitter {
public:
    enum class Kind { frame, noise, partial };
    using Sink = std::function<void(Kind, const std::vector<std::uint8_t>&)>;

    explicit FrameSplitter(Sink sink) : sink_(std::move(sink)) {}
    void feed(std::uint8_t byte);
    // Hands out whatever is pending (a frame cut short comes out as partial).
    void flush();

private:
    Sink sink_;
    std::vector<std::uint8_t> bytes_;
    bool in_frame_ = false;
    bool dle_ = false;
};

class TraceProxy {
public:
    using Log = std::function<void(const std::string&)>;

    // Takes ownership of far_fd (the reader's line, already configured). Throws
    // std::system_error when no pseudo-terminal can be had.
    TraceProxy(int far_fd, Log log);
    ~TraceProxy();
    TraceProxy(const TraceProxy&) = delete;
    TraceProxy& operator=(const TraceProxy&) = delete;

    const std::string& path() const { return path_; }
    // Waits until the line has been quiet for a moment, so a frame in flight is logged
    // before the caller prints its result.
    void settle();

private:
    void relay();

    int master_ = -1;
    int slave_ = -1;
    int far_ = -1;
    int stop_fd_ = -1;
    std::string path_;
    Log log_;
    std::atomic<long long> last_byte_ms_{0};
    std::thread thread_;
};

// Opens a terminal node raw and non-blocking at one of the library's line speeds; -1 on failure.
int open_line(const std::string& path, int baud);

}  // namespace uhfctl
