"""Link.cancel(): an exchange a silent reader holds for the link's long reply wait ends at once
when another thread cancels it, a cancel while nothing waits ends the next exchange before it
sends, and the link works on; and the catalogue's read-or-change column as Command.changes."""

import threading
import time
import unittest

import uhfreader
from fake_reader import FakeReader
from uhfreader import LinkFailure

LONG_WAIT = 10.0  # seconds: an exchange that ends by timing out fails the bounds below
BOUND = 1.0  # generous against the library's 10 ms


class SilentOnRequest(FakeReader):
    """Answers the handshake; leaves the next `silent` requests unanswered."""

    def __init__(self):
        self.silent = 0
        self.heard = threading.Event()
        super().__init__()

    def _answer(self, addr, cmd, data):
        if cmd != 0 and self.silent > 0:
            self.silent -= 1
            self.heard.set()
            return b""
        return super()._answer(addr, cmd, data)


class Cancel(unittest.TestCase):
    def setUp(self):
        self.fake = SilentOnRequest()
        self.addCleanup(self.fake.close)
        self.link = uhfreader.Link(self.fake.path, 1, reply_timeout=LONG_WAIT)
        self.addCleanup(self.link.close)

    def assert_usable(self):
        self.fake.reply(0, b"\x09")
        self.assertEqual(self.link.exchange(0x05), b"\x09")

    def test_cancel_from_another_thread_ends_the_wait(self):
        self.fake.silent = 1
        caught = []

        def run():
            try:
                self.link.exchange(0x42)
            except uhfreader.ExchangeError as e:
                caught.append((e, time.monotonic()))

        worker = threading.Thread(target=run)
        worker.start()
        self.assertTrue(self.fake.heard.wait(5))
        cancelled_at = time.monotonic()
        self.link.cancel()
        worker.join(LONG_WAIT / 2)
        self.assertFalse(worker.is_alive(), "the exchange outlived the cancel")
        error, returned = caught[0]
        self.assertIsInstance(error, uhfreader.CancelledError)
        self.assertEqual(error.code, LinkFailure.CANCELLED)
        self.assertLess(returned - cancelled_at, BOUND)
        self.assert_usable()

    def test_cancel_while_nothing_waits_ends_only_the_next_exchange_before_it_sends(self):
        self.link.cancel()
        self.link.cancel()
        with self.assertRaises(uhfreader.CancelledError):
            self.link.exchange(0x42)
        self.assertEqual(self.fake.requests, [])
        self.assert_usable()

    def test_reconnect_cancelled_before_it_leaves_the_link_as_it_was(self):
        self.link.cancel()
        with self.assertRaises(uhfreader.OpenError) as caught:
            self.link.reconnect()
        self.assertEqual(caught.exception.failure, LinkFailure.CANCELLED)
        self.assert_usable()

    def test_cancel_on_a_closed_link_does_nothing(self):
        self.link.close()
        self.link.cancel()


class Changes(unittest.TestCase):
    def test_commands_say_whether_they_change_the_reader(self):
        by_name = {c.name: c for c in uhfreader.commands()}
        self.assertFalse(by_name["EPC_Read_TAG"].changes)
        self.assertFalse(by_name["GetDeviceInfo"].changes)
        self.assertTrue(by_name["EPC_Write_TAG"].changes)
        self.assertTrue(by_name["WriteDeviceNo"].changes)
        self.assertEqual(sum(not c.changes for c in by_name.values()), 26)


if __name__ == "__main__":
    unittest.main()
