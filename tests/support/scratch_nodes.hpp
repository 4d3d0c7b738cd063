// The numbered serial openers redirected into a scratch directory, where a test places
// links named ttyS<n> / ttyUSB<n> to simulated readers: no real device node is opened.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "transport/serial.hpp"

namespace uhftest {

class ScratchNodes {
public:
    ScratchNodes() {
        char tmpl[] = "/tmp/uhf-nodes-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        dir_ = tmpl;
        builtin_ = dir_ + "/ttyS";
        adapter_ = dir_ + "/ttyUSB";
        uhf::serial::node_families() = {builtin_.c_str(), adapter_.c_str()};
    }
    ~ScratchNodes() {
        uhf::serial::node_families() = {};
        const std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
    }
    ScratchNodes(const ScratchNodes &) = delete;
    ScratchNodes &operator=(const ScratchNodes &) = delete;

    // Makes `name` (e.g. "ttyUSB0") a link to `target`, a simulated reader's node.
    void place(const std::string &name, const std::string &target) const {
        ASSERT_EQ(symlink(target.c_str(), (dir_ + "/" + name).c_str()), 0);
    }

private:
    std::string dir_, builtin_, adapter_;
};

}  // namespace uhftest
