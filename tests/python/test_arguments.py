"""What the binding refuses before anything is sent, and the methods' faces: every ValueError
and TypeError names the argument, and the signatures carry the C header's parameter names."""

import inspect
import os
import re
import unittest

import uhfreader
from fake_reader import FakeReader

HEADER = os.path.join(os.path.dirname(__file__), "..", "..", "include", "uhfreader.h")

# method, arguments, the argument the message must name. Nothing may be sent for any of them.
VALUE_ERRORS = [
    ("alarm", (8, 0, 0, 0), "a"),                     # the library would return 4 unsent
    ("alarm", (-1, 0, 0, 0), "a"),
    ("alarm", (0, 256, 0, 0), "b"),
    ("set_baud_rate", (0x1234,), "rate_code"),        # would go out as 0x34
    ("epc_read_tag_list", (0x1FF, 0), "a"),
    ("gjb_read_tag_list", (0, -1), "b"),
    ("fm151m_get_rn", (0x10000,), "count"),
    ("fm151m_get_rn", (-1,), "count"),
    ("get_ch_active", (256,), "table"),               # a one-byte block given as an int
    ("gb_fd_cust_pwd_lock", (-1,), "block"),
    ("epc_read_tag", (b"\x03\x00\x02",), "req"),      # fixed blocks: exactly their size
    ("gb_read_tag", (b"\x03\x00\x00\x02\x00\x00",), "req"),
    ("epc_set_pwd", (0, b"abc", b"efgh"), "pwd1"),
    ("epc_edit_tag_pwd", (b"abcd", b"efghi"), "new_pwd"),
    ("epc_write_tag", (b"\x03\x00\x00\x02\xaa\xbb",), "block"),      # counts give more bytes
    ("epc_write_tag", (b"\x03\x00\x00\x01\xaa\xbb\xcc",), "block"),  # ... or fewer
    ("gb_write_tag", (b"\x03\x00",), "block"),                       # no whole header
    ("epc_write_select_para", (b"",), "block"),
    ("epc_write_select_para", (b"\x04\x01",), "block"),
    ("epc_write_select_para", (b"\x00",), "block"),   # a length that does not count itself
    ("psam_command", (b"\x02\xaa",), "block"),
    ("fm151m_cipher", (b"\x01\x02\x03\x04\x02\xee",), "block"),
    ("fm151m_hash", (b"\x00\x00",), "block"),
    ("gb_tag_cust_command", (b"\x00\x10\x01\x02\x03\xaa",), "block"),
    ("epc_wake_tag", (b"\x01\x02\x00\x11\xaa\xbb",), "block"),
    # Counts past the 255 bytes a request carries, whether or not the block holds them.
    ("epc_write_tag", (b"\x03\x00\x00\x7e" + bytes(252),), "block"),
    ("gjb_write_tag", (b"\x03\x00\x00\x01\x00\xaa\xbb",), "block"),
    ("exchange", (300,), "code"),                     # would go out as command 0x2C
    ("exchange", (-1,), "code"),
    ("exchange", (0x10, bytes(256)), "data"),
]

# method, arguments, keyword arguments, what the message must say
TYPE_ERRORS = [
    ("epc_read_tag", ("03000200",), {}, "req"),
    ("set_baud_rate", (1.0,), {}, "rate_code"),
    ("set_baud_rate", ("1",), {}, "rate_code"),
    ("epc_read_tag", (), {}, "req"),
    ("epc_read_tag", (b"\x03\x00\x02\x00", b""), {}, "epc_read_tag"),
    ("epc_read_tag", (b"\x03\x00\x02\x00",), {"reply": bytearray(256)}, "reply"),
    ("exchange", ("1",), {}, "code"),
]

# Link arguments refused before the device is even looked at (it does not exist).
LINK_VALUE_ERRORS = [
    ({"addr": 256}, "addr"),
    ({"addr": -1}, "addr"),
    ({"handshakes": 0}, "handshakes"),
    ({"reply_timeout": 0}, "reply_timeout"),
    ({"reply_timeout": -0.5}, "reply_timeout"),
    ({"connect_timeout": 1e9}, "connect_timeout"),
]


