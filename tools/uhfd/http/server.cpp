#include "http/server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <civetweb.h>

#include <cctype>
#include <charconv>
#include <filesystem>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "log.hpp"

namespace uhfd::http {

namespace {

constexpr const char* kSecurityHeaders[][2] = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Cross-Origin-Resource-Policy", "same-origin"},
};

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// civetweb (as Debian builds it) formats the Date header with gmtime(), whose result is shared by
// every thread; one at a time, so two responses never mix their dates.
std::mutex g_date_mu;

void send_headers(mg_connection* conn, const Reply& r, bool stream) {
    mg_response_header_start(conn, r.status);
    for (const auto& h : kSecurityHeaders) mg_response_header_add(conn, h[0], h[1], -1);
    bool cache = false;
    for (const auto& [name, value] : r.headers) {
        mg_response_header_add(conn, name.c_str(), value.c_str(), static_cast<int>(value.size()));
        cache = cache || same_name(name, "Cache-Control");
    }
    if (!cache) mg_response_header_add(conn, "Cache-Control", "no-store", -1);
    if (stream) {
        mg_response_header_add(conn, "Content-Type", "text/event-stream; charset=utf-8", -1);
    } else {
        mg_response_header_add(conn, "Content-Type", r.content_type.c_str(), -1);
        mg_response_header_add(conn, "Content-Length", std::to_string(r.body.size()).c_str(), -1);
    }
    std::lock_guard lock(g_date_mu);
    mg_response_header_send(conn);
}

// civetweb's accept loop polls in 2 s slices and sees a stop only between them; a connection
// to the listening port wakes it, so a stop takes milliseconds instead.
void poke(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (host == "0.0.0.0" || ::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    [[maybe_unused]] const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::close(fd);
}

std::once_flag g_library;

// A client that stops reading is found out when a write to it times out, which only happens once
// the kernel's send buffer is full; left to autotuning that buffer grows to megabytes, and a
// stalled stream would keep its place for minutes. Accepted sockets inherit the listener's size,
// and civetweb does not hand out its sockets, so the listener is found among our descriptors.
constexpr int kSendBuffer = 64 * 1024;

void limit_send_buffer(int port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", std::filesystem::directory_options::skip_permission_denied)) {
        int fd = -1;
        const std::string name = entry.path().filename().string();
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), fd);
        if (ec != std::errc()) continue;
        sockaddr_in a{};
        socklen_t len = sizeof a;
        int listening = 0;
        socklen_t optlen = sizeof listening;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET ||
            ntohs(a.sin_port) != port || ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optlen) != 0 || !listening)
            continue;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    }
}

}  // namespace

std::string Request::header(std::string_view name) const {
    for (const auto& [k, v] : headers)
        if (same_name(k, name)) return v;
    return {};
}

std::optional<std::string> Request::param(const char* name) const {
    std::string out(query.size() + 1, '\0');
    const int n = mg_get_var(query.c_str(), query.size(), name, out.data(), out.size());
    if (n < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

bool StreamWriter::write(std::string_view bytes) {
    if (bytes.empty()) return true;
    return mg_write(conn_, bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
}

Reply Reply::json(int status, const nlohmann::ordered_json& body) {
    Reply r;
    r.status = status;
    r.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return r;
}

Reply Reply::error(int status, const std::string& message) { return json(status, {{"error", message}}); }

Server::Server(Options options, Handler handler) : options_(std::move(options)), handler_(std::move(handler)) {
    std::call_once(g_library, [] { mg_init_library(0); });
    const std::string listen = options_.host + ":" + std::to_string(options_.port);
    const std::string threads = std::to_string(options_.threads);
    const std::string timeout = std::to_string(options_.request_timeout_ms);
    const char* opts[] = {"listening_ports", listen.c_str(),
                          "num_threads", threads.c_str(),
                          "request_timeout_ms", timeout.c_str(),
                          "enable_keep_alive", "yes",
                          "keep_alive_timeout_ms", "1000",
                          "tcp_nodelay", "1",  // an event is a few hundred bytes: send it now
                          "max_request_size", "16384",
                          "access_control_allow_origin", "",  // no cross-origin reads
                          "enable_directory_listing", "no",
                          nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = &Server::on_log;
    mg_init_data init{&callbacks, this, opts};
    unsigned code = 0;
    char text[256] = {};
    mg_error_data error{&code, text, sizeof text};
    ctx_ = mg_start2(&init, &error);
    if (!ctx_) throw std::runtime_error("the console cannot listen on " + listen + ": " + (text[0] ? text : "failed"));
    // The port first: civetweb's workers read it for every stream once the handler is in place.
    mg_server_port ports[1] = {};
    port_ = mg_get_server_ports(ctx_, 1, ports) > 0 ? ports[0].port : options_.port;
    limit_send_buffer(port_);
    mg_set_request_handler(ctx_, "/", &Server::on_request, this);
}

Server::~Server() { stop(); }

void Server::stop() {
    if (!ctx_) return;
    std::atomic<bool> stopped{false};
    std::thread waker([&] {
        while (!stopped) {
            poke(options_.host, port_);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    mg_stop(ctx_);
    stopped = true;
    waker.join();
    ctx_ = nullptr;
}

int Server::on_log(const mg_connection*, const char* message) {
    log::debug(std::string("http: ") + message);
    return 1;
}

int Server::on_request(mg_connection* conn, void* self) {
    static_cast<Server*>(self)->serve(conn);
    return 1;
}

void Server::serve(mg_connection* conn) {
    const mg_request_info* ri = mg_get_request_info(conn);
    Request req;
    req.method = ri->request_method ? ri->request_method : "";
    req.path = ri->local_uri ? ri->local_uri : "";
    req.query = ri->query_string ? ri->query_string : "";
    for (int i = 0; i < ri->num_headers; ++i)
        req.headers.emplace_back(ri->http_headers[i].name ? ri->http_headers[i].name : "",
                                 ri->http_headers[i].value ? ri->http_headers[i].value : "");
    const bool chunked = req.header("Transfer-Encoding").find("chunked") != std::string::npos;
    if (ri->content_length > static_cast<long long>(options_.max_body)) {
        req.body_too_large = true;
    } else if (ri->content_length > 0 || chunked) {
        char buf[4096];
        for (;;) {
            const int n = mg_read(conn, buf, sizeof buf);
            if (n <= 0) break;
            req.body.append(buf, static_cast<std::size_t>(n));
            if (req.body.size() > options_.max_body) {
                req.body_too_large = true;
                req.body.clear();
                break;
            }
        }
    }
    // A body left unread would be taken for the next request.
    if (req.body_too_large) mg_disable_connection_keep_alive(conn);

    Reply reply;
    try {
        reply = handler_(req);
    } catch (const std::exception& e) {
        log::error(std::string("http: ") + req.method + " " + req.path + ": " + e.what());
        reply = Reply::error(500, "internal error");
    }
    if (reply.stream) {
        mg_disable_connection_keep_alive(conn);
        send_headers(conn, reply, true);
        StreamWriter writer(conn, find_connection_socket(port_, ri->remote_addr, ri->remote_port));
        reply.stream(writer);
        return;
    }
    send_headers(conn, reply, false);
    if (req.method != "HEAD") mg_write(conn, reply.body.data(), reply.body.size());
}

}  // namespace uhfd::http
