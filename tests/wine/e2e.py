#!/usr/bin/env python3
"""The Windows console under Wine against the robot simulator on COM99.

Starts velmora-sim (the Linux build) on a pseudo-terminal, links it into the Wine prefix as
COM99, runs the Windows test program under Wine, presses the simulated bumper when the program
asks for it, and then checks from the simulator's own trace that the console's stop arrived
after the bump and Start when it closed.

usage: e2e.py --sim PATH --wine-run PATH [--port N] [--keep-trace FILE] -- PROGRAM [ARGS...]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

STOP = [137, 0, 0, 0, 0]


def wait_for(predicate, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--port", type=int, default=99)
    parser.add_argument("--keep-trace")
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    program = args.program[1:] if args.program[:1] == ["--"] else args.program

    prefix = os.environ.get("WINEPREFIX") or subprocess.run(
        ["bash", "-c", 'sed -n "s/^export WINEPREFIX=\\${WINEPREFIX:-\\(.*\\)}$/\\1/p" "$0"',
         args.wine_run], capture_output=True, text=True, check=True).stdout.strip()
    # Makes the prefix if it is new, so that its dosdevices folder exists.
    subprocess.run([args.wine_run, "cmd", "/c", "exit"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dosdevice = os.path.join(prefix, "dosdevices", "com%d" % args.port)

    with tempfile.TemporaryDirectory(prefix="velmora-wine-e2e.") as tmp:
        trace = os.path.join(tmp, "trace.jsonl")
        env = dict(os.environ, XDG_CONFIG_HOME=tmp)
        sim = subprocess.Popen([args.sim, "--port", str(args.port), "--quiet", "--trace", trace],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
        ready = sim.stdout.readline()
        print("sim: " + ready.strip())
        link = os.path.join(tmp, "velmora", "ports", "com%d" % args.port)
        if not wait_for(lambda: os.path.islink(link), 10):
            print("FAIL: the simulator made no port link")
            return 1
        if os.path.lexists(dosdevice):
            os.unlink(dosdevice)
        os.symlink(os.readlink(link), dosdevice)
        print("COM%d -> %s" % (args.port, os.readlink(link)))

        bumped_at = None
        try:
            run = subprocess.Popen([args.wine_run] + program, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True,
                                   env=dict(os.environ, VELMORA_E2E_PORT=str(args.port)))
            for line in run.stdout:
                sys.stdout.write(line)
                if line.strip() == "e2e: bump right":
                    sim.stdin.write("bump right\n")
                    sim.stdin.flush()
                    bumped_at = time.monotonic()
            code = run.wait()
        finally:
            os.unlink(dosdevice)
            sim.stdin.write("quit\n")
            sim.stdin.flush()
            sim.wait(10)

        entries = [json.loads(line) for line in open(trace)]
        if args.keep_trace:
            with open(args.keep_trace, "w") as out:
                out.writelines(json.dumps(e) + "\n" for e in entries)
        received = [e for e in entries if e["dir"] == "rx"]
        for e in received[:4] + [e for e in received if e["bytes"] == STOP]:
            print("sim received at %8.3f s: %-20s %s" % (e["t"], " ".join(map(str, e["bytes"])),
                                                       e["meaning"]))
        print("sim received at %8.3f s: %-20s %s" % (received[-1]["t"], " ".join(
            map(str, received[-1]["bytes"])), received[-1]["meaning"]) if received else "")
        if code != 0:
            print("FAIL: the program under Wine exited with %d" % code)
            return 1
        if bumped_at is None:
            print("FAIL: the program never asked for the bump")
            return 1
        bump = [e for e in entries if e["dir"] == "info" and "bump" in e.get("meaning", "").lower()]
        stops = [e for e in received if e["bytes"] == STOP]
        sensors = [e for e in received if e["bytes"] == [142, 0]]
        if not stops or (bump and stops[-1]["t"] < bump[0]["t"]):
            print("FAIL: no stop (137 0 0 0 0) reached the simulator after the bump")
            return 1
        if not received or received[-1]["bytes"] != [128]:
            print("FAIL: the console did not leave the robot in passive mode (Start) at close")
            return 1
        print("PASS: %d sensor requests answered, the stop %s after the bump, Start at close"
              % (len(sensors),
                 "%.1f ms" % ((stops[0]["t"] - bump[0]["t"]) * 1000) if bump else "came"))
        return 0


if __name__ == "__main__":
    sys.exit(main())