class Refusals(unittest.TestCase):
    def setUp(self):
        self.fake = FakeReader()
        self.addCleanup(self.fake.close)
        self.link = uhfreader.Link(self.fake.path)
        self.addCleanup(self.link.close)

    def test_value_errors_name_the_argument_and_send_nothing(self):
        for name, args, arg in VALUE_ERRORS:
            with self.subTest(name, args=args):
                with self.assertRaisesRegex(ValueError, rf"\b{arg}\b"):
                    getattr(self.link, name)(*args)
                self.assertEqual(self.fake.requests, [])

    def test_type_errors_name_the_argument_and_send_nothing(self):
        for name, args, kwargs, words in TYPE_ERRORS:
            with self.subTest(name, args=args, kwargs=kwargs):
                with self.assertRaisesRegex(TypeError, rf"\b{words}\b"):
                    getattr(self.link, name)(*args, **kwargs)
                self.assertEqual(self.fake.requests, [])

    def test_reader_checks_arguments_as_a_link_does(self):
        reader = uhfreader.Reader("/nonexistent/reader")  # refused before linking matters
        with self.assertRaisesRegex(ValueError, r"\bcmd\b"):
            reader.exchange(300)
        with self.assertRaisesRegex(ValueError, r"\brate_code\b"):
            reader.set_baud_rate(0x1234)

    def test_link_options_are_checked_before_opening(self):
        for kwargs, arg in LINK_VALUE_ERRORS:
            with self.subTest(**kwargs):
                with self.assertRaisesRegex(ValueError, rf"\b{arg}\b"):
                    uhfreader.Link("/nonexistent/reader", **kwargs)
        with self.assertRaisesRegex(ValueError, r"\baddr\b"):
            self.link.addr = 256

    def test_a_closed_link_refuses_calls(self):
        self.link.close()
        self.link.close()
        with self.assertRaises(uhfreader.LinkClosedError):
            self.link.get_device_info()
        with self.assertRaises(uhfreader.LinkClosedError):
            self.link.reconnect()


class Faces(unittest.TestCase):
    def header_prototypes(self):
        with open(HEADER) as f:
            text = f.read()
        for name, params in re.findall(r"^UHF_API int (\w+)\(int addr([^)]*)\);", text, re.M):
            yield name, re.findall(r"(\w+)\s*(?:,|$)", params)

    def test_every_header_command_is_a_method_with_its_parameter_names(self):
        commands = {c.name: c for c in uhfreader.commands()}
        seen = 0
        for name, params in self.header_prototypes():
            if name not in commands:
                continue  # transport and link plumbing
            seen += 1
            returned = {a.name for a in commands[name].args if not a.is_parameter}
            for cls in (uhfreader.Link, uhfreader.Reader):
                with self.subTest(name, cls=cls.__name__):
                    method = getattr(cls, commands[name].method_name)
                    got = list(inspect.signature(method).parameters)[1:]
                    self.assertEqual(got, [p for p in params if p not in returned])
        self.assertEqual(seen, len(commands))
        self.assertGreater(seen, 90)

    def test_help_shows_the_summary_and_the_rules(self):
        doc = inspect.getdoc(uhfreader.Link.epc_read_tag)
        self.assertTrue(doc.startswith("Reads tag memory."), doc)
        self.assertIn("0x28", doc)
        self.assertIn("req: 4 bytes", doc)
        self.assertIn("byte 0 = n", doc)

    def test_words_come_with_their_detail(self):
        self.assertIn("no reply", uhfreader.describe_exchange(234, 109))
        self.assertNotEqual(uhfreader.describe_exchange(235, 108), uhfreader.describe_exchange(235, 110))
        self.assertIn("went away", uhfreader.describe_exchange(uhfreader.LinkFailure.GONE))

    def test_version_is_the_link_api_release_at_least(self):
        package = tuple(int(x) for x in uhfreader.__version__.split("."))
        library = tuple(int(x) for x in uhfreader.library_version().split("."))
        self.assertEqual(package[0], library[0])
        self.assertLessEqual(package[:2], library[:2])


if __name__ == "__main__":
    unittest.main()
