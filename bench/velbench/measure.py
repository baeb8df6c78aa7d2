"""bench.py measure: start-up, idle cost, drive-button latency, a live session with the bumper
held (bump-to-stop, poll cadence, cost, memory), the floor and the Python script, the decoder."""
import os
import subprocess
import time

from . import BENCH, a11y, log
from .harness import DEBIAN_PYTHON, Console, Session, Sim, load, machine, probe_layout, proc_cpu_seconds, \
    proc_rss_kb, wait_for
from .trace import FWD, SENSORS, STOP, bump_to_stop, cadence, first_after, poll_intervals, rx, summary_ms

# The live session's parts: label, faults typed at the simulator, pointer away from the
# window, share of the session. The first is the measurement as asked for.
LIVE_CONDITIONS = [
    ("answers at once, pointer over the window", "", False, 0.5),
    ("answers 5 ms late (line timing), pointer over the window", "delay 5", False, 0.25),
    ("answers 5 ms late (line timing), pointer away from the window", "delay 5", True, 0.25),
]


def floor_argv(build, bumps):
    floor = os.path.join(build, "bench", "bench_floor")
    return lambda link: [floor, link, str(bumps), "250"]


def python_argv(bumps):
    return lambda link: [DEBIAN_PYTHON, os.path.join(BENCH, "hobbyist.py"), link, str(bumps)]


def run_contender(build, home, port, name, argv_for_link, bumps, pace=None):
    """A floor or Python run: its own simulator, bumper held, BUMPS bumped packets; returns the
    simulator's trace."""
    sim = Sim(build, home, port, name, pace)
    try:
        sim.hold_bumper()
        subprocess.run(argv_for_link(sim.link), check=True, stdout=subprocess.DEVNULL, timeout=bumps * 0.4 + 120)
    finally:
        sim.quit()
    return sim.trace()


def measure_contender(build, home, port, name, argv_for_link, bumps):
    entries = run_contender(build, home, port, name, argv_for_link, bumps)
    latencies, missed = bump_to_stop(entries)
    return {"latency": summary_ms(latencies), "missed": missed, "cadence": cadence(poll_intervals(entries))}


def parse_decoder(text):
    rows = []
    for line in text.splitlines():
        parts = line.split()
        if len(parts) >= 5 and parts[2] == "packets/s":
            rows.append({"entry": parts[0], "packets_per_s": float(parts[1]), "allocations": float(parts[3])})
    return rows


def measure(args):
    build = os.path.abspath(args.build)
    results = {"machine": machine(), "load_start": load(), "settings": vars(args).copy()}
    session = Session("velmora-bench-")
    display = session.display
    try:
        layout = probe_layout(build, session)
        # Start-up: several cold-ish starts, each to the window being mapped.
        starts = []
        for _ in range(args.starts):
            c = Console(build, session)
            starts.append(c.startup_s)
            time.sleep(0.5)
            c.kill()
            time.sleep(0.3)
        log("start-up", [round(s * 1000) for s in starts], "ms")

        sim = Sim(build, session.home, args.port, "console")
        console = Console(build, session, layout=layout, extra_env=args.console_env)
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
        c0, x0, w0 = proc_cpu_seconds(console.pid), proc_cpu_seconds(session.xvfb.pid), time.monotonic()
        time.sleep(args.idle_seconds)
        c1, x1, w1 = proc_cpu_seconds(console.pid), proc_cpu_seconds(session.xvfb.pid), time.monotonic()
        results["idle"] = {"seconds": w1 - w0, "cpu_s": c1 - c0, "percent": (c1 - c0) / (w1 - w0) * 100,
                           "xvfb_percent": (x1 - x0) / (w1 - w0) * 100}
        log("idle", results["idle"])

        # Drive: press and release on FWD, timed where the X server is handed the event.
        log("drive presses:", args.presses)
        display.move(*console.where(a11y.FWD))
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
        sim.hold_bumper()
        rss_before_live = proc_rss_kb(console.pid)
        console.click(a11y.START_LIVE)
        wait_for("the live view sent no request", lambda: rx(sim.trace(), SENSORS), 5)
        live_from = time.monotonic()
        c0, x0 = proc_cpu_seconds(console.pid), proc_cpu_seconds(session.xvfb.pid)
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
        c1, x1 = proc_cpu_seconds(console.pid), proc_cpu_seconds(session.xvfb.pid)
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
        results["cadence"] = cadence(poll_intervals(entries, live_from, live_to))
        results["console"] = by_condition[0]
        results["console_conditions"] = by_condition
        log("live", {k: v for k, v in results["live"].items() if k != "rss_samples"})
        log("cadence", results["cadence"])
        for c in by_condition:
            log("console bump-to-stop", c)
    finally:
        session.close()

    log("floor:", args.bumps, "bumped packets")
    results["floor"] = measure_contender(build, session.home, args.port + 1, "floor", floor_argv(build, args.bumps),
                                         args.bumps)
    log("floor", results["floor"])
    log("python:", args.bumps, "bumped packets")
    results["python"] = measure_contender(build, session.home, args.port + 2, "python", python_argv(args.bumps),
                                          args.bumps)
    log("python", results["python"])

    out = subprocess.run([os.path.join(build, "bench", "bench_decoder"), "2"], capture_output=True, text=True,
                         check=True).stdout
    results["decoder"] = parse_decoder(out)
    log("decoder", results["decoder"])
    results["load_end"] = load()
    session.finish(results, args.out)
