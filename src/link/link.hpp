// A link handle: one reader on one device, with an exchange state of its own. Allocated once by
// uhf_open; nothing it does afterwards allocates. Calls on one link are serialised by its mutex;
// links share nothing.
#pragma once

#include <variant>

#include "core/command.hpp"
#include "core/exchange_state.hpp"
#include "core/mutex.hpp"
#include "core/packet_exchange.hpp"
#include "core/stream_exchange.hpp"
#include "core/trace.hpp"
#include "link/device_string.hpp"
#include "transport/serial.hpp"
#include "transport/tcp.hpp"
#include "transport/usb.hpp"
#include "uhfreader.h"

struct uhf_link {
    uhf_link(const uhf::DeviceTarget &target, const char *device, const uhf_options &options);

    mutable uhf::Mutex mu;
    uhf::OwnedExchange storage;
    uhf::ExchangeState state;
    uhf::PacketBuffers packets;
    uhf::Trace trace;
    uhf::DeviceTarget target;
    char device[1100] = {};
    uhf_options options{};
    std::variant<std::monostate, uhf::SerialTransport, uhf::UsbTransport, uhf::TcpTransport> transport;
    int cancel_fd = -1; // the link's cancel signal (transport/cancel.hpp), made with the link
    int addr = 0;       // the address the link was proven at
    bool gone = false;  // the device vanished; exchanges fail at once until a reconnect
};

namespace uhf {

// The link's transport, or nullptr while it has none open.
Transport *active_transport(uhf_link &l);

// One exchange on the prepared state, with the link's lock held: the exchange code,
// UHF_ERR_GONE when the device vanished (now or before), or UHF_ERR_CANCELLED when the link's
// cancel signal was raised before or during it (nothing is sent when it was raised before).
int link_exchange(uhf_link &l);

// Opens the link's device and proves the reader at `addr`, with the lock held (or before the
// link is shared): 0, a UHF_ERR_* open failure, or the last handshake's exchange code.
// A raised cancel signal ends it with UHF_ERR_CANCELLED: before it starts, the link is left
// as it was; part-way, the device is closed again (uhf_reconnect brings it back).
int connect_link(uhf_link &l, int addr);
void close_transport(uhf_link &l);

// A catalogue command on a link (its twin, or uhf_call).
int link_command(uhf_link *l, const uhf_command_info &row, int addr, const int *scalars,
                 unsigned char *const *buffers);

}  // namespace uhf
