"""bench.py report: docs/performance.md from the results of measure, soak and conditions."""
import json
import os

from . import BENCH, ROOT, log

CONDITIONS_HEADING = "## Bump-to-stop in each condition"


def verdict(ok):
    return "**met**" if ok else "**not met**"


def ms(v, digits=3):
    return f"{v:.{digits}f}"


def mb(kb):
    """Megabytes (10^6 bytes), as the goals count them, from /proc's kB (KiB)."""
    return kb * 1024 / 1e6


def loads(v):
    return ", ".join(f"{x:.2f}" for x in v)


def measure_page(m, s):
    """The page from bench.py measure's results and, when there, the soak's (s)."""
    mc = m["machine"]
    con, flo, py = m["console"]["latency"], m["floor"]["latency"], m["python"]["latency"]
    cad, live, idle, drive = m["cadence"], m["live"], m["idle"], m["drive"]

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
            "by a stop before the next answer has come in, and no broken one may be. Paced, the console "
            "may take the first 26 bytes of a longer write as its read, so such answers are counted apart.")
        add("")
        add("| Soak figure | Value |")
        add("|---|---:|")
        add(f"| Requests | {s['requests']} |")
        add(f"| Answers sent | {c['answers']} |")
        add(f"| Whole answers / stopped | {c['whole']} / {c['whole_stopped']} |")
        add(f"| Whole answers not shown | {c['whole_missed']} |")
        add(f"| Broken answers / shown anyway | {c['broken']} / {c['broken_stopped']} |")
        if "piled" in c:
            add(f"| Paced answers longer than 26 bytes / shown (their first 26 bytes are the answer) | "
                f"{c['long']} / {c['long_stopped']} |")
            add(f"| Paced answers after stray bytes / shown (a false packet of the strays and the answer's "
                f"start) | {c['long_false']} / {c['long_false_stopped']} |")
            add(f"| Answers on each other's heels after a stall / shown (one read of both is dropped) | "
                f"{c['piled']} / {c['piled_stopped']} |")
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

    paced = os.path.join(BENCH, "paced-soak.md")
    if os.path.exists(paced):
        with open(paced) as f:
            add(f.read().rstrip())
        add("")

    fuzz = os.path.join(ROOT, "fuzz", "long-run.md")
    if os.path.exists(fuzz):
        add("## Fuzzing")
        add("")
        with open(fuzz) as f:
            add(f.read().rstrip())
        add("")

    with open(os.path.join(BENCH, "notes.md")) as f:
        add(f.read().rstrip())
    add("")
    return "\n".join(lines)



def verdict_word(ok):
    return "**met**" if ok else "**missed**"


