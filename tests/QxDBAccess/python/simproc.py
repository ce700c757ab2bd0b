"""The simulator as the Python tests use it: qxdb-sim on 127.0.0.1 with an
ephemeral port, driven through its --commands input.

QXDB_SIM names the qxdb-sim program; CTest sets it.
"""

import os
import select
import subprocess
import tempfile
import time

SIM = os.environ.get("QXDB_SIM", "qxdb-sim")

# The project that the Python and the Node tests share.
PROJECT_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "test-project.txt")


def make_project(text=None):
    """A project folder in a new temporary directory (cleaned up with it)."""
    if text is None:
        with open(PROJECT_FILE, encoding="utf-8") as f:
            text = f.read()
    tmp = tempfile.TemporaryDirectory(prefix="qxdb-test-")
    with open(os.path.join(tmp.name, "project.txt"), "w", encoding="utf-8") as f:
        f.write(text)
    return tmp


class Sim:
    """A running qxdb-sim. Every wait is bounded; stop() always ends it."""

    def __init__(self, project_dir, timeout=10.0, args=()):
        self.proc = subprocess.Popen(
            [SIM, "--port", "0", "--commands"] + list(args) + [project_dir],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self._readline(timeout)
        if b"listening on" not in line:
            self.stop()
            raise RuntimeError("qxdb-sim did not start: %r" % line)
        self.port = int(line.rsplit(b":", 1)[1])
        self.host = "127.0.0.1:%d" % self.port

    def _readline(self, timeout):
        end = time.monotonic() + timeout
        buf = b""
        fd = self.proc.stdout.fileno()
        while not buf.endswith(b"\n"):
            left = end - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise TimeoutError("qxdb-sim did not answer within %.0f s" % timeout)
            c = os.read(fd, 1)
            if not c:
                raise EOFError("qxdb-sim ended")
            buf += c
        return buf

    def cmd(self, line, timeout=10.0):
        """Runs one command; returns what follows 'ok', raises on 'error'."""
        if isinstance(line, str):
            line = line.encode("utf-8")
        self.proc.stdin.write(line + b"\n")
        self.proc.stdin.flush()
        answer = self._readline(timeout).decode("utf-8", "replace").rstrip("\n")
        if not answer.startswith("ok"):
            raise AssertionError("qxdb-sim: %s -> %s" % (line, answer))
        return answer[3:]

    def last_request(self, code):
        return bytes.fromhex(self.cmd("lastreq " + code))

    def count(self, code):
        return int(self.cmd("count " + code))

    def client_count(self):
        return int(self.cmd("clientcount"))

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
                self.proc.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait(5)
        for f in (self.proc.stdout, self.proc.stderr):
            f.close()


def wait_until(pred, timeout=5.0, step=0.005):
    """True as soon as pred() is; False after timeout seconds."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(step)
    return bool(pred())


class SimTestCase:
    """Mixin: a simulator with the test project for the whole class."""

    @classmethod
    def setUpClass(cls):
        cls._project = make_project()
        cls.sim = Sim(cls._project.name)

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()
        cls._project.cleanup()

    def connect(self, user="operator", password="op123"):
        import QxDBAccess
        db = QxDBAccess.DBCore()
        self.assertEqual(db.Connect(self.sim.host, user, password), 0)
        return db
