#include "sim/usb/topology.hpp"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "sim/usb/descriptors.hpp"

namespace uhfsim::usbdetail {

namespace {

bool write_file(const std::string& path) {
    GString_ dir(g_path_get_dirname(path.c_str()));
    if (g_mkdir_with_parents(dir.get(), 0755) != 0) return false;
    return g_file_set_contents(path.c_str(), "", 0, nullptr) != FALSE;
}

std::string node_path(int bus, int address) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
    return node;
}

// Kernel sysfs attributes end in a newline; libusb warns about values that do not.
std::string line(const std::string& v) { return v + "\n"; }

std::string hex4(std::uint16_t v) {
    char s[8];
    std::snprintf(s, sizeof s, "%04x", v);
    return s;
}

std::string three_digits(int v) {
    char s[8];
    std::snprintf(s, sizeof s, "%03d", v);
    return s;
}

constexpr int kMaxDepth = 7;  // what USB allows below the root hub

}  // namespace

PortPath parse_port_path(const std::string& path) {
    const auto bad = [&](const char* why) {
        return std::invalid_argument("port path '" + path + "': " + why);
    };
    PortPath p;
    std::size_t i = 0;
    auto number = [&](int lo, int hi) {
        if (i >= path.size() || path[i] < '0' || path[i] > '9' || (path[i] == '0' && i + 1 < path.size() &&
                                                                  path[i + 1] >= '0' && path[i + 1] <= '9'))
            throw bad("expected a number");
        int v = 0;
        while (i < path.size() && path[i] >= '0' && path[i] <= '9') {
            v = v * 10 + (path[i++] - '0');
            if (v > hi) throw bad("number out of range");
        }
        if (v < lo) throw bad("number out of range");
        return v;
    };
    p.bus = number(1, 127);
    if (i >= path.size() || path[i++] != '-') throw bad("expected BUS-PORT[.PORT...]");
    for (;;) {
        p.ports.push_back(static_cast<std::uint8_t>(number(1, 255)));
        if (p.ports.size() > kMaxDepth) throw bad("more than 7 ports deep");
        if (i == path.size()) break;
        if (path[i++] != '.') throw bad("expected '.' between ports");
    }
    return p;
}

Topology::Topology() {
    testbed_.reset(umockdev_testbed_new());
    if (!testbed_) fail("no testbed", nullptr);
    GString_ root(umockdev_testbed_get_root_dir(testbed_.get()));
    root_ = root.get();
    parent_of(parse_port_path("1-1"));  // bus 1's root hub, there from the start
}

std::string Topology::free_root_port(int bus) const {
    for (int port = 1;; ++port) {
        const std::string path = std::to_string(bus) + "-" + std::to_string(port);
        if (!readers_.count(path) && !hubs_.count(path)) return path;
    }
}

void Topology::reserve(const std::string& path) {
    parse_port_path(path);
    if (readers_.count(path) || hubs_.count(path))
        throw std::invalid_argument("port path '" + path + "' is taken");
    // A reader cannot be the hub of another device.
    std::string up = path;
    while (up.find('.') != std::string::npos) {
        up.erase(up.rfind('.'));
        if (readers_.count(up))
            throw std::invalid_argument("port path '" + path + "': a reader sits at " + up);
    }
    readers_.insert(path);
}

int Topology::take_address(int bus) {
    const auto it = next_address_.try_emplace(bus, 2).first;  // the root hub has 1
    if (it->second > 127) throw std::runtime_error("emulated USB bus " + std::to_string(bus) + ": no address left");
    return it->second++;
}

std::string Topology::add_device(const std::string& name, const std::string& parent, int bus, int address,
                                 const char* speed, std::uint16_t vendor, std::uint16_t product,
                                 const std::vector<std::pair<std::string, std::string>>& extra,
                                 const std::vector<std::uint8_t>& descriptors) {
    const std::string node = node_path(bus, address);
    std::vector<std::string> attrs = {
        "busnum", line(std::to_string(bus)), "devnum", line(std::to_string(address)),
        "speed", line(speed), "bConfigurationValue", "1\n",
        "idVendor", line(hex4(vendor)), "idProduct", line(hex4(product)),
        "dev", line("189:" + std::to_string((bus - 1) * 128 + address - 1))};
    for (const auto& [k, v] : extra) {
        attrs.push_back(k);
        attrs.push_back(line(v));
    }
    std::vector<std::string> props = {"DEVTYPE", "usb_device", "DEVNAME", node,
                                      "BUSNUM", three_digits(bus), "DEVNUM", three_digits(address)};
    std::vector<gchar*> a, p;
    for (auto& s : attrs) a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : props) p.push_back(s.data());
    p.push_back(nullptr);
    GString_ sys(umockdev_testbed_add_devicev(testbed_.get(), "usb", name.c_str(),
                                              parent.empty() ? nullptr : parent.c_str(), a.data(), p.data()));
    if (!sys) fail("cannot add " + name, nullptr);
    std::vector<std::uint8_t> desc = descriptors;
    umockdev_testbed_set_attribute_binary(testbed_.get(), sys.get(), "descriptors", desc.data(),
                                          static_cast<gint>(desc.size()));
    if (!write_file(root_ + node)) fail("cannot create " + node, nullptr);
    return sys.get();
}

