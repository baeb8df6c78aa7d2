#!/usr/bin/env bash
# Soak: the console under Xvfb with the live view on and the bumper held, for 10.5 minutes,
# against a simulator that cycles through every fault it has (split, delayed, stray, extra and
# dropped answers, unplugging with a reconnect through the console's window). Checks from the
# simulator's trace that every whole answer was shown (its stop came back) and no broken one
# was, that the console is still alive and exits cleanly, and samples its memory every 10 s.
# Not part of CI.
#
# usage: bench/soak.sh [minutes [bench.py soak options]]   builds the Release preset, prints the
#                                         figures; e.g. 60 --pace 57600 --load: answers at a real
#                                         line's pace, two busy loops on the machine
#        bench/soak.sh --built OUT.json   as part of bench/run-all.sh (already built)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--built" ]; then
    exec /usr/bin/python3 bench/bench.py soak --build build/release --out "$2"
fi
minutes=${1:-10.5}
. scripts/deps.sh
velmora_install_deps "${VELMORA_BENCH_DEPS[@]}"
cmake --preset release -G Ninja >/dev/null
cmake --build --preset release --target velmora velmora-sim -j "$(nproc)"
mkdir -p build/release/bench-results
/usr/bin/python3 bench/bench.py soak --build build/release --out build/release/bench-results/soak.json \
    --minutes "$minutes" "${@:2}"
