"""The asyncio package qxdb: reads and writes off the event loop, watches
and alarms across a dropped connection, and the overflow policies of its
bounded streams."""

import asyncio
import gc
import os
import time
import unittest

import qxdb
from simproc import Sim, make_project, wait_until


def run(coro, timeout=20.0):
    async def bounded():
        return await asyncio.wait_for(coro, timeout)
    return asyncio.run(bounded())


class PackageTest(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("QXDB_EXPECT_INSTALLED"), "testing the source tree")
    def test_installed_beside_the_module(self):
        import site
        import QxDBAccess
        where = os.path.dirname(os.path.dirname(qxdb.__file__))
        self.assertIn(where, site.getsitepackages())
        self.assertEqual(where, os.path.dirname(QxDBAccess.__file__))
        self.assertTrue(os.path.exists(os.path.join(where, "qxdb", "py.typed")))


class StreamPolicyTest(unittest.TestCase):
    """The policies alone, with a consumer that has not read yet."""

    def fill(self, overflow, items, maxsize=3):
        async def go():
            s = qxdb.Stream(asyncio.get_running_loop(), maxsize, overflow, key=lambda c: c[0])
            s.put_many(items)
            s.close()
            return s, [x async for x in s]
        return run(go())

    def test_policies_when_full(self):
        items = [("a", 1), ("b", 1), ("a", 2), ("c", 1), ("a", 3), ("b", 2), ("a", 4)]
        cases = [
            # Before the overflow, in order; then the newest of each tag.
            ("coalesce", [("a", 1), ("b", 1), ("a", 2), ("c", 1), ("a", 4), ("b", 2)], 1, 0),
            ("drop-oldest", [("a", 3), ("b", 2), ("a", 4)], 0, 4),
        ]
        for overflow, want, coalesced, dropped in cases:
            with self.subTest(overflow=overflow):
                s, got = self.fill(overflow, items)
                self.assertEqual(got, want)
                self.assertEqual((s.coalesced, s.dropped), (coalesced, dropped))

    def test_block_holds_the_producer_until_there_is_room(self):
        async def go():
            s = qxdb.Stream(asyncio.get_running_loop(), 2, "block")
            loop = asyncio.get_running_loop()
            producer = loop.run_in_executor(None, s.put_many, list(range(50)))
            await asyncio.sleep(0.05)
            self.assertEqual(len(s), 2)  # held back, nothing lost
            self.assertFalse(producer.done())
            got = [await s.get() for _ in range(50)]
            await producer
            return got, s.dropped
        self.assertEqual(run(go()), (list(range(50)), 0))

    def test_bad_settings(self):
        loop = asyncio.new_event_loop()
        self.addCleanup(loop.close)
        for args in ((0, "block"), (5, "newest"), (5, "coalesce")):
            with self.assertRaises(ValueError):
                qxdb.Stream(loop, *args)


