// The emulated USB bus for the Python tests: a C face on uhfsim::UsbBus, loaded with ctypes into
// a Python process started under umockdev's preload. Each reader answers with the virtual
// reader's model, so a Link over USB sees what it would see over a serial line.
#include <atomic>
#include <cstdint>
#include <exception>
#include <list>
#include <memory>
#include <string>

#include "sim/model.hpp"
#include "sim/usb/usb_reader.hpp"

namespace {

struct Reader {
    uhfsim::UsbReader *device = nullptr;
    std::unique_ptr<uhfsim::ReaderModel> model;
    std::atomic<int> latency_ms{0};  // set by the test, read on umockdev's worker thread
    std::string port_path;
};

struct Bus {
    std::list<Reader> readers;  // stable addresses: Python holds pointers to them
    uhfsim::UsbBus bus;         // goes first, with the handlers that use the readers' models
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int pyusb_available(void) { return uhfsim::UsbBus::available() ? 1 : 0; }

// NULL when umockdev cannot set the bus up.
__attribute__((visibility("default"))) void *pyusb_bus_new(void) {
    try {
        return new Bus;
    } catch (const std::exception &) {
        return nullptr;
    }
}

// Every link on the bus must be closed first: libusb is done with a device before it goes.
__attribute__((visibility("default"))) void pyusb_bus_free(void *bus) { delete static_cast<Bus *>(bus); }

// A reader at `port_path` ("" for the next free root port) with serial number `serial`, answering
// at `addr` with `tags` tags drawn from `seed`. NULL for a malformed or taken port path.
__attribute__((visibility("default"))) void *pyusb_add_reader(void *bus, const char *serial, const char *port_path,
                                                              int addr, int tags, unsigned seed) {
    auto *b = static_cast<Bus *>(bus);
    uhfsim::UsbDeviceOptions o;
    o.serial = serial;
    o.manufacturer = "uhfsim";
    o.product_name = "emulated reader";
    o.port_path = port_path;
    try {
        Reader &r = b->readers.emplace_back();
        r.model = std::make_unique<uhfsim::ReaderModel>(
            uhfsim::ModelOptions{static_cast<std::uint8_t>(addr), static_cast<std::size_t>(tags), seed});
        r.device = &b->bus.add_reader(o);
        r.port_path = r.device->port_path();
        Reader *self = &r;
        r.device->set_handler([self](const uhfsim::Request &q) {
            std::optional<uhfsim::Reply> reply = self->model->answer(q);
            if (!reply) return uhfsim::Action::silent();
            uhfsim::Action a = uhfsim::Action::reply(*reply);
            if (self->latency_ms > 0) a.delayed(self->latency_ms);
            return a;
        });
        return self;
    } catch (const std::exception &) {
        if (!b->readers.empty() && b->readers.back().device == nullptr) b->readers.pop_back();
        return nullptr;
    }
}

// The reader's think time before each reply, so a test can act while an exchange is under way.
__attribute__((visibility("default"))) void pyusb_set_latency(void *reader, int ms) {
    static_cast<Reader *>(reader)->latency_ms = ms;
}

__attribute__((visibility("default"))) const char *pyusb_port_path(void *reader) {
    return static_cast<Reader *>(reader)->port_path.c_str();
}

__attribute__((visibility("default"))) int pyusb_address(void *reader) {
    return static_cast<Reader *>(reader)->device->address();
}

__attribute__((visibility("default"))) void pyusb_unplug(void *reader) { static_cast<Reader *>(reader)->device->unplug(); }

__attribute__((visibility("default"))) void pyusb_replug(void *reader) { static_cast<Reader *>(reader)->device->replug(); }

}  // extern "C"
