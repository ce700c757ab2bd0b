#!/usr/bin/env python3
"""Advises tags and prints each change as it arrives, for a few seconds.

usage: subscribe.py HOST[:PORT] [SECONDS]
    qxdb-sim --port 4100 examples/project &
    python3 examples/subscribe.py 127.0.0.1:4100 5
"""

import sys
import time

import QxDBAccess


def on_change(driver, tag, value):
    # Runs on the connection's receive thread: keep it short.
    print("%s  %s.%s = %r" % (time.strftime("%H:%M:%S"), driver, tag, value), flush=True)


def main(host, seconds="5"):
    db = QxDBAccess.DBCore()
    code = db.Connect(host, "viewer", "view")
    if code != 0:
        sys.exit("connect to %s failed: %d" % (host, code))
    plc = db.GetDriver("PLC1")
    plc.SetTagNotify(on_change)
    if not plc.ConnectTag("Tank1.Level,Pump1.Speed"):
        sys.exit("advise failed")
    # Advised tags are read from the local table: no traffic.
    print("now:", plc.GetTagValue("Tank1.Level,Pump1.Speed"), flush=True)
    time.sleep(float(seconds))
    # Dropping db disconnects and ends the callbacks.


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip().splitlines()[2])
    main(*sys.argv[1:])
