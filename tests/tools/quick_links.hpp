// A fixture for tests that link to virtual readers through the designed interface.
#pragma once

#include <gtest/gtest.h>

#include "transport/serial.hpp"
#include "uhfreader.h"

namespace tooltest {

// Shortens the reply waits so a reader that stays silent costs little, while leaving a
// loaded machine time to answer (40 polls of 50 ms for a command).
class Quick : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = uhf::serial::timing();
        uhf::serial::timing().first_byte_poll_ms = 50;
    }
    void TearDown() override {
        UnLinkCom();
        uhf::serial::timing() = saved_;
    }
    uhf::serial::Timing saved_;
};


}  // namespace tooltest
