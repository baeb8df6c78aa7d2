#!/usr/bin/env python3
"""Velmora measured against the simulated robot. Run through bench/run-all.sh, which builds
first; this script only runs programs and reads the simulator's trace.

  bench.py measure --build DIR --out FILE.json   latency, cadence, cost, decoder, floor, Python
  bench.py soak --build DIR --out FILE.json      the console against every fault of the simulator
  bench.py report --results DIR --doc FILE.md    the Markdown page from both result files

Every time is taken on CLOCK_MONOTONIC: the simulator's trace ("t" plus the t0 of its first
line) and this script's own time.monotonic() are on the same clock.
"""
import argparse
import json
import math
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import xtest  # noqa: E402

SENSORS = [142, 0]
STOP = [137, 0, 0, 0, 0]
FWD = [137, 0, 255, 128, 0]
TITLE = "Velmora"
# The hobbyist script runs on the system Python, where Debian's python3-serial is.
DEBIAN_PYTHON = "/usr/bin/python3"
POLL_S = 0.250

# Control centres in the central widget (which sits under the menu bar), in pixels: the
# console lays itself out in twips, 15 to the pixel.
CONTROLS = {
    "btnFwd": (8 + 56 + 20, 8 + 24 + 20),  # frameDrive at 8,8; the button at 56,24, 41x41
    "txtPortNum": (168 + 40 + 12, 8 + 56 + 13),  # frameWireless at 168,8
    "btnPort": (168 + 80 + 32, 8 + 24 + 28),
    "btnSafe": (168 + 16 + 60, 112 + 64 + 16),  # framePower at 168,112
    "GetSensorData": (168 + 16 + 60, 112 + 104 + 16),
}
CLIENT_HEIGHT = 4170 // 15

# The live session's parts: label, faults typed at the simulator, pointer away from the
# window, share of the session. The first is the measurement as asked for.
LIVE_CONDITIONS = [
    ("answers at once, pointer over the window", "", False, 0.5),
    ("answers 5 ms late (line timing), pointer over the window", "delay 5", False, 0.25),
    ("answers 5 ms late (line timing), pointer away from the window", "delay 5", True, 0.25),
]


def log(*args):
    print(time.strftime("%H:%M:%S"), *args, flush=True)


def percentile(values, p):
    """Nearest-rank percentile."""
    s = sorted(values)
    if not s:
        return float("nan")
    return s[max(0, math.ceil(p / 100 * len(s)) - 1)]


def summary_ms(seconds):
    ms = [v * 1000 for v in seconds]
    if not ms:
        return {"n": 0}
    return {"n": len(ms), "median": statistics.median(ms), "p99": percentile(ms, 99), "max": max(ms),
            "min": min(ms), "mean": statistics.fmean(ms)}


# ---- Processes ----

class Xvfb:
    def __init__(self):
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        number = self.proc.stdout.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


