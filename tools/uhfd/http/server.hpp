// The HTTP server under the console: civetweb, kept behind this one file pair so the rest of the
// console deals in Request and Reply. Every request runs on a worker thread of the server; a
// stream (server-sent events) keeps its worker for as long as the client stays.
//
// Every response carries the same security headers: a Content-Security-Policy allowing scripts,
// styles and connections to this origin only, nosniff, no framing, no referrer.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/stream_watch.hpp"

struct mg_context;
struct mg_connection;

namespace uhfd::http {

struct Request {
    std::string method;
    std::string path;   // decoded, without the query
    std::string query;  // as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool body_too_large = false;  // the body was not read

    // The first header of this name (case-insensitive), or "".
    std::string header(std::string_view name) const;
    // A query parameter, decoded; nullopt when absent.
    std::optional<std::string> param(const char* name) const;
};

// Writes a streamed body; false once the client is gone or did not take the bytes in time (each
// write is bounded by the server's request timeout).
class StreamWriter {
public:
    StreamWriter(mg_connection* conn, int socket) : conn_(conn), watch_(socket) {}
    bool write(std::string_view bytes);
    // False once the client is judged to have stopped reading (StreamWatch); call it about once
    // a second, written or not.
    bool keeping_up() { return watch_.keeping_up(StreamWatch::Clock::now()); }
    const std::string& verdict() const { return watch_.verdict(); }
    bool client_left() const { return watch_.client_left(); }

private:
    mg_connection* conn_;
    StreamWatch watch_;
};

struct Reply {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Set: the reply is a text/event-stream written by this function, on the request's thread,
    // after the headers; the connection closes when it returns.
    std::function<void(StreamWriter&)> stream;

    static Reply json(int status, const nlohmann::ordered_json& body);
    // {"error": message}
    static Reply error(int status, const std::string& message);
};

class Server {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 8080;
        int threads = 32;
        int request_timeout_ms = 5000;  // reading a request, and each write to a client
        std::size_t max_body = 8192;
    };
    using Handler = std::function<Reply(const Request&)>;

    // Listens at once; throws std::runtime_error when the address cannot be had.
    Server(Options options, Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int port() const { return port_; }
    // Waits for the requests under way to end; streams must have been told to end first.
    void stop();

private:
    static int on_request(mg_connection* conn, void* self);
    static int on_log(const mg_connection* conn, const char* message);
    void serve(mg_connection* conn);

    Options options_;
    Handler handler_;
    mg_context* ctx_ = nullptr;
    std::atomic<int> port_{0};  // set once listening; read by civetweb's workers
};

}  // namespace uhfd::http
