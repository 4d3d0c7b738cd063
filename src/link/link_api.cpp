// The link API: opening, closing and reconnecting links, raw exchanges and what they left.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "link/link.hpp"
#include "transport/cancel.hpp"

namespace {

bool options_valid(const uhf_options *o) {
    return o == nullptr || (o->handshake_attempts >= 0 && o->reply_timeout_ms >= 0 && o->connect_timeout_ms >= 0);
}

void destroy(uhf_link *l) {
    if (l->cancel_fd >= 0) ::close(l->cancel_fd);
    l->~uhf_link();
    std::free(l);
}

#define UHF_STR_(x) #x
#define UHF_STR(x) UHF_STR_(x)

}  // namespace

using namespace uhf;

extern "C" {

UHF_API int uhf_open(uhf_link **out, const char *device, int addr) {
    return uhf_open_with(out, device, addr, nullptr);
}

UHF_API int uhf_open_with(uhf_link **out, const char *device, int addr, const uhf_options *options) {
    if (out == nullptr) return UHF_ERR_INVALID;
    *out = nullptr;
    if (!options_valid(options) || addr < 0 || addr > 255) return UHF_ERR_INVALID;
    DeviceTarget target;
    if (const int rc = parse_device(device, target); rc != 0) return rc;
    // malloc and placement new: the library needs nothing of the C++ runtime.
    void *memory = std::malloc(sizeof(uhf_link));
    if (memory == nullptr) return UHF_ERR_NO_MEMORY;
    auto *l = new (memory) uhf_link(target, device, options != nullptr ? *options : uhf_options{});
    if (options != nullptr) l->trace.set(options->trace, options->trace_user);
    l->cancel_fd = make_cancel_signal();
    if (l->cancel_fd < 0) {
        const int code = errno == ENOMEM ? UHF_ERR_NO_MEMORY : UHF_ERR_IO;
        destroy(l);
        return code;
    }
    const int rc = connect_link(*l, addr);
    if (rc != 0) {
        destroy(l);
        return rc;
    }
    *out = l;
    return 0;
}

UHF_API int uhf_set_options(uhf_link *l, const uhf_options *options) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    if (!options_valid(options)) return UHF_ERR_INVALID;
    uhf::Lock lock(l->mu);
    l->options = options != nullptr ? *options : uhf_options{};
    return 0;
}

UHF_API void uhf_close(uhf_link *l) {
    if (l == nullptr) return;
    {
        uhf::Lock lock(l->mu);
        close_transport(*l);
    }
    destroy(l);
}

UHF_API int uhf_reconnect(uhf_link *l) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    uhf::Lock lock(l->mu);
    return connect_link(*l, l->addr);
}

UHF_API int uhf_exchange(uhf_link *l, int addr, int code, const unsigned char *req, int req_len,
                         unsigned char *reply, int reply_cap, int *reply_len) {
    if (reply_len != nullptr) *reply_len = 0;
    if (l == nullptr) return UHF_ERR_CLOSED;
    if (addr < 0 || addr > 255 || code < 0 || code > 255 || req_len < 0 || req_len > 255 ||
        (req == nullptr && req_len > 0) || reply_cap < 0 || (reply == nullptr && reply_cap > 0))
        return UHF_ERR_INVALID;
    uhf::Lock lock(l->mu);
    const ExchangeState &s = l->state;
    s.address = static_cast<std::uint8_t>(addr);
    s.command = static_cast<std::uint8_t>(code);
    if (req_len > 0) std::memmove(s.request, req, static_cast<std::size_t>(req_len));
    s.request_length = static_cast<std::uint8_t>(req_len);
    const int rc = link_exchange(*l);
    if (rc != 0) return rc;
    if (reply_len != nullptr) *reply_len = static_cast<int>(s.reply_length);
    const std::size_t n = s.reply_length < static_cast<std::uint32_t>(reply_cap) ? s.reply_length
                                                                                 : static_cast<std::size_t>(reply_cap);
    if (n > 0) std::memcpy(reply, s.reply, n);
    return 0;
}

// No lock: it must not wait for the exchange it ends, and it may run in a signal handler. The
// descriptor is fixed from uhf_open to uhf_close.
UHF_API int uhf_cancel(uhf_link *l) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    raise_cancel(l->cancel_fd);
    return 0;
}

UHF_API int uhf_status(const uhf_link *l) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    uhf::Lock lock(l->mu);
    return l->state.status;
}

UHF_API int uhf_detail(const uhf_link *l) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    uhf::Lock lock(l->mu);
    return l->state.detail;
}

UHF_API const char *uhf_device(const uhf_link *l) { return l != nullptr ? l->device : ""; }

UHF_API int uhf_set_trace(uhf_link *l, uhf_trace_fn fn, void *user) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    uhf::Lock lock(l->mu);
    l->trace.set(fn, user);
    return 0;
}

UHF_API const char *uhf_version(void) {
    return UHF_STR(UHF_VERSION_MAJOR) "." UHF_STR(UHF_VERSION_MINOR) "." UHF_STR(UHF_VERSION_PATCH);
}

}  // extern "C"
