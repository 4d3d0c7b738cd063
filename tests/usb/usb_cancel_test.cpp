// uhf_cancel on a USB link through the real libusb: a reply transfer that never completes, or a
// request transfer the device never takes, ends at once when the link is cancelled from a thread
// or a signal handler; the transfer is cancelled on the device, and the link works on.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "usb_support.hpp"

namespace {

using namespace uhftest;
using Clock = std::chrono::steady_clock;
using uhfsim::Action;
using uhfsim::UrbFault;

constexpr int kLongReplyWaitMs = 10000;
constexpr auto kCancelBound = 1000ms;  // generous against the promised 10 ms
constexpr int kCommand = 0x42;

struct LinkCloser {
    void operator()(uhf_link *l) const { uhf_close(l); }
};
using LinkPtr = std::unique_ptr<uhf_link, LinkCloser>;

std::atomic<uhf_link *> g_signal_link{nullptr};
extern "C" void cancel_on_signal(int) { uhf_cancel(g_signal_link.load()); }

class UsbCancel : public UsbTest {
protected:
    void SetUp() override {
        UsbTest::SetUp();
        reader_ = &add_reader();
        uhf_options o{};
        o.reply_timeout_ms = kLongReplyWaitMs;
        uhf_link *l = nullptr;
        ASSERT_EQ(uhf_open_with(&l, "usb", kAddr, &o), 0);
        link_.reset(l);
        reader_->clear_log();
    }
    void TearDown() override {
        link_.reset();
        UsbTest::TearDown();
    }

    int exchange() { return uhf_exchange(link_.get(), kAddr, kCommand, nullptr, 0, nullptr, 0, nullptr); }

    void expect_link_usable() {
        reader_->script(Action::reply(kAddr, 0x05, 0, {9}));
        unsigned char reply[4] = {};
        int len = 0;
        EXPECT_EQ(uhf_exchange(link_.get(), kAddr, 0x05, nullptr, 0, reply, 4, &len), 0);
        EXPECT_EQ(len, 1);
        EXPECT_EQ(reply[0], 9);
    }

    // Runs an exchange the device holds, cancels it with `cancel` once the transfer it waits on
    // (the reply's when `request_taken`, else the request's) is submitted, and checks how it
    // ended.
    template <class Cancel>
    void expect_cancelled(Cancel &&cancel, bool request_taken) {
        const uhfsim::UsbCounters before = reader_->counters();
        Clock::time_point cancelled_at{};
        std::thread canceller([&] {
            // Counted when submitted: the transfer the exchange now waits on.
            ASSERT_TRUE(reader_->wait_until(
                [&](const uhfsim::UsbCounters &c) {
                    return request_taken ? c.in_transfers > before.in_transfers : c.out_transfers > before.out_transfers;
                },
                5s));
            cancelled_at = Clock::now();
            cancel();
        });
        const auto start = Clock::now();
        const int rc = exchange();
        const auto returned = Clock::now();
        canceller.join();
        EXPECT_EQ(rc, UHF_ERR_CANCELLED) << uhf_strerror(rc, 0);
        EXPECT_LT(returned - cancelled_at, kCancelBound);
        EXPECT_LT(returned - start, std::chrono::milliseconds(kLongReplyWaitMs / 2));
        EXPECT_TRUE(reader_->wait_until([&](const uhfsim::UsbCounters &c) { return c.discards > before.discards; }, 2s))
            << "the transfer was not cancelled on the device";
        expect_link_usable();
    }

    uhfsim::UsbReader *reader_ = nullptr;
    LinkPtr link_;
};

TEST_F(UsbCancel, CancelFromAThreadEndsTheReplyTransfer) {
    reader_->script(Action::silent());
    expect_cancelled([&] { uhf_cancel(link_.get()); }, true);
}

TEST_F(UsbCancel, CancelFromAThreadEndsARequestTransferTheDeviceHolds) {
    reader_->fail_next_out(UrbFault::held);
    expect_cancelled([&] { uhf_cancel(link_.get()); }, false);
}

TEST_F(UsbCancel, CancelFromASignalHandlerEndsTheReplyTransfer) {
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = cancel_on_signal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &sa, &old), 0);
    g_signal_link = link_.get();
    reader_->script(Action::silent());
    const pthread_t waiter = pthread_self();
    expect_cancelled([waiter] { pthread_kill(waiter, SIGUSR2); }, true);
    sigaction(SIGUSR2, &old, nullptr);
    g_signal_link = nullptr;
}

TEST_F(UsbCancel, CancelWhileNothingWaitsEndsTheNextExchangeBeforeItSends) {
    const int sent_before = reader_->counters().out_transfers;
    EXPECT_EQ(uhf_cancel(link_.get()), 0);
    EXPECT_EQ(exchange(), UHF_ERR_CANCELLED);
    EXPECT_EQ(reader_->counters().out_transfers, sent_before) << "a cancelled exchange sent its request";
    expect_link_usable();
}

}  // namespace
