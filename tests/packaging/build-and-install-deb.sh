#!/usr/bin/env bash
# Builds the Debian package from this checkout, installs it with apt-get as a
# user would, checks what it put in place and that both programs start from
# there, then removes it again. Needs root, as installing does (CI runs as root).
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
    echo "deb: FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "installs a package, so it needs root: sudo $0"
. "$src/scripts/deps.sh"
velmora_install_deps "${VELMORA_TEST_DEPS[@]}"
if dpkg-query -W -f='${Status}' velmora 2>/dev/null | grep -q "install ok installed"; then
    fail "a velmora package is installed already; this test would remove it (apt-get remove velmora first)"
fi

work=$(mktemp -d /tmp/velmora-deb.XXXXXX)
# apt reads the local package as its unprivileged user.
chmod 755 "$work"
installed=0
cleanup() {
    set +e
    [ "$installed" = 1 ] && apt-get remove -y -qq velmora >/dev/null
    rm -rf "$work"
    return 0
}
trap cleanup EXIT

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" -j "$(nproc)"
cd "$work/build"
cpack -G DEB
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)
deb=velmora_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "expected $deb, found: $(ls ./*.deb 2>/dev/null)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "deb: $deb depends on: $depends"
for lib in libqt6widgets6 libqt6serialport6 libc6; do
    [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: the dependencies were not computed"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ "$recommends" == *fonts-liberation2* ]] || fail "Recommends lacks fonts-liberation2: $recommends"

apt-get install -y -qq ./velmora_*.deb
installed=1

for program in velmora velmora-sim velmora-probe; do
    [ "$(command -v "$program")" = /usr/bin/$program ] || fail "$program is not at /usr/bin/$program"
done
desktop=/usr/share/applications/org.velmora.Velmora.desktop
for f in $desktop /usr/share/metainfo/org.velmora.Velmora.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/velmora.svg \
         /usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/velmora.png \
         /usr/share/doc/velmora/copyright; do
    [ -f "$f" ] || fail "$f is not installed"
done
desktop-file-validate "$desktop"
appstreamcli validate --no-net /usr/share/metainfo/org.velmora.Velmora.metainfo.xml

# The console's captions in the face the package brings in, all of them whole.
fit=$(QT_QPA_PLATFORM=offscreen velmora --font-fit) || fail "velmora --font-fit: $fit"
echo "deb: velmora --font-fit: $fit"
[[ "$fit" == "captions in Liberation Sans "* ]] || fail "the console did not get Liberation Sans"

# The simulator from the package: its help, then one start and quit.
velmora-sim --help >/dev/null || fail "velmora-sim --help failed"
export XDG_CONFIG_HOME=$work/config
out=$(echo quit | timeout 20 velmora-sim --port 98) || fail "velmora-sim did not start and quit cleanly"
echo "deb: velmora-sim said: $out"
[[ "$out" == *"Simulated robot ready on port 98 "* ]] || fail "no ready line from velmora-sim"
[ ! -L "$XDG_CONFIG_HOME/velmora/ports/com98" ] || fail "velmora-sim left its port link behind"

# The probe from the package: its help lists the exit statuses; against the simulator it finds
# the robot.
help=$(velmora-probe --help) || fail "velmora-probe --help failed"
[[ "$help" == *"  6  something answers, but not as the robot"* ]] || fail "velmora-probe --help lacks the exit statuses"
velmora-sim --port 97 --quiet </dev/null >/dev/null & sim=$!
for _ in $(seq 50); do [ -L "$XDG_CONFIG_HOME/velmora/ports/com97" ] && break; sleep 0.1; done
probe=$(velmora-probe 97) || { kill $sim; fail "velmora-probe against velmora-sim: $probe"; }
kill $sim
wait $sim || true
echo "deb: velmora-probe said: $(echo "$probe" | grep Diagnosis)"

# The console as the menu starts it: the desktop entry's Exec line, on a
# virtual display, until its window shows; then closed as by its close button.
exec_cmd=$(sed -n 's/^Exec=//p' "$desktop")
# shellcheck disable=SC2016 # expanded by the inner shell
VELMORA_EXEC=$exec_cmd timeout 120 xvfb-run -a bash -c '
    $VELMORA_EXEC & app=$!
    wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Velmora$" | head -1)
    [ -n "$wid" ] || { kill $app; echo "deb: FAIL: no console window" >&2; exit 1; }
    python3 "$0" "$wid"
    wait $app' "$src/tests/newcomer/close-window.py" || fail "the console did not start and close from its desktop entry"
echo "deb: console started from the desktop entry and closed"

apt-get remove -y -qq velmora >/dev/null
installed=0
[ ! -e /usr/bin/velmora ] || fail "/usr/bin/velmora is left after apt-get remove"
echo "deb: PASS ($deb installed, checked and removed)"