class Sim:
    """velmora-sim on port N in a private configuration folder, commands on its stdin."""

    def __init__(self, build, home, port, name, options=()):
        self.port = port
        self.trace_path = os.path.join(home, f"trace-{name}.jsonl")
        self.link = os.path.join(home, "velmora", "ports", f"com{port}")
        env = dict(os.environ, XDG_CONFIG_HOME=home)
        self.proc = subprocess.Popen([os.path.join(build, "sim", "velmora-sim"), "--port", str(port), "--trace",
                                      self.trace_path, "--quiet", *options],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
        ready = self.proc.stdout.readline()
        if not ready.startswith(f"Simulated robot ready on port {port} "):
            raise RuntimeError(f"simulator not ready: {ready!r}")
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_line(self, prefix, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for i, line in enumerate(self.lines):
                if line.startswith(prefix):
                    del self.lines[: i + 1]
                    return line
            time.sleep(0.02)
        raise TimeoutError(f"simulator never said {prefix!r}")

    def quit(self):
        if self.proc.poll() is None:
            self.command("quit")
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.terminate()
                self.proc.wait(timeout=5)

    def trace(self):
        return read_trace(self.trace_path)


def read_trace(path):
    """Entries with "at": the absolute monotonic time."""
    entries = []
    t0 = None
    with open(path) as f:
        for line in f:
            if not line.strip():
                continue
            e = json.loads(line)
            if t0 is None:
                t0 = e["t0"]
                continue
            e["at"] = t0 + e["t"]
            entries.append(e)
    return entries


def proc_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def proc_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Console:
    """The console under Xvfb, driven as an operator would with xdotool."""

    def __init__(self, build, home, xvfb, display, extra_env=()):
        self.env = dict(os.environ, XDG_CONFIG_HOME=home, DISPLAY=xvfb.display)
        self.env.update(dict(v.split("=", 1) for v in extra_env))
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.display = display
        display.watch_maps()
        self.started = time.monotonic()
        self.proc = subprocess.Popen([os.path.join(build, "console", "velmora")], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window, mapped = display.wait_mapped(TITLE, 30)
        self.startup_s = mapped - self.started
        self.x, self.y, self.width, self.height = display.geometry(self.window)
        self.menu_height = self.height - CLIENT_HEIGHT

    @property
    def pid(self):
        return self.proc.pid

    def where(self, control):
        cx, cy = CONTROLS[control]
        return self.x + cx, self.y + self.menu_height + cy

    def xdo(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def click(self, control):
        x, y = self.where(control)
        self.xdo("mousemove", "--sync", x, y, "click", "1")

    def file_menu(self, *keys):
        self.xdo("mousemove", "--sync", self.x + 15, self.y + self.menu_height // 2, "click", "1")
        time.sleep(0.3)
        self.xdo("key", *keys)

    def connect(self, port):
        """Dallop adapter, port number, Connect, Initialize Safe Mode."""
        self.file_menu("Down", "Down", "Return")  # Krennet, Dallop
        time.sleep(0.2)
        self.click("txtPortNum")
        self.xdo("key", "ctrl+a", "BackSpace")
        self.xdo("type", str(port))
        self.reconnect()

    def reconnect(self):
        self.click("btnPort")
        time.sleep(0.3)
        self.click("btnSafe")
        time.sleep(0.3)

    def exit(self):
        """File > Exit (the last item); returns the exit code."""
        self.file_menu("Up", "Return")
        try:
            return self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)


def wait_for(what, predicate, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise TimeoutError(what)


def rx(entries, bytes_=None, meaning=None):
    return [e for e in entries if e["dir"] == "rx" and (bytes_ is None or e.get("bytes") == bytes_)
            and (meaning is None or e.get("meaning") == meaning)]


def answers(entries):
    return [e for e in entries if e["dir"] == "tx" and e["meaning"].startswith("Sensors packet 0 answer")]


def bump_to_stop(entries, since=None, until=None):
    """Latency from each whole bump answer leaving the simulator to the first stop arriving
    back, and how many such answers got no stop within a poll period."""
    stops = [e["at"] for e in rx(entries, STOP)]
    latencies, missed = [], 0
    j = 0
    for a in answers(entries):
        if len(a["bytes"]) != 26 or not a["bytes"][0] & 3:
            continue
        if (since is not None and a["at"] < since) or (until is not None and a["at"] > until):
            continue
        while j < len(stops) and stops[j] < a["at"]:
            j += 1
        if j < len(stops) and stops[j] - a["at"] < POLL_S:
            latencies.append(stops[j] - a["at"])
        else:
            missed += 1
    return latencies, missed


def cadence(entries, since=None, until=None):
    times = [e["at"] for e in rx(entries, SENSORS)
             if (since is None or e["at"] >= since) and (until is None or e["at"] <= until)]
    intervals = [b - a for a, b in zip(times, times[1:])]
    dev = [abs(i - POLL_S) * 1000 for i in intervals]
    if not intervals:
        return {"n": 0}
    return {"n": len(intervals), "span_s": times[-1] - times[0],
            "mean_ms": statistics.fmean(intervals) * 1000, "sd_ms": statistics.pstdev(intervals) * 1000,
            "p99_dev_ms": percentile(dev, 99), "worst_dev_ms": max(dev),
            "min_ms": min(intervals) * 1000, "max_ms": max(intervals) * 1000}


def first_after(times, t):
    for x in times:
        if x >= t:
            return x
    return None


def machine():
    def cmd(*args):
        try:
            return subprocess.run(args, capture_output=True, text=True, timeout=10).stdout.strip()
        except OSError:
            return ""

    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    mem_kb = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                mem_kb = int(line.split()[1])
    debian = ""
    if os.path.exists("/etc/debian_version"):
        with open("/etc/debian_version") as f:
            debian = f.read().strip()
    return {
        "cpu": cpu, "cores": os.cpu_count(), "memory_gib": round(mem_kb / 1024 / 1024, 1),
        "kernel": platform.release(), "debian": debian,
        "qt": cmd("dpkg-query", "-W", "-f=${Version}", "libqt6core6"),
        "qtserialport": cmd("dpkg-query", "-W", "-f=${Version}", "libqt6serialport6"),
        "compiler": cmd("c++", "--version").splitlines()[0] if cmd("c++", "--version") else "",
        "python": platform.python_version(),
        "pyserial": cmd("dpkg-query", "-W", "-f=${Version}", "python3-serial"),
        "commit": cmd("git", "-C", ROOT, "describe", "--always", "--dirty"),
        "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
    }


def load():
    return [round(x, 2) for x in os.getloadavg()]


# ---- Measurements ----

def measure_contender(build, home, port, name, argv_for_link, bumps):
    """A floor or Python run: its own simulator, bumper held, BUMPS bumped packets."""
    sim = Sim(build, home, port, name)
    try:
        sim.command("bump right")
        sim.wait_line("bump: right")
        started = time.monotonic()
        subprocess.run(argv_for_link(sim.link), check=True, stdout=subprocess.DEVNULL, timeout=bumps * 0.4 + 120)
        ended = time.monotonic()
    finally:
        sim.quit()
    entries = sim.trace()
    latencies, missed = bump_to_stop(entries)
    return {"latency": summary_ms(latencies), "missed": missed, "cadence": cadence(entries),
            "seconds": ended - started}


def measure(args):
    build = os.path.abspath(args.build)
    results = {"machine": machine(), "load_start": load(), "settings": vars(args).copy()}
    home = tempfile.mkdtemp(prefix="velmora-bench-")
    xvfb = Xvfb()
    display = xtest.Display(xvfb.display)
    try:
        # Start-up: several cold-ish starts, each to the window being mapped.
        starts = []
        for _ in range(args.starts):
            c = Console(build, home, xvfb, display)
            starts.append(c.startup_s)
            time.sleep(0.5)
            c.kill()
            time.sleep(0.3)
        log("start-up", [round(s * 1000) for s in starts], "ms")

        sim = Sim(build, home, args.port, "console")
        console = Console(build, home, xvfb, display, args.console_env)
        starts.append(console.startup_s)
        results["startup"] = summary_ms(starts)
        time.sleep(2)
        rss_start = proc_rss_kb(console.pid)
        console.connect(args.port)
        wait_for("Connect and Initialize Safe Mode did not reach the simulator",
                 lambda: rx(sim.trace(), [130]), 10)

        # Idle: connected, safe mode, live view off.
        log("idle for", args.idle_seconds, "s")
        time.sleep(2)
        c0, x0, w0 = proc_cpu_seconds(console.pid), proc_cpu_seconds(xvfb.proc.pid), time.monotonic()
        time.sleep(args.idle_seconds)
        c1, x1, w1 = proc_cpu_seconds(console.pid), proc_cpu_seconds(xvfb.proc.pid), time.monotonic()
        results["idle"] = {"seconds": w1 - w0, "cpu_s": c1 - c0, "percent": (c1 - c0) / (w1 - w0) * 100,
                           "xvfb_percent": (x1 - x0) / (w1 - w0) * 100}
        log("idle", results["idle"])

        # Drive: press and release on FWD, timed where the X server is handed the event.
        log("drive presses:", args.presses)
        x, y = console.where("btnFwd")
        display.move(x, y)
        time.sleep(0.2)
        presses, releases = [], []
        for _ in range(args.presses):
            presses.append(display.button(True))
            time.sleep(0.1)
            releases.append(display.button(False))
            time.sleep(0.1)
        time.sleep(0.5)
        entries = sim.trace()
        drives = [e["at"] for e in rx(entries, FWD)]
        stops = [e["at"] for e in rx(entries, STOP)]
        press_lat, release_lat = [], []
        for p, r in zip(presses, releases):
            d = first_after(drives, p)
            s = first_after(stops, r)
            if d is not None and d < r:
                press_lat.append(d - p)
            if s is not None and s < r + 0.1:
                release_lat.append(s - r)
        results["drive"] = {"presses": args.presses, "press": summary_ms(press_lat),
                            "release": summary_ms(release_lat)}
        log("drive", results["drive"])

        # The live session: bumper held, view on, cadence, bump-to-stop, cost, memory.
        sim.command("bump right")
        sim.wait_line("bump: right")
        rss_before_live = proc_rss_kb(console.pid)
        console.click("GetSensorData")
        wait_for("the live view sent no request", lambda: rx(sim.trace(), SENSORS), 5)
        live_from = time.monotonic()
        c0, x0 = proc_cpu_seconds(console.pid), proc_cpu_seconds(xvfb.proc.pid)
        rss_samples = []
        log("live view for", args.live_seconds, "s")
        # Half the session as set up: answers at once, the pointer where the click on "Start Live
        # Sensor Data" left it. Then answers 5 ms late, as a real line at 57600 baud brings them
        # (2 + 26 bytes take 4.9 ms), so the console is idle when they come; for the last quarter
        # the pointer also leaves the window (see the notes on showing a label).
        spans = []
        for label, fault, away, share in LIVE_CONDITIONS:
            sim.command("fault off")
            if fault:
                sim.command("fault " + fault)
            if away:
                display.move(1000, 760)
            span_from = time.monotonic()
            span_to = span_from + args.live_seconds * share
            while time.monotonic() < span_to:
                time.sleep(max(0.0, min(10.0, span_to - time.monotonic())))
                rss_samples.append([round(time.monotonic() - live_from), proc_rss_kb(console.pid)])
            # Answers on their way while the fault changes are not counted.
            spans.append((label, span_from + 0.3, time.monotonic()))
        live_to = time.monotonic()
        c1, x1 = proc_cpu_seconds(console.pid), proc_cpu_seconds(xvfb.proc.pid)
        alive = console.proc.poll() is None
        exit_code = console.exit()
        sim.quit()
        entries = sim.trace()
        by_condition = []
        for label, span_from, span_to in spans:
            lat, miss = bump_to_stop(entries, span_from, span_to)
            by_condition.append({"condition": label, "latency": summary_ms(lat), "missed": miss})
        results["live"] = {
            "seconds": live_to - live_from, "cpu_s": c1 - c0, "percent": (c1 - c0) / (live_to - live_from) * 100,
            "xvfb_percent": (x1 - x0) / (live_to - live_from) * 100,
            "rss_start_kb": rss_start, "rss_before_live_kb": rss_before_live, "rss_end_kb": rss_samples[-1][1],
            "rss_samples": rss_samples, "alive_at_end": alive, "exit_code": exit_code,
        }
        results["cadence"] = cadence(entries, live_from, live_to)
        results["console"] = by_condition[0]
        results["console_conditions"] = by_condition
        log("live", {k: v for k, v in results["live"].items() if k != "rss_samples"})
        log("cadence", results["cadence"])
        for c in by_condition:
            log("console bump-to-stop", c)
    finally:
        display.close()
        xvfb.stop()

    log("floor:", args.bumps, "bumped packets")
    floor = os.path.join(build, "bench", "bench_floor")
    results["floor"] = measure_contender(build, home, args.port + 1, "floor",
                                         lambda link: [floor, link, str(args.bumps), "250"], args.bumps)
    log("floor", results["floor"])
    log("python:", args.bumps, "bumped packets")
    results["python"] = measure_contender(build, home, args.port + 2, "python",
                                          lambda link: [DEBIAN_PYTHON, os.path.join(HERE, "hobbyist.py"), link,
                                                        str(args.bumps)], args.bumps)
    log("python", results["python"])

    out = subprocess.run([os.path.join(build, "bench", "bench_decoder"), "2"], capture_output=True, text=True,
                         check=True).stdout
    results["decoder"] = parse_decoder(out)
    log("decoder", results["decoder"])
    results["load_end"] = load()
    finish(home, results, args.out)


def finish(home, results, out):
    """Writes the results; the traces go unless VELMORA_BENCH_KEEP is set."""
    if os.environ.get("VELMORA_BENCH_KEEP"):
        log("kept the traces in", home)
    else:
        shutil.rmtree(home, ignore_errors=True)
    with open(out, "w") as f:
        json.dump(results, f, indent=1)
    log("wrote", out)


def parse_decoder(text):
    rows = []
    for line in text.splitlines():
        parts = line.split()
        if len(parts) >= 5 and parts[2] == "packets/s":
            rows.append({"entry": parts[0], "packets_per_s": float(parts[1]), "allocations": float(parts[3])})
    return rows


# ---- Soak ----

# Each phase's faults, as typed at the simulator (after "fault off"), and whether answers
# should be shown: every whole answer must be, nothing else may be.
SOAK_PHASES = [
    ("no fault", ""),
    ("split 10+16, 5 ms apart", "split 10,16 gap 5"),
    ("split 10+16, 20 ms apart", "split 10,16 gap 20"),
    ("split 10+16, 80 ms apart", "split 10,16 gap 80"),
    ("delayed 100 ms", "delay 100"),
    ("delayed 300 ms", "delay 300"),
    ("3 stray bytes before", "stray-before 3"),
    ("2 stray bytes after", "stray-after 2"),
    ("one extra byte", "extra-byte"),
    ("every 3rd answer dropped", "drop-every 3"),
    ("split, delayed and dropped at once", "split 10,16 gap 20 delay 100 drop-every 4"),
    ("unplug, replug, reconnect", None),
]
# The port raises its event at once when 26 bytes wait, otherwise once the line has been quiet
# for 40 ms: pieces closer than the lower bound make one read, pieces further apart than the
# upper bound make two.
WHOLE_GAP_S = 0.030
SPLIT_GAP_S = 0.050


def group_answers(entries):
    """Answers as lists of their pieces (tx entries), in order."""
    groups = []
    for e in answers(entries):
        m = e["meaning"]
        if ", piece " in m and not m.endswith("piece 1 of " + m.rsplit(" of ", 1)[1]) and groups:
            groups[-1].append(e)
        else:
            groups.append([e])
    return groups


def shown_whole(pieces):
    """Whether the console's port hands an answer over as one read of exactly 26 bytes: it does
    so the moment 26 or more bytes wait, or after 40 ms of quiet with fewer (then dropped).
    Returns (verdict, time of the piece that decided it); verdict None when a gap is too close
    to the settle time to say."""
    count, last = 0, None
    for p in pieces:
        if last is not None:
            gap = p["at"] - last
            if WHOLE_GAP_S <= gap <= SPLIT_GAP_S:
                return None, p["at"]
            if gap > SPLIT_GAP_S:
                count = 0  # the bytes before were handed over alone, and dropped
        count += len(p["bytes"])
        last = p["at"]
        if count >= 26:
            return count == 26, p["at"]
    return False, last


def soak_check(entries, excluded):
    """Every whole answer (bumper held) must be followed by its stop; no other answer may be.
    excluded: (from, to) spans around unplugging, not judged."""
    stops = [e["at"] for e in rx(entries, STOP)]
    used = set()
    counts = {"answers": 0, "whole": 0, "whole_stopped": 0, "whole_missed": 0, "broken": 0,
              "broken_stopped": 0, "ambiguous": 0, "excluded": 0, "stops": len(stops), "unexplained_stops": 0}
    missed_at = []
    for pieces in group_answers(entries):
        counts["answers"] += 1
        whole, end = shown_whole(pieces)
        stop = next((i for i, s in enumerate(stops) if end <= s < end + 0.1 and i not in used), None)
        if stop is not None:
            used.add(stop)
        if any(a <= pieces[-1]["at"] and pieces[0]["at"] <= b for a, b in excluded):
            counts["excluded"] += 1
            continue
        if whole is None:
            counts["ambiguous"] += 1
            continue
        if whole:
            counts["whole"] += 1
            if stop is not None:
                counts["whole_stopped"] += 1
            else:
                counts["whole_missed"] += 1
                missed_at.append(round(end - entries[0]["at"], 3))
        else:
            counts["broken"] += 1
            if stop is not None:
                counts["broken_stopped"] += 1
    for i, s in enumerate(stops):
        if i not in used and not any(a <= s <= b for a, b in excluded):
            counts["unexplained_stops"] += 1
    counts["missed_at_s"] = missed_at[:20]
    return counts


def soak(args):
    build = os.path.abspath(args.build)
    home = tempfile.mkdtemp(prefix="velmora-soak-")
    results = {"machine": machine(), "load_start": load(), "minutes": args.minutes}
    xvfb = Xvfb()
    display = xtest.Display(xvfb.display)
    sim = Sim(build, home, args.port, "soak")
    try:
        console = Console(build, home, xvfb, display)
        time.sleep(1)
        console.connect(args.port)
        wait_for("Connect and Initialize Safe Mode did not reach the simulator", lambda: rx(sim.trace(), [130]), 10)
        sim.command("bump right")
        console.click("GetSensorData")
        wait_for("the live view sent no request", lambda: rx(sim.trace(), SENSORS), 5)

        def unplug_cycle():
            """Pulls the line out, dismisses the console's message, plugs the line back in and
            connects again as the operator would; returns the span not to judge."""
            t_unplug = time.monotonic()
            display.watch_maps()
            sim.command("unplug")
            display.wait_mapped(TITLE, 10)  # the "connection lost" message
            time.sleep(0.5)
            console.xdo("key", "Return")
            time.sleep(0.5)
            sim.command("replug")
            sim.wait_line("Line plugged in again")
            console.reconnect()
            wait_for("no request after reconnecting",
                     lambda: any(e["at"] > t_unplug for e in rx(sim.trace(), SENSORS)), 5)
            return t_unplug - 0.3, time.monotonic() + 0.3

        # Warm-up: everything the soak will make the console do once (the message box among it),
        # so that first-use allocations are not counted as growth.
        warm_from = time.monotonic()
        rss_warm_start = proc_rss_kb(console.pid)
        unplug_cycle()
        for _, faults in SOAK_PHASES:
            if faults:
                sim.command("fault off")
                sim.command("fault " + faults)
                time.sleep(1)
        sim.command("fault off")
        time.sleep(5)
        warm_to = time.monotonic()

        started = time.monotonic()
        total = args.minutes * 60
        phase_s = total / len(SOAK_PHASES)
        rss, excluded, phases, reconnects = [], [], [], 0
        next_sample = started

        def sample_until(t):
            nonlocal next_sample
            while time.monotonic() < t:
                if console.proc.poll() is not None:
                    raise RuntimeError(f"the console ended during the soak (exit {console.proc.returncode})")
                if time.monotonic() >= next_sample:
                    rss.append([round(time.monotonic() - started), proc_rss_kb(console.pid)])
                    next_sample += 10
                time.sleep(min(0.5, max(0.0, t - time.monotonic())))

        for k, (name, faults) in enumerate(SOAK_PHASES):
            phase_end = started + (k + 1) * phase_s
            phases.append(name)
            log("soak phase:", name)
            sim.command("fault off")
            if faults is None:
                while True:
                    excluded.append(unplug_cycle())
                    reconnects += 1
                    sample_until(time.monotonic() + 8)
                    if time.monotonic() > phase_end - 15:
                        break
                sample_until(phase_end)
            else:
                if faults:
                    sim.command("fault " + faults)
                # Answers on their way while the faults change are not judged.
                t = time.monotonic()
                excluded.append((t - 0.5, t + 0.5))
                sample_until(phase_end)
        alive = console.proc.poll() is None
        ended = time.monotonic()
        rss.append([round(ended - started), proc_rss_kb(console.pid)])
        exit_code = console.exit()
    finally:
        sim.quit()
        display.close()
        xvfb.stop()
    entries = sim.trace()
    checked = soak_check([e for e in entries if started <= e["at"] <= ended], excluded)
    results.update({"seconds": ended - started, "phases": phases, "reconnects": reconnects, "alive_at_end": alive,
                    "exit_code": exit_code, "rss_samples": rss, "rss_first_kb": rss[0][1], "rss_last_kb": rss[-1][1],
                    "rss_max_kb": max(r[1] for r in rss), "check": checked,
                    "rss_before_warmup_kb": rss_warm_start, "warmup_s": warm_to - warm_from,
                    "requests": len([e for e in rx(entries, SENSORS) if started <= e["at"] <= ended]),
                    "load_end": load()})
    log("soak", {k: v for k, v in results.items() if k not in ("rss_samples", "machine")})
    finish(home, results, args.out)


# ---- Report ----

def verdict(ok):
    return "**met**" if ok else "**not met**"


def report(args):
    with open(os.path.join(args.results, "measure.json")) as f:
        m = json.load(f)
    soak_path = os.path.join(args.results, "soak.json")
    s = None
    if os.path.exists(soak_path):
        with open(soak_path) as f:
            s = json.load(f)
    mc = m["machine"]
    con, flo, py = m["console"]["latency"], m["floor"]["latency"], m["python"]["latency"]
    cad, live, idle, drive = m["cadence"], m["live"], m["idle"], m["drive"]

    def ms(v, digits=3):
        return f"{v:.{digits}f}"

    def mb(kb):
        """Megabytes (10^6 bytes), as the goals count them, from /proc's kB (KiB)."""
        return kb * 1024 / 1e6

    def loads(v):
        return ", ".join(f"{x:.2f}" for x in v)

    lines = []
    add = lines.append
    add("# Performance")
    add("")
    add("Measured against the simulated robot (`velmora-sim`) on a pseudo-terminal, the console under Xvfb "
        "driven through the X server as an operator would. Made by:")
    add("")
    add("```")
    add("bench/run-all.sh")
    add("```")
    add("")
    add("It installs what it needs, builds the Release preset, runs every measurement below, the soak, "
        "and writes this page. Figures from one run; latencies are taken from the simulator's own trace "
        "(CLOCK_MONOTONIC), so the console, the floor and the Python script are measured the same way.")
    add("")
    add("## Machine")
    add("")
    add("| | |")
    add("|---|---|")
    add(f"| CPU | {mc['cpu']}, {mc['cores']} cores |")
    add(f"| Memory | {mc['memory_gib']} GiB |")
    add(f"| Kernel | {mc['kernel']} |")
    add(f"| Debian | {mc['debian']} |")
    add(f"| Qt | {mc['qt']} (Qt SerialPort {mc['qtserialport']}) |")
    add(f"| Compiler | {mc['compiler']} |")
    add(f"| Python, pyserial | {mc['python']}, {mc['pyserial']} |")
    add(f"| Source | {mc['commit']} |")
    add(f"| Date | {mc['date']} |")
    add(f"| Load average (1, 5, 15 min) | {loads(m['load_start'])} at the start; {loads(m['load_end'])} after the "
        f"measurements{'; ' + loads(s['load_end']) + ' after the soak' if s else ''} |")
    add("")
    add("The machine is shared: other builds ran at the same time when the load average is above about 0.5, "
        "and the latency tails show it.")
    add("")

    add("## Goals")
    add("")
    add("| Goal | Figure | Verdict |")
    add("|---|---|---|")
    ratio_floor = con["p99"] / flo["p99"]
    add(f"| Bump-to-stop p99 at most 1.5 x the floor | {ms(con['p99'])} ms vs floor {ms(flo['p99'])} ms "
        f"= {ratio_floor:.2f} x | {verdict(ratio_floor <= 1.5)} |")
    add(f"| Bump-to-stop p99 below the Python script's | {ms(con['p99'])} ms vs {ms(py['p99'])} ms | "
        f"{verdict(con['p99'] < py['p99'])} |")
    add(f"| Poll interval within 2 ms of 250 ms at p99 | p99 deviation {ms(cad['p99_dev_ms'])} ms | "
        f"{verdict(cad['p99_dev_ms'] <= 2)} |")
    add(f"| Idle CPU under 0.5 % of a core | {idle['percent']:.3f} % | {verdict(idle['percent'] < 0.5)} |")
    add(f"| Live-view CPU under 1 % of a core | {live['percent']:.3f} % | {verdict(live['percent'] < 1)} |")
    rss_max = mb(max([r[1] for r in live["rss_samples"]] + [live["rss_start_kb"]] + ([s["rss_max_kb"]] if s else [])))
    add(f"| Resident memory under 40 MB | at most {rss_max:.1f} MB | {verdict(rss_max < 40)} |")
    if s:
        growth = mb(s["rss_last_kb"] - s["rss_first_kb"])
        add(f"| Growth under 1 MB over the soak | {growth:+.2f} MB over {s['seconds'] / 60:.1f} min | "
            f"{verdict(growth < 1)} |")
    add("")

    add("## Bump-to-stop latency")
    add("")
    add("From the last byte of a 26-byte packet with a bumper bit set leaving the simulator (its `tx` time, "
        "taken when the write returns) to the stop `137 0 0 0 0` arriving back (its `rx` time, taken when the "
        "simulator's read returns; the five bytes are one write, so they come in one read and that is the "
        "first byte's time too). Each contender has its own simulator with the bumper held down and polls "
        "every 250 ms.")
    add("")
    add("| Program | Bumped packets | Median (ms) | p99 (ms) | Max (ms) | Unanswered | p99 ratio console / this |")
    add("|---|---:|---:|---:|---:|---:|---:|")
    for name, r in (("Console (Qt, under Xvfb)", m["console"]), ("Floor (`bench/floor.cpp`, C++, blocking reads)",
                                                                 m["floor"]),
                    ("Python with pyserial (`bench/hobbyist.py`)", m["python"])):
        lat = r["latency"]
        add(f"| {name} | {lat['n']} | {ms(lat['median'])} | {ms(lat['p99'])} | {ms(lat['max'])} | {r['missed']} | "
            f"{con['p99'] / lat['p99']:.2f} |")
    add("")
    add(f"Median ratios: console / floor {con['median'] / flo['median']:.2f}, console / Python "
        f"{con['median'] / py['median']:.2f}.")
    add("")
    add("The console in the three parts of its live session (the first is the row above):")
    add("")
    add("| Condition | Bumped packets | Median (ms) | p99 (ms) | Max (ms) | Unanswered | p99 / floor p99 |")
    add("|---|---:|---:|---:|---:|---:|---:|")
    for c in m["console_conditions"]:
        lat = c["latency"]
        add(f"| {c['condition']} | {lat['n']} | {ms(lat['median'])} | {ms(lat['p99'])} | {ms(lat['max'])} | "
            f"{c['missed']} | {lat['p99'] / flo['p99']:.2f} |")
    add("")

    add("## Poll cadence")
    add("")
    add(f"Intervals between `142 0` requests seen by the simulator during the {live['seconds'] / 60:.1f}-minute "
        "live session (bumper held, so every packet also writes a stop).")
    add("")
    add("| Intervals | Mean (ms) | Std. dev. (ms) | p99 deviation from 250 ms (ms) | Worst deviation (ms) | "
        "Shortest (ms) | Longest (ms) |")
    add("|---:|---:|---:|---:|---:|---:|---:|")
    add(f"| {cad['n']} | {ms(cad['mean_ms'])} | {ms(cad['sd_ms'])} | {ms(cad['p99_dev_ms'])} | "
        f"{ms(cad['worst_dev_ms'])} | {ms(cad['min_ms'])} | {ms(cad['max_ms'])} |")
    add("")

    add("## Drive latency")
    add("")
    add(f"{drive['presses']} presses of the left mouse button on `btnFwd`, held 100 ms, 100 ms apart, injected "
        "through XTest (as `xdotool mousedown 1` does) and timed on CLOCK_MONOTONIC just before the request "
        "goes to the X server, to the drive sequence (press) or the stop (release) arriving at the simulator.")
    add("")
    add("| Event | Count | Median (ms) | p99 (ms) | Max (ms) |")
    add("|---|---:|---:|---:|---:|")
    for name, key in (("Press to `137 0 255 128 0`", "press"), ("Release to `137 0 0 0 0`", "release")):
        d = drive[key]
        add(f"| {name} | {d['n']} | {ms(d['median'])} | {ms(d['p99'])} | {ms(d['max'])} |")
    add("")

    add("## Cost")
    add("")
    add("CPU time of the console process from `/proc/<pid>/stat` (user + system, 10 ms ticks); the X server's "
        "own drawing work is not in it and is given beside it.")
    add("")
    add("| State | Duration | Console CPU per minute | Console, % of a core | Xvfb, % of a core |")
    add("|---|---:|---:|---:|---:|")
    add(f"| Connected, safe mode, live view off | {idle['seconds']:.0f} s | {idle['cpu_s'] / idle['seconds'] * 60 * 1000:.0f} ms | "
        f"{idle['percent']:.3f} % | {idle['xvfb_percent']:.3f} % |")
    add(f"| Live view on, bumper held | {live['seconds']:.0f} s | {live['cpu_s'] / live['seconds'] * 60 * 1000:.0f} ms | "
        f"{live['percent']:.3f} % | {live['xvfb_percent']:.3f} % |")
    add("")
    st = m["startup"]
    add("Memory in megabytes (10^6 bytes) of resident set, from `/proc/<pid>/status`.")
    add("")
    add("| Memory and start-up | |")
    add("|---|---:|")
    add(f"| Resident memory (VmRSS) 2 s after the window is shown | {mb(live['rss_start_kb']):.1f} MB |")
    add(f"| Resident memory when the live view is switched on | {mb(live['rss_before_live_kb']):.1f} MB |")
    add(f"| Resident memory after {live['seconds'] / 60:.1f} min of live view (largest sample) | "
        f"{mb(live['rss_end_kb']):.1f} MB ({mb(max(r[1] for r in live['rss_samples'])):.1f} MB) |")
    add(f"| Start to window mapped (X MapNotify), median of {st['n']} starts | {st['median']:.0f} ms "
        f"(max {st['max']:.0f} ms) |")
    add(f"| Console alive at the end, exit code on File > Exit | {'yes' if live['alive_at_end'] else 'no'}, "
        f"{live['exit_code']} |")
    add("")

    add("## Decoder")
    add("")
    add("`bench_decoder` over six kinds of packets a robot sends (Release build).")
    add("")
    add("| Entry point | Packets per second | Heap allocations per packet |")
    add("|---|---:|---:|")
    for r in m["decoder"]:
        add(f"| `{r['entry']}` | {r['packets_per_s']:,.0f} | {r['allocations']:.2f} |")
    add("")

    if s:
        c = s["check"]
        add("## Soak")
        add("")
        add(f"`bench/soak.sh`: the console under Xvfb with the live view on and the bumper held, for "
            f"{s['seconds'] / 60:.1f} minutes against one simulator whose faults change every "
            f"{s['seconds'] / len(s['phases']):.0f} s: {'; '.join(s['phases'])}. Each unplug is followed by "
            "dismissing the console's \"connection lost\" message with Return, plugging the line back in, "
            "Connect and Initialize Safe Mode, all through the X server.")
        add("")
        add("The console's port hands bytes over the moment 26 or more wait, otherwise once the line has been "
            "quiet for 40 ms. An answer is whole when that makes one read of exactly its 26 bytes (pieces "
            "less than 30 ms apart, no stray or extra byte before the 26th); otherwise it is broken and must "
            "not be shown. With the bumper held, every whole answer that is shown writes a stop, so the "
            "stops in the simulator's trace count the answers shown: each whole answer must be followed "
            "by a stop within 100 ms, and no broken one may be.")
        add("")
        add("| Soak figure | Value |")
        add("|---|---:|")
        add(f"| Requests | {s['requests']} |")
        add(f"| Answers sent | {c['answers']} |")
        add(f"| Whole answers / stopped | {c['whole']} / {c['whole_stopped']} |")
        add(f"| Whole answers not shown | {c['whole_missed']} |")
        add(f"| Broken answers / shown anyway | {c['broken']} / {c['broken_stopped']} |")
        add(f"| Stops not explained by a whole answer | {c['unexplained_stops']} |")
        add(f"| Not judged (within 0.5 s of a fault change, around an unplug, or pieces 30-50 ms apart) | "
            f"{c['excluded'] + c['ambiguous']} |")
        add(f"| Unplugs with reconnect | {s['reconnects']} |")
        add(f"| Console alive at the end, exit code on File > Exit | {'yes' if s['alive_at_end'] else 'no'}, "
            f"{s['exit_code']} |")
        add(f"| Resident memory before a {s['warmup_s']:.0f} s warm-up (one unplug and every fault once) | "
            f"{mb(s['rss_before_warmup_kb']):.2f} MB |")
        add(f"| Resident memory first / max / last sample (every 10 s) | {mb(s['rss_first_kb']):.2f} / "
            f"{mb(s['rss_max_kb']):.2f} / {mb(s['rss_last_kb']):.2f} MB |")
        add("")

    fuzz = os.path.join(ROOT, "fuzz", "long-run.md")
    if os.path.exists(fuzz):
        add("## Fuzzing")
        add("")
        with open(fuzz) as f:
            add(f.read().rstrip())
        add("")

    notes = os.path.join(HERE, "notes.md")
    if os.path.exists(notes):
        with open(notes) as f:
            add(f.read().rstrip())
        add("")
    with open(args.doc, "w") as f:
        f.write("\n".join(lines))
    log("wrote", args.doc)


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
    ps = sub.add_parser("soak")
    ps.add_argument("--build", required=True)
    ps.add_argument("--out", required=True)
    ps.add_argument("--port", type=int, default=190)
    ps.add_argument("--minutes", type=float, default=10.5)
    pr = sub.add_parser("report")
    pr.add_argument("--results", required=True)
    pr.add_argument("--doc", required=True)
    args = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    {"measure": measure, "soak": soak, "report": report}[args.what](args)


if __name__ == "__main__":
    main()
