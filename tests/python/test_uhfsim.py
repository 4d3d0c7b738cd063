"""The designed interface's Reader end to end against the virtual reader uhfsim."""

import threading
import unittest

import uhfreader
from sim_process import Sim


class UhfsimTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Sim("--tags", "6", "--seed", "3")
        cls.node = cls.sim.device

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def setUp(self):
        self.reader = uhfreader.Reader(self.node).link()

    def tearDown(self):
        self.reader.unlink()

    def test_inventory_then_write_and_read_back(self):
        r = self.reader
        r.epc_write_select_para(b"\x01")  # every tag
        r.epc_query_on()
        listing = r.epc_read_tag_list(0, 0)
        self.assertEqual(len(listing), listing[0] << 8 | listing[1])
        self.assertEqual(r.reply_data[:len(listing)], listing)
        self.assertEqual(r.epc_write_tag(b"\x03\x02\x00\x02\xca\xfe\xbe\xef"), b"\x00")
        self.assertEqual(r.epc_read_tag(b"\x03\x02\x02\x00"), b"\x04\xca\xfe\xbe\xef")

    def test_select_block_read_back_writes_unchanged(self):
        r = self.reader
        r.gb_write_select_para(b"\x05\x01\x00\x01\x30")
        block = r.gb_read_select_para()
        self.assertEqual(block, b"\x05\x01\x00\x01\x30")
        r.gb_write_select_para(block)
        r.gb_write_select_para(b"\x01")

    def test_reader_refusal_carries_status_and_copy(self):
        with self.assertRaises(uhfreader.ReaderStatusError) as caught:
            self.reader.epc_read_tag(b"\x03\xf0\x02\x00")  # beyond the bank
        self.assertNotEqual(caught.exception.status, 0)
        self.assertEqual(caught.exception.data[:1], b"\x00")
        self.assertEqual(self.reader.error_code, caught.exception.status)

    def test_security_chip_replies_by_their_own_counts(self):
        self.assertEqual(len(self.reader.fm151m_get_rn(8)), 10)
        chip_id = self.reader.fm151m_get_id()
        self.assertEqual(len(chip_id), chip_id[0] + 1)

    def test_device_information(self):
        info = self.reader.get_device_info()
        self.assertEqual(len(info), 22)
        self.assertEqual(self.reader.read_device_no(), b"\x01")


class Killed(unittest.TestCase):
    def test_reader_killed_mid_exchange_is_a_device_gone(self):
        with Sim("--latency", "400") as sim, uhfreader.Reader(sim.device) as reader:
            threading.Timer(0.15, sim.kill).start()
            with self.assertRaises(uhfreader.DeviceGoneError) as caught:
                reader.get_device_info()
            self.assertIn(uhfreader.describe_exchange(uhfreader.LinkFailure.GONE), str(caught.exception))


if __name__ == "__main__":
    unittest.main()
