#!/usr/bin/env bash
# Measures Velmora against the simulated robot and writes docs/performance.md.
#
# usage: bench/run-all.sh [--quick]
#
# One command for every figure: installs the Debian packages it needs, builds the Release
# preset (console, simulator, benchmarks), then, under a private Xvfb display and a temporary
# XDG_CONFIG_HOME (ports 187-190, so nothing else's ports are touched):
#   - start-up time, idle CPU, drive-button latency, then a 10-minute live session with the
#     bumper held (bump-to-stop latency, poll cadence, live-view CPU, resident memory);
#   - the same bump-to-stop measurement for bench/floor.cpp and bench/hobbyist.py;
#   - bench_decoder;
#   - the 10-minute soak of bench/soak.sh.
# About 33 minutes. Run it on a quiet machine: latency tails take in whatever else runs.
# --quick shortens everything to a few minutes, for trying the scripts (figures not kept).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

. scripts/deps.sh
velmora_install_deps xvfb xauth xdotool python3 python3-serial libx11-6 libxtst6

cmake --preset release -G Ninja >/dev/null
cmake --build --preset release --target velmora velmora-sim bench_decoder bench_floor -j "$(nproc)"

results=build/release/bench-results
mkdir -p "$results"
if [ $quick = 1 ]; then
    /usr/bin/python3 bench/bench.py measure --build build/release --out "$results/measure.json" \
        --starts 2 --idle-seconds 10 --presses 20 --live-seconds 40 --bumps 30
    /usr/bin/python3 bench/bench.py soak --build build/release --out "$results/soak.json" --minutes 2.4
    /usr/bin/python3 bench/bench.py report --results "$results" --doc "$results/performance.md"
    echo "Quick run: $results/performance.md (docs/performance.md left alone)"
    exit 0
fi
/usr/bin/python3 bench/bench.py measure --build build/release --out "$results/measure.json"
bench/soak.sh --built "$results/soak.json"
/usr/bin/python3 bench/bench.py report --results "$results" --doc docs/performance.md
