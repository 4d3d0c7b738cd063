// The emulated device's answers to usbfs requests: control transfers, interface claims and
// releases, driver queries, cancelled transfers, endpoint zero's standard requests and the
// submission of bulk transfers.
#include "sim/usb/device_state.hpp"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace uhfsim {

using namespace usbdetail;

namespace {

// The name of the kernel driver a test may bind to interface 0.
constexpr const char* kKernelDriver = "reader_kdrv";

}  // namespace

// lock held
Result UsbReader::State::control(gulong request, UMockdevIoctlData* arg, UMockdevIoctlData* data,
                                 UMockdevIoctlClient* client) {
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        // A whole transfer travels as one URB, as on a modern host controller.
        *reinterpret_cast<std::uint32_t*>(data->data) =
            USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
            USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET |
            USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        return ok;
    case USBDEVFS_RESET:
        // A reset device has forgotten what it was about to say and what it was hearing.
        ++counters.resets;
        replies.clear();
        decoder.reset();
        return ok;
    case USBDEVFS_SETCONFIGURATION: {
        const int value = *reinterpret_cast<int*>(data->data);
        ++counters.configurations_set;
        if (config_fails) return failed(EBUSY);
        if (value != 1 && value != 0 && value != -1) return failed(EINVAL);
        counters.configuration = value;
        return ok;
    }
    case USBDEVFS_CLAIMINTERFACE:
        return claim(client, *reinterpret_cast<unsigned*>(data->data), false, nullptr, 0);
    case USBDEVFS_DISCONNECT_CLAIM: {
        const auto& dc = *reinterpret_cast<usbdevfs_disconnect_claim*>(data->data);
        return claim(client, dc.interface, true, dc.driver, dc.flags);
    }
    case USBDEVFS_RELEASEINTERFACE:
        if (*reinterpret_cast<unsigned*>(data->data) != kInterface) return failed(ENOENT);
        if (claim_owner != client) return failed(EINVAL);
        claim_owner = nullptr;
        counters.claimed = false;
        ++counters.releases;
        return ok;
    case USBDEVFS_GETDRIVER: {
        auto& gd = *reinterpret_cast<usbdevfs_getdriver*>(data->data);
        if (gd.interface != kInterface || !counters.driver_bound) return failed(ENODATA);
        std::snprintf(gd.driver, sizeof gd.driver, "%s", kKernelDriver);
        return ok;
    }
    case USBDEVFS_IOCTL:
        return interface_ioctl(*reinterpret_cast<usbdevfs_ioctl*>(data->data));
    case USBDEVFS_DISCARDURB:
        return discard(client, *reinterpret_cast<gulong*>(arg->data));
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        return ok;
    default:
        return failed(ENOTTY);
    }
}

