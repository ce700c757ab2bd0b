"""Threads and lifetime: the interpreter lock during network waits, the end
of a dropped DBCore, and an interpreter that exits while changes arrive."""

import os
import subprocess
import sys
import textwrap
import threading
import time
import unittest

import QxDBAccess
from simproc import SimTestCase, wait_until

CHILD = textwrap.dedent("""\
    import sys, threading, QxDBAccess
    db = QxDBAccess.DBCore()
    if db.Connect(sys.argv[1], "operator", "op123") != 0:
        sys.exit("connect failed")
    drv = db.GetDriver("PLC1")
    got = threading.Event()
    n = [0]
    def fn(d, t, v):
        n[0] += 1
        if n[0] >= 100:
            got.set()
    drv.SetTagNotify(fn)
    drv.ConnectTag("count")
    print("ready", flush=True)
    if not got.wait(10):
        sys.exit("no changes")
    print("exiting", flush=True)
    # db stays referenced: the interpreter exits with it connected
""")


def storm_quietly(sim, count):
    """A storm of changes that may end early: its client goes away."""
    try:
        sim.cmd("storm PLC1 count %d" % count, timeout=30)
    except AssertionError:
        pass


class LockTest(SimTestCase, unittest.TestCase):
    def test_other_threads_run_while_a_read_waits(self):
        db = self.connect()
        drv = db.GetDriver("PLC1")
        self.sim.cmd("fault raw H 48")  # a reply head, and then nothing
        ticks = [0]
        stop = threading.Event()

        def count():
            while not stop.is_set():
                ticks[0] += 1

        seen = []

        def unstall():
            time.sleep(0.5)
            seen.append(ticks[0])
            self.sim.cmd("closenotify")  # ends the connection, and the wait

        threads = [threading.Thread(target=count), threading.Thread(target=unstall)]
        for t in threads:
            t.start()
        start = time.monotonic()
        try:
            value = drv.GetTagValue("i4")
        finally:
            stop.set()
            for t in threads:
                t.join(5)
            self.sim.cmd("fault none")
        self.assertIsNone(value)
        self.assertLess(time.monotonic() - start, 5)
        self.assertGreater(seen[0], 1000)  # the counter ran during the wait

    def test_dropping_the_last_reference_disconnects(self):
        before = self.sim.client_count()
        db = self.connect()
        self.assertEqual(self.sim.client_count(), before + 1)
        del db
        self.assertTrue(wait_until(lambda: self.sim.client_count() == before, 1))

    def test_teardown_while_deliveries_wait(self):
        db = self.connect()
        drv = db.GetDriver("PLC1")
        drv.SetTagNotify(lambda *a: None)
        drv.ConnectTag("count")
        storm = threading.Thread(target=storm_quietly, args=(self.sim, 300000))
        storm.start()
        time.sleep(0.1)
        start = time.monotonic()
        del db, drv
        self.assertLess(time.monotonic() - start, 2)
        storm.join(10)
        self.assertFalse(storm.is_alive())


class ExitTest(SimTestCase, unittest.TestCase):
    def test_exit_during_a_storm(self):
        for round in range(20):
            with self.subTest(round=round):
                child = subprocess.Popen([sys.executable, "-c", CHILD, self.sim.host],
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         env=os.environ.copy())
                try:
                    self.assertEqual(child.stdout.readline(), b"ready\n")
                    storm = threading.Thread(target=storm_quietly, args=(self.sim, 10000000))
                    storm.start()
                    self.assertEqual(child.stdout.readline(), b"exiting\n")
                    start = time.monotonic()
                    rc = child.wait(10)
                    elapsed = time.monotonic() - start
                    storm.join(30)
                    self.assertEqual(rc, 0, child.stderr.read())
                    self.assertLess(elapsed, 2)
                finally:
                    if child.poll() is None:
                        child.kill()
                        child.wait()
                    child.stdout.close()
                    child.stderr.close()


if __name__ == "__main__":
    unittest.main()
