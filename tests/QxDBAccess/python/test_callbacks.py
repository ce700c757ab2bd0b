"""Tag-change and alarm callbacks: their arguments and threads, a callback
that raises, calls back into the module or drops its DBCore, and the
references the module keeps."""

import datetime
import gc
import struct
import sys
import threading
import unittest
import weakref

import QxDBAccess
from simproc import SimTestCase, wait_until


class Recorder:
    def __init__(self):
        self.calls = []
        self.threads = set()
        self.lock = threading.Lock()

    def __call__(self, *args):
        with self.lock:
            self.calls.append(args)
            self.threads.add(threading.get_ident())


def change_msg(pos, payload):
    return (struct.pack("<HH", 0, pos) + payload).hex()


class TagNotifyTest(SimTestCase, unittest.TestCase):
    def setUp(self):
        self.db = self.connect()
        self.drv = self.db.GetDriver("PLC1")
        self.rec = Recorder()

    def test_changes_from_the_receive_thread(self):
        self.drv.SetTagNotify(self.rec)
        self.assertEqual(self.drv.ConnectTag("count,str,ui4"), 1)
        self.sim.cmd("set PLC1 count 17")
        self.sim.cmd("set PLC1 str Grüße 温度 2")
        self.sim.cmd("set PLC1 ui4 4000000000")
        self.assertTrue(wait_until(lambda: len(self.rec.calls) >= 3))
        self.assertEqual(self.rec.calls[:3], [("PLC1", "count", 17), ("PLC1", "str", "Grüße 温度 2"),
                                              ("PLC1", "ui4", 4000000000)])
        self.assertNotIn(threading.get_ident(), self.rec.threads)

    def test_a_batch_keeps_the_server_order(self):
        self.drv.SetTagNotify(self.rec)
        self.drv.ConnectTag("count")
        self.sim.cmd("storm PLC1 count 5000")
        self.assertTrue(wait_until(lambda: len(self.rec.calls) >= 5000))
        self.assertEqual([c[2] for c in self.rec.calls], list(range(5000)))

    def test_first_registration_stays(self):
        other = Recorder()
        self.drv.SetTagNotify(self.rec)
        self.db.GetDriver("PLC1").SetTagNotify(other)  # same driver, another object
        self.drv.ConnectTag("count")
        self.sim.cmd("set PLC1 count 3")
        self.assertTrue(wait_until(lambda: self.rec.calls))
        self.assertEqual(other.calls, [])

    def test_registration_keeps_the_callable(self):
        rec = Recorder()
        ref = weakref.ref(rec)
        self.drv.SetTagNotify(rec)
        del rec
        gc.collect()
        self.assertIsNotNone(ref())
        self.drv.ConnectTag("count")
        self.sim.cmd("set PLC1 count 4")
        self.assertTrue(wait_until(lambda: ref().calls))
        del self.drv
        self.db = None  # the last references to the driver go with its DBCore
        self.assertTrue(wait_until(lambda: ref() is None, 2))

    def test_text_that_is_not_utf8_is_passed_repaired(self):
        self.drv.SetTagNotify(self.rec)
        self.drv.ConnectTag("str")
        self.sim.cmd("push " + change_msg(13, b"ab\xffc\x00"))
        self.assertTrue(wait_until(lambda: self.rec.calls))
        self.assertEqual(self.rec.calls[0], ("PLC1", "str", "ab\ufffdc"))

    def test_a_callback_that_raises(self):
        seen = []
        hook = sys.unraisablehook
        sys.unraisablehook = lambda u: seen.append(u)

        def fn(drv, tag, value):
            self.rec(drv, tag, value)
            if value == 1:
                raise ValueError("boom")

        try:
            self.drv.SetTagNotify(fn)
            self.drv.ConnectTag("count")
            for v in (1, 2):
                self.sim.cmd("set PLC1 count %d" % v)
            self.assertTrue(wait_until(lambda: len(self.rec.calls) >= 2))
        finally:
            sys.unraisablehook = hook
        self.assertEqual([c[2] for c in self.rec.calls], [1, 2])
        self.assertEqual(len(seen), 1)
        self.assertIsInstance(seen[0].exc_value, ValueError)
        self.assertIs(seen[0].object, fn)

    def test_a_callback_that_reads_and_writes(self):
        results = []

        def fn(drv, tag, value):
            results.append((self.drv.GetTagValue("i4"), self.drv.SetTagValue("r8", 1.0)))

        self.drv.SetTagNotify(fn)
        self.drv.ConnectTag("count")
        self.sim.cmd("set PLC1 count 9")
        self.assertTrue(wait_until(lambda: results, 5))
        self.assertEqual(results[0], (-70000, 0))

    def test_a_callback_that_drops_its_dbcore(self):
        holder = {"db": self.connect()}
        drv = holder["db"].GetDriver("PLC1")
        calls = []

        def fn(*args):
            calls.append(args)
            holder.pop("db", None)  # the last reference: destroyed right here

        drv.SetTagNotify(fn)
        drv.ConnectTag("count")
        before = self.sim.client_count()
        self.sim.cmd("storm PLC1 count 200")
        self.assertTrue(wait_until(lambda: self.sim.client_count() == before - 1, 5))
        self.assertEqual(len(calls), 1)  # nothing more once it was gone
        self.assertIsNone(drv.GetTagValue("count"))
        self.assertEqual(self.drv.GetTagValue("i4"), -70000)  # the other one goes on


