"""Links against the virtual reader over a pseudo-terminal and over TCP: why an open fails,
several links in several threads, the device going away mid-exchange and coming back, tracing."""

import gc
import os
import socket
import sys
import tempfile
import threading
import time
import unittest

import uhfreader
from sim_process import Sim, free_port
from uhfreader import LinkFailure

FAST = {"handshakes": 1, "reply_timeout": 0.3}


def seed_of(link):
    """Bytes 8-11 of the virtual reader's device information: its seed, so replies show whose
    they are."""
    return int.from_bytes(link.get_device_info()[8:12], "big")


class OpenErrors(unittest.TestCase):
    """Each cause with its own setup; the row gives the device string and what must come back."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.sim = Sim("--seed", "1")
        self.addCleanup(self.sim.stop)

    def cases(self):
        plain = os.path.join(self.dir, "file")
        open(plain, "w").close()
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)
        master, slave = os.openpty()  # a terminal nobody answers on
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        held = uhfreader.Link(self.sim.device)
        self.addCleanup(held.close)
        crowded = socket.socket()  # a server whose backlog is full takes no more connections
        self.addCleanup(crowded.close)
        crowded.bind(("127.0.0.1", 0))
        crowded.listen(0)
        for _ in range(3):
            waiting = socket.socket()
            self.addCleanup(waiting.close)
            waiting.setblocking(False)
            waiting.connect_ex(crowded.getsockname())
        with Sim("--addr", "5") as other:
            other_node = other.device  # gone once it stopped
        return [
            # device string, options, LinkFailure (None: a handshake's exchange code), that code
            ("/nonexistent/reader", {}, LinkFailure.NOT_FOUND, None),
            (other_node, {}, LinkFailure.NOT_FOUND, None),
            (plain, {}, LinkFailure.NOT_TERMINAL, None),
            (self.dir, {}, LinkFailure.NOT_TERMINAL, None),
            (fifo, {}, LinkFailure.NOT_TERMINAL, None),
            (f"{self.sim.device}@1234", {}, LinkFailure.BAD_DEVICE, None),
            ("usb:bogus", {}, LinkFailure.BAD_DEVICE, None),
            ("tcp:127.0.0.1", {}, LinkFailure.BAD_DEVICE, None),
            (self.sim.device, {}, LinkFailure.BUSY, None),
            (f"tcp:127.0.0.1:{free_port()}", {}, LinkFailure.CONNECT, None),
            ("tcp:127.0.0.1:%d" % crowded.getsockname()[1], {"connect_timeout": 0.3}, LinkFailure.TIMEOUT, None),
            (os.ttyname(slave), FAST, None, 234),
        ]

    def test_each_cause_is_named(self):
        for device, options, failure, code in self.cases():
            with self.subTest(device, failure=failure):
                with self.assertRaises(uhfreader.OpenError) as caught:
                    uhfreader.Link(device, **options)
                e = caught.exception
                self.assertEqual(e.failure, failure)
                self.assertEqual(e.code, failure if failure is not None else code)
                self.assertEqual(e.device, device)
                self.assertIn(uhfreader.describe_exchange(e.code), str(e))

    def test_a_reader_at_another_address_does_not_answer_the_handshake(self):
        with self.assertRaises(uhfreader.OpenError) as caught:
            uhfreader.Link(self.sim.device, addr=5, **FAST)
        self.assertIsNone(caught.exception.failure)
        self.assertIn("0x05", str(caught.exception))


class OneLink(unittest.TestCase):
    def test_close_frees_the_port_for_the_next_link(self):
        with Sim() as sim:
            with uhfreader.Link(sim.device) as link:
                self.assertEqual(link.read_device_no(), b"\x01")
            self.assertTrue(link.closed)
            forgotten = uhfreader.Link(sim.device)
            del forgotten
            gc.collect()
            with uhfreader.Link(sim.device) as again:  # BUSY if either still held the port
                self.assertEqual(again.read_device_no(), b"\x01")

    def test_calls_from_two_threads_on_one_link_each_get_their_reply(self):
        with Sim() as sim, uhfreader.Link(sim.device) as link:
            wrong = []

            def read_back(word):
                for _ in range(15):
                    data = word.to_bytes(2, "big")
                    link.epc_write_tag(b"\x03" + bytes([word]) + b"\x00\x01" + data)
                    got = link.epc_read_tag(b"\x03" + bytes([word]) + b"\x01\x00")
                    if got != b"\x02" + data:
                        wrong.append((word, got))

            threads = [threading.Thread(target=read_back, args=(w,)) for w in (3, 9)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            self.assertEqual(wrong, [])

    def test_trace_sees_every_frame_from_the_handshake_on(self):
        events = []
        with Sim() as sim, uhfreader.Link(sim.device, trace=events.append) as link:
            handshake = list(events)
            link.set_trace(None)
            link.read_device_no()
            self.assertEqual(events, handshake)
            link.set_trace(events.append)
            link.read_device_no()
        later = events[len(handshake):]
        sent = uhfreader.Direction.SENT
        # request frame: 10 01 | addr | cmd | len | data | xor | 10 02
        self.assertEqual((handshake[0].direction, handshake[0].data), (sent, bytes.fromhex("1001010000011002")))
        self.assertEqual([e.data for e in later if e.direction == sent], [bytes.fromhex("1001010700061002")])
        # reply frame: 10 01 | addr | cmd | status | len(2) | data | xor | 10 02
        received = b"".join(e.data for e in later if e.direction == uhfreader.Direction.RECEIVED)
        self.assertEqual(received, bytes.fromhex("1001010700000101061002"))
        self.assertEqual([e.time_us for e in later], sorted(e.time_us for e in later))

    def test_a_trace_that_raises_does_not_stop_the_exchange(self):
        def broken(event):
            raise RuntimeError("trace broke")

        reported = []
        hook, sys.unraisablehook = sys.unraisablehook, reported.append
        self.addCleanup(setattr, sys, "unraisablehook", hook)
        with Sim() as sim, uhfreader.Link(sim.device, trace=broken) as link:
            self.assertEqual(link.read_device_no(), b"\x01")
        self.assertTrue(reported)
        self.assertIsInstance(reported[0].exc_value, RuntimeError)

    def test_reply_timeout_bounds_the_wait(self):
        with Sim("--latency", "1500") as sim:
            link = uhfreader.Link(sim.device, reply_timeout=3)
            self.addCleanup(link.close)
            link.set_options(reply_timeout=0.3)
            started = time.monotonic()
            with self.assertRaises(uhfreader.ExchangeError) as caught:
                link.read_device_no()
            self.assertLess(time.monotonic() - started, 1.4)
            self.assertEqual(caught.exception.code, 234)
            self.assertNotIsInstance(caught.exception, uhfreader.DeviceGoneError)


class Transports:
    """The same behaviour over a pseudo-terminal and over TCP; ``start`` serves one reader."""

    def start(self, *args, same_as=None):
        raise NotImplementedError

    def test_two_links_in_two_threads_run_at_once(self):
        a = self.start("--seed", "11", "--latency", "150")
        b = self.start("--seed", "22", "--latency", "150")
        spans = {11: [], 22: []}
        wrong = []

        def work(sim, seed):
            with uhfreader.Link(sim.device) as link:
                for _ in range(4):
                    started = time.monotonic()
                    if seed_of(link) != seed:
                        wrong.append(seed)
                    spans[seed].append((started, time.monotonic()))

        threads = [threading.Thread(target=work, args=(a, 11)), threading.Thread(target=work, args=(b, 22))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(wrong, [])
        overlaps = sum(1 for s in spans[11] for t in spans[22] if s[0] < t[1] and t[0] < s[1])
        self.assertGreater(overlaps, 0, "the two links' exchanges never overlapped: one waited for the other")

    def test_reader_killed_mid_exchange_is_gone_then_reconnects(self):
        sim = self.start("--seed", "5", "--latency", "400")
        link = uhfreader.Link(sim.device, reply_timeout=3)
        self.addCleanup(link.close)
        threading.Timer(0.15, sim.kill).start()
        with self.assertRaises(uhfreader.DeviceGoneError) as caught:
            link.get_device_info()
        self.assertEqual(caught.exception.code, LinkFailure.GONE)
        self.assertIn(uhfreader.describe_exchange(LinkFailure.GONE), str(caught.exception))
        with self.assertRaises(uhfreader.DeviceGoneError):
            link.read_device_no()  # at once, until reconnected
        with self.assertRaises(uhfreader.OpenError):
            link.reconnect()
        self.start("--seed", "6", same_as=sim)
        link.reconnect()
        self.assertEqual(seed_of(link), 6)


class OverPty(Transports, unittest.TestCase):
    def start(self, *args, same_as=None):
        sim = Sim(*args, node=same_as.node if same_as else None)
        self.addCleanup(sim.stop)
        return sim


class OverTcp(Transports, unittest.TestCase):
    def start(self, *args, same_as=None):
        sim = Sim(*args, tcp_port=same_as.port if same_as else 0)
        self.addCleanup(sim.stop)
        return sim


if __name__ == "__main__":
    unittest.main()
