// The console's hold on the gateway. Requests take a short lease to read from it; detach() waits
// for the leases under way and turns later ones away, so the gateway can stop (and free its
// publisher) while the HTTP server is still winding down. A lease is never held while writing
// to a client.
#pragma once

#include <atomic>
#include <mutex>
#include <shared_mutex>

#include "gateway.hpp"

namespace uhfd::http {

class GatewayRef {
public:
    class Lease {
    public:
        Lease(std::shared_lock<std::shared_mutex> lock, Gateway* gw) : lock_(std::move(lock)), gw_(gw) {}
        explicit operator bool() const { return gw_ != nullptr; }
        Gateway* operator->() const { return gw_; }
        Gateway& operator*() const { return *gw_; }

    private:
        std::shared_lock<std::shared_mutex> lock_;
        Gateway* gw_;
    };

    explicit GatewayRef(Gateway& gw) : gw_(&gw) {}

    Lease lease() const {
        // Checked first: the lock favours readers, and a busy console must not keep detach() waiting.
        if (detaching_) return Lease({}, nullptr);
        std::shared_lock lock(mu_);
        Gateway* gw = gw_;
        return Lease(std::move(lock), gw);
    }
    void detach() {
        detaching_ = true;
        std::unique_lock lock(mu_);
        gw_ = nullptr;
    }

private:
    std::atomic<bool> detaching_{false};
    mutable std::shared_mutex mu_;
    Gateway* gw_;
};

}  // namespace uhfd::http
