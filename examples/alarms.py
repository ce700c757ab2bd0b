#!/usr/bin/env python3
"""Prints the active real-time alarms, then each one the server raises or
ends, for a few seconds.

usage: alarms.py HOST[:PORT] [SECONDS]
    qxdb-sim --port 4100 examples/project &
    python3 examples/alarms.py 127.0.0.1:4100 6
"""

import sys
import time

import QxDBAccess


def on_alarm(almtm, evttm, tag, has_event, kind, group, level, value, limit, status):
    what = "ended" if has_event else "raised"
    print("%s  %-6s %-12s %-11s [%s] level %d value %.2f limit %.2f status %d"
          % (almtm.strftime("%H:%M:%S"), what, tag, kind, group, level, value, limit, status),
          flush=True)


def main(host, seconds="6"):
    db = QxDBAccess.DBCore()
    code = db.Connect(host, "viewer", "view")
    if code != 0:
        sys.exit("connect to %s failed: %d" % (host, code))
    # 1: the alarms active now come first, before SetRtAlarmNotify returns.
    db.SetRtAlarmNotify(on_alarm, 1)
    time.sleep(float(seconds))


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip().splitlines()[2])
    main(*sys.argv[1:])