def conditions_section(c):
    """The section for bench.py conditions' results."""
    mc, g, n = c["machine"], c["goals"], c["settings"]["bumps"]
    lines = []
    add = lines.append
    add(CONDITIONS_HEADING)
    add("")
    add("Made by `bench/run-all.sh --conditions" + ("" if n == 1000 else f" --bumps {n}") +
        f"`: {n} bumped packets in each condition, in one run of {mc['date']} on source {mc['commit']} "
        f"({mc['cpu']}, {mc['cores']} cores; load average {loads(c['load_start'])} at the start, "
        f"{loads(c['load_end'])} at the end).")
    add("")
    if n < 1000:
        add(f"**A short trial run: {n} bumped packets per condition instead of 1000, so the p99 and the maximum "
            "are those of few samples.**")
        add("")
    add("Each program polls every 250 ms against its own simulator with the bumper held; times as in the table "
        "above. The conditions:")
    add("")
    add("- *Pointer*: over the window (where the click on \"Start Live Sensor Data\" left it) or away from it "
        "(a corner of the screen).")
    add("- *Accessibility*: on is `QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1` with the AT-SPI bus running (a private "
        "session bus with `at-spi-bus-launcher`; the bench reads the console's tree there to find its controls, "
        "but listens to no events while it measures). Off is the same bus without the variable; the bench checks "
        "that the console then stays off the accessibility bus.")
    add("- *Answers*: at once (the simulator writes each answer in one go) or paced at 57600 baud, 10 bits a "
        "byte (`velmora-sim --pace 57600`), as a real line brings them.")
    add("- *Machine*: idle (the bench adds nothing; the load average above tells what else ran), or loaded "
        "with two processes that only compute, at normal priority, for the whole loaded half of the run.")
    add("")
    add("The floor and the Python script draw nothing and take no part in accessibility, so they are measured "
        "per answers and machine only; each console row is compared with the floor's row of the same answers "
        "and machine.")
    add("")
    add("| Goal | Figure | Verdict |")
    add("|---|---|---|")
    add(f"| Console bump-to-stop p99 at most {g['ratio_goal']:g} x the floor's, in every condition | "
        f"within it in {g['conditions_met']} of {g['conditions']} conditions; worst {g['worst_ratio']:.2f} x | "
        f"{verdict_word(g['ratio_met'])} |")
    add(f"| Poll period within {g['cadence_goal_ms']:g} ms of 250 ms at p99, under load | p99 deviation "
        f"{ms(g['loaded_p99_dev_ms'])} ms | {verdict_word(g['cadence_met'])} |")
    add("")
    add("| Program | Pointer | Accessibility | Answers | Machine | Bumped packets | Median (ms) | p99 (ms) | "
        "Max (ms) | Unanswered | p99 / floor p99 | At most 2 x |")
    add("|---|---|---|---|---|---:|---:|---:|---:|---:|---:|---|")
    names = {"console": "Console", "floor": "Floor", "python": "Python"}
    order = {"floor": 0, "python": 1, "console": 2}
    floors = {(r["answers"], r["load"]): r["latency"]["p99"] for r in c["runs"] if r["subject"] == "floor"}
    loads_order = {"idle": 0, "loaded": 1}
    runs = sorted(c["runs"], key=lambda r: (loads_order[r["load"]], r["answers"] != "at once", order[r["subject"]]))
    for r in runs:
        lat = r["latency"]
        ratio = lat["p99"] / floors[(r["answers"], r["load"])]
        goal = verdict_word(ratio <= g["ratio_goal"]) if r["subject"] == "console" else ""
        add(f"| {names[r['subject']]} | {r['pointer'] or '-'} | {r['accessibility'] or '-'} | {r['answers']} | "
            f"{r['load']} | {lat['n']} | {ms(lat['median'])} | {ms(lat['p99'])} | {ms(lat['max'])} | "
            f"{r['missed']} | {ratio:.2f} | {goal} |")
    add("")
    add("Poll cadence: the intervals between the console's `142 0` requests over all its conditions in each state "
        "of the machine. The floor sleeps to an absolute schedule, so its own spread is the machine's share.")
    add("")
    add("| Machine | Intervals | Mean (ms) | Std. dev. (ms) | p99 deviation from 250 ms (ms) | Worst deviation (ms) | "
        "Floor's p99 deviation (ms) |")
    add("|---|---:|---:|---:|---:|---:|---:|")
    for state in ("idle", "loaded"):
        cad, fl = c["cadence"][state], c["floor_cadence"][state]
        add(f"| {state} | {cad['n']} | {ms(cad['mean_ms'])} | {ms(cad['sd_ms'])} | {ms(cad['p99_dev_ms'])} | "
            f"{ms(cad['worst_dev_ms'])} | {ms(fl['p99_dev_ms'])} |")
    add("")
    return "\n".join(lines)


def split_section(page, heading):
    """(before, section, after) around the section with this heading; section is "" when the
    page has none, and then it would go before the poll cadence's section, or at the end."""
    lines = page.split("\n")
    if heading in lines:
        start = lines.index(heading)
    else:
        start = lines.index("## Poll cadence") if "## Poll cadence" in lines else len(lines)
        return "\n".join(lines[:start]), "", "\n".join(lines[start:])
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    return "\n".join(lines[:start]), "\n".join(lines[start:end]), "\n".join(lines[end:])


def read_json(path):
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def report(args):
    """Writes the page from the results folder: in full when it has measure.json, otherwise
    the page already at --doc is kept. The conditions' section comes from conditions.json when
    there, otherwise it is kept from the page already at --doc, so running one part of the bench
    leaves the other's figures as they were."""
    old = ""
    if os.path.exists(args.doc):
        with open(args.doc) as f:
            old = f.read()
    m = read_json(os.path.join(args.results, "measure.json"))
    c = read_json(os.path.join(args.results, "conditions.json"))
    if m is None and c is None:
        raise SystemExit(f"no measure.json or conditions.json in {args.results}")
    page = measure_page(m, read_json(os.path.join(args.results, "soak.json"))) if m is not None else old
    section = conditions_section(c) if c is not None else split_section(old, CONDITIONS_HEADING)[1]
    before, _, after = split_section(page, CONDITIONS_HEADING)
    page = "\n".join(part for part in (before, section.rstrip("\n") + "\n" if section else "", after) if part)
    with open(args.doc, "w") as f:
        f.write(page)
    log("wrote", args.doc)
