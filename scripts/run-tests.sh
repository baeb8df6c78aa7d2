#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test:
# once plainly and once under AddressSanitizer and UndefinedBehaviorSanitizer.
# VELMORA_QUICK=1 leaves out the sanitizer pass (the newcomer check uses it to
# keep CI short; CI itself runs both passes in the main checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
velmora_install_deps "${VELMORA_TEST_DEPS[@]}"

presets=(ci asan-ubsan)
[ "${VELMORA_QUICK:-0}" = 1 ] && presets=(ci)

jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "== $preset =="
    cmake --preset "$preset" -G Ninja >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
