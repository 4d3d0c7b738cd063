// The USB tests need umockdev's preload from process start; without it they skip.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/usb/usb_reader.hpp"

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests) && !uhfsim::UsbBus::available()) {
        std::fprintf(stderr, "no emulated USB bus: run under umockdev-wrapper\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}
