// What a serial path turned out to be when opening it failed: the library's code says the
// class of failure ("not a serial port", "no such device"); this says which case it was.
#pragma once

#include <string>

namespace uhfctl {

// "a directory", "a regular file", "a FIFO", "a character device that is not a terminal",
// "a socket", "a block device", or for a missing node "a link to TARGET, which does not exist";
// empty when nothing more can be said (not a path, or the code is of another kind).
std::string path_kind(const std::string& device, int code);

}  // namespace uhfctl
