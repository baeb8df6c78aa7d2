#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for a short while.
# Fails (non-zero) when a target finds a crash or a broken invariant.
#
# usage: fuzz/run-short.sh [seconds per target, default 60] [target...]
# A long run: fuzz/run-short.sh 1500. Logs, crashing inputs and a Markdown summary of the run
# (summary.md: executions, time, result per target) are left in build/fuzz/findings
# (VELMORA_FUZZ_BUILD=dir builds and keeps them elsewhere).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

. scripts/deps.sh
velmora_install_deps clang libclang-rt-14-dev

build=${VELMORA_FUZZ_BUILD:-build/fuzz}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF >/dev/null
targets=(fuzz_decoder fuzz_receive)
[ $# -gt 1 ] && targets=("${@:2}")
# fuzz_receive's input is a list of steps and each input starts the poll afresh: 256 bytes hold
# eight answers with their requests; longer inputs reach no more code and run at half the speed.
declare -A extra=([fuzz_decoder]="" [fuzz_receive]="-max_len=256")
cmake --build "$build" --target "${targets[@]}" -j 2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
findings=$build/findings
mkdir -p "$findings"
failed=0
summary=$findings/summary.md
{
    echo "| Target | Time (s) | Executions | Executions/s | Corpus inputs | Result |"
    echo "|---|---:|---:|---:|---:|---|"
} >"$summary"
for t in "${targets[@]}"; do
    corpus=$build/corpus/$t
    mkdir -p "$corpus"
    log=$findings/$t.log
    echo "== $t for $seconds s =="
    # shellcheck disable=SC2086
    if "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/$t-" \
        ${extra[$t]} "$corpus" >"$log" 2>&1; then
        result="no crash"
        echo "$t: no crash"
    else
        tail -n 40 "$log"
        result="FAILED"
        echo "$t: FAILED (input and log in $findings)"
        failed=1
    fi
    figure() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
    echo "| $t | $seconds | $(figure number_of_executed_units) | $(figure average_exec_per_sec) |" \
        "$(find "$corpus" -type f | wc -l) | $result |" >>"$summary"
done
cat "$summary"
exit $failed
