#!/usr/bin/env bash
# Builds Velmora for Windows (64-bit) on this Debian machine and packs it:
#   installs MinGW-w64 and Wine from Debian; builds Qt for Windows from Debian's own source
#   package of the host's Qt, once, into a cache it reuses; cross-builds velmora.exe and
#   velmora-probe.exe; writes build/windows/velmora-VERSION-windows-x64.zip and checks under Wine
#   that the unpacked folder starts on its own.
#
#   scripts/build-windows.sh           the zip
#   scripts/build-windows.sh --test    the zip, then every Windows test under Wine, the
#                                      console against the simulator on COM99 among them
#
# VELMORA_WINDOWS_CACHE: where Qt for Windows and the Wine prefix live
# (default: ~/.cache/velmora-windows). Qt takes half an hour or more the first time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tests=OFF
[ "${1:-}" = --test ] && tests=ON

. scripts/deps.sh
. scripts/windows-qt.sh
. scripts/windows-pack.sh
velmora_install_deps "${VELMORA_WINDOWS_DEPS[@]}"

cache=${VELMORA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/velmora-windows}
mkdir -p "$cache"
start=$SECONDS
qt=$(velmora_qt_for_windows "$cache")
echo "== windows: Qt ready in $((SECONDS - start)) s =="

# The console under Wine is tested against the simulator of the Linux build.
sim_option=()
if [ $tests = ON ]; then
    cmake --preset ci -G Ninja >/dev/null
    cmake --build --preset ci --target velmora-sim -j "$(nproc)" >/dev/null
    sim_option=(-DVELMORA_SIM_PROGRAM="$root/build/ci/sim/velmora-sim")
fi

build=build/windows
start=$SECONDS
# Paths of this machine stay out of the programs.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root=." \
    -DVELMORA_WERROR=ON -DVELMORA_BUILD_TESTS=$tests \
    -DVELMORA_WINE_PREFIX="$cache/wine" "${sim_option[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "== windows: programs built in $((SECONDS - start)) s =="

version=$(sed -n 's/^project(velmora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=$build/velmora-$version-windows-x64.zip
velmora_pack_windows "$build" "$qt" "$version" "$zip"

# The unpacked folder on its own, no build folder on Wine's path: the console lays out its
# window with the faces Wine offers and says whether every caption fits.
wine_run=$build/wine-run.sh
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
(cd "$check" && unzip -q "$root/$zip")
fit=$(QT_QPA_PLATFORM=windows VELMORA_WINE_BARE=1 "$wine_run" \
    "$check/velmora-$version-windows-x64/velmora.exe" --font-fit 2>/dev/null)
echo "windows: $fit"
QT_QPA_PLATFORM=windows VELMORA_WINE_BARE=1 "$wine_run" \
    "$check/velmora-$version-windows-x64/velmora-probe.exe" --help \
    >/dev/null
echo "== windows: the unpacked zip starts under Wine =="

if [ $tests = ON ]; then
    start=$SECONDS
    ctest --test-dir "$build" -j "$(nproc)" --output-on-failure
    echo "== windows: tests under Wine passed in $((SECONDS - start)) s =="
fi
