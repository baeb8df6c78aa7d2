"""bench.py soak: the console with the live view on and the bumper held, against a simulator
that goes through every fault it has; every whole answer must be shown, no broken one."""
import contextlib
import os
import time

from . import a11y, log
from .harness import TITLE, Console, CpuLoad, Session, Sim, load, machine, probe_layout, proc_rss_kb, wait_for
from .trace import POLL_S, SENSORS, STOP, answers, rx

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


def soak_check(entries, excluded, pace=None):
    """Every whole answer (bumper held) must be followed by its stop; no other answer may be.
    excluded: (from, to) spans around unplugging, not judged. pace: the simulator's baud rate,
    if paced.

    A stop is looked for from the answer's first byte on the line (paced, the trace stamps a
    write when its last byte has gone, and the console acts on the 26th) until the next answer's
    end (a stop of the next can only come after that), or a poll period after the last. Paced, a write longer than 26 bytes
    trickles in, and whether the console ever holds exactly its first 26 depends on how the
    pseudo-terminal hands the bytes over: such answers are counted apart, as "long", and a stop
    after one whose first 26 bytes were not the answer (stray bytes before it) is a false packet
    shown. Answers on each other's heels (the console wrote two requests together after a stall)
    may be read together, 52 bytes dropped as one read: counted apart, as "piled"."""
    byte_s = 10 / pace if pace else 0.0
    stops = [e["at"] for e in rx(entries, STOP)]
    used = set()
    counts = {"answers": 0, "whole": 0, "whole_stopped": 0, "whole_missed": 0, "broken": 0,
              "broken_stopped": 0, "long": 0, "long_stopped": 0, "long_false": 0, "long_false_stopped": 0,
              "piled": 0, "piled_stopped": 0, "ambiguous": 0, "excluded": 0, "stops": len(stops), "unexplained_stops": 0}
    missed_at = []
    broken_shown = []
    groups = group_answers(entries)

    def first_byte(g):
        return g[0]["at"] - len(g[0]["bytes"]) * byte_s

    for k, pieces in enumerate(groups):
        counts["answers"] += 1
        whole, end = shown_whole(pieces)
        prev = groups[k - 1] if k > 0 else None
        nxt = groups[k + 1] if k + 1 < len(groups) else None
        until = nxt[-1]["at"] if nxt else end + POLL_S
        stop = next((i for i, s in enumerate(stops) if first_byte(pieces) <= s < until and i not in used), None)
        if stop is not None:
            used.add(stop)
        if any(a <= pieces[-1]["at"] and first_byte(pieces) <= b for a, b in excluded):
            counts["excluded"] += 1
            continue
        size = sum(len(p["bytes"]) for p in pieces)
        if byte_s and len(pieces) == 1 and size > 26:
            kind = "long_false" if " stray before" in pieces[0]["meaning"] else "long"
            counts[kind] += 1
            counts[kind + "_stopped"] += stop is not None
            continue
        if (nxt and first_byte(nxt) - end < SPLIT_GAP_S) or (prev and first_byte(pieces) - prev[-1]["at"] < SPLIT_GAP_S):
            counts["piled"] += 1
            counts["piled_stopped"] += stop is not None
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
                # What was shown: when, and the answer's pieces (bytes, ms after the one before).
                broken_shown.append({"at_s": round(end - entries[0]["at"], 3),
                                     "pieces": [[len(p["bytes"]), round((p["at"] - pieces[max(i - 1, 0)]["at"]) * 1e3, 1)]
                                                for i, p in enumerate(pieces)],
                                     "meaning": pieces[0]["meaning"]})
    for i, s in enumerate(stops):
        if i not in used and not any(a <= s <= b for a, b in excluded):
            counts["unexplained_stops"] += 1
    counts["missed_at_s"] = missed_at[:20]
    counts["broken_shown"] = broken_shown[:20]
    return counts


def soak(args):
    # The busy loops end with the soak, however it ends (they go with this process too).
    with (CpuLoad() if args.load else contextlib.nullcontext()) as busy:
        if busy:
            log("busy loops:", [p.pid for p in busy.procs])
        _soak(args)


def _soak(args):
    build = os.path.abspath(args.build)
    results = {"machine": machine(), "load_start": load(), "minutes": args.minutes,
               "pace": args.pace or None, "busy_loops": 2 if args.load else 0}
    session = Session("velmora-soak-")
    display = session.display
    sim = Sim(build, session.home, args.port, "soak", pace=args.pace or None)
    try:
        console = Console(build, session, layout=probe_layout(build, session))
        time.sleep(1)
        console.connect(args.port)
        wait_for("Connect and Initialize Safe Mode did not reach the simulator", lambda: rx(sim.trace(), [130]), 10)
        sim.hold_bumper()
        console.click(a11y.START_LIVE)
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
        session.close()
    entries = sim.trace()
    checked = soak_check([e for e in entries if started <= e["at"] <= ended], excluded, args.pace or None)
    results.update({"seconds": ended - started, "phases": phases, "reconnects": reconnects, "alive_at_end": alive,
                    "exit_code": exit_code, "rss_samples": rss, "rss_first_kb": rss[0][1], "rss_last_kb": rss[-1][1],
                    "rss_max_kb": max(r[1] for r in rss), "check": checked,
                    "rss_before_warmup_kb": rss_warm_start, "warmup_s": warm_to - warm_from,
                    "requests": len([e for e in rx(entries, SENSORS) if started <= e["at"] <= ended]),
                    "load_end": load()})
    log("soak", {k: v for k, v in results.items() if k not in ("rss_samples", "machine")})
    session.finish(results, args.out)

