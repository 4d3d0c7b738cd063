"""Links over USB: the real libusb inside the library against emulated readers on umockdev,
placed by the shim in $UHF_USB_SHIM within this process (which must start under
umockdev-wrapper; without it the suite reports itself skipped)."""

import ctypes
import os
import sys
import threading
import time
import unittest

import uhfreader
from uhfreader import LinkFailure

SKIPPED = 77
shim = ctypes.CDLL(os.environ["UHF_USB_SHIM"])
shim.pyusb_bus_new.restype = ctypes.c_void_p
shim.pyusb_bus_free.argtypes = [ctypes.c_void_p]
shim.pyusb_add_reader.restype = ctypes.c_void_p
shim.pyusb_add_reader.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                                  ctypes.c_int, ctypes.c_uint]
for _name in ("pyusb_set_latency",):
    getattr(shim, _name).argtypes = [ctypes.c_void_p, ctypes.c_int]
for _name in ("pyusb_port_path", "pyusb_address", "pyusb_unplug", "pyusb_replug"):
    getattr(shim, _name).argtypes = [ctypes.c_void_p]
shim.pyusb_port_path.restype = ctypes.c_char_p


def seed_of(link):
    return int.from_bytes(link.get_device_info()[8:12], "big")


class EmulatedBus(unittest.TestCase):
    def setUp(self):
        self.bus = shim.pyusb_bus_new()
        self.assertTrue(self.bus, "umockdev could not set up the bus")
        self.addCleanup(shim.pyusb_bus_free, self.bus)  # runs last: after every link closed

    def add(self, serial, port_path, seed):
        reader = shim.pyusb_add_reader(self.bus, serial.encode(), port_path.encode(), 1, 4, seed)
        self.assertTrue(reader, f"no reader at {port_path!r}")
        return reader

    def link(self, device, **options):
        link = uhfreader.Link(device, **options)
        self.addCleanup(link.close)
        return link

    def test_listed_readers_open_by_the_device_string_listed(self):
        self.add("PYA1", "1-2", 101)
        self.add("PYB2", "1-3.1", 202)
        found = {d.serial: d for d in uhfreader.list_devices() if d.kind == "usb"}
        self.assertEqual(sorted(found), ["PYA1", "PYB2"])
        self.assertEqual((found["PYB2"].port_path, found["PYB2"].vendor, found["PYB2"].product),
                         ("1-3.1", 0x03EB, 0x6125))
        self.assertEqual(found["PYA1"].product_name, "emulated reader")
        for serial, seed in (("PYA1", 101), ("PYB2", 202)):
            with self.subTest(serial):
                with uhfreader.Link(found[serial].device) as link:
                    self.assertEqual(seed_of(link), seed)

    def test_device_strings_take_their_reader(self):
        a = self.add("PYA1", "1-2", 101)
        self.add("PYB2", "1-3.1", 202)
        for device, seed in (("usb:serial=PYB2", 202), ("usb:1-2", 101),
                             (f"usb:1.{shim.pyusb_address(a)}", 101)):
            with self.subTest(device):
                with uhfreader.Link(device) as link:
                    self.assertEqual(seed_of(link), seed)

    def test_open_errors_over_usb(self):
        self.add("PYA1", "1-2", 101)
        held = self.link("usb:serial=PYA1")
        for device, failure in (("usb:serial=NOPE", LinkFailure.NO_USB_READER),
                                ("usb:1-4", LinkFailure.NO_USB_READER),
                                ("usb:serial=PYA1", LinkFailure.BUSY)):
            with self.subTest(device):
                with self.assertRaises(uhfreader.OpenError) as caught:
                    uhfreader.Link(device)
                self.assertEqual(caught.exception.failure, failure)
        self.assertEqual(seed_of(held), 101)

    def test_two_readers_in_two_threads(self):
        self.add("PYA1", "1-2", 101)
        self.add("PYB2", "1-3", 202)
        wrong = []

        def work(serial, seed):
            with uhfreader.Link(f"usb:serial={serial}") as link:
                for _ in range(20):
                    if seed_of(link) != seed:
                        wrong.append(serial)

        threads = [threading.Thread(target=work, args=a) for a in (("PYA1", 101), ("PYB2", 202))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(wrong, [])

    def test_unplugged_mid_exchange_is_gone_and_replugged_reconnects(self):
        reader = self.add("PYA1", "1-2", 101)
        link = self.link("usb:1-2")
        shim.pyusb_set_latency(reader, 400)
        unplug = threading.Timer(0.15, shim.pyusb_unplug, args=(reader,))
        unplug.start()
        started = time.monotonic()
        with self.assertRaises(uhfreader.DeviceGoneError) as caught:
            link.get_device_info()
        self.assertLess(time.monotonic() - started, 1.5)
        self.assertEqual(caught.exception.code, LinkFailure.GONE)
        # The exchange ends as the device does, before the emulator has cleared it from sysfs;
        # a reconnect's enumeration meanwhile would race that clearing.
        unplug.join()
        with self.assertRaises(uhfreader.OpenError) as still:
            link.reconnect()
        self.assertEqual(still.exception.failure, LinkFailure.NO_USB_READER)
        shim.pyusb_set_latency(reader, 0)
        shim.pyusb_replug(reader)
        link.reconnect()
        self.assertEqual(seed_of(link), 101)


if __name__ == "__main__":
    if not shim.pyusb_available():
        print("no emulated USB bus: run under umockdev-wrapper", file=sys.stderr)
        sys.exit(SKIPPED)
    unittest.main()
