"""The module's surface: names, documentation, argument checking, and the
objects that hold no driver."""

import ast
import os
import unittest

import QxDBAccess
from simproc import SimTestCase

STUBS = os.environ.get("QXDB_STUBS")


class SurfaceTest(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("QXDB_EXPECT_INSTALLED"), "testing the built module")
    def test_the_installed_module_is_tested(self):
        import site
        where = os.path.dirname(QxDBAccess.__file__)
        self.assertIn(where, site.getsitepackages())
        self.assertTrue(os.path.exists(os.path.join(where, "QxDBAccess.pyi")))
        self.assertTrue(os.path.exists(os.path.join(where, "QxDBAccess-stubs", "py.typed")))

    def test_module_and_types(self):
        self.assertEqual(QxDBAccess.__name__, "qxdb")
        self.assertEqual(QxDBAccess.__doc__, "qxdb access.")
        public = sorted(n for n in dir(QxDBAccess) if not n.startswith("__"))
        self.assertEqual(public, ["DBCore", "Driver"])
        for cls, name, doc in ((QxDBAccess.DBCore, "QxDBAccess.DBCore", "DBCore objects"),
                               (QxDBAccess.Driver, "QxDBAccess.Driver", "Driver objects")):
            self.assertEqual("%s.%s" % (cls.__module__, cls.__qualname__), name)
            self.assertEqual(cls.__doc__, doc)
            with self.assertRaises(TypeError):
                type("Sub", (cls,), {})  # not a base type

    def test_method_docs(self):
        # The original methods, then the additions of connection state,
        # reconnect and batch delivery.
        docs = {
            QxDBAccess.DBCore: {"Connect": "Connect DB server", "GetDriver": "Get DB Driver",
                                "SetRtAlarmNotify": "Set Realtime Alarm Notify",
                                "Disconnect": "Disconnect DB server",
                                "IsConnected": "Is Connected", "LastError": "Last Error",
                                "GetState": "Get Connection State",
                                "SetStateNotify": "Set Connection State Notify",
                                "SetAutoReconnect": "Set Auto Reconnect"},
            QxDBAccess.Driver: {"SetTagNotify": "Tag Value Change Notify Function",
                                "ConnectTag": "Connect Tag", "GetTagValue": "Get Tag Value",
                                "SetTagValue": "Set Tag Value",
                                "SetTagBatchNotify": "Tag Value Change Batch Notify Function"},
        }
        for cls, methods in docs.items():
            own = sorted(n for n in vars(cls) if not n.startswith("__"))
            self.assertEqual(own, sorted(methods))
            for name, doc in methods.items():
                self.assertEqual(getattr(cls, name).__doc__, doc)

    @unittest.skipUnless(STUBS, "QXDB_STUBS not set")
    def test_stubs_name_every_method(self):
        with open(STUBS, encoding="utf-8") as f:
            tree = ast.parse(f.read())
        classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
        for cls in (QxDBAccess.DBCore, QxDBAccess.Driver):
            stub = classes[cls.__qualname__]
            names = {n.name for n in stub.body if isinstance(n, ast.FunctionDef)}
            for name in vars(cls):
                if not name.startswith("__"):
                    self.assertIn(name, names, "%s.%s" % (cls.__qualname__, name))


class UnconnectedTest(unittest.TestCase):
    def test_constructor_ignores_arguments(self):
        db = QxDBAccess.DBCore(1, 2, 3, key="x")
        with self.assertRaises(LookupError):
            db.GetDriver("PLC1")  # no driver list before a connect

    def test_connect_refused_is_a_code(self):
        db = QxDBAccess.DBCore()
        # Nothing listens on port 1 of loopback.
        self.assertEqual(db.Connect("127.0.0.1:1", "u", "p"), -2)

    def test_argument_errors(self):
        db = QxDBAccess.DBCore()
        drv = QxDBAccess.Driver()
        cases = [
            (db.Connect, ("127.0.0.1",)),
            (db.Connect, ("a", "b", 3)),
            (db.GetDriver, ()),
            (db.GetDriver, (b"PLC1",)),
            (db.SetRtAlarmNotify, (print,)),
            (db.SetRtAlarmNotify, (print, "yes")),
            (drv.SetTagNotify, ()),
            (drv.ConnectTag, (1,)),
            (drv.GetTagValue, (None,)),
            (drv.SetTagValue, ("t",)),
            (drv.SetTagValue, (1, 2)),
        ]
        for fn, args in cases:
            with self.subTest(fn=fn.__name__, args=args):
                with self.assertRaises(TypeError):
                    fn(*args)
        with self.assertRaisesRegex(TypeError, "set_callback"):
            db.SetRtAlarmNotify(print)

    def test_non_callable_callbacks(self):
        db = QxDBAccess.DBCore()
        for fn, args in ((db.SetRtAlarmNotify, (42, 1)),
                         (QxDBAccess.Driver().SetTagNotify, (42,))):
            with self.assertRaises(TypeError) as cm:
                fn(*args)
            self.assertEqual(str(cm.exception), "parameter must be callable")

    def test_driver_without_driver(self):
        drv = QxDBAccess.Driver()
        self.assertEqual(drv.ConnectTag("a"), 0)
        self.assertIsNone(drv.GetTagValue("a"))
        self.assertEqual(drv.SetTagValue("a", 1), -2)
        self.assertIsNone(drv.SetTagNotify(print))


class ConnectedSurfaceTest(SimTestCase, unittest.TestCase):
    def test_connect_codes(self):
        db = QxDBAccess.DBCore()
        self.assertEqual(db.Connect(self.sim.host, "operator", "wrong"), -1)
        self.assertEqual(db.Connect(self.sim.host, "operator", "op123"), 0)

    def test_get_driver(self):
        db = self.connect()
        a, b = db.GetDriver("PLC1"), db.GetDriver("PLC1")
        self.assertIsInstance(a, QxDBAccess.Driver)
        self.assertIsNot(a, b)
        with self.assertRaisesRegex(LookupError, "no driver named 'Nope'"):
            db.GetDriver("Nope")

    def test_driver_of_a_dropped_dbcore_fails_cleanly(self):
        db = self.connect()
        drv = db.GetDriver("PLC1")
        self.assertEqual(drv.GetTagValue("i4"), -70000)
        del db
        self.assertEqual(drv.ConnectTag("i4"), 0)
        self.assertIsNone(drv.GetTagValue("i4"))
        self.assertEqual(drv.SetTagValue("i4", 1), -2)
        self.assertIsNone(drv.SetTagNotify(print))


if __name__ == "__main__":
    unittest.main()
