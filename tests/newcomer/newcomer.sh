#!/usr/bin/env bash
# Does what a newcomer does first: clones the repository (its HEAD commit) into
# a temporary folder and runs the README's two commands there.
#  1. scripts/run-demo.sh under xvfb-run: passes once the console's window is
#     shown and the simulator is ready; the window is then closed as a window
#     manager would, and the simulator must be gone with its port link.
#  2. scripts/run-tests.sh, with VELMORA_QUICK=1: the sanitizer pass is left
#     out here because CI runs it in the main checkout already.
# Fails if either fails. The temporary folder is kept on failure, for its logs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
port=99

fail() {
    echo "newcomer: FAIL: $*" >&2
    exit 1
}

# Runs on the virtual display, in the clone: the demo command and a watch on it.
watch_demo() {
    local log=$PWD/demo.log
    scripts/run-demo.sh > >(tee "$log") 2>&1 &
    demo=$!
    # If the watch fails, take the demo's processes down with it.
    trap 'kill -0 "$demo" 2>/dev/null && { pkill -TERM -P "$demo"; kill -TERM "$demo"; }' EXIT
    local deadline=$((SECONDS + ${VELMORA_DEMO_TIMEOUT:-1500}))
    local wids=""
    # The first run builds, so the window may take minutes to come.
    while [ -z "$wids" ]; do
        kill -0 "$demo" 2>/dev/null || { wait "$demo" || true; fail "the demo ended before its window was shown"; }
        [ "$SECONDS" -lt "$deadline" ] || fail "no window named Velmora after ${VELMORA_DEMO_TIMEOUT:-1500} s"
        wids=$(timeout 5 xdotool search --sync --onlyvisible --name '^Velmora$' 2>/dev/null) || true
    done
    echo "newcomer: console window shown ($wids)"

    grep -q "^Simulated robot ready on port $port " "$log" || fail "no ready line from the simulator"
    local link=$XDG_CONFIG_HOME/velmora/ports/com$port
    [ -L "$link" ] || fail "no port link $link while the simulator runs"
    local sim
    sim=$(pgrep -P "$demo" -x velmora-sim) || fail "no velmora-sim started by the demo"
    echo "newcomer: simulator $sim ready, $link -> $(readlink "$link")"

    # shellcheck disable=SC2086
    python3 "$here/close-window.py" $wids
    local waited=0
    while kill -0 "$demo" 2>/dev/null; do
        [ "$waited" -lt 300 ] || { kill "$demo"; fail "the demo did not end within 30 s of closing its window"; }
        sleep 0.1
        waited=$((waited + 1))
    done
    wait "$demo" || fail "the demo exited with status $?"
    ! kill -0 "$sim" 2>/dev/null || fail "the simulator $sim still runs after the console closed"
    if [ -e "$link" ] || [ -L "$link" ]; then fail "the port link $link is left behind"; fi
    echo "newcomer: console closed, simulator stopped, port link removed"
}

if [ "${1:-}" = --watch-demo ]; then
    watch_demo
    exit 0
fi

repo=$(git -C "$here" rev-parse --show-toplevel)
. "$repo/scripts/deps.sh"
velmora_install_deps "${VELMORA_TEST_DEPS[@]}"

work=$(mktemp -d /tmp/velmora-newcomer.XXXXXX)
clone=$work/velmora
# A private config folder keeps the simulator's port link apart from any other.
export XDG_CONFIG_HOME=$work/config
git clone -q "$repo" "$clone"
git -C "$clone" checkout -q --detach "$(git -C "$repo" rev-parse HEAD)"
echo "newcomer: cloned $(git -C "$clone" log -1 --format='%h %s') into $clone"

cd "$clone"
start=$SECONDS
echo "== newcomer: xvfb-run -a scripts/run-demo.sh =="
xvfb-run -a "$clone/tests/newcomer/newcomer.sh" --watch-demo || fail "the demo command (kept $work)"
echo "newcomer: demo command passed in $((SECONDS - start)) s"

start=$SECONDS
echo "== newcomer: scripts/run-tests.sh (VELMORA_QUICK=1) =="
VELMORA_QUICK=1 scripts/run-tests.sh || fail "the test command (kept $work)"
echo "newcomer: test command passed in $((SECONDS - start)) s"

cd /
rm -rf "$work"
echo "newcomer: PASS"
