"""The bench's own reading and writing, without running any program: where a control is found,
how the simulator's trace is read and counted, how the page's conditions section is kept.

  python3 -m unittest discover -s bench -p 'test_*.py'     (also run by ctest)
"""
import json
import os
import tempfile
import unittest
from types import SimpleNamespace

from velbench import a11y, report
from velbench.soak import soak_check
from velbench.trace import STOP, TraceFile, bump_to_stop


def node(role, name, x, y, w, h):
    return {"role": role, "name": name, "x": x, "y": y, "w": w, "h": h}


class LayoutTest(unittest.TestCase):
    def test_places(self):
        # (nodes, window corner, control, expected centre from the corner or None if refused)
        cases = [
            ("offset from the window's corner", [node("push button", "FWD", 164, 100, 41, 41)], (100, 50),
             a11y.FWD, (84, 70)),
            ("an open menu's item reached twice", [node("menu item", "Exit", 6, 84, 120, 22)] * 2, (0, 0),
             a11y.menu_item("Exit"), (66, 95)),
            ("the role tells a label from its box", [node("label", "Port", 184, 90, 25, 17),
                                                     node("text", "Port", 208, 82, 25, 27)], (0, 0),
             a11y.PORT_NUMBER, (220, 95)),
            ("two places for one name", [node("push button", "FWD", 0, 0, 40, 40),
                                         node("push button", "FWD", 50, 0, 40, 40)], (0, 0), a11y.FWD, None),
            ("not showing", [node("push button", "Connect", 0, 0, 40, 40)], (0, 0), a11y.FWD, None),
        ]
        for label, nodes, corner, control, expected in cases:
            with self.subTest(label):
                layout = a11y.Layout(nodes, *corner, (578, 296))
                if expected is None:
                    self.assertRaises(LookupError, layout.centre, control)
                else:
                    self.assertEqual(layout.centre(control), expected)


def answer(t, bumped=True, size=26):
    data = [1 if bumped else 0] + [0] * (size - 1)
    return {"t": t, "dir": "tx", "bytes": data, "meaning": "Sensors packet 0 answer"}


def stop(t):
    return {"t": t, "dir": "rx", "bytes": STOP, "meaning": "Drive"}


class TraceTest(unittest.TestCase):
    def write(self, f, *entries):
        for e in entries:
            f.write(json.dumps(e) + "\n")
        f.flush()

    def test_lines_read_once_whole(self):
        with tempfile.NamedTemporaryFile("w", suffix=".jsonl") as f:
            trace = TraceFile(f.name)
            self.write(f, {"t0": 100.0}, answer(1.0))
            f.write(json.dumps(stop(1.001))[:10])  # being written
            f.flush()
            self.assertEqual([e["at"] for e in trace.entries()], [101.0])
            f.write(json.dumps(stop(1.001))[10:] + "\n")
            f.flush()
            self.assertEqual([e["at"] for e in trace.entries()], [101.0, 101.001])

    def test_bump_to_stop(self):
        entries = [answer(1.0), stop(1.0005),  # 0.5 ms
                   answer(1.25, bumped=False),  # not bumped: not counted
                   answer(1.5, size=20),  # broken: not counted
                   answer(1.7),  # no stop within the poll period: missed
                   answer(2.0), stop(2.002)]
        for e in entries:
            e["at"] = e["t"]
        latencies, missed = bump_to_stop(entries)
        self.assertEqual([round(x * 1000, 3) for x in latencies], [0.5, 2.0])
        self.assertEqual(missed, 1)
        latencies, missed = bump_to_stop(entries, since=1.9)
        self.assertEqual((len(latencies), missed), (1, 0))

    def test_soak_check_paced(self):
        strays = dict(answer(1.25, size=29), meaning="Sensors packet 0 answer (26 bytes, 3 stray before)")
        entries = [answer(1.0), stop(1.15),  # stopped late: still its stop
                   strays, stop(1.2497),  # stopped before the write's last byte: a false packet shown
                   answer(1.5), answer(1.505),  # on each other's heels: not judged
                   answer(1.75)]  # no stop: missed
        for e in entries:
            e["at"] = e["t"]
        c = soak_check(entries, [], pace=57600)
        self.assertEqual({k: c[k] for k in ("whole", "whole_stopped", "whole_missed", "long_false",
                                            "long_false_stopped", "piled", "unexplained_stops")},
                         {"whole": 2, "whole_stopped": 1, "whole_missed": 1, "long_false": 1,
                          "long_false_stopped": 1, "piled": 2, "unexplained_stops": 0})


