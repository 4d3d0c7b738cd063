// One reader's LLRP face: a Server on the configured address, answering a client from the
// reader's own values and driving the reader-operation engine with the reader's rounds.
//
//   client ─ Server ─ handle(): capabilities, reader config ── ReaderCommands ─┐
//                      └ ROSpecs, AccessSpecs, reports ─ Engine ─ AccessPort ──┼─ worker's queue,
//   reader's rounds (subscribe_rounds) ─────────────────▶ Engine.on_round      │  between rounds
//   reader's state (offline / online) ──────────────────▶ ReaderExceptionEvent ┘
//   timer thread: Engine.tick at next_deadline; Engine's Outbox ─▶ Server::send_event
//
// The engine, and with it the ROSpecs and AccessSpecs, is made once the reader has answered
// (it needs the reader's antenna count) and lives as long as the face: clients come and go,
// the reader going offline and back does not touch the connection. Every reader command goes
// through the worker's queue, so rounds keep their pace and the other outputs their order.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "llrp/ro_engine.hpp"
#include "llrp/server.hpp"
#include "llrp_access.hpp"
#include "llrp_config.hpp"
#include "llrp_reader.hpp"
#include "llrp_reader_config.hpp"
#include "reader_worker.hpp"

namespace uhfd {

class LlrpFace : private uhf::llrp::Handler, private uhf::llrp::Outbox {
public:
    LlrpFace(std::shared_ptr<ReaderWorker> worker, const LlrpListen& listen);
    ~LlrpFace() override;
    LlrpFace(const LlrpFace&) = delete;
    LlrpFace& operator=(const LlrpFace&) = delete;

    // Listens and subscribes to the reader; false with the reason otherwise.
    bool start(std::string& error);
    // Cuts short a reader command being waited for, closes the client and the listener, joins
    // the threads; returns within milliseconds. Any thread but the face's own; idempotent.
    void stop();

    std::uint16_t port() const { return server_.port(); }
    bool client_connected() const { return server_.connected(); }
    uhf::llrp::ServerStats server_stats() const { return server_.stats(); }

private:
    // Handler: on the server's thread.
    uhf::llrp::Answer handle(const Message& request) override;
    void connected() override;
    void disconnected() override;
    // Outbox: from whichever thread drove the engine.
    void send(Message message) override;

    std::shared_ptr<uhf::llrp::Engine> engine() const;
    std::shared_ptr<uhf::llrp::Engine> make_engine(std::string& why);
    Message reader_config(const Message& request, uhf::llrp::Engine& engine);
    uhf::llrp::Error apply(const ConfigPlan& plan, uhf::llrp::Engine& engine);
    void on_round(const ReaderWorker::RoundSeen& seen);
    void on_event(const ReaderEvent& event);
    void run_timer();
    void wake_timer();

    std::shared_ptr<ReaderWorker> worker_;
    const std::string name_;
    ReaderCommands commands_;
    LlrpAccess access_;
    uhf::llrp::Server server_;

    mutable std::mutex mu_;  // engine_, settings_, found_, the timer's wake
    std::shared_ptr<uhf::llrp::Engine> engine_;
    FaceSettings settings_;
    std::optional<ReaderChange> found_;  // the reader's power and antenna when the face first read them
    bool stopping_ = false;
    bool timer_poked_ = false;
    std::condition_variable timer_cv_;
    std::thread timer_;

    std::uint64_t round_sub_ = 0, event_sub_ = 0;
    bool started_ = false;
    bool was_online_ = true;  // reader's thread only
};

}  // namespace uhfd
