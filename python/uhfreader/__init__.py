"""Python access to libuhfreader, the driver library for a UHF RFID reader.

    import uhfreader

    with uhfreader.Link("/dev/ttyUSB0") as reader:        # or "usb", "tcp:10.0.0.7:4001"
        print(reader.get_device_info().hex())
        reply = reader.epc_read_tag(bytes([3, 0, 2, 0]))    # counted reply: [n, n bytes]
        for tag in reader.inventory():
            print(tag.id.hex(), tag.rssi)

A Link is one reader on one device; open as many as there are readers and use each from its own
thread. Every reader command is a method generated from the library's own catalogue, named after
the C function in lower case (EPC_Read_TAG -> epc_read_tag) with the C parameter names. Blocks go
in as bytes of exactly the length their own counts give; replies come back as the bytes the
library copied, count bytes included, so a block read back can be written back unchanged.
Values a command cannot send raise ValueError naming the argument, before anything is sent.

Failures raise, in the library's own words (uhf_strerror):

- OpenError(code): the device could not be opened, or no reader answered (``failure`` names the
  cause);
- ExchangeError(code, detail): an exchange failed; DeviceGoneError when the device went away
  (reconnect() brings the link back), CancelledError when Link.cancel() ended it;
- ReaderStatusError(status, data): the reader answered with a non-zero status byte.

Reader is the designed interface (one link per process, the exported exchange state) for code
written against it.

The library is found by $UHFREADER_LIBRARY, else beside a copy installed by ``cmake --install``,
else by the system loader (``libuhfreader.so.1``).
"""

from ._catalogue import Argument, Command, catalogue as _read_catalogue
from ._devices import DeviceInfo, list_devices
from ._errors import (CancelledError, DeviceGoneError, ExchangeError, LinkClosedError, LinkError, LinkFailure,
                      OpenError, ReaderStatusError, RequestTooLongError, TagListFormatError,
                      UhfError, describe_exchange)
from ._inventory import Tag, TagListPage, parse_tag_list
from ._library import load
from ._link import Direction, Link, TraceEvent
from ._reader import Reader
from ._version import __version__

__all__ = [
    "Argument", "CancelledError", "Command", "DeviceGoneError", "DeviceInfo", "Direction", "ExchangeError", "Link",
    "LinkClosedError", "LinkError", "LinkFailure", "OpenError", "Reader", "ReaderStatusError",
    "RequestTooLongError", "Tag", "TagListFormatError", "TagListPage", "TraceEvent", "UhfError",
    "__version__", "commands", "describe_exchange", "library_version", "list_devices", "load",
    "parse_tag_list",
]


def commands(*, library: "str | None" = None) -> "tuple[Command, ...]":
    """Every command of the library's catalogue: name, code, family, arguments, rules, summary."""
    return _read_catalogue(load(library))


def library_version(*, library: "str | None" = None) -> str:
    """The loaded library's version, "MAJOR.MINOR.PATCH"."""
    return str(load(library).uhf_version().decode())
