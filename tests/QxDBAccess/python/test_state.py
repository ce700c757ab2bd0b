"""The connection's state, an explicit disconnect, the last error, reconnect
with the native callbacks, and batch delivery."""

import threading
import unittest

import QxDBAccess
from simproc import Sim, SimTestCase, make_project, wait_until


class StateTest(SimTestCase, unittest.TestCase):
    def test_states_disconnect_and_last_error(self):
        db = QxDBAccess.DBCore()
        states = []
        db.SetStateNotify(states.append)
        db.SetStateNotify(print)  # the first registration stays
        self.assertEqual(db.GetState(), "unconnected")
        self.assertFalse(db.IsConnected())
        self.assertEqual(db.LastError(), "")
        self.assertEqual(db.Connect(self.sim.host, "operator", "wrong"), -1)
        self.assertEqual(db.LastError(), "login refused for user 'operator'")
        self.assertEqual(db.Connect(self.sim.host, "operator", "op123"), 0)
        self.assertTrue(db.IsConnected())
        drv = db.GetDriver("PLC1")
        db.Disconnect()
        self.assertFalse(db.IsConnected())
        self.assertEqual(db.GetState(), "closed")
        self.assertIsNone(drv.GetTagValue("i4"))  # as after a lost connection
        self.assertEqual(states, ["connecting", "closed", "connecting", "connected", "closed"])

    def test_argument_errors(self):
        db = QxDBAccess.DBCore()
        with self.assertRaises(ValueError):
            db.SetAutoReconnect(max_attempts=-1)
        with self.assertRaises(ValueError):
            db.SetAutoReconnect(initial_delay=-0.5)
        with self.assertRaises(TypeError):
            db.SetAutoReconnect(delay=1)
        with self.assertRaises(TypeError):
            db.SetStateNotify(42)
        with self.assertRaises(TypeError):
            QxDBAccess.Driver().SetTagBatchNotify(42)
        class Fields(tuple):  # a __dict__ of its own: not made as a tuple is
            pass
        for item_type in (dict, Fields, 3):
            with self.assertRaises(TypeError):
                QxDBAccess.Driver().SetTagBatchNotify(print, item_type)

    def test_a_raising_state_callable_is_reported(self):
        db = QxDBAccess.DBCore()
        db.SetStateNotify(lambda s: 1 / 0)
        seen = []
        old = __import__("sys").unraisablehook
        __import__("sys").unraisablehook = lambda u: seen.append(u.exc_type)
        try:
            self.assertEqual(db.Connect(self.sim.host, "operator", "op123"), 0)
        finally:
            __import__("sys").unraisablehook = old
        self.assertEqual(seen, [ZeroDivisionError, ZeroDivisionError])
        self.assertTrue(db.IsConnected())

    def test_batch_notify_gets_the_changes_of_a_read_together(self):
        db = self.connect()
        drv = db.GetDriver("PLC1")
        got = []
        drv.SetTagBatchNotify(lambda d, pairs: got.append((threading.get_ident(), d, pairs)))
        self.assertEqual(drv.ConnectTag("count,i4"), 1)
        self.sim.cmd("storm PLC1 count 3000")
        self.assertTrue(wait_until(lambda: sum(len(g[2]) for g in got) >= 3000))
        values = [v for _, d, pairs in got for t, v in pairs]
        self.assertEqual(values, list(range(3000)))
        self.assertLess(len(got), 3000)  # whole reads, not one call per change
        self.assertEqual({d for _, d, _ in got}, {"PLC1"})
        self.assertNotIn(threading.get_ident(), {t for t, _, _ in got})


class ReconnectTest(unittest.TestCase):
    """A simulator of its own: these tests drop every connection."""

    def setUp(self):
        self.project = make_project()
        self.sim = Sim(self.project.name)
        self.addCleanup(self.project.cleanup)
        self.addCleanup(self.sim.stop)

    def test_drop_restores_changes_and_alarms_on_the_same_driver(self):
        db = QxDBAccess.DBCore()
        states, changes, alarms = [], [], []
        db.SetStateNotify(states.append)
        db.SetAutoReconnect(True, initial_delay=0.01, max_delay=0.05, replay_alarms=True)
        self.assertEqual(db.Connect(self.sim.host, "operator", "op123"), 0)
        drv = db.GetDriver("PLC1")
        drv.SetTagNotify(lambda d, t, v: changes.append((t, v)))
        self.assertEqual(drv.ConnectTag("i4,r8"), 1)
        db.SetRtAlarmNotify(lambda *a: alarms.append(a[2]), 0)
        self.sim.cmd("set PLC1 r4 20")  # raises the alarm of r4
        self.assertTrue(wait_until(lambda: alarms == ["r4"]))

        self.sim.cmd("drop")
        self.assertTrue(wait_until(lambda: states[-2:] == ["reconnecting", "connected"]))
        self.assertTrue(db.IsConnected())
        # Resynchronised values, and the active alarm replayed.
        self.assertTrue(wait_until(lambda: {"i4", "r8"} <= {t for t, _ in changes}))
        self.assertTrue(wait_until(lambda: alarms == ["r4", "r4"]))
        del changes[:]
        self.sim.cmd("set PLC1 i4 5")
        self.sim.cmd("set PLC1 r8 6.5")
        self.assertTrue(wait_until(lambda: changes == [("i4", 5), ("r8", 6.5)]))
        self.assertEqual(drv.GetTagValue("i4"), 5)

    def test_reads_fail_at_once_while_reconnecting_and_attempts_stop(self):
        db = QxDBAccess.DBCore()
        db.SetAutoReconnect(initial_delay=0.01, max_delay=0.04, max_attempts=4)
        self.assertEqual(db.Connect(self.sim.host, "operator", "op123"), 0)
        drv = db.GetDriver("PLC1")
        self.sim.cmd("refuse 1000")
        self.sim.cmd("drop")
        self.assertTrue(wait_until(lambda: db.GetState() != "connected"))
        self.assertIsNone(drv.GetTagValue("i4"))
        self.assertTrue(wait_until(lambda: db.GetState() == "closed"))
        self.assertEqual(self.sim.count("9"), 1 + 4)
        self.assertIn("reconnect gave up after 4 attempts: login refused", db.LastError())


if __name__ == "__main__":
    unittest.main()
