#!/usr/bin/env python3
"""Velmora measured against the simulated robot. Run through bench/run-all.sh, which builds
first; this script only runs programs and reads the simulator's trace.

  bench.py measure --build DIR --out FILE.json     latency, cadence, cost, decoder, floor, Python
  bench.py conditions --build DIR --out FILE.json  bump-to-stop and cadence in every condition
  bench.py soak --build DIR --out FILE.json        the console against every fault of the simulator
  bench.py report --results DIR --doc FILE.md      the Markdown page from the result files

Every time is taken on CLOCK_MONOTONIC: the simulator's trace ("t" plus the t0 of its first
line) and the bench's own time.monotonic() are on the same clock. The pieces are in velbench/.
"""
import argparse
import signal
import sys

from velbench.conditions import conditions
from velbench.measure import measure
from velbench.report import report
from velbench.soak import soak


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="what", required=True)
    pm = sub.add_parser("measure")
    pm.add_argument("--build", required=True)
    pm.add_argument("--out", required=True)
    pm.add_argument("--port", type=int, default=187)
    pm.add_argument("--starts", type=int, default=5)
    pm.add_argument("--idle-seconds", type=float, default=60)
    pm.add_argument("--presses", type=int, default=200)
    pm.add_argument("--live-seconds", type=float, default=600)
    pm.add_argument("--bumps", type=int, default=1000)
    pm.add_argument("--console-env", action="append", default=[], metavar="NAME=VALUE",
                    help="run the console with this in its environment (for trying a setting)")
    pc = sub.add_parser("conditions")
    pc.add_argument("--build", required=True)
    pc.add_argument("--out", required=True)
    pc.add_argument("--port", type=int, default=191)
    pc.add_argument("--bumps", type=int, default=1000, help="bumped packets in each condition")
    ps = sub.add_parser("soak")
    ps.add_argument("--build", required=True)
    ps.add_argument("--out", required=True)
    ps.add_argument("--port", type=int, default=190)
    ps.add_argument("--minutes", type=float, default=10.5)
    ps.add_argument("--pace", type=int, default=0, metavar="BAUD",
                    help="the simulator answers a byte at a time at BAUD (57600: a real line)")
    ps.add_argument("--load", action="store_true", help="two busy loops on the machine meanwhile")
    pr = sub.add_parser("report")
    pr.add_argument("--results", required=True)
    pr.add_argument("--doc", required=True)
    args = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    {"measure": measure, "conditions": conditions, "soak": soak, "report": report}[args.what](args)


if __name__ == "__main__":
    main()