def conditions_results(bumps):
    runs = [{"subject": s, "pointer": None, "accessibility": None, "answers": "at once", "load": "idle",
             "latency": {"n": bumps, "median": 0.1, "p99": p99, "max": p99}, "missed": 0}
            for s, p99 in (("floor", 0.2), ("python", 0.3))]
    runs.append({"subject": "console", "pointer": "over", "accessibility": "on", "answers": "at once", "load": "idle",
                 "latency": {"n": bumps, "median": 0.5, "p99": 0.5, "max": 0.6}, "missed": 0})
    cad = {"n": 9, "mean_ms": 250.0, "sd_ms": 0.1, "p99_dev_ms": 0.3, "worst_dev_ms": 0.4}
    return {"machine": {"date": "today", "commit": "abc", "cpu": "cpu", "cores": 2}, "load_start": [0, 0, 0],
            "load_end": [0, 0, 0], "settings": {"bumps": bumps}, "runs": runs,
            "cadence": {"idle": cad, "loaded": cad}, "floor_cadence": {"idle": cad, "loaded": cad},
            "goals": {"ratio_goal": 2.0, "worst_ratio": 2.5, "conditions_met": 0, "conditions": 1,
                      "ratio_met": False, "cadence_goal_ms": 2.0, "loaded_p99_dev_ms": 0.3, "cadence_met": True}}


PAGE = "# Performance\n\n## Bump-to-stop latency\n\nold figures\n\n## Poll cadence\n\ncadence\n"


class ConditionsSectionTest(unittest.TestCase):
    def run_report(self, page, results):
        with tempfile.TemporaryDirectory() as d:
            doc = os.path.join(d, "performance.md")
            with open(doc, "w") as f:
                f.write(page)
            if results is not None:
                with open(os.path.join(d, "conditions.json"), "w") as f:
                    json.dump(results, f)
            report.report(SimpleNamespace(results=d, doc=doc))
            with open(doc) as f:
                return f.read()

    def test_section_goes_before_the_cadence_and_is_replaced_in_place(self):
        first = self.run_report(PAGE, conditions_results(40))
        before, section, after = report.split_section(first, report.CONDITIONS_HEADING)
        self.assertTrue(before.endswith("old figures\n"))
        self.assertTrue(after.startswith("## Poll cadence"))
        self.assertIn("A short trial run: 40 bumped packets", section)
        self.assertIn("| Console | over | on | at once | idle | 40 | 0.500 | 0.500 | 0.600 | 0 | 2.50 | **missed** |",
                      section)

        second = self.run_report(first, conditions_results(1000))
        self.assertEqual(second.count(report.CONDITIONS_HEADING), 1)
        self.assertNotIn("trial run", second)
        self.assertEqual(report.split_section(second, report.CONDITIONS_HEADING)[0], before)
        self.assertEqual(report.split_section(second, report.CONDITIONS_HEADING)[2], after)

    def test_other_results_keep_the_section(self):
        page = self.run_report(PAGE, conditions_results(1000))
        section = report.split_section(page, report.CONDITIONS_HEADING)[1]
        with tempfile.TemporaryDirectory() as d:
            measure_page = report.measure_page  # the page rewritten from other results
            try:
                report.measure_page = lambda m, s: PAGE.replace("old figures", "new figures")
                with open(os.path.join(d, "measure.json"), "w") as f:
                    json.dump({}, f)
                doc = os.path.join(d, "performance.md")
                with open(doc, "w") as f:
                    f.write(page)
                report.report(SimpleNamespace(results=d, doc=doc))
            finally:
                report.measure_page = measure_page
            with open(doc) as f:
                rewritten = f.read()
        self.assertIn("new figures", rewritten)
        self.assertEqual(report.split_section(rewritten, report.CONDITIONS_HEADING)[1], section)


if __name__ == "__main__":
    unittest.main()
