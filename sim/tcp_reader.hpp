// A reader behind a network serial server, as the host sees it: a TCP port that carries the
// reader's serial line as a byte stream.
//
//   uhfsim::TcpReader reader;                     // 127.0.0.1, a free port
//   reader.set_handler(model.handler());
//   connect to 127.0.0.1:reader.port() ...
//   reader.reset_client();                        // the connection drops with an RST
//
// Like a serial server's port it serves one client at a time: a client that connects while
// another is connected is accepted and closed at once, so it reads end of stream and nothing
// else. When a client goes (it closes, resets, or a write to it fails) the reader forgets what
// it was about to send it and any request it had half heard, and waits for the next client.
// Requests are decoded from the stream byte by byte, so a request split over several reads,
// or several requests in one, are answered as on a serial line.
//
// Bytes given to send_now() wait for a client if none is connected; queued replies are never
// kept for a later client.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sim/scripted_reader.hpp"

namespace uhfsim {

class TcpReader : public detail::StreamReader {
public:
    // Listens on host:port (a numeric IPv4 or IPv6 address; port 0 picks a free one) and starts
    // serving. Throws std::system_error when the address cannot be had.
    explicit TcpReader(std::uint16_t port = 0, std::string host = "127.0.0.1");
    ~TcpReader() override;
    TcpReader(const TcpReader&) = delete;
    TcpReader& operator=(const TcpReader&) = delete;

    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    // "127.0.0.1:4001", or "[::1]:4001" for an IPv6 address.
    std::string address() const;

    // Clients served so far (refused ones not counted), whether one is connected now, and the
    // clients turned away because another was connected.
    std::size_t connections() const;
    bool connected() const;
    std::size_t refused() const;
    // Waits until connections() reaches n.
    bool wait_for_connections(std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until no client is connected (the host closed, or was closed).
    bool wait_disconnected(std::chrono::milliseconds timeout) const;

    // Faults. Each returns once done.
    // Drops the current client with a TCP reset (SO_LINGER 0), mid-reply if one is under way:
    // the host's next read or write fails with ECONNRESET. False when no client was connected.
    bool reset_client();
    // Closes the current client in order: the host reads end of stream.
    bool close_client();
    // Closes the listening socket, so a host's connect is refused; the current client, if any,
    // stays. listen_again() opens it on the same address and port. Throws std::system_error when
    // the port has been taken meanwhile.
    void stop_listening();
    void listen_again();
    bool listening() const;

    // Stops serving and closes every socket. Idempotent.
    void stop();

private:
    int connection() const override { return client_; }
    std::uint64_t connection_id() const override { return client_id_; }
    ssize_t send(const std::uint8_t* bytes, std::size_t n) override;
    void add_watches(std::vector<pollfd>& fds) override;
    void on_watch(const pollfd& fd) override;
    void on_hangup() override;
    void on_write_error(int) override { drop_client(false); }

    void open_listener();
    void drop_client(bool reset);

    std::string host_;
    std::uint16_t port_ = 0;
    int listener_ = -1;  // serving thread only, once serving
    int client_ = -1;    // serving thread only, once serving
    std::uint64_t client_id_ = 0;

    mutable std::mutex mu_;
    mutable std::condition_variable changed_;
    std::size_t connections_ = 0;
    std::size_t refused_ = 0;
    bool connected_ = false;
    bool listening_ = false;
};

}  // namespace uhfsim
