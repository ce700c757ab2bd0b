"""qxdb: an asyncio API over the QxDBAccess module.

    async with qxdb.connect("127.0.0.1:4100", "operator", "op123") as db:
        drv = db.driver("PLC1")
        print(await drv.read(["i4", "r8"]))
        async for change in drv.watch(["i4"]):
            print(change.tag, change.value)

Streams (watch, alarms, states) are bounded, each with an overflow policy:
"coalesce" (the default for changes), "drop-oldest" or "block" (the default
for alarms); their coalesced and dropped counters say what was given up.
"""

from ._client import Connection, Driver, Watch, connect
from ._stream import POLICIES, Stream
from ._types import Alarm, Error, TagChange, Value

__all__ = ["Alarm", "Connection", "Driver", "Error", "POLICIES", "Stream", "TagChange", "Value",
           "Watch", "connect"]
