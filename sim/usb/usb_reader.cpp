#include "sim/usb/usb_reader.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "sim/usb/device_state.hpp"
#include "sim/usb/topology.hpp"

namespace uhfsim {

using usbdetail::Clock;
using usbdetail::Queued;

UsbReader::UsbReader(std::unique_ptr<State> state) : state_(std::move(state)) {
    state_->responder = &responder_;
}

UsbReader::~UsbReader() = default;

std::uint16_t UsbReader::vendor() const { return state_->vendor; }
std::uint16_t UsbReader::product() const { return state_->product; }
const std::string& UsbReader::node() const { return state_->node; }
int UsbReader::bus_number() const { return state_->bus; }
int UsbReader::address() const { return state_->address; }
const std::string& UsbReader::port_path() const { return state_->port_path; }
std::vector<std::uint8_t> UsbReader::port_numbers() const { return state_->ports; }
const std::string& UsbReader::serial() const { return state_->strings.serial; }
std::string UsbReader::sysfs_path() const { return state_->sysfs; }

void UsbReader::unplug() {
    if (!plugged()) return;
    state_->topology->pull_out(*state_);
}

void UsbReader::replug() {
    if (plugged()) return;
    state_->topology->plug_in(*state_);
}

bool UsbReader::plugged() const {
    std::lock_guard lock(state_->mu);
    return state_->plugged;
}

void UsbReader::send_now(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(state_->mu);
    state_->replies.push_back({std::move(bytes), 0, Clock::now()});
}

std::size_t UsbReader::replies_queued() const {
    std::lock_guard lock(state_->mu);
    return state_->replies.size();
}

bool UsbReader::wait_replies_due(std::chrono::milliseconds timeout) const {
    Clock::time_point latest = Clock::now();
    {
        std::lock_guard lock(state_->mu);
        for (const Queued& q : state_->replies) latest = std::max(latest, q.due);
    }
    if (latest > Clock::now() + timeout) return false;
    std::this_thread::sleep_until(latest);
    return true;
}

void UsbReader::fail_next_out(UrbFault fault, int count) {
    std::lock_guard lock(state_->mu);
    for (int i = 0; i < count; ++i) state_->out_faults.push_back(fault);
}

void UsbReader::fail_next_in(UrbFault fault, int count) {
    std::lock_guard lock(state_->mu);
    for (int i = 0; i < count; ++i) state_->in_faults.push_back(fault);
}

void UsbReader::fail_open(bool on) {
    {
        std::lock_guard lock(state_->mu);
        if (state_->node_missing == on) return;
        state_->node_missing = on;
    }
    // Without its file the node cannot be opened, and without the handler the device hears
    // nothing of the attempt.
    if (on) state_->topology->hide_node(*state_);
    else state_->topology->restore_node(*state_);
}

void UsbReader::fail_claim(int error) {
    std::lock_guard lock(state_->mu);
    state_->claim_error = error;
}

void UsbReader::fail_set_configuration(bool on) {
    std::lock_guard lock(state_->mu);
    state_->config_fails = on;
}

void UsbReader::bind_kernel_driver(bool on) {
    std::lock_guard lock(state_->mu);
    state_->has_driver = on;
    state_->counters.driver_bound = on;
}

std::vector<std::vector<std::uint8_t>> UsbReader::pieces() const {
    std::lock_guard lock(state_->mu);
    return state_->pieces;
}

std::vector<std::size_t> UsbReader::piece_sizes() const {
    std::lock_guard lock(state_->mu);
    std::vector<std::size_t> sizes;
    for (const auto& p : state_->pieces) sizes.push_back(p.size());
    return sizes;
}

UsbCounters UsbReader::counters() const {
    std::lock_guard lock(state_->mu);
    state_->count_closes();
    return state_->counters;
}

bool UsbReader::wait_until(const std::function<bool(const UsbCounters&)>& done,
                           std::chrono::milliseconds timeout) const {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(state_->mu);
    for (;;) {
        state_->count_closes();
        if (done(state_->counters)) return true;
        if (Clock::now() >= deadline) return false;
        // Closes come with no notice: look again shortly.
        state_->changed.wait_for(lock, std::chrono::milliseconds(2));
    }
}

void UsbReader::clear_log() {
    responder_.clear_log();
    std::lock_guard lock(state_->mu);
    state_->pieces.clear();
}

struct UsbBus::Impl {
    usbdetail::Topology topology;
    std::vector<std::unique_ptr<UsbReader>> readers;
};

bool UsbBus::available() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

UsbBus::UsbBus() : impl_(std::make_unique<Impl>()) {}

UsbBus::~UsbBus() {
    impl_->topology.detach_all();
    impl_->readers.clear();
}

UsbReader& UsbBus::add_reader(std::uint16_t vendor, std::uint16_t product) {
    UsbDeviceOptions o;
    o.vendor = vendor;
    o.product = product;
    return add_reader(o);
}

UsbReader& UsbBus::add_reader(const UsbDeviceOptions& options) {
    usbdetail::Topology& topology = impl_->topology;
    const std::string path = options.port_path.empty() ? topology.free_root_port(1) : options.port_path;
    const usbdetail::PortPath parsed = usbdetail::parse_port_path(path);
    topology.reserve(path);

    auto state = std::make_unique<UsbReader::State>();
    state->vendor = options.vendor;
    state->product = options.product;
    state->strings = {options.manufacturer, options.product_name, options.serial};
    state->port_path = path;
    state->ports = parsed.ports;
    state->bus = parsed.bus;
    state->topology = &topology;
    impl_->readers.push_back(std::unique_ptr<UsbReader>(new UsbReader(std::move(state))));
    UsbReader& reader = *impl_->readers.back();
    topology.plug_in(*reader.state_);
    return reader;
}

}  // namespace uhfsim
