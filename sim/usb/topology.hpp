// The emulated buses' shape: root hubs, hubs on the way to a port path, addresses, and the
// plugging of a reader in and out of sysfs and /dev. Internal to the emulated USB bus.
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/usb/device_state.hpp"

namespace uhfsim::usbdetail {

struct PortPath {
    int bus = 0;
    std::vector<std::uint8_t> ports;
};

// "B-P[.P...]": bus 1 to 127, ports 1 to 255, at most 7 deep. Throws std::invalid_argument.
PortPath parse_port_path(const std::string& path);

class Topology {
public:
    // The testbed with bus 1's root hub.
    Topology();

    UMockdevTestbed* testbed() const { return testbed_.get(); }

    // The lowest root-hub port of the bus with nothing at it, as a port path.
    std::string free_root_port(int bus) const;
    // Keeps a reader's port path (plugged or not) from anything else. Throws
    // std::invalid_argument when it is taken, or a reader sits where a hub would have to.
    void reserve(const std::string& path);

    // Puts the reader on the bus at its port path with the next address of the bus: sysfs
    // entry, node and ioctl handler. The reader's address, node and sysfs path follow.
    void plug_in(UsbReader::State& reader);
    // Takes it off: transfers killed, a "remove" uevent, sysfs entry and node gone.
    void pull_out(UsbReader::State& reader);

    // Makes the reader's node vanish (opening it fails, the device hears nothing of the
    // attempt) and brings it back, for fail_open().
    void hide_node(UsbReader::State& reader);
    void restore_node(UsbReader::State& reader);

    // Every node an ioctl handler was attached to, detached at the end.
    void detach_all();

private:
    // The sysfs path of the device a port path hangs from, adding hubs on the way as needed.
    std::string parent_of(const PortPath& parsed);
    std::string add_hub(const std::string& name, const std::string& parent, int bus);
    std::string add_device(const std::string& name, const std::string& parent, int bus, int address,
                           const char* speed, std::uint16_t vendor, std::uint16_t product,
                           const std::vector<std::pair<std::string, std::string>>& extra,
                           const std::vector<std::uint8_t>& descriptors);
    int take_address(int bus);

    GRef<UMockdevTestbed> testbed_;
    std::string root_;
    std::map<std::string, std::string> hubs_;  // name ("usb1", "1-3") -> sysfs path
    std::set<std::string> readers_;            // port paths readers hold
    std::map<int, int> next_address_;
    std::vector<std::string> attached_;        // nodes with an ioctl handler
};

}  // namespace uhfsim::usbdetail