// lock held. Plain claims find a bound driver in the way; disconnect-and-claim removes it
// first unless its flags spare it. Another open node holding the interface makes it busy.
Result UsbReader::State::claim(UMockdevIoctlClient* client, unsigned interface, bool disconnect,
                               const char* driver, unsigned flags) {
    if (interface != kInterface) return failed(ENOENT);
    if (claim_error != 0) return failed(claim_error);
    if (counters.driver_bound) {
        bool detach = disconnect;
        const bool same = std::strcmp(driver != nullptr ? driver : "", kKernelDriver) == 0;
        if ((flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0 && !same) detach = false;
        if ((flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 && same) detach = false;
        if (!detach) return failed(EBUSY);
        counters.driver_bound = false;
        ++counters.driver_detaches;
    }
    if (claim_owner == client) return ok;
    if (claim_owner != nullptr) return failed(EBUSY);
    claim_owner = client;
    counters.claimed = true;
    ++counters.claims;
    return ok;
}

// lock held
Result UsbReader::State::interface_ioctl(const usbdevfs_ioctl& io) {
    if (io.ifno != static_cast<int>(kInterface)) return failed(EINVAL);
    if (io.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
        if (!counters.driver_bound) return failed(ENODATA);
        counters.driver_bound = false;
        ++counters.driver_detaches;
        return ok;
    }
    if (io.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
        if (counters.claimed || counters.driver_bound) return failed(EBUSY);
        if (!has_driver) return ok;
        counters.driver_bound = true;
        ++counters.driver_attaches;
        return {1, 0};
    }
    return failed(ENOTTY);
}

// lock held. The kernel completes a cancelled transfer with -ENOENT; libusb waits to reap it,
// so it must be completed, never dropped.
Result UsbReader::State::discard(UMockdevIoctlClient* client, gulong host_urb) {
    for (auto it = submitted.begin(); it != submitted.end(); ++it) {
        if (it->urb->client_addr != host_urb || it->client.get() != client) continue;
        it->view().status = -ENOENT;
        it->view().actual_length = 0;
        ++counters.discards;
        done.push_back(std::move(*it));
        submitted.erase(it);
        return ok;
    }
    return failed(EINVAL);
}

// lock held. Standard requests on endpoint 0: GET_DESCRIPTOR for the device, configuration
// and string descriptors; anything else stalls. The data stage follows the 8 setup bytes in
// the transfer's buffer, as usbfs lays it out.
Result UsbReader::State::endpoint_zero(Urb u) {
    usbdevfs_urb& urb = u.view();
    ++counters.control_transfers;
    if (!u.buf || urb.buffer_length < 8) return failed(EINVAL);
    const std::uint8_t* setup = u.buf->data;
    const unsigned value = setup[2] | (setup[3] << 8);
    const std::size_t length = setup[6] | (setup[7] << 8);
    std::optional<std::vector<std::uint8_t>> answer;
    if (setup[0] == 0x80 && setup[1] == 0x06) {  // GET_DESCRIPTOR, device to host
        const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(value);
        const std::vector<std::uint8_t> all = reader_descriptors(vendor, product, strings);
        if (type == 1 && index == 0) answer.emplace(all.begin(), all.begin() + 18);
        else if (type == 2 && index == 0) answer.emplace(all.begin() + 18, all.end());
        else if (type == 3) answer = string_descriptor(strings, index);
    }
    if (!answer) {
        urb.status = -EPIPE;
        urb.actual_length = 0;
    } else {
        const std::size_t n = std::min({answer->size(), length, static_cast<std::size_t>(urb.buffer_length - 8)});
        std::memcpy(u.buf->data + 8, answer->data(), n);
        urb.status = 0;
        urb.actual_length = static_cast<int>(n);
    }
    done.push_back(std::move(u));
    return ok;
}

Result UsbReader::State::submit(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
    auto& urb = *reinterpret_cast<usbdevfs_urb*>(data->data);
    const bool control_urb = urb.type == USBDEVFS_URB_TYPE_CONTROL && urb.endpoint == 0;
    if (!control_urb && (urb.type != USBDEVFS_URB_TYPE_BULK ||
                         (urb.endpoint != kEndpointOut && urb.endpoint != kEndpointIn)))
        return failed(ENOENT);

    Urb u;
    u.client = take_ref(client);
    u.urb = take_ref(data);
    if (urb.buffer_length > 0) {
        GError* err = nullptr;
        u.buf.reset(umockdev_ioctl_data_resolve(
            data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb.buffer_length), &err));
        if (!u.buf) {
            if (err != nullptr) g_error_free(err);
            return failed(EFAULT);
        }
    }

    std::vector<Request> heard;
    std::vector<std::string> garbled;
    {
        std::lock_guard lock(mu);
        if (control_urb) return endpoint_zero(std::move(u));
        const bool in = u.is_in();
        ++(in ? counters.in_transfers : counters.out_transfers);
        std::deque<UrbFault>& faults = in ? in_faults : out_faults;
        UrbFault fault = UrbFault::none;
        if (!faults.empty()) {
            fault = faults.front();
            faults.pop_front();
        }
        if (fault == UrbFault::rejected) return failed(EIO);
        if (fault == UrbFault::stall || fault == UrbFault::error) {
            urb.status = fault == UrbFault::stall ? -EPIPE : -EPROTO;
            urb.actual_length = 0;
            done.push_back(std::move(u));
            return ok;
        }
        if (fault == UrbFault::held) {
            u.held = true;
            submitted.push_back(std::move(u));
            return ok;
        }
        if (in) {
            submitted.push_back(std::move(u));
            return ok;
        }
        std::size_t n = static_cast<std::size_t>(std::max(urb.buffer_length, 0));
        if (fault == UrbFault::short_out && n > 0) --n;
        const std::uint8_t* bytes = u.buf ? u.buf->data : nullptr;
        pieces.emplace_back(bytes, bytes + n);
        for (std::size_t i = 0; i < n; ++i) {
            switch (decoder.feed(bytes[i])) {
            case RequestDecoder::Status::request: heard.push_back(decoder.request()); break;
            case RequestDecoder::Status::malformed: garbled.push_back(decoder.reason()); break;
            case RequestDecoder::Status::incomplete: break;
            }
        }
        urb.status = 0;
        urb.actual_length = static_cast<int>(n);
        done.push_back(std::move(u));
    }
    // The handler may take its time or call back into the reader: no lock held here.
    for (std::string& why : garbled) responder->note_malformed(std::move(why));
    for (const Request& req : heard) {
        if (std::optional<Action> a = responder->respond(req)) queue_answer(*a);
    }
    return ok;
}

}  // namespace uhfsim
