"""Benchmarks of the Python module, each figure a ratio to a baseline taken
in the same run:

- tag-change callbacks a second into a trivial callback, against a C loop
  (map) calling the same callback on the main thread;
- a one-tag GetTagValue round trip, against a raw Python socket
  request/reply of the same sizes served by the same simulator.

usage: python_bench.py QXDB_SIM   (with QxDBAccess importable)
"""

import collections
import itertools
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "QxDBAccess", "python"))
os.environ["QXDB_SIM"] = sys.argv[1]

import QxDBAccess  # noqa: E402
from simproc import Sim, make_project  # noqa: E402

N_CHANGES = 2_000_000
N_READS = 20_000
ROUNDS = 3


def callback_rate(sim, db, n=N_CHANGES, rounds=ROUNDS):
    """The median rate of n changes a second into a trivial callback, and
    the callback."""
    drv = db.GetDriver("PLC1")
    done = threading.Event()
    last = n - 1

    def cb(d, t, v):
        if v == last:
            done.set()

    drv.SetTagNotify(cb)
    drv.ConnectTag("count")
    rates = []
    for _ in range(rounds):
        done.clear()
        start = time.perf_counter()
        sim.cmd("storm PLC1 count %d" % n, timeout=120)
        if not done.wait(120):
            raise SystemExit("the changes did not all arrive")
        rates.append(n / (time.perf_counter() - start))
    return statistics.median(rates), cb


def callbacks(sim, db):
    rate, cb = callback_rate(sim, db)

    base = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        collections.deque(map(cb, itertools.repeat("PLC1", N_CHANGES),
                              itertools.repeat("count", N_CHANGES), range(N_CHANGES)), maxlen=0)
        base.append(N_CHANGES / (time.perf_counter() - start))
    return rate, statistics.median(base)


def round_trips(sim, db):
    drv = db.GetDriver("Meter")
    drv.GetTagValue("flow")  # resolved once, outside the loop
    # The same sizes: a 7-byte request, a 4-byte head and 10 value bytes.
    port = int(sim.cmd("rawlisten 7 48000a0005000000000000000c40"))
    raw = socket.create_connection(("127.0.0.1", port))
    raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    req = b"H\x01\x00\x01\x00\x00\x00"
    ours, base = [], []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        for _ in range(N_READS):
            drv.GetTagValue("flow")
        ours.append((time.perf_counter() - start) / N_READS)
        start = time.perf_counter()
        for _ in range(N_READS):
            raw.sendall(req)
            raw.recv(4, socket.MSG_WAITALL)
            raw.recv(10, socket.MSG_WAITALL)
        base.append((time.perf_counter() - start) / N_READS)
    raw.close()
    return statistics.median(ours), statistics.median(base)


def main():
    project = make_project()
    sim = Sim(project.name)
    try:
        db = QxDBAccess.DBCore()
        if db.Connect(sim.host, "operator", "op123") != 0:
            raise SystemExit("connect failed")
        rate, base = callbacks(sim, db)
        print("python: tag-change callbacks  %10.0f /s   %5.2fx a C loop calling the same "
              "callback (%.0f /s)" % (rate, rate / base, base))
        ours, raw = round_trips(sim, db)
        print("python: one-tag GetTagValue   %10.1f us   %5.2fx a raw socket request/reply of "
              "the same sizes (%.1f us)" % (ours * 1e6, ours / raw, raw * 1e6))
        del db
    finally:
        sim.stop()
        project.cleanup()


if __name__ == "__main__":
    main()
