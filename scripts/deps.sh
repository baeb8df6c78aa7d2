# Sourced by the scripts: installs the Debian packages they need, only those missing.
# usage: velmora_install_deps [extra packages...]
velmora_install_deps() {
    local wanted=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libqt6serialport6-dev
                  libgl-dev xvfb xauth "$@")
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
