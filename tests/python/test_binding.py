"""The generated command methods against a scripted reader, on a Link and on the designed
interface's Reader: what each sends, what it returns, and which exception each failure raises."""

import os
import tempfile
import unittest

import uhfreader
from fake_reader import FakeReader

R = bytes(range(1, 40))  # reply filler, distinct bytes

# method, arguments, command code, request data expected, reply data scripted, result expected
# (a status echo's result as bytes; a Link gives the byte as an int)
CALLS = [
    ("get_device_info", (), 0x05, b"", R[:30], R[:22]),
    ("read_device_temp", (), 0x10, b"", b"\x2a", b"\x2a"),
    ("get_rf_power", (), 0x15, b"", b"\x1a\x00", b"\x1a\x00\x00"),
    ("get_ch_active", (2,), 0x19, b"\x02", R[:9], R[:8]),
    ("get_ch_active", (b"\x03",), 0x19, b"\x03", R[:8], R[:8]),
    ("alarm", (7, 1, 0xFF, 0), 0x04, b"\x07\x01\xff\x00", b"", None),
    ("set_baud_rate", (4,), 0x03, b"\x04", b"", None),
    ("write_device_no", (9,), 0x06, b"\x09", b"", None),
    ("set_work_param", (R[:7],), 0x11, R[:7], b"", None),
    ("set_ch_active", (bytearray(R[:9]),), 0x18, R[:9], b"", None),
    ("epc_read_select_para", (), 0x20, b"", b"\x03\x0a\x0b\x0c", b"\x03\x0a\x0b"),
    ("gb_read_select_para", (), 0x40, b"", b"\x00\x0a", b"\x00"),
    ("epc_write_select_para", (b"\x03\x01\x02",), 0x21, b"\x03\x01\x02", b"", None),
    ("epc_read_tag_list", (0xFF, 2), 0x23, b"\xff\x02", b"\x00\x05\xaa\xbb\xcc\xdd", b"\x00\x05\xaa\xbb\xcc"),
    ("gjb_read_tag_list", (0, 0), 0x63, b"\x00\x00", b"\x00\x01\xaa", b"\x00\x01"),
    ("epc_wake_tag", (b"\x01\x02\x00\x09\xaa\xbb",), 0x26, b"\x01\x02\x00\x09\xaa\xbb",
     b"\x02\x01\x02\x03", b"\x02\x01\x02"),
    ("epc_read_tag", (memoryview(b"\x03\x00\x02\x00"),), 0x28, b"\x03\x00\x02\x00", b"\x00\x09", b"\x00"),
    ("epc_write_tag", (b"\x03\x00\x00\x06" + R[:12],), 0x29, b"\x03\x00\x00\x06" + R[:12], b"\x07\x01", b"\x07"),
    ("gb_write_tag", (b"\x03\x00\x00\x00\x01\xaa\xbb",), 0x49, b"\x03\x00\x00\x00\x01\xaa\xbb", b"\x00", b"\x00"),
    ("gjb_write_block_tag", (b"\x03\x00\x01\xaa\xbb",), 0x6C, b"\x03\x00\x01\xaa\xbb", b"\x00", b"\x00"),
    ("gb_lock_tag", (b"\x01\x02\x03",), 0x4B, b"\x01\x02\x03", b"\x05", b"\x05"),
    ("epc_tag_cust_command", (b"\x00\x09\x01\x02\x03\xf0\x80",), 0xE2, b"\x00\x09\x01\x02\x03\xf0\x80",
     b"\x01\x7f", b"\x01\x7f"),
    ("gb_set_pwd", (1, 2, b"abcd", b"efgh"), 0x45, b"\x01\x02abcdefgh", b"", None),
    ("epc_edit_tag_pwd", (b"abcd", b"efgh"), 0x2F, b"abcdefgh", b"", None),
    ("gjb_set_pwd", (0xAB, R[:16]), 0x65, b"\xab" + R[:16], b"", None),
    ("gb_access_proc", (1, 2), 0x47, b"\x01\x02", b"", None),
    ("gb_t2r_xauth", (), 0x53, b"", b"", None),
    ("gb_fd_get_diver_key", (1,), 0xA7, b"\x01", R[:20], R[:16]),
    ("gb_fd_cust_pwd_lock", (b"\x01",), 0xA2, b"\x01", b"\x09", b"\x09"),
    ("gb_fd_cust_pwd_lock", (1,), 0xA2, b"\x01", b"\x00", b"\x00"),
    ("gjb_fd_cust_write_block", (b"\x03\x00\x00\x00\x01\xaa\xbb",), 0xB1, b"\x03\x00\x00\x00\x01\xaa\xbb",
     b"\x00", b"\x00"),
    ("psam_power_on", (1, 2), 0xF0, b"\x01\x02", b"\x02\x11\x22\x33", b"\x02\x11\x22"),
    ("psam_fd_issue", (b"\x03\xa1\xb2\xc3",), 0xF3, b"\x03\xa1\xb2\xc3", b"\x00", b"\x00"),
    ("fm151m_get_rn", (0x1234,), 0xD1, b"\x12\x34", b"\x00\x04\x01\x02\x03\x04\x09", b"\x00\x04\x01\x02\x03\x04"),
    ("fm151m_hash", (b"\x00\x00\x02\xaa\xbb",), 0xD2, b"\x00\x00\x02\xaa\xbb", b"\x01\x7f", b"\x01\x7f"),
    ("fm151m_cipher", (b"\x01\x02\x03\x04\x01\xee",), 0xD3, b"\x01\x02\x03\x04\x01\xee", b"\x00", b"\x00"),
]

