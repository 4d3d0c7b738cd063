// Why a USB link could not even open the reader, in words a user can act on.
#pragma once

#include <string>

namespace uhfctl {

// Looks for the reader (03EB:6125) and tries to open it as the library would. Returns a
// sentence naming the node and the udev rule when the reader is present but this user may
// not open it; an empty string otherwise (no reader, or nothing in the way).
std::string usb_access_problem();

}  // namespace uhfctl