class AlarmNotifyTest(SimTestCase, unittest.TestCase):
    def alarm(self, tid=9, typ=0, grp=1, level=2, status=1, value=15.0, limit=14.5,
              almtm=1700000000, evttm=0):
        self.sim.cmd("alarm %d %d %d %d %d %r %r %d %d"
                     % (tid, typ, grp, level, status, value, limit, almtm, evttm))

    def test_pushed_alarms(self):
        db = self.connect()
        rec = Recorder()
        self.assertIsNone(db.SetRtAlarmNotify(rec, 0))
        self.alarm()
        self.alarm(tid=500, typ=77, grp=1, status=0, evttm=1700000100)
        self.assertTrue(wait_until(lambda: len(rec.calls) >= 2))
        local = datetime.datetime.fromtimestamp
        self.assertEqual(rec.calls[0], (local(1700000000), local(1700000000), "r4", 0,
                                        "High level", "Main group", 2, 15.0, 14.5, 1))
        self.assertEqual(rec.calls[1], (local(1700000000), local(1700000100), "???", 1,
                                        "???", "Main group", 2, 15.0, 14.5, 0))
        self.assertIsNone(rec.calls[0][0].tzinfo)
        self.assertNotIn(threading.get_ident(), rec.threads)

    def test_replay_in_order_then_a_second_registration_is_ignored(self):
        for t in (1700000001, 1700000002, 1700000003):
            self.alarm(almtm=t)
        db = self.connect()
        rec, other = Recorder(), Recorder()
        db.SetRtAlarmNotify(rec, 1)
        self.assertEqual([c[0] for c in rec.calls][-3:],
                         [datetime.datetime.fromtimestamp(t)
                          for t in (1700000001, 1700000002, 1700000003)])
        self.assertEqual(rec.threads, {threading.get_ident()})
        subscribed = self.sim.count("n")
        n = len(rec.calls)
        self.assertIsNone(db.SetRtAlarmNotify(other, 1))
        self.assertEqual(self.sim.count("n"), subscribed)  # nothing sent
        self.alarm(almtm=1700000004)
        self.assertTrue(wait_until(lambda: len(rec.calls) > n))
        self.assertEqual(other.calls, [])

    def test_without_replay(self):
        self.alarm()
        db = self.connect()
        rec = Recorder()
        db.SetRtAlarmNotify(rec, 0)
        self.assertEqual(rec.calls, [])

    def test_failed_subscription_lets_the_callable_go(self):
        db = QxDBAccess.DBCore()  # unconnected: the exchange fails
        rec = Recorder()
        ref = weakref.ref(rec)
        self.assertIsNone(db.SetRtAlarmNotify(rec, 1))
        del rec
        self.assertIsNone(ref())

    def test_alarm_callable_released_with_its_dbcore(self):
        db = self.connect()
        rec = Recorder()
        ref = weakref.ref(rec)
        db.SetRtAlarmNotify(rec, 0)
        del rec
        self.assertIsNotNone(ref())
        del db
        self.assertIsNone(ref())


if __name__ == "__main__":
    unittest.main()
