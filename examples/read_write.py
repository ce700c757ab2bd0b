#!/usr/bin/env python3
"""Reads tags, writes two of them and reads them back.

usage: read_write.py HOST[:PORT] [USER PASSWORD]
Try it against the simulator serving the sample project:
    qxdb-sim --port 4100 examples/project &
    python3 examples/read_write.py 127.0.0.1:4100 operator op123
"""

import sys

import QxDBAccess


def main(host, user="operator", password="op123"):
    db = QxDBAccess.DBCore()
    code = db.Connect(host, user, password)
    if code != 0:
        sys.exit("connect to %s failed: %d" % (host, code))
    plc = db.GetDriver("PLC1")

    names = "Tank1.Level,Tank1.Temp,Pump1.Run,Pump1.Speed,Pump1.Mode,NoSuchTag"
    for name, value in zip(names.split(","), plc.GetTagValue(names)):
        print("%-12s %r" % (name, value))

    # One name takes one value; several names take a list.
    print("write Pump1.Mode:", plc.SetTagValue("Pump1.Mode", "manual"))
    print("write Tank1.Temp, Pump1.Run:", plc.SetTagValue("Tank1.Temp,Pump1.Run", [22.5, False]))
    print("read back:", plc.GetTagValue("Pump1.Mode,Tank1.Temp,Pump1.Run"))
    plc.SetTagValue("Pump1.Mode,Pump1.Run", ["auto", True])  # as it was


if __name__ == "__main__":
    if len(sys.argv) not in (2, 4):
        sys.exit(__doc__.strip().splitlines()[2])
    main(*sys.argv[1:])
