// What the LLRP face reads from and writes to its reader: every value comes from the reader
// through the library, on the reader's link between rounds (ReaderWorker::submit_task), and the
// face waits for it a bounded time that cancel() cuts short.
//
// Where the values sit in the reader's replies (the virtual reader's, docs/simulator.md):
//   device information, 22 bytes:
//     0..3 model (four characters)   4..5 hardware version   6..7 firmware version
//     12..15 serial                  17 antenna count        20 maximum RF power (dBm)
//   RF power (Get_RF_Power), 3 bytes: power now (dBm), active antenna (0-based), maximum (dBm)
//   work parameters, 7 bytes: 0 RF power (dBm), 3 region code; Set_Work_Param writes them back
//   channel table (Get_CH_Active, pages 0..3): 8 bytes a page, bit k of byte b (least
//     significant first) on when channel 64 * page + 8 * b + k is in use
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "reader_worker.hpp"

namespace uhfd {

struct ReaderFacts {
    std::string model;          // printable characters of the model bytes
    std::uint32_t model_code = 0;  // the same four bytes, big-endian
    std::string firmware;       // "2.3"
    std::string hardware;       // "1.0"
    std::vector<std::uint8_t> serial;
    int antennas = 1;
    int active_antenna = 0;     // the reader's numbering, from 0
    int power_dbm = 0;
    int max_power_dbm = 0;
    int region = 0;
    std::vector<int> channels;  // in use, ascending
};

// Decodes the replies laid out above (pure, for the tests).
ReaderFacts decode_facts(const std::array<std::uint8_t, 22>& info, const std::array<std::uint8_t, 3>& power,
                         const std::array<std::uint8_t, 7>& work, const std::array<std::array<std::uint8_t, 8>, 4>& pages);

// What the face wants changed on the reader; unset: left as it is.
struct ReaderChange {
    std::optional<int> power_dbm;
    std::optional<int> active_antenna;  // from 0
};

class ReaderCommands {
public:
    // A reader command is waited for this long at most (a round and a few slow replies).
    static constexpr std::chrono::milliseconds kWait{5000};

    explicit ReaderCommands(std::shared_ptr<ReaderWorker> worker) : worker_(std::move(worker)) {}
    ~ReaderCommands() { cancel(); }

    // Each returns "" when done, else why not in words (offline, busy, the exchange's error).
    std::string read_facts(ReaderFacts& out);
    std::string apply(const ReaderChange& change);

    // Runs `job(link, addr, out)` on the reader between rounds and waits for it; the job's own
    // "" or reason is the answer. `out` is written only when the job ran in time.
    template <class T>
    std::string run(std::function<std::string(uhf_link*, int, T&)> job, T& out);

    // Every wait, now and later, returns at once ("stopping"); the jobs still queued run into
    // nothing when they come.
    void cancel();

private:
    struct Shared {
        std::mutex mu;
        std::condition_variable cv;
        bool cancelled = false;
    };
    std::shared_ptr<ReaderWorker> worker_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

template <class T>
std::string ReaderCommands::run(std::function<std::string(uhf_link*, int, T&)> job, T& out) {
    struct Slot {
        bool done = false;
        std::string why;
        T value{};
    };
    auto slot = std::make_shared<Slot>();
    auto shared = shared_;
    worker_->submit_task(
        [slot, shared, job](uhf_link* link, int addr) {
            T value{};
            std::string why = job(link, addr, value);
            std::lock_guard lock(shared->mu);
            slot->value = std::move(value);
            slot->why = std::move(why);
            slot->done = true;
            shared->cv.notify_all();
        },
        [slot, shared](const std::string& refusal) {
            std::lock_guard lock(shared->mu);
            slot->why = refusal.empty() ? "refused" : refusal;
            slot->done = true;
            shared->cv.notify_all();
        });
    std::unique_lock lock(shared->mu);
    if (!shared->cv.wait_for(lock, kWait, [&] { return slot->done || shared->cancelled; }))
        return "the reader did not answer within " + std::to_string(kWait.count()) + " ms";
    if (!slot->done) return "stopping";
    if (slot->why.empty()) out = std::move(slot->value);
    return slot->why;
}

}  // namespace uhfd
