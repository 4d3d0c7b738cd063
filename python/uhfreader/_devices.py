"""The candidate devices on this machine, as uhf_list_devices finds them (it opens nothing)."""

from __future__ import annotations

from dataclasses import dataclass
from typing import List, Optional

from . import _library

_KINDS = {1: "serial", 2: "usb"}


@dataclass(frozen=True)
class DeviceInfo:
    """One candidate device; ``device`` is the string to open it with (Link(info.device)).
    Strings the system does not tell are ""."""

    kind: str           # "serial" or "usb"
    device: str
    node: str           # serial: the /dev node; USB: the usbfs node
    by_id: str          # serial: its /dev/serial/by-id name
    driver: str         # serial: the kernel driver
    vendor: int         # USB vendor ID (of a USB serial adapter, or of the reader)
    product: int
    manufacturer: str
    product_name: str
    serial: str         # USB serial number
    bus: int            # 0 when not on USB
    address: int
    port_path: str      # USB physical port path, e.g. "1-2.3"


def _info(s: _library.DeviceInfoStruct) -> DeviceInfo:
    t = _library.text
    return DeviceInfo(_KINDS.get(s.kind, str(s.kind)), t(s.device), t(s.node), t(s.by_id),
                      t(s.driver), s.vendor, s.product, t(s.manufacturer), t(s.product_name),
                      t(s.serial), s.bus, s.address, t(s.port_path))


def list_devices(*, library: Optional[str] = None) -> List[DeviceInfo]:
    """Serial nodes (built-in ports that exist as real ports, ttyUSB and ttyACM nodes) and USB
    readers on this machine, without opening any."""
    lib = _library.load(library)
    room = 16
    while True:
        found = (_library.DeviceInfoStruct * room)()
        n = lib.uhf_list_devices(found, room)
        if n <= room:  # else a device came meanwhile: ask again with room for all
            return [_info(found[i]) for i in range(max(n, 0))]
        room = n + 4
