#!/usr/bin/env bash
# Tries Velmora without a robot: installs what is missing, makes an optimised
# build, starts the simulated robot on port 99, opens the console, and stops
# the simulator when the console closes.
set -euo pipefail
cd "$(dirname "$0")/.."

port=99
. scripts/deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    # What the advice below needs, so it works as printed.
    velmora_install_deps xvfb xauth
    cat >&2 <<EOF
No display (DISPLAY and WAYLAND_DISPLAY are empty). To run the demo on a virtual one:
  xvfb-run -a $0
Nothing can be seen there; scripts/screenshot.sh takes a picture of the console the same way.
EOF
    exit 2
fi

# shellcheck disable=SC2119
velmora_install_deps

cmake --preset release -G Ninja >/dev/null
cmake --build --preset release --target velmora velmora-sim -j "$(nproc)"
velmora_bin="" velmora_sim_bin=""
# shellcheck source=/dev/null
. build/release/velmora-programs.sh

# The simulator's stdin is a FIFO held open here, so it keeps serving; on the
# way out it gets "quit" and removes its port link itself.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-demo.XXXXXX")
mkfifo "$tmp/sim-in"
exec 3<>"$tmp/sim-in"
sim_pid=""
forward_pid=""

stop_sim() {
    set +e
    [ -n "$forward_pid" ] && kill "$forward_pid" 2>/dev/null
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        echo quit >&3
        for _ in $(seq 50); do
            kill -0 "$sim_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -TERM "$sim_pid" 2>/dev/null && echo "Simulator did not quit; terminated it." >&2
    fi
    [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null
    exec 3>&-
    rm -rf "$tmp"
    return 0
}
trap stop_sim EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The simulator's answers go to the terminal (without its byte trace) and to a log
# to spot its ready line.
"$velmora_sim_bin" --port "$port" --quiet <&3 > >(tee "$tmp/sim.log") 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -qs "^Simulated robot ready on port $port " "$tmp/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "The simulator stopped before it was ready." >&2; exit 1; }
    sleep 0.1
done
grep -qs "^Simulated robot ready on port $port " "$tmp/sim.log" ||
    { echo "The simulator did not get ready within 10 s." >&2; exit 1; }

cat <<EOF

Velmora opens now; the simulated robot waits on port $port:
  1. File > Krennet (any adapter works with the simulator)
  2. Type $port in the Port box and press Connect
  3. Press "Initialize Safe Mode", then hold FWD or press "Start Live Sensor Data"
Closing the window stops the simulator.
EOF
if [ -t 0 ]; then
    # Lines typed here go to the simulator ("bump left", "cliff off", "help").
    echo 'Type simulator commands here, e.g. "bump left" while the live data runs; "help" lists them.'
    exec 4<&0
    cat <&4 >&3 &
    forward_pid=$!
fi

"$velmora_bin"
