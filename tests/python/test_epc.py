"""uhfreader.epc over the built library: typed values both ways, refusals with the library's
code and words, and Tag.epc on tags of every family."""

import unittest

from uhfreader import Tag, epc


class Decode(unittest.TestCase):
    def test_sgtin_gives_uris_gs1_and_fields(self):
        e = epc.decode("3074257BF7194E4000001A85")
        self.assertEqual(e.scheme, "sgtin-96")
        self.assertEqual(e.uri, "urn:epc:id:sgtin:0614141.812345.6789")
        self.assertEqual(e.tag_uri, "urn:epc:tag:sgtin-96:3.0614141.812345.6789")
        self.assertEqual(e.gs1, "(01)80614141123458(21)6789")
        self.assertEqual(e.filter, 3)
        self.assertEqual(e.company_prefix, "0614141")
        self.assertEqual(list(e.fields), ["company_prefix", "item_reference", "serial"])

    def test_scheme_without_filter_or_gs1_key(self):
        e = epc.decode(bytes.fromhex("350007AB70425D4000000586"))
        self.assertIsNone(e.filter)
        self.assertIsNone(e.gs1)
        self.assertEqual(e.fields["general_manager"], "31415")

    def test_non_gs1_id_raises_with_code_and_words(self):
        with self.assertRaises(epc.EpcError) as caught:
            epc.decode("000011112222")
        self.assertEqual(caught.exception.code, -102)
        self.assertIn("unknown header", str(caught.exception))
        self.assertIsNone(epc.try_decode("000011112222"))


class Encode(unittest.TestCase):
    def test_round_trip_through_bytes(self):
        for uri in ("urn:epc:tag:sscc-96:0.0614141.1234567890",
                    "urn:epc:tag:sgtin-198:3.0614141.812345.a%2Fb",
                    "urn:epc:tag:adi-var:3.35962.PQ7VZ4.M37GXB92"):
            with self.subTest(uri=uri):
                raw = epc.encode(uri)
                self.assertEqual(len(raw) % 2, 0)
                self.assertEqual(epc.decode(raw).tag_uri, uri)

    def test_refusal_names_the_fault(self):
        with self.assertRaises(epc.EpcError) as caught:
            epc.encode("urn:epc:tag:sgtin-96:3.0614141.812345.06789")
        self.assertEqual(caught.exception.code, -111)


class TagEpc(unittest.TestCase):
    def test_only_gs1_ids_of_epc_tags_decode(self):
        gs1 = bytes.fromhex("3074257BF7194E4000001A85")
        self.assertEqual(Tag(gs1, -50, 1, 1, "epc", b"").epc.serial, "6789")
        self.assertIsNone(Tag(bytes.fromhex("F42580EB2F8C14487EFF0000"), -50, 1, 1, "epc", b"").epc)
        self.assertIsNone(Tag(gs1, -50, 1, 1, "gb", b"").epc)


if __name__ == "__main__":
    unittest.main()