class AsyncTest(unittest.TestCase):
    def setUp(self):
        self.project = make_project()
        self.sim = Sim(self.project.name)
        self.addCleanup(self.project.cleanup)
        self.addCleanup(self.sim.stop)

    def connect(self, **kw):
        kw.setdefault("initial_delay", 0.01)
        kw.setdefault("max_delay", 0.05)
        return qxdb.connect(self.sim.host, "operator", "op123", **kw)

    def test_read_write_and_errors(self):
        async def go():
            async with self.connect() as db:
                drv = db.driver("PLC1")
                self.assertIs(db.driver("PLC1"), drv)
                self.assertEqual(await drv.read("i4"), -70000)
                self.assertEqual(await drv.read(["i4", "nope", "r8"]), [-70000, None, 21.25])
                await drv.write(["i4", "r8"], [12, 1.5])
                self.assertEqual(await drv.read("i4, r8"), [12, 1.5])
                with self.assertRaises(qxdb.Error) as cm:
                    await drv.write("i4", None)
                self.assertEqual(cm.exception.code, -3)
                with self.assertRaises(LookupError):
                    await db.driver("Nope").read("x")
                with self.assertRaises(ValueError):
                    await drv.read("i4,,r8")
            self.assertEqual(db.state, "closed")
            with self.assertRaises(qxdb.Error) as cm:
                await qxdb.connect(self.sim.host, "operator", "bad")
            self.assertEqual(cm.exception.code, -1)
            self.assertIn("login refused", str(cm.exception))
        run(go())

    def test_watch_and_alarms_go_on_across_a_dropped_connection(self):
        async def go():
            async with self.connect(replay_alarms=False) as db:
                drv = db.driver("PLC1")
                states = db.states()
                watch = drv.watch(["i4", "r8"])
                alarms = db.alarms(existing=True)
                await watch.ready()
                await alarms.ready()
                self.sim.cmd("set PLC1 i4 1")
                self.assertEqual(await watch.get(), ("PLC1", "i4", 1))
                self.sim.cmd("drop")
                self.assertEqual([await states.get(), await states.get()],
                                 ["reconnecting", "connected"])
                self.assertEqual(db.state, "connected")
                # The values as they are now, then changes as before.
                self.assertEqual(sorted([(await watch.get()).tag, (await watch.get()).tag]),
                                 ["i4", "r8"])
                self.sim.cmd("set PLC1 r8 2.5")
                self.assertEqual(await watch.get(), ("PLC1", "r8", 2.5))
                self.sim.cmd("set PLC1 r4 20")
                alarm = await alarms.get()
                self.assertEqual((alarm.tag, alarm.type, alarm.limit), ("r4", "High level", 14.5))
        run(go())

    def test_requests_fail_at_once_while_reconnecting(self):
        async def go():
            async with self.connect(initial_delay=5, max_delay=5) as db:
                drv = db.driver("PLC1")
                await drv.read("i4")
                states = db.states()
                self.sim.cmd("drop")
                self.assertEqual(await states.get(), "reconnecting")
                loop = asyncio.get_running_loop()
                start = loop.time()
                with self.assertRaisesRegex(qxdb.Error, r"read failed \(reconnecting\)"):
                    await drv.read("i4")
                with self.assertRaises(qxdb.Error):
                    await drv.write("i4", 1)
                self.assertLess(loop.time() - start, 1.0)  # not the 5 s pause
        run(go())

    def test_the_loop_runs_while_a_read_waits_on_a_stalled_server(self):
        async def go():
            async with self.connect(reconnect=False) as db:
                drv = db.driver("PLC1")
                await drv.read("i4")
                self.sim.cmd("fault raw H 48")  # a reply head, then nothing
                read = asyncio.ensure_future(drv.read("i4"))
                ticks = 0
                loop = asyncio.get_running_loop()
                end = loop.time() + 0.3
                while loop.time() < end:
                    await asyncio.sleep(0.01)
                    ticks += 1
                self.assertFalse(read.done())
                self.assertGreater(ticks, 10)
                await db.close()  # wakes the read, which fails
                with self.assertRaises(qxdb.Error):
                    await read
        run(go())

    def test_a_slow_consumer_under_a_storm_stays_bounded(self):
        async def go():
            async with self.connect() as db:
                drv = db.driver("PLC1")
                watch = drv.watch(["count", "i4"], maxsize=100)
                await watch.ready()
                sizes = []
                storm = asyncio.get_running_loop().run_in_executor(
                    None, self.sim.cmd, "storm PLC1 count 200000")
                while not storm.done():
                    sizes.append(len(watch))
                    await asyncio.sleep(0.005)
                await storm
                self.sim.cmd("set PLC1 i4 3")
                got = []
                while not got or got[-1].tag != "i4":
                    got.append(await watch.get())
                counts = [c.value for c in got if c.tag == "count"]
                self.assertLessEqual(max(sizes), 100 + 2)  # the queue, one newest per tag
                self.assertEqual(counts[-1], 199999)
                self.assertEqual(counts, sorted(counts))
                self.assertEqual(watch.coalesced + len(counts), 200000)
                self.assertEqual(watch.dropped, 0)
        run(go(), timeout=60)

    def test_an_unclosed_connection_with_a_full_blocking_watch_goes_quickly(self):
        async def go():
            db = await self.connect()
            watch = db.driver("PLC1").watch("count", maxsize=2, overflow="block")
            await watch.ready()
            self.sim.cmd("storm PLC1 count 5000")
            await asyncio.sleep(0.2)  # the receive thread waits for room
            self.assertEqual(len(watch), 2)
            del db, watch
            start = time.monotonic()
            gc.collect()  # the connection and its drivers refer to each other
            self.assertTrue(wait_until(lambda: self.sim.client_count() == 0, 2.0))
            return time.monotonic() - start
        self.assertLess(run(go()), 2.0)


if __name__ == "__main__":
    unittest.main()
