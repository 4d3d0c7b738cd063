// How a request frame is cut for USB: 64-byte pieces, and two filler bytes after a frame
// whose size is a multiple of 64, so the device never waits for a piece that is not coming.
// The raw USB client cuts its frames this way, so the limit moves the same transfers as the
// library.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace uhfbench {

inline constexpr std::size_t kUsbPieceSize = 64;

inline std::vector<std::size_t> usb_piece_sizes(std::size_t frame) {
    const std::size_t total = frame % kUsbPieceSize == 0 ? frame + 2 : frame;
    std::vector<std::size_t> out;
    for (std::size_t at = 0; at < total; at += kUsbPieceSize)
        out.push_back(std::min(kUsbPieceSize, total - at));
    return out;
}

}  // namespace uhfbench
