#!/usr/bin/env python3
"""Plants each fault of faults.txt in a scratch copy of the tree, builds, runs the suites that
could see it, and prints which of them caught it.

    tests/faults/plant.py [--only ID,...] [--check] [--scratch DIR] [--report FILE]

The scratch copy (build/faults/src, built in build/faults/build) is refreshed from the working
tree at each run; only files that changed are copied, so the builds stay incremental. A suite
could see a fault if its program was relinked, or if it runs the simulator and that was. Exits 1
if a fault was not caught, did not apply or did not build, or if the suites fail without faults.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
FAULT = re.compile(r"^=== (\S+): ([^\n]*)\nfile: (\S+)\n<<<\n(.*?)^---\n(.*?)^>>>$", re.M | re.S)
SKIPPED_LABELS = "packaging|bench"  # they check the install and the bench, not behaviour


def load(path):
    return [dict(zip(("id", "what", "file", "find", "replace"), m)) for m in FAULT.findall(path.read_text())]


def sync(src):
    files = subprocess.run(["git", "-C", str(TOP), "ls-files", "-coz", "--exclude-standard"],
                           check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        a, b = TOP / name, src / name
        if a.is_file() and (not b.exists() or a.read_bytes() != b.read_bytes()):
            b.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(a, b)  # a fresh time stamp, so the build sees the change


def build(bld, log):
    return subprocess.run(["cmake", "--build", str(bld), "-j2"], stdout=log, stderr=subprocess.STDOUT).returncode == 0


def programs(bld):
    """Each suite's program, from CTest's own list."""
    import json
    out = subprocess.run(["ctest", "--test-dir", str(bld), "-LE", SKIPPED_LABELS, "--show-only=json-v1"],
                         check=True, capture_output=True, text=True).stdout
    return {t["name"]: Path(t["command"][0]) for t in json.loads(out)["tests"]}


def stamps(paths):
    return {p: p.stat().st_mtime_ns if p.exists() else 0 for p in paths}


def run_suites(bld, names, junit):
    if not names:
        return []
    pattern = "^(" + "|".join(map(re.escape, sorted(names))) + ")$"
    subprocess.run(["ctest", "--test-dir", str(bld), "-j2", "-R", pattern, "--output-junit", str(junit)],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cases = ET.parse(junit).getroot().iter("testcase")
    return sorted(c.get("name") for c in cases if c.get("status") == "fail" or c.find("failure") is not None)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--check", action="store_true", help="only check that each fault still applies")
    ap.add_argument("--scratch", type=Path, default=TOP / "build" / "faults")
    ap.add_argument("--report", type=Path, help="also write the table to this file")
    args = ap.parse_args()

    faults = load(Path(__file__).with_name("faults.txt"))
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in faults if f["id"] in wanted]
    rows, bad = [], False

    def row(fault, result):
        nonlocal bad
        bad = bad or not result.startswith("caught by")
        print(f"{fault['id']:32} {result}", flush=True)
        rows.append(f"{fault['id']}: {fault['what']}\n    {result}")

    for f in faults:
        n = (TOP / f["file"]).read_text().count(f["find"]) if (TOP / f["file"]).exists() else 0
        f["applies"] = n == 1
        if n != 1:
            row(f, f"NO LONGER APPLIES: its text is found {n} times in {f['file']}")
    if args.check:
        return 1 if bad else 0

    src, bld = args.scratch / "src", args.scratch / "build"
    sync(src)
    if not (bld / "CMakeCache.txt").exists():
        gen = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.run(["cmake", "-S", str(src), "-B", str(bld), *gen, "-DCMAKE_BUILD_TYPE=Debug"],
                       check=True, stdout=subprocess.DEVNULL)
    log = open(args.scratch / "build.log", "w")
    if not build(bld, log):
        sys.exit(f"the tree itself does not build; see {args.scratch / 'build.log'}")
    suites = programs(bld)
    sim = bld / "sim" / "velmora-sim"
    # Suites that start the simulator carry its path in their program (as a QStringLiteral).
    runs_sim = {n for n, p in suites.items() if str(sim).encode("utf-16-le") in p.read_bytes()}
    start = time.monotonic()
    failing = run_suites(bld, suites, args.scratch / "junit.xml")
    if failing:
        sys.exit("these suites fail without any fault, so they cannot tell one: " + ", ".join(failing))
    print(f"baseline: {len(suites)} suites pass ({time.monotonic() - start:.0f} s)", flush=True)

    for f in (f for f in faults if f["applies"]):
        path = src / f["file"]
        original = path.read_text()
        before = stamps([*suites.values(), sim])
        start = time.monotonic()
        try:
            path.write_text(original.replace(f["find"], f["replace"]))
            if not build(bld, log):
                row(f, "DOES NOT BUILD (not a catch): mend the fault")
                continue
            after = stamps(before)
            seen = {n for n, p in suites.items() if after[p] != before[p]}
            if after[sim] != before[sim]:
                seen |= runs_sim
            caught = run_suites(bld, seen, args.scratch / "junit.xml")
            took = f"({len(seen)} suites ran, {time.monotonic() - start:.0f} s)"
            row(f, ("caught by " + ", ".join(caught) if caught else "NOT CAUGHT") + " " + took)
        finally:
            path.write_text(original)
    if args.report:
        args.report.write_text("\n".join(rows) + "\n")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
