"""inventory() against the virtual reader's field, changed while it serves: the tags placed are
the tags listed, over as many tag list pages as they take, each with its raw page."""

import unittest

import uhfreader
from sim_process import Sim


def ids(tags):
    return sorted(t.id.hex().upper() for t in tags)


class Inventory(unittest.TestCase):
    def setUp(self):
        self.sim = Sim("--tags", "0", "--seed", "4", control=True)
        self.addCleanup(self.sim.stop)
        self.link = uhfreader.Link(self.sim.device)
        self.addCleanup(self.link.close)

    def test_tags_placed_are_listed_with_signal_and_antenna(self):
        self.sim.control("add epc E2801160600002054CC2096F rssi=-48 ant=1")
        self.sim.control("add epc 300833B2DDD9014000000001 rssi=-70 ant=3")
        self.sim.control("add gb 00112233445566778899AABBCCDDEEFF")
        tags = list(self.link.inventory())
        self.assertEqual(ids(tags), ["300833B2DDD9014000000001", "E2801160600002054CC2096F"])
        first = next(t for t in tags if t.id.hex().upper().startswith("E280"))
        self.assertEqual((first.antenna, first.family), (1, "epc"))
        self.assertLessEqual(abs(first.rssi + 48), 3)  # each round adds up to 3 dB of jitter
        self.assertGreater(first.reads, 0)
        self.assertEqual(parse_page(first.page), [t for t in tags if t.page == first.page])
        self.assertEqual(ids(self.link.inventory("gb")), ["00112233445566778899AABBCCDDEEFF"])

    def test_a_tag_removed_is_gone_from_the_next_round(self):
        self.sim.control("add gjb 0102030405060708")
        self.sim.control("add gjb 1112131415161718")
        self.assertEqual(len(list(self.link.inventory("gjb"))), 2)
        self.sim.control("remove 0102030405060708")
        self.assertEqual(ids(self.link.inventory("gjb")), ["1112131415161718"])

    def test_an_empty_field_is_an_empty_round(self):
        self.assertEqual(list(self.link.inventory()), [])

    def test_a_list_longer_than_one_reply_comes_page_by_page(self):
        placed = [f"E2000000000000000000{i:04X}" for i in range(150)]  # 16 bytes an entry
        for tag in placed:
            self.sim.control(f"add epc {tag}")
        tags = list(self.link.inventory())
        pages = {t.page for t in tags}
        self.assertGreater(len(pages), 1)
        self.assertEqual(ids(tags), placed)

    def test_the_designed_reader_runs_the_same_round(self):
        self.link.close()
        self.sim.control("add epc 0A0B0C0D")
        with uhfreader.Reader(self.sim.device) as reader:
            self.assertEqual(ids(reader.inventory()), ["0A0B0C0D"])


def parse_page(raw):
    return list(uhfreader.parse_tag_list(raw).tags)


class PageLayout(unittest.TestCase):
    # raw page, why it is not the virtual reader's layout
    NOT_THE_LAYOUT = [
        (b"\x00\x02", "header"),
        (b"\x00\x06\x00\x01\x01\x00", "entry 0"),                  # an entry shorter than its fields
        (b"\x00\x09\x00\x01\x01\x04\xaa\xc4\x00", "entry 0"),      # one cut short by the page
        (b"\x00\x0c\x00\x01\x01\x04\xaa\xc4\x00\x01", "total"),    # total length disagrees
        (b"\x00\x0b\x00\x01\x01\x04\xaa\xc4\x00\x01\xff", "left"),  # bytes after the entries
        (b"\x00\x0a\x00\x00\x01\x04\xaa\xc4\x00\x01", "list of 0"),
    ]

    def test_a_page_in_another_layout_is_refused_with_the_page_raw(self):
        for raw, why in self.NOT_THE_LAYOUT:
            with self.subTest(raw=raw.hex()):
                with self.assertRaisesRegex(uhfreader.TagListFormatError, why) as caught:
                    uhfreader.parse_tag_list(raw)
                self.assertEqual(caught.exception.page, raw)

    def test_signed_rssi_and_fields_of_an_entry(self):
        raw = b"\x00\x0b\x00\x05\x01\x05\xaa\xbb\xc4\x02\x07"
        (tag,) = uhfreader.parse_tag_list(raw).tags
        self.assertEqual((tag.id, tag.rssi, tag.antenna, tag.reads, tag.page), (b"\xaa\xbb", -60, 2, 7, raw))


if __name__ == "__main__":
    unittest.main()
