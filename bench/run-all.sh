#!/usr/bin/env bash
# Measures Velmora against the simulated robot and writes docs/performance.md.
#
# usage: bench/run-all.sh [--quick]
#        bench/run-all.sh --conditions [--bumps N]
#
# One command for every figure: installs the Debian packages it needs, builds the Release
# preset (console, simulator, benchmarks), then, under a private Xvfb display, a private session
# bus with the accessibility bus on it (the bench finds the console's controls in its
# accessibility tree), and a temporary XDG_CONFIG_HOME (so no one else's ports are touched):
#   - start-up time, idle CPU, drive-button latency, then a 10-minute live session with the
#     bumper held (bump-to-stop latency, poll cadence, live-view CPU, resident memory);
#   - the same bump-to-stop measurement for bench/floor.cpp and bench/hobbyist.py;
#   - bench_decoder;
#   - the 10-minute soak of bench/soak.sh.
# About 33 minutes. Run it on a quiet machine: latency tails take in whatever else runs.
# --quick shortens everything to a few minutes, for trying the scripts (figures not kept).
#
# --conditions measures instead bump-to-stop for the console, the floor and the Python script in
# one run, in every condition: pointer over the window or away, accessibility bridge on or off,
# answers at once or paced at 57600 baud, machine idle or under load (two processes computing);
# the floor and the script per pace and load only; and the poll cadence idle and under load.
# N bumped packets per condition, 1000 unless --bumps says otherwise: with 1000 about 100 minutes
# (24 conditions of 250 s, plus setting up). It writes its section of docs/performance.md and
# leaves the rest of the page as it is, as the run above leaves that section; with fewer than
# 1000 (a trial) it writes a copy of the page under build/release/bench-results/conditions/.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=all
bumps=
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) mode=quick ;;
    --conditions) mode=conditions ;;
    --bumps)
        bumps=$2
        shift
        ;;
    *)
        echo "usage: bench/run-all.sh [--quick] | --conditions [--bumps N]" >&2
        exit 2
        ;;
    esac
    shift
done

. scripts/deps.sh
velmora_install_deps "${VELMORA_BENCH_DEPS[@]}"

cmake --preset release -G Ninja >/dev/null
cmake --build --preset release --target velmora velmora-sim bench_decoder bench_floor -j "$(nproc)"

bench() { /usr/bin/python3 bench/bench.py "$@"; }
results=build/release/bench-results
mkdir -p "$results"

case $mode in
conditions)
    mkdir -p "$results/conditions"
    bench conditions --build build/release --out "$results/conditions/conditions.json" ${bumps:+--bumps "$bumps"}
    doc=docs/performance.md
    if [ -n "$bumps" ] && [ "$bumps" -lt 1000 ]; then
        cp docs/performance.md "$results/conditions/performance.md"
        doc=$results/conditions/performance.md
    fi
    bench report --results "$results/conditions" --doc "$doc"
    ;;
quick)
    bench measure --build build/release --out "$results/measure.json" \
        --starts 2 --idle-seconds 10 --presses 20 --live-seconds 40 --bumps 30
    bench soak --build build/release --out "$results/soak.json" --minutes 2.4
    bench report --results "$results" --doc "$results/performance.md"
    echo "Quick run: $results/performance.md (docs/performance.md left alone)"
    ;;
all)
    bench measure --build build/release --out "$results/measure.json"
    bench/soak.sh --built "$results/soak.json"
    bench report --results "$results" --doc docs/performance.md
    ;;
esac
