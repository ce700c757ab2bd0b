#!/usr/bin/env python3
"""The asyncio API: reads, a write, then live changes and state changes for
a few seconds, on a connection that restores itself if the server goes.

usage: async_watch.py HOST[:PORT] [SECONDS]
    qxdb-sim --port 4100 examples/project &
    python3 examples/async_watch.py 127.0.0.1:4100 5
"""

import asyncio
import sys

import qxdb


async def print_states(db):
    async for state in db.states():
        print("connection:", state, flush=True)


async def main(host, seconds="5"):
    async with qxdb.connect(host, "operator", "op123", reconnect=True, max_delay=5.0) as db:
        plc = db.driver("PLC1")
        # Each request runs on the connection's worker thread: the loop goes on.
        print("now:", await plc.read(["Tank1.Level", "Pump1.Speed", "Pump1.Mode"]), flush=True)
        await plc.write("Pump1.Mode", "manual")
        asyncio.ensure_future(print_states(db))
        # At most 100 changes wait; beyond that only the newest of each tag.
        async with plc.watch(["Tank1.Level", "Pump1.Speed"], maxsize=100) as watch:
            async def show():
                async for change in watch:
                    print("%s.%s = %r" % (change.driver, change.tag, change.value), flush=True)
            try:
                await asyncio.wait_for(show(), float(seconds))
            except asyncio.TimeoutError:
                pass
            print("coalesced %d, dropped %d" % (watch.coalesced, watch.dropped))
        await plc.write("Pump1.Mode", "auto")


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip().splitlines()[3])
    try:
        asyncio.run(main(*sys.argv[1:]))
    except qxdb.Error as e:
        sys.exit(str(e))
