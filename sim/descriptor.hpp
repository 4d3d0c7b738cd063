// Closing a descriptor the simulator owns and marking it closed.
#pragma once

#include <unistd.h>

namespace uhfsim {

inline void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace uhfsim
