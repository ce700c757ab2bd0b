"""Benchmarks of the asyncio package qxdb, each rate a ratio to a baseline
taken in the same run:

- changes a second through a watch (overflow "block", so that none is
  given up), consumed one at a time with `async for` and a batch at a time
  with batch(), against the native module's callback rate into a trivial
  callback;
- the time from the server coming back (it refused logins until then) to
  the first change delivered on a watch after the reconnect.

usage: python_async_bench.py QXDB_SIM   (with QxDBAccess and qxdb importable)
"""

import asyncio
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "QxDBAccess", "python"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
os.environ["QXDB_SIM"] = sys.argv[1]

import QxDBAccess  # noqa: E402
import qxdb  # noqa: E402
from python_bench import callback_rate  # noqa: E402
from simproc import Sim, make_project  # noqa: E402

N_CHANGES = 1_000_000
ROUNDS = 5


def native_rate(sim):
    db = QxDBAccess.DBCore()
    if db.Connect(sim.host, "operator", "op123") != 0:
        raise SystemExit("connect failed")
    rate, _ = callback_rate(sim, db, N_CHANGES, ROUNDS)
    db.Disconnect()
    return rate


async def companion_rates(sim):
    loop = asyncio.get_running_loop()
    async with qxdb.connect(sim.host, "operator", "op123") as db:
        drv = db.driver("PLC1")
        last = N_CHANGES - 1
        one, batched = [], []
        for rates, whole in ((one, False), (batched, True)):
            watch = drv.watch("count", maxsize=10000, overflow="block")
            await watch.ready()
            for _ in range(ROUNDS):
                start = time.perf_counter()
                storm = loop.run_in_executor(None, sim.cmd, "storm PLC1 count %d" % N_CHANGES, 120)
                n = 0
                if whole:
                    while True:
                        got = await watch.batch()
                        n += len(got)
                        if got[-1].value == last:
                            break
                else:
                    async for change in watch:
                        n += 1
                        if change.value == last:
                            break
                rates.append(n / (time.perf_counter() - start))
                await storm
            watch.close()
        return statistics.median(one), statistics.median(batched)


async def reconnect_times(sim):
    times = []
    async with qxdb.connect(sim.host, "operator", "op123", initial_delay=0.02,
                            max_delay=0.1) as db:
        watch = db.driver("PLC1").watch("count")
        await watch.ready()
        loop = asyncio.get_running_loop()
        for _ in range(5):
            sim.cmd("refuse 1000000")
            sim.cmd("drop")
            await asyncio.sleep(0.3)  # attempts refused meanwhile
            while len(watch):
                await watch.get()
            back = time.perf_counter()
            await loop.run_in_executor(None, sim.cmd, "refuse 0")
            await asyncio.wait_for(watch.get(), 10)  # the resynchronised value
            times.append(time.perf_counter() - back)
    return statistics.median(times), max(times)


def main():
    project = make_project()
    sim = Sim(project.name)
    try:
        native = native_rate(sim)
        one, batched = asyncio.run(companion_rates(sim))
        print("python qxdb: async for change  %10.0f /s   %5.2fx the native callback rate "
              "(%.0f /s)" % (one, one / native, native))
        print("python qxdb: await batch()     %10.0f /s   %5.2fx the native callback rate"
              % (batched, batched / native))
        median, worst = asyncio.run(reconnect_times(sim))
        print("python qxdb: server back to first change after reconnect: median %.0f ms, "
              "worst %.0f ms (pauses 20 ms doubling to 100 ms)" % (median * 1e3, worst * 1e3))
    finally:
        sim.stop()
        project.cleanup()


if __name__ == "__main__":
    main()
