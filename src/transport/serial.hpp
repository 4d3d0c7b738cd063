// Serial transport internals shared with link management and reachable from the tests.
#pragma once

namespace uhf::serial {

// Every bound of a serial exchange, in one place. Tests shorten them; the defaults are
// the line's real budgets.
struct Timing {
    int first_byte_poll_ms = 100;     // one attempt's wait for the reply's first byte
    int inter_byte_gap_ms = 100;      // longest silence inside a reply before a read fails
    int frame_rest_bound_ms = 4000;   // longest time to read a reply after its first byte
    int send_bound_ms = 2000;         // longest time a request may take to leave
};
Timing &timing();

// Node families of the numbered openers: prefix + port digit.
struct NodeFamilies {
    const char *builtin = "/dev/ttyS";
    const char *usb_adapter = "/dev/ttyUSB";
};
NodeFamilies &node_families();

// Opens and configures a terminal node, closing a port the library still holds first.
int open_node(const char *path, int baud);
bool port_open();
void close_port();

}  // namespace uhf::serial
