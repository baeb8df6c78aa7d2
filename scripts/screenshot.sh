#!/usr/bin/env bash
# Takes docs/console.png: the console under a virtual X server, connected to the simulator,
# with live sensor data running and the right bumper pressed. Only the fonts of the Debian
# packages the project itself relies on are offered to it, as on a fresh machine; it fails
# when the console reports a caption that does not fit its control (velmora --font-fit).
#   scripts/screenshot.sh [--out FILE] [--fonts "PACKAGE..."] [build-dir]
#     --out     where the picture goes, from the repository (default docs/console.png)
#     --fonts   the font packages offered (default "fonts-dejavu-core fonts-liberation2")
#     build-dir default build/dev, configured if missing
# QT_SCALE_FACTOR in the environment takes the picture at that scale.
set -euo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
cd "$(dirname "$0")/.."
out=docs/console.png
font_packages="fonts-dejavu-core fonts-liberation2"
while [ $# -gt 0 ]; do
    case $1 in
    --out) out=$2; shift 2 ;;
    --fonts) font_packages=$2; shift 2 ;;
    --wine) wine_build=$2; shift 2 ;;
    *) break ;;
    esac
done
build=${1:-build/dev}
# --wine DIR: the console of that Windows build (scripts/build-windows.sh) under Wine, against
# this build's simulator on COM$port.
wine_build=${wine_build:-}
scale=${QT_SCALE_FACTOR:-1}

if [ -z "${VELMORA_IN_XVFB:-}" ]; then
    . scripts/deps.sh
    # shellcheck disable=SC2086 # one word a package
    velmora_install_deps xvfb xauth xdotool imagemagick $font_packages
    [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$build" --target velmora velmora-sim -j2 >/dev/null
    # Run the rest again inside a fresh virtual X server.
    VELMORA_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1600x1200x24" "$self" --out "$out" \
        --fonts "$font_packages" ${wine_build:+--wine "$wine_build"} "$build"
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

# fontconfig as the system has it, but with only the font files of those packages.
{
    echo '<?xml version="1.0"?><!DOCTYPE fontconfig SYSTEM "fonts.dtd"><fontconfig>'
    echo '<include>/etc/fonts/fonts.conf</include><selectfont>'
    for package in $font_packages; do
        dpkg -L "$package" | grep -E '\.(ttf|otf|ttc|pfb)$' |
            sed 's|.*|<acceptfont><pattern><patelt name="file"><string>&</string></patelt></pattern></acceptfont>|'
    done
    echo '<rejectfont><pattern/></rejectfont></selectfont></fontconfig>'
} >"$work/fonts.conf"
export FONTCONFIG_FILE=$work/fonts.conf
export XDG_CONFIG_HOME=$work

console=("$build/console/velmora")
if [ -n "$wine_build" ]; then
    export QT_QPA_PLATFORM=windows
    console=("$wine_build/wine-run.sh" "$wine_build/velmora.exe")
fi
fit=$("${console[@]}" --font-fit 2>/dev/null) || { echo "screenshot: $fit" >&2; exit 1; }
echo "screenshot: fonts $font_packages, scale $scale: $fit"

port=7
[ -n "$wine_build" ] && port=99
mkfifo "$work/sim-in"
"$build/sim/velmora-sim" --port "$port" --quiet <"$work/sim-in" >"$work/sim-out" &
sim_pid=$!
exec 3>"$work/sim-in"
for _ in $(seq 50); do
    grep -q "ready on port $port" "$work/sim-out" 2>/dev/null && break
    sleep 0.1
done
grep -q "ready on port $port" "$work/sim-out" || { echo "screenshot: simulator not ready" >&2; exit 1; }
if [ -n "$wine_build" ]; then
    prefix=$(sed -n 's/^export WINEPREFIX=${WINEPREFIX:-\(.*\)}$/\1/p' "$wine_build/wine-run.sh")
    ln -sfn "$(sed -n 's/.*ready on port [0-9]* (\(.*\)).*/\1/p' "$work/sim-out")" \
        "$prefix/dosdevices/com$port"
fi

"${console[@]}" &
app_pid=$!
win=$(xdotool search --sync --onlyvisible --name '^Velmora$' | head -n1)
# The client area is 578 x 278 below the menu bar, whatever height the menu bar has; the
# points below are in those pixels, and the screen's are $scale times as many.
eval "$(xdotool getwindowgeometry --shell "$win")"
menu=$(awk -v h="$HEIGHT" -v s="$scale" 'BEGIN { printf "%d", h / s - 278 }')

click() {
    xdotool mousemove --window "$win" \
        "$(awk -v v="$1" -v s="$scale" 'BEGIN { printf "%d", v * s }')" \
        "$(awk -v v="$2" -v s="$scale" 'BEGIN { printf "%d", v * s }')" click 1
    sleep 0.3
}

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
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
echo "bump off" >&3

# File > Exit ends the program through its orderly shutdown.
click 15 $((menu / 2))
xdotool key Up Return
wait "$app_pid" || true
app_pid=
echo "screenshot: wrote $out"
