// The descriptors the emulated devices show: in sysfs ("descriptors", the device descriptor
// followed by the active configuration) and through GET_DESCRIPTOR on endpoint 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uhfsim::usbdetail {

inline constexpr std::uint8_t kEndpointOut = 0x01;
inline constexpr std::uint8_t kEndpointIn = 0x82;
inline constexpr unsigned kInterface = 0;

// String indexes of the reader's descriptor; 0 where the string is absent.
inline constexpr std::uint8_t kManufacturerIndex = 1;
inline constexpr std::uint8_t kProductIndex = 2;
inline constexpr std::uint8_t kSerialIndex = 3;

struct ReaderStrings {
    std::string manufacturer;
    std::string product;
    std::string serial;

    // The string at a descriptor index, if the device has one there.
    std::optional<std::string> at(std::uint8_t index) const;
};

// Device descriptor, then configuration 1 with interface 0 and its two bulk endpoints.
std::vector<std::uint8_t> reader_descriptors(std::uint16_t vendor, std::uint16_t product,
                                             const ReaderStrings& strings);
// A hub: the root hub of a bus, or one plugged into a port on the way to a device.
std::vector<std::uint8_t> hub_descriptors();

// The answer to GET_DESCRIPTOR(STRING, index): index 0 lists the languages (US English only),
// other indexes the UTF-16LE string. Nothing for an index the device does not have.
std::optional<std::vector<std::uint8_t>> string_descriptor(const ReaderStrings& strings,
                                                           std::uint8_t index);

}  // namespace uhfsim::usbdetail
