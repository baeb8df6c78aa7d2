#!/usr/bin/env bash
# Prints the system, Qt, compiler and CMake a build directory was made with.
#   .ci/versions.sh [build dir, default build/ci]
set -euo pipefail
build=${1:-build/ci}
cache=$build/CMakeCache.txt
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$cache")
qt_dir=$(sed -n 's/^Qt6Core_DIR:[A-Z]*=//p' "$cache")
qt=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")/\1/p' "$qt_dir/Qt6CoreConfigVersionImpl.cmake" \
    "$qt_dir/Qt6CoreConfigVersion.cmake" 2>/dev/null | head -n 1)
# shellcheck disable=SC1091
echo "versions: $(. /etc/os-release && echo "$PRETTY_NAME") (Debian $(cat /etc/debian_version));" \
    "Qt ${qt:-unknown} (qt6-base-dev $(dpkg-query -W -f='${Version}' qt6-base-dev)," \
    "qt6-serialport-dev $(dpkg-query -W -f='${Version}' qt6-serialport-dev));" \
    "$("$compiler" --version | head -n 1); $(cmake --version | head -n 1)"
