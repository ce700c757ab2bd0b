"""Values both ways: every type read, every write checked in the bytes the
simulator received."""

import struct
import unittest

from simproc import SimTestCase


def write_request(*items):
    """A write request as the client must send it: (pos, type, payload)..."""
    body = b"".join(struct.pack("<HHH", 0, pos, vt) + payload for pos, vt, payload in items)
    return b"g" + struct.pack("<H", len(items)) + body


class ReadTest(SimTestCase, unittest.TestCase):
    def setUp(self):
        self.db = self.connect()
        self.drv = self.db.GetDriver("PLC1")

    def test_every_type(self):
        r4 = struct.unpack("<f", struct.pack("<f", 0.1))[0]
        cases = [
            ("i1", -5, int), ("ui1", 200, int), ("i2", -300, int), ("ui2", 60000, int),
            ("i4", -70000, int), ("ui4", 4000000000, int), ("int", -7, int),
            ("uint", 4000000001, int), ("r4", r4, float), ("r8", 21.25, float),
            ("bool", True, bool), ("str", "Grüße 温度", str),
            ("i8", None, type(None)), ("date", None, type(None)),
        ]
        for tag, want, kind in cases:
            with self.subTest(tag=tag):
                got = self.drv.GetTagValue(tag)
                self.assertIs(type(got), kind)
                self.assertEqual(got, want)

    def test_lists(self):
        self.assertEqual(self.drv.GetTagValue("i4,nope,r8"), [-70000, None, 21.25])
        self.assertEqual(self.drv.GetTagValue("i2, i4 ,i2"), [-300, -70000, -300])
        self.assertIsNone(self.drv.GetTagValue("nope"))
        self.assertIsNone(self.drv.GetTagValue(""))

    def test_text_that_is_not_utf8(self):
        self.sim.cmd(b"set PLC1 str ab\xff")
        try:
            with self.assertRaises(UnicodeDecodeError):
                self.drv.GetTagValue("str")
            with self.assertRaises(UnicodeDecodeError):
                self.drv.GetTagValue("i4,str")
            self.assertEqual(self.drv.GetTagValue("i4"), -70000)  # nothing left pending
        finally:
            self.sim.cmd("set PLC1 str Grüße 温度")


class WriteTest(SimTestCase, unittest.TestCase):
    def setUp(self):
        self.db = self.connect()
        self.drv = self.db.GetDriver("PLC1")

    def write(self, tags, value, want_result=0):
        before = self.sim.count("g")
        self.assertEqual(self.drv.SetTagValue(tags, value), want_result)
        # A read after the write: the request connection keeps its order.
        self.drv.GetTagValue("i1")
        return self.sim.count("g") - before

    def test_typed_by_the_script_object(self):
        class MyStr(str):
            pass

        class MyInt(int):
            pass

        cases = [
            ("i4", True, (4, 11, b"\x01")),
            ("i4", False, (4, 11, b"\x00")),
            ("i4", 1, (4, 3, struct.pack("<i", 1))),
            ("r8", -2147483648, (10, 3, struct.pack("<i", -2147483648))),
            ("i4", MyInt(7), (4, 3, struct.pack("<i", 7))),
            ("i4", 2.5, (4, 5, struct.pack("<d", 2.5))),
            ("str", "abc", (13, 8, b"abc\x00")),
            ("str", MyStr("é"), (13, 8, "é".encode() + b"\x00")),
        ]
        for tag, value, item in cases:
            with self.subTest(value=value):
                self.assertEqual(self.write(tag, value), 1)
                self.assertEqual(self.sim.last_request("g"), write_request(item))

    def test_several_names(self):
        self.assertEqual(self.write("i4,nope,r8", [5, "skipped with its name", 1.5]), 1)
        self.assertEqual(self.sim.last_request("g"),
                         write_request((4, 3, struct.pack("<i", 5)),
                                       (10, 5, struct.pack("<d", 1.5))))

        class MyList(list):
            pass

        self.assertEqual(self.write("i4,r8", MyList([1, 2])), 1)

    def test_refused_unsent(self):
        cases = [
            ("i4", None), ("i4", b"bytes"), ("i4", (1,)), ("i4", [1]),
            ("i4", 2 ** 31), ("i4", -2 ** 31 - 1), ("i4", 2 ** 100),
            ("str", "\ud800"), ("str", "a\x00b"), ("str", "x" * 3000),
            ("nope", 1), ("i4,r8", (1, 2)), ("i4,r8,i2", [1, 2]), ("i4,r8", [1, None]),
        ]
        for tags, value in cases:
            with self.subTest(tags=tags, value=value):
                self.assertEqual(self.write(tags, value, -3), 0)

    def test_nothing_to_write(self):
        self.assertEqual(self.write(",,", [1]), 0)

    def test_without_the_write_right(self):
        viewer = self.connect("viewer", "view")
        self.assertEqual(viewer.GetDriver("PLC1").SetTagValue("i4", 1), -1)

    def test_value_reaches_the_tag(self):
        self.assertEqual(self.drv.SetTagValue("count", 42), 0)
        self.assertEqual(self.drv.GetTagValue("count"), 42)


if __name__ == "__main__":
    unittest.main()
