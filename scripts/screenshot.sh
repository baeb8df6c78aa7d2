#!/usr/bin/env bash
# Takes docs/console.png: the console under a virtual X server, connected to the simulator,
# with live sensor data running and the right bumper pressed.
#   scripts/screenshot.sh [build-dir]      (default: build/dev, configured if missing)
# Needs xvfb-run, xdotool and ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
out=docs/console.png

for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target velmora velmora-sim -j2 >/dev/null

if [ -z "${VELMORA_IN_XVFB:-}" ]; then
    # Run the rest again inside a fresh virtual X server.
    VELMORA_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

work=$(mktemp -d)
sim_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    if [ -n "$sim_pid" ]; then
        echo quit >&3 || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME=$work
port=7
mkfifo "$work/sim-in"
"$build/sim/velmora-sim" --port "$port" --quiet <"$work/sim-in" >"$work/sim-out" &
sim_pid=$!
exec 3>"$work/sim-in"
for _ in $(seq 50); do
    grep -q "ready on port $port" "$work/sim-out" 2>/dev/null && break
    sleep 0.1
done
grep -q "ready on port $port" "$work/sim-out" || { echo "screenshot: simulator not ready" >&2; exit 1; }

"$build/console/velmora" &
app_pid=$!
win=$(xdotool search --sync --onlyvisible --name '^Velmora$' | head -n1)
# The client area is 578 x 278 below the menu bar, whatever height the menu bar has.
eval "$(xdotool getwindowgeometry --shell "$win")"
menu=$((HEIGHT - 278))

click() { xdotool mousemove --window "$win" "$1" "$2" click 1; sleep 0.3; }

# File > Dallop: open the menu, step down to the second item.
click 15 $((menu / 2))
xdotool key Down Down Return
sleep 0.3
click 220 $((menu + 77))            # txtPortNum
xdotool type "$port"
click 280 $((menu + 60))            # btnPort: Connect
click 244 $((menu + 192))           # btnSafe
click 244 $((menu + 232))           # GetSensorData: Start Live Sensor Data
echo "bump right" >&3
echo "dirt 0 7" >&3
sleep 1.5
mkdir -p docs
import -window "$win" "$out"
echo "bump off" >&3

# File > Exit ends the program through its orderly shutdown.
click 15 $((menu / 2))
xdotool key Up Return
wait "$app_pid" || true
app_pid=
echo "screenshot: wrote $out"
