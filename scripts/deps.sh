# shellcheck shell=bash disable=SC2034
# Sourced by the scripts: installs the Debian packages they need, only those missing.
# usage: velmora_install_deps [extra packages...]

# What building and running the console and the simulator need; fonts-liberation2 is the
# face the console's layout was drawn for (Arial's widths).
VELMORA_BUILD_DEPS=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libgl-dev fonts-liberation2)
# What the tests add: a virtual display and a window tool for the newcomer run,
# the freedesktop validators, and what CPack's Debian generator calls (file,
# dpkg-shlibdeps) for the package test.
VELMORA_TEST_DEPS=(xvfb xauth xdotool python3 git desktop-file-utils appstream dpkg-dev file clang-format)
# What the bench adds: the Python script's serial library, and an accessibility bus with the
# client library the bench finds the console's controls with.
VELMORA_BENCH_DEPS=(xvfb xauth xdotool python3 python3-serial libx11-6 libxtst6
    dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0)
# What the Windows build adds: the MinGW-w64 cross compiler (POSIX threads, as Qt needs), Wine to
# run the programs and tests, Debian's source package tools for Qt's source, and zip.
VELMORA_WINDOWS_DEPS=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 dpkg-dev zip unzip
    python3)

velmora_install_deps() {
    local wanted=("${VELMORA_BUILD_DEPS[@]}" "$@")
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing Debian packages and no sudo to install them; as root run: apt-get install ${missing[*]}" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
