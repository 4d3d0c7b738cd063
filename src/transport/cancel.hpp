// A link's cancel signal: an eventfd made once when the link is opened. uhf_cancel raises it
// with one write (async-signal-safe); every wait of the link's transport polls it beside the
// device, and the exchange that saw it lowers it as it ends. Raised while nothing waits, it
// stays raised for the next exchange, so a cancel is never lost.
#pragma once

namespace uhf {

// A new cancel descriptor (non-blocking, close-on-exec), or -1 with errno set.
int make_cancel_signal();
// Raises the signal. Async-signal-safe: one write(), errno preserved.
void raise_cancel(int fd);
// Whether the signal is raised; false for -1 (nothing cancels a transport without a link).
bool cancel_raised(int fd);
// Lowers the signal: cancels raised so far are spent.
void lower_cancel(int fd);

}  // namespace uhf