std::string Topology::add_hub(const std::string& name, const std::string& parent, int bus) {
    // A root hub is address 1 of its bus; a hub on a port takes the bus's next one.
    const int address = parent.empty() ? 1 : take_address(bus);
    const std::string sys = add_device(name, parent, bus, address, "480", 0x1D6B, 0x0002, {}, hub_descriptors());
    hubs_[name] = sys;
    return sys;
}

std::string Topology::parent_of(const PortPath& parsed) {
    const std::string root_name = "usb" + std::to_string(parsed.bus);
    if (!hubs_.count(root_name)) add_hub(root_name, "", parsed.bus);
    std::string parent = hubs_[root_name];
    // Each hub on the way is named by the path up to it: "1-3" for "1-3.1".
    std::string name = std::to_string(parsed.bus) + "-";
    for (std::size_t d = 0; d + 1 < parsed.ports.size(); ++d) {
        if (d != 0) name += '.';
        name += std::to_string(parsed.ports[d]);
        auto it = hubs_.find(name);
        parent = it != hubs_.end() ? it->second : add_hub(name, parent, parsed.bus);
    }
    return parent;
}

void Topology::plug_in(UsbReader::State& r) {
    const PortPath parsed = parse_port_path(r.port_path);
    const std::string parent = parent_of(parsed);
    const int address = take_address(parsed.bus);
    std::vector<std::pair<std::string, std::string>> extra;
    if (!r.strings.manufacturer.empty()) extra.emplace_back("manufacturer", r.strings.manufacturer);
    if (!r.strings.product.empty()) extra.emplace_back("product", r.strings.product);
    if (!r.strings.serial.empty()) extra.emplace_back("serial", r.strings.serial);

    r.address = address;
    r.node = node_path(parsed.bus, address);
    r.sysfs = add_device(r.port_path, parent, parsed.bus, address, "12", r.vendor, r.product, extra,
                         reader_descriptors(r.vendor, r.product, r.strings));

    UsbReader::State::Plug& plug = r.new_plug();
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_.get(), r.node.c_str(), plug.handler.get(), &err))
        fail("cannot attach to " + r.node, err);
    attached_.push_back(r.node);
    {
        std::lock_guard lock(r.mu);
        const bool again = r.plugged || r.counters.unplugs > 0;
        r.plugged = true;
        r.counters.driver_bound = r.has_driver;
        if (again) ++r.counters.replugs;
    }
    // The "add" uevent umockdev sent with the sysfs entry came before its descriptors, so a
    // hotplug listener may have found it unreadable; this one finds it whole (a listener that
    // already has it ignores a second "add").
    umockdev_testbed_uevent(testbed_.get(), r.sysfs.c_str(), "add");
}

void Topology::pull_out(UsbReader::State& r) {
    r.on_unplugged();
    umockdev_testbed_uevent(testbed_.get(), r.sysfs.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_.get(), r.sysfs.c_str());
    ::unlink((root_ + r.node).c_str());
}

void Topology::hide_node(UsbReader::State& r) {
    // umockdev's preload still leaves two sockets of its own open after each failed open.
    ::unlink((root_ + r.node).c_str());
    GError* err = nullptr;
    if (!umockdev_testbed_detach_ioctl(testbed_.get(), r.node.c_str(), &err))
        fail("cannot detach from " + r.node, err);
    std::erase(attached_, r.node);
}

void Topology::restore_node(UsbReader::State& r) {
    if (!write_file(root_ + r.node)) fail("cannot restore " + r.node, nullptr);
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_.get(), r.node.c_str(), r.plugs.back()->handler.get(), &err))
        fail("cannot attach to " + r.node, err);
    attached_.push_back(r.node);
}

void Topology::detach_all() {
    for (const std::string& node : attached_) {
        GError* err = nullptr;
        if (!umockdev_testbed_detach_ioctl(testbed_.get(), node.c_str(), &err) && err != nullptr)
            g_error_free(err);
    }
    attached_.clear();
}

}  // namespace uhfsim::usbdetail
