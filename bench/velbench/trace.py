"""Reading the simulator's trace: what went over the line and when, on CLOCK_MONOTONIC (the
trace's "t" plus the t0 of its first line, the same clock as time.monotonic())."""
import json
import math
import statistics

SENSORS = [142, 0]
STOP = [137, 0, 0, 0, 0]
FWD = [137, 0, 255, 128, 0]
POLL_S = 0.250


class TraceFile:
    """A trace being written: each call to entries() reads on from where the last one stopped."""

    def __init__(self, path):
        self.path = path
        self._entries = []
        self._offset = 0
        self._t0 = None

    def entries(self):
        """Every entry so far, each with "at": its absolute monotonic time."""
        with open(self.path, "rb") as f:
            f.seek(self._offset)
            chunk = f.read()
        whole = chunk[: chunk.rfind(b"\n") + 1]  # a line still being written waits for next time
        self._offset += len(whole)
        for line in whole.decode().splitlines():
            if not line.strip():
                continue
            e = json.loads(line)
            if self._t0 is None:
                self._t0 = e["t0"]
                continue
            e["at"] = self._t0 + e["t"]
            self._entries.append(e)
        return list(self._entries)


def rx(entries, bytes_=None, meaning=None):
    return [e for e in entries if e["dir"] == "rx" and (bytes_ is None or e.get("bytes") == bytes_)
            and (meaning is None or e.get("meaning") == meaning)]


def answers(entries):
    return [e for e in entries if e["dir"] == "tx" and e["meaning"].startswith("Sensors packet 0 answer")]


def bumped(entries, since=None, until=None):
    """Whole answers with a bumper bit set, sent between since and until."""
    return [a for a in answers(entries) if len(a["bytes"]) == 26 and a["bytes"][0] & 3
            and (since is None or a["at"] >= since) and (until is None or a["at"] <= until)]


def bump_to_stop(entries, since=None, until=None):
    """Latency from each whole bump answer leaving the simulator to the first stop arriving
    back, and how many such answers got no stop within a poll period."""
    stops = [e["at"] for e in rx(entries, STOP)]
    latencies, missed = [], 0
    j = 0
    for a in bumped(entries, since, until):
        while j < len(stops) and stops[j] < a["at"]:
            j += 1
        if j < len(stops) and stops[j] - a["at"] < POLL_S:
            latencies.append(stops[j] - a["at"])
        else:
            missed += 1
    return latencies, missed


def poll_intervals(entries, since=None, until=None):
    """Seconds between successive sensor requests that arrived between since and until."""
    times = [e["at"] for e in rx(entries, SENSORS)
             if (since is None or e["at"] >= since) and (until is None or e["at"] <= until)]
    return [b - a for a, b in zip(times, times[1:])]


def cadence(intervals):
    """How regular the polls were: mean, spread and deviation from the 250 ms period."""
    if not intervals:
        return {"n": 0}
    dev = [abs(i - POLL_S) * 1000 for i in intervals]
    return {"n": len(intervals), "span_s": sum(intervals),
            "mean_ms": statistics.fmean(intervals) * 1000, "sd_ms": statistics.pstdev(intervals) * 1000,
            "p99_dev_ms": percentile(dev, 99), "worst_dev_ms": max(dev),
            "min_ms": min(intervals) * 1000, "max_ms": max(intervals) * 1000}


def first_after(times, t):
    return next((x for x in times if x >= t), None)


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
