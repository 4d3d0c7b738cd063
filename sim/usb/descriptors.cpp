#include "sim/usb/descriptors.hpp"

#include <algorithm>

namespace uhfsim::usbdetail {

namespace {
std::uint8_t lo(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t hi(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
}  // namespace

std::optional<std::string> ReaderStrings::at(std::uint8_t index) const {
    const std::string* s = index == kManufacturerIndex ? &manufacturer
                           : index == kProductIndex    ? &product
                           : index == kSerialIndex     ? &serial
                                                       : nullptr;
    if (s == nullptr || s->empty()) return std::nullopt;
    return *s;
}

std::vector<std::uint8_t> reader_descriptors(std::uint16_t vendor, std::uint16_t product,
                                             const ReaderStrings& strings) {
    const auto index = [&](std::uint8_t i) -> std::uint8_t { return strings.at(i) ? i : 0; };
    return {
        // device: USB 2.0, class per interface, control packets of 64, one configuration
        0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, lo(vendor), hi(vendor), lo(product),
        hi(product), 0x00, 0x01, index(kManufacturerIndex), index(kProductIndex),
        index(kSerialIndex), 0x01,
        // configuration 1: 32 bytes in all, one interface, bus powered, 100 mA
        0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
        // interface 0: two endpoints, vendor class
        0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
        // bulk OUT 0x01 and bulk IN 0x82, 64-byte packets
        0x07, 0x05, kEndpointOut, 0x02, 0x40, 0x00, 0x00,
        0x07, 0x05, kEndpointIn, 0x02, 0x40, 0x00, 0x00};
}

std::vector<std::uint8_t> hub_descriptors() {
    return {0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01,
            0x00, 0x00, 0x00, 0x01, 0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00,
            0x09, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03,
            0x04, 0x00, 0x0C};
}

std::optional<std::vector<std::uint8_t>> string_descriptor(const ReaderStrings& strings,
                                                           std::uint8_t index) {
    if (index == 0) return std::vector<std::uint8_t>{4, 0x03, 0x09, 0x04};
    const std::optional<std::string> s = strings.at(index);
    if (!s) return std::nullopt;
    // bLength is one byte: at most 126 characters.
    const std::size_t n = std::min<std::size_t>(s->size(), 126);
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * n), 0x03};
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<std::uint8_t>((*s)[i]));
        out.push_back(0);
    }
    return out;
}

}  // namespace uhfsim::usbdetail
