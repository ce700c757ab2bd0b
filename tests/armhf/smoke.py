"""The armhf Python module under emulation: import, connect to the
simulator, read a tag, receive a change. usage: smoke.py HOST"""

import sys
import threading

import QxDBAccess

db = QxDBAccess.DBCore()
code = db.Connect(sys.argv[1], "operator", "op123")
if code != 0:
    sys.exit("connect failed: %d" % code)
plc = db.GetDriver("PLC1")
speed = plc.GetTagValue("Pump1.Speed")
if not isinstance(speed, int) or not 1400 <= speed <= 1500:
    sys.exit("bad read: %r" % (speed,))
changed = threading.Event()
plc.SetTagNotify(lambda d, t, v: changed.set())
plc.ConnectTag("Tank1.Level")
if not changed.wait(10):
    sys.exit("no change arrived")
print("python armhf smoke: ok (Pump1.Speed %d, a change of Tank1.Level)" % speed)
