#!/usr/bin/env bash
# CI's Debian 13 pass: makes a fresh Debian 13 (trixie) root with debootstrap in a temporary
# folder, clones the commit under test into it and there runs the test command in its quick
# form (warnings as errors, every test, no sanitizer pass), then the package test. Needs root.
# The root's mounts are undone and the folder removed on every way out, failure included.
#   VELMORA_CI_MIRROR   the Debian mirror (default: the one this machine's own apt sources use)
#   VELMORA_CI_KEEP=1   keep the root afterwards (its mounts are still undone)
#   VELMORA_CI_TMP      where the root is made (default /var/tmp: on disk, where /tmp may be
#                       a small tmpfs); it needs about 3 GB
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# The Debian archive this machine's apt uses: the first entry of its sources that is Debian's
# main archive (not its security archive); options in brackets are left aside.
machine_mirror() {
    {
        sed -E 's/\[[^]]*\][[:space:]]*//' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
            2>/dev/null | awk '$1 == "deb" { print $2 }'
        awk '/^URIs:/ { for (i = 2; i <= NF; i++) print $i }' /etc/apt/sources.list.d/*.sources \
            2>/dev/null
    } | grep -E '/debian/?$' | head -n 1
}
mirror=${VELMORA_CI_MIRROR:-$(machine_mirror)}
[ -n "$mirror" ] || {
    echo "debian13: no Debian archive in this machine's apt sources; set VELMORA_CI_MIRROR" >&2
    exit 1
}
export DEBIAN_FRONTEND=noninteractive

[ "$(id -u)" -eq 0 ] || { echo "debian13: needs root (debootstrap, mount, chroot)" >&2; exit 1; }
if ! command -v debootstrap >/dev/null; then
    apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

tmp=${VELMORA_CI_TMP:-/var/tmp}
free_kb=$(df -Pk "$tmp" | awk 'NR == 2 { print $4 }')
if [ "$free_kb" -lt $((3 * 1024 * 1024)) ]; then
    echo "debian13: $tmp has $((free_kb / 1024)) MB free; the root needs about 3 GB (VELMORA_CI_TMP)" >&2
    exit 1
fi
root=$(mktemp -d "$tmp/velmora-ci-debian13.XXXXXX")
# The root directory of a system: its own users (apt's _apt) must reach into it.
chmod 755 "$root"

below_root() {
    findmnt -rn -o TARGET | grep "^$root/" || true
}

# Anything still running inside the root would keep its mounts busy.
stop_root_processes() {
    local link pid
    for link in /proc/[0-9]*/root; do
        pid=${link#/proc/}
        pid=${pid%/root}
        [ "$(readlink "$link" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null
    done
    return 0
}

cleanup() {
    local status=$?
    set +e
    rm -f "$root.debootstrap.log"
    stop_root_processes
    # Ours and any debootstrap left behind, the deepest first.
    local target
    for target in $(below_root | sort -r); do
        umount "$target" 2>/dev/null || umount --lazy "$target"
    done
    # Never remove the folder while something is mounted below it: that would reach the host.
    if [ -n "$(below_root)" ]; then
        echo "debian13: mounts are left below $root: $(below_root | tr '\n' ' ')" >&2
        status=1
    elif [ "${VELMORA_CI_KEEP:-0}" = 1 ]; then
        echo "debian13: kept $root"
    else
        rm -rf --one-file-system "$root"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start=$SECONDS
echo "debian13: debootstrap --variant=minbase trixie $root $mirror"
debootstrap --variant=minbase trixie "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -n 30 "$root.debootstrap.log" >&2; exit 1; }
echo "debian13: root made in $((SECONDS - start)) s"

for dir in proc dev dev/pts sys; do
    mount --bind "/$dir" "$root/$dir"
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

commit=$(git -C "$repo" rev-parse HEAD)
git clone -q "$repo" "$root/root/velmora"
git -C "$root/root/velmora" checkout -q --detach "$commit"
echo "debian13: cloned $(git -C "$root/root/velmora" log -1 --format='%h %s')"

# A clean environment, as a newcomer's root shell has. In the background, so that a signal
# ends the wait at once and the cleanup stops what runs inside.
# shellcheck disable=SC2016 # expanded by the shell inside
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive /bin/bash -c '
set -euo pipefail
cd /root/velmora
part() { echo "debian13: $1 in $(($SECONDS - $2)) s"; }
t=$SECONDS
apt-get update -qq
. scripts/deps.sh
velmora_install_deps "${VELMORA_TEST_DEPS[@]}" >/dev/null
part "packages installed" $t
t=$SECONDS
echo "== debian13: VELMORA_QUICK=1 scripts/run-tests.sh =="
VELMORA_QUICK=1 scripts/run-tests.sh
bash .ci/versions.sh build/ci
part "test command passed" $t
t=$SECONDS
echo "== debian13: tests/packaging/build-and-install-deb.sh =="
bash tests/packaging/build-and-install-deb.sh
part "package test passed" $t
' &
wait $!
echo "debian13: PASS in $((SECONDS - start)) s"
