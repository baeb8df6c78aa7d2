#!/usr/bin/env bash
# Fails when a tracked C++ file differs from .clang-format, and shows where.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "Style differs from .clang-format; run: git ls-files '*.cpp' '*.h' | xargs clang-format -i" >&2
    exit 1
fi
echo "Style: ${#files[@]} files match .clang-format"