# The same calls by keyword, with the C header's parameter names.
BY_KEYWORD = [
    ("epc_read_tag", {"req": b"\x03\x00\x02\x00"}, 0x28, b"\x03\x00\x02\x00"),
    ("gb_set_pwd", {"pwd2": b"efgh", "pwd1": b"abcd", "b": 2, "a": 1}, 0x45, b"\x01\x02abcdefgh"),
    ("fm151m_get_rn", {"count": 16}, 0xD1, b"\x00\x10"),
]

# method, arguments, scripted reply (status, data, faults), exception, its attributes
FAILURES = [
    ("epc_read_tag", (b"\x03\x00\x01\x00",), (5, b"\x02\x09\x09", {}),
     uhfreader.ReaderStatusError, {"status": 5, "data": b"\x02\x09\x09"}),
    # The C result cannot tell these status bytes from exchange codes; the binding can.
    ("epc_query_on", (), (253, b"", {}), uhfreader.ReaderStatusError, {"status": 253, "data": b""}),
    ("gb_halt_tag", (), (1, b"", {}), uhfreader.ReaderStatusError, {"status": 1}),
    ("gjb_kill_tag", (b"\x00\x00\x00\x00",), (243, b"\xf3", {}), uhfreader.ReaderStatusError,
     {"status": 243, "data": b"\xf3"}),
    # Commands whose C result ignores the status byte still raise on it.
    ("get_work_param", (), (3, R[:7], {}), uhfreader.ReaderStatusError, {"status": 3, "data": R[:7]}),
    ("epc_kill_tag", (b"\x00\x00\x00\x00",), (0, b"\x00", {"bad_checksum": True}),
     uhfreader.ExchangeError, {"code": 243, "detail": 116}),
    ("get_device_info", (), (0, R[:22], {"bad_checksum": True}), uhfreader.ExchangeError,
     {"code": 243, "detail": 116}),
    # A reply from another reader leaves no detail code behind.
    ("epc_query_on", (), (0, b"", {"from_addr": 7}), uhfreader.ExchangeError, {"code": 253, "detail": 0}),
    ("read_device_no", (), (253, b"\x07", {"from_addr": 7}), uhfreader.ExchangeError, {"code": 253, "detail": 0}),
]


ECHOES = {c.method_name for c in uhfreader.commands() if c.status_echo}


def expected(cls, name, value):
    """A Link returns a status echo as the byte itself."""
    return value[0] if cls is uhfreader.Link and name in ECHOES else value


