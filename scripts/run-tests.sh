#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test:
# once plainly and once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
velmora_install_deps

jobs=$(nproc)
for preset in ci asan-ubsan; do
    echo "== $preset =="
    cmake --preset "$preset" -G Ninja >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
