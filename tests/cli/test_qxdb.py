"""qxdb against the simulator: every sub-command in text and in JSON, the
reasons and exit statuses of failures, bad usage, and the install."""

import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "QxDBAccess", "python"))
from simproc import Sim, SimTestCase, wait_until  # noqa: E402

QXDB = os.environ.get("QXDB_CLI", "qxdb")


class QxdbTest(SimTestCase, unittest.TestCase):
    def run_qxdb(self, *args, password="op123", user="operator", timeout=20):
        env = dict(os.environ, QXDB_PASSWORD=password)
        cmd = [QXDB] + (["-u", user] if user else []) + list(args)
        return subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=timeout)

    def json_lines(self, out):
        return [json.loads(line) for line in out.splitlines()]

    def test_info(self):
        r = self.run_qxdb("info", self.sim.host)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("project  TestPlant", r.stdout)
        self.assertIn("rights   0x0000000F (write)", r.stdout)
        self.assertIn("PLC1  id 0, 15 tags", r.stdout)
        r = self.run_qxdb("--json", "info", self.sim.host)
        [info] = self.json_lines(r.stdout)
        self.assertEqual((info["result"], info["project"], info["title"], info["rights"]),
                         (0, "TestPlant", "Test plant", 15))
        self.assertIn({"name": "Meter", "id": 1, "tags": 1}, info["drivers"])

    def test_read(self):
        # Tags that no other test writes.
        r = self.run_qxdb("read", self.sim.host, "PLC1", "i4,nope,ui4,i1")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.splitlines(), [
            "i4 = -70000 (I4)", "nope  no such tag", "ui4 = 4000000000 (UI4)", "i1 = -5 (I1)"])
        r = self.run_qxdb("read", self.sim.host, "PLC1", "i4,nope,ui1,r4", "--json")
        self.assertEqual(self.json_lines(r.stdout), [
            {"tag": "i4", "value": -70000, "type": "I4"},
            {"tag": "nope", "error": "no such tag"},
            {"tag": "ui1", "value": 200, "type": "UI1"},
            {"tag": "r4", "value": struct.unpack("<f", struct.pack("<f", 0.1))[0],
             "type": "R4"}])

    def test_write(self):
        cases = [
            ([], "count=5", (3, struct.pack("<i", 5)), "count <- 5 (I4)"),
            ([], "r8=2.5", (5, struct.pack("<d", 2.5)), "r8 <- 2.5 (R8)"),
            ([], "bool=false", (11, b"\x00"), "bool <- false (BOOL)"),
            ([], "str=hello", (8, b"hello\x00"), "str <- hello (STR)"),
            (["--type", "text"], "str=12", (8, b"12\x00"), "str <- 12 (STR)"),
            (["--type", "float"], "r8=3", (5, struct.pack("<d", 3.0)), "r8 <- 3 (R8)"),
        ]
        for extra, arg, (vt, payload), text in cases:
            with self.subTest(arg=arg, extra=extra):
                r = self.run_qxdb("write", self.sim.host, "PLC1", arg, *extra)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout.strip(), text)
                req = self.sim.last_request("g")
                self.assertEqual(req[1:3], b"\x01\x00")
                self.assertEqual(req[7:9], struct.pack("<H", vt))
                self.assertEqual(req[9:], payload)
        r = self.run_qxdb("--json", "write", self.sim.host, "PLC1", "count=7", "r8=1.5")
        self.assertEqual(self.json_lines(r.stdout), [
            {"tag": "count", "value": 7, "type": "I4", "result": 0},
            {"tag": "r8", "value": 1.5, "type": "R8", "result": 0}])
        r = self.run_qxdb("write", self.sim.host, "PLC1", "count=1", user="viewer",
                          password="view")
        self.assertEqual(r.returncode, 1)
        self.assertIn("write refused: the user has no write right", r.stderr)
        r = self.run_qxdb("write", self.sim.host, "PLC1", "nope=1")
        self.assertEqual(r.returncode, 1)
        self.assertIn("did not resolve", r.stderr)

    def watch(self, *args):
        advised = self.sim.count("b")
        env = dict(os.environ, QXDB_PASSWORD="op123")
        p = subprocess.Popen([QXDB, "-u", "operator", "watch", self.sim.host, "PLC1", "count",
                              "--count", "2"] + list(args),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        try:
            self.assertTrue(wait_until(lambda: self.sim.count("b") > advised, 10))
            # A change that reaches the client before the advise reply has
            # given the tag its type is dropped: values go on until two arrive.
            for value in range(41, 141):
                self.sim.cmd("set PLC1 count %d" % value)
                if wait_until(lambda: p.poll() is not None, 0.1):
                    break
            out, err = p.communicate(timeout=10)
        finally:
            if p.poll() is None:
                p.kill()
                p.communicate()
        self.assertEqual(p.returncode, 0, err)
        return out

    def test_watch(self):
        lines = self.watch().splitlines()
        self.assertEqual(len(lines), 2)
        first = re.match(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  count = (\d+) \(I4\)$", lines[0])
        self.assertTrue(first, lines[0])
        self.assertTrue(lines[1].endswith("count = %d (I4)" % (int(first.group(1)) + 1)), lines)
        changes = self.json_lines(self.watch("--json"))
        self.assertEqual([(c["driver"], c["tag"], c["type"]) for c in changes],
                         [("PLC1", "count", "I4")] * 2)
        self.assertEqual(changes[1]["value"], changes[0]["value"] + 1)  # in order, none lost
        self.assertGreaterEqual(changes[0]["value"], 41)
        self.assertIn("time", changes[0])

    def test_alarms(self):
        self.sim.cmd("alarm 9 0 1 2 1 15.5 14.5 1700000000 0")
        r = self.run_qxdb("alarms", self.sim.host, "--existing", "--count", "1")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r"raised r4  type 'High level'  group 'Main group'  level 2"
                                   r"  value 15.5  limit 14.5  status 1")
        r = self.run_qxdb("--json", "alarms", self.sim.host, "--existing", "--count", "1")
        [a] = self.json_lines(r.stdout)
        self.assertEqual({k: a[k] for k in ("tag", "hasEvent", "type", "group", "level", "value",
                                            "limit", "status")},
                         {"tag": "r4", "hasEvent": 0, "type": "High level", "group": "Main group",
                          "level": 2, "value": 15.5, "limit": 14.5, "status": 1})
        self.assertEqual(a["almtm"], a["evttm"])
        r = self.run_qxdb("alarms", self.sim.host, "--seconds", "0.2")
        self.assertEqual((r.returncode, r.stdout), (0, ""))  # no replay without --existing

    def test_failures_say_why(self):
        cases = [
            (("info", self.sim.host), "wrong", 1, "login refused for user 'operator'"),
            (("info", "127.0.0.1:1"), "op123", 1, "127.0.0.1:1: connection refused"),
            (("read", self.sim.host, "Nope", "x"), "op123", 1, "the project has no driver 'Nope'"),
            (("read", self.sim.host), "op123", 2, "DRIVER is required"),
            (("write", self.sim.host, "PLC1", "count"), "op123", 2, "'count' is not TAG=VALUE"),
            (("write", self.sim.host, "PLC1", "count=x", "--type", "int"), "op123", 2,
             "count: 'x' is not a 32-bit integer"),
            (("write", self.sim.host, "PLC1", "a=1", "--type", "date"), "op123", 2, "date"),
            (("bogus",), "op123", 2, "A subcommand is required"),
        ]
        for args, password, status, why in cases:
            with self.subTest(args=args):
                r = self.run_qxdb(*args, password=password)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(why, r.stderr)

    def test_password_option_warns(self):
        r = self.run_qxdb("info", self.sim.host, "--password", "op123", password="")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("warning: --password shows in the process list", r.stderr)

    def test_simulator_verbose(self):
        sim = Sim(self._project.name, args=["--verbose"])
        try:
            self.run_qxdb("read", sim.host, "PLC1", "i4,r8")
            self.run_qxdb("info", sim.host, password="wrong")
        finally:
            sim.proc.stdin.close()
            out = sim.proc.stdout.read().decode()
            sim.stop()
        for want in ("connection paired", "login accepted for user 'operator'",
                     "file RecData/drvinfo.dat requested", "read of 2 tags",
                     "login refused for user 'operator'", "notification connection closed",
                     ": connection closed"):
            self.assertIn(want, out)

    @unittest.skipUnless(os.environ.get("QXDB_BUILD_DIR"), "QXDB_BUILD_DIR not set")
    def test_install(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", os.environ["QXDB_BUILD_DIR"], "--prefix", prefix],
                           check=True, capture_output=True, timeout=60)
            for tool in ("qxdb", "qxdb-sim"):
                r = subprocess.run([os.path.join(prefix, "bin", tool), "--help"],
                                   capture_output=True, text=True, timeout=10)
                self.assertEqual(r.returncode, 0)
                self.assertIn(tool, r.stdout)


if __name__ == "__main__":
    unittest.main()
