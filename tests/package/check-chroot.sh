#!/usr/bin/env bash
# A fresh minimal Debian 12 installs the package with apt-get, which must pull in everything the
# programs load; there the installed tallyview-replay renders the sample as the build's own does,
# tallyview shows its window under Xvfb, and purging leaves none of the package's files.
#   check-chroot.sh BUILDDIR VERSION SAMPLE REPLAY
# The debootstrap base is made once and kept as BUILDDIR/chroot-base/bookworm-minbase.tar; every
# run unpacks a fresh copy of it. TALLYVIEW_DEBIAN_MIRROR picks the mirror.
set -euo pipefail
build=$1 version=$2 sample=$3 replay=$4
mirror=${TALLYVIEW_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=$build/chroot-base
base=$cache/bookworm-minbase.tar
log=$build/chroot-check.log
title="Korvane Benchline Emulator"

skip() {
    echo "skipped: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "a chroot needs root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
host=${mirror#*://}
host=${host%%/*}
port=80
[[ $mirror == https:* ]] && port=443
timeout 10 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null || skip "$host cannot be reached"

debs=("$build"/tallyview_"$version"_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "no package in $build" >&2; exit 1; }

step() { echo "[${SECONDS}s] $*"; }
quiet() { # quiet COMMAND...: its output goes to the log, and is shown when it fails
    "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; return 1; }
}
: >"$log"

if [ ! -f "$base" ]; then
    step "debootstrap --variant=minbase bookworm from $mirror"
    mkdir -p "$cache"
    fresh=$(mktemp -d "$cache/root.XXXXXX")
    quiet debootstrap --variant=minbase bookworm "$fresh" "$mirror"
    tar -C "$fresh" -cf "$base.part" . && mv "$base.part" "$base"
    rm -rf --one-file-system "$fresh"
fi

root=$(mktemp -d "$build/chroot.XXXXXX")
cleanup() {
    local m
    for m in dev/shm proc; do
        if mountpoint -q "$root/$m"; then umount "$root/$m"; fi
    done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
step "unpacking a fresh copy of the base"
tar -C "$root" -xf "$base"
mount -t proc proc "$root/proc"
mount -t tmpfs shm "$root/dev/shm"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Nothing installed may start services here.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
cp "$deb" "$root/tmp/"
cp "$sample" "$root/tmp/sample.cap"
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

step "apt-get install ./$(basename "$deb")"
quiet in_root apt-get update -q
quiet in_root apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")"

step "every program finds its libraries"
if in_root sh -c 'ldd /usr/bin/tallyview*' | grep 'not found'; then exit 1; fi

step "the installed tallyview-replay renders the sample"
diff <(in_root tallyview-replay /tmp/sample.cap) <("$replay" "$sample")

step "tallyview shows its window under Xvfb"
quiet in_root apt-get install -y -q --no-install-recommends xvfb xauth x11-utils
# A network namespace of its own keeps this X server apart from any other on the machine (their
# abstract sockets share one namespace per network namespace).
unshare --net chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root xvfb-run -a sh -c '
    cd /tmp
    tallyview 2>tallyview.log &
    for i in $(seq 600); do
        xwininfo -name "$0" 2>/dev/null | grep -q "Map State: IsViewable" && kill $! && exit 0
        sleep 0.1
    done
    cat tallyview.log >&2
    exit 1' "$title"

step "dpkg --purge tallyview leaves none of its files"
quiet in_root dpkg --purge tallyview
dpkg-deb -c "$deb" | awk '!/\/$/ {sub(/^\./, "", $6); print $6}' |
    while read -r f; do [ ! -e "$root$f" ] || { echo "left after purge: $f" >&2; exit 1; }; done
step "done"