class CommandsOn:
    """The tables, run on the reader class named by ``cls``."""

    cls = None

    def setUp(self):
        self.fake = FakeReader()
        self.addCleanup(self.fake.close)
        if self.cls is uhfreader.Link:
            self.reader = uhfreader.Link(self.fake.path)
            self.addCleanup(self.reader.close)
        else:
            self.reader = uhfreader.Reader(self.fake.path).link()
            self.addCleanup(self.reader.unlink)
        self.addCleanup(lambda: self.assertEqual(self.fake.malformed, []))

    def test_each_method_sends_its_request_and_returns_the_copy(self):
        for name, args, cmd, sent, reply, result in CALLS:
            with self.subTest(name, args=args):
                self.fake.requests.clear()
                self.fake.replies.clear()
                self.fake.reply(0, reply)
                self.assertEqual(getattr(self.reader, name)(*args), expected(self.cls, name, result))
                self.assertEqual(self.fake.requests, [(cmd, sent)])

    def test_keywords_are_the_header_parameter_names(self):
        for name, kwargs, cmd, sent in BY_KEYWORD:
            with self.subTest(name):
                self.fake.requests.clear()
                getattr(self.reader, name)(**kwargs)
                self.assertEqual(self.fake.requests, [(cmd, sent)])

    def test_failures_raise_the_right_error(self):
        for name, args, (status, data, faults), error, attrs in FAILURES:
            with self.subTest(name, status=status, faults=faults):
                self.fake.replies.clear()
                self.fake.reply(status, data, **faults)
                with self.assertRaises(error) as caught:
                    getattr(self.reader, name)(*args)
                for attr, value in attrs.items():
                    self.assertEqual(getattr(caught.exception, attr), value)

    def test_error_words_are_the_library_words(self):
        self.fake.reply(0, b"", bad_checksum=True)
        with self.assertRaises(uhfreader.ExchangeError) as caught:
            self.reader.epc_query_on()
        self.assertIn(uhfreader.describe_exchange(243, 116), str(caught.exception))
        self.assertIn("epc_query_on", str(caught.exception))

    def test_status_echo_updates_a_writable_block_in_place(self):
        block = bytearray(b"\x03\x00\x00\x01\xaa\xbb")
        self.fake.reply(0, b"\x00")
        self.reader.epc_write_tag(block)
        self.assertEqual(block, b"\x00\x00\x00\x01\xaa\xbb")

    def test_request_too_long_for_a_frame_is_refused_before_sending(self):
        block = b"\x03\x00\x00\x7e" + bytes(252)  # 126 words: 256 bytes of request data
        with self.assertRaises(uhfreader.ExchangeError) as caught:
            self.reader.epc_write_tag(block)
        self.assertIsInstance(caught.exception, ValueError)
        self.assertEqual((caught.exception.code, caught.exception.detail), (248, 104))
        self.assertIn("block", str(caught.exception))
        self.assertEqual(self.fake.requests, [])

    def test_raw_exchange_returns_the_reply_data(self):
        self.fake.reply(0, b"\x10\x20")
        self.assertEqual(self.reader.exchange(0x7E, b"\x10\x01"), b"\x10\x20")
        self.fake.reply(6, b"\x01")
        with self.assertRaises(uhfreader.ReaderStatusError) as caught:
            self.reader.exchange(0x7E)
        self.assertEqual((caught.exception.status, caught.exception.data), (6, b"\x01"))
        self.assertEqual(self.fake.requests, [(0x7E, b"\x10\x01"), (0x7E, b"")])


class LinkCommands(CommandsOn, unittest.TestCase):
    cls = uhfreader.Link


class ReaderCommands(CommandsOn, unittest.TestCase):
    cls = uhfreader.Reader

    def test_exchange_state_reads_back(self):
        self.fake.reply(0, b"\x10\x20")
        self.reader.exchange(0x7E, b"\x10\x01")
        r = self.reader
        self.assertEqual((r.ic_cmd, r.pc_id, r.error_code, r.ic_ret_code), (0x7E, 1, 0, 0))
        self.assertEqual((r.blk_b_length, r.reply_data, r.usb_flag), (2, b"\x10\x20", 0))
        self.assertEqual(r.ic_baud_rate, 115200)


class ReaderLinkTest(unittest.TestCase):
    def test_context_manager_links_and_unlinks(self):
        fake = FakeReader()
        self.addCleanup(fake.close)
        with uhfreader.Reader(fake.path) as reader:
            self.assertTrue(reader.linked)
            with self.assertRaises(RuntimeError):
                uhfreader.Reader(fake.path).link()  # one designed link per process
        self.assertFalse(reader.linked)
        with self.assertRaises(RuntimeError):
            reader.get_device_info()

    def test_missing_node_raises_link_error_naming_it(self):
        with self.assertRaises(uhfreader.LinkError) as caught:
            uhfreader.Reader("/nonexistent/reader").link()
        self.assertIn("/nonexistent/reader", str(caught.exception))
        self.assertIn(uhfreader.describe_exchange(uhfreader.LinkFailure.NOT_FOUND), str(caught.exception))

    def test_a_vanished_node_is_a_device_gone(self):
        fake = FakeReader()
        self.addCleanup(fake.close)
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        node = os.path.join(scratch.name, "reader")  # as uhfsim --link and by-id names are
        os.symlink(fake.path, node)
        with uhfreader.Reader(node) as reader:
            fake.hang_up()
            os.unlink(node)
            with self.assertRaises(uhfreader.DeviceGoneError) as caught:
                reader.get_device_info()
            self.assertNotEqual(caught.exception.code, 0)
            self.assertIn(uhfreader.describe_exchange(uhfreader.LinkFailure.GONE), str(caught.exception))


if __name__ == "__main__":
    unittest.main()
