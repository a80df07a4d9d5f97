# shellcheck shell=bash
# A fresh Debian 12 minbase system in a folder, for the checks that install into one
# (scripts/test-package, bench/bench_testcommand.sh). Needs root. Source this file from bash:
#
#   system_make ROOT [PACKAGE...]  makes ROOT with mmdebstrap (installed first when missing) from
#                                  MIRROR and MIRROR_SECURITY (default deb.debian.org), with the
#                                  packages given beyond minbase, and mounts /proc, /sys, /dev and
#                                  /dev/pts in it; 1 when mmdebstrap fails, 2 when a mount does
#   system_run ROOT COMMAND...     runs COMMAND in ROOT as root, in a clean environment
#   system_unmount                 undoes the mounts of system_make
#   system_remove ROOT             unmounts and removes ROOT, never crossing into a mounted file
#                                  system (a mount that stayed keeps what is behind it)

SYSTEM_MOUNTS=()

system_make() {
    local root=$1 m
    shift
    local mirror=${MIRROR:-http://deb.debian.org/debian}
    local include=()
    [ $# -eq 0 ] || include=(--include="$(IFS=,; echo "$*")")
    command -v mmdebstrap >/dev/null || {
        apt-get update -qq &&
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap
    } || return 1
    mmdebstrap --quiet --variant=minbase --mode=root "${include[@]}" bookworm "$root" \
        "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
        "deb ${MIRROR_SECURITY:-http://deb.debian.org/debian-security} bookworm-security main" ||
        return 1
    for m in proc sys dev dev/pts; do
        case $m in
            proc) mount -t proc proc "$root/proc" ;;
            sys) mount -t sysfs sys "$root/sys" ;;
            *) mount --bind "/$m" "$root/$m" ;;
        esac || return 2
        SYSTEM_MOUNTS=("$root/$m" "${SYSTEM_MOUNTS[@]}")
    done
}

system_run() {
    local root=$1
    shift
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
}

system_unmount() {
    local m
    for m in "${SYSTEM_MOUNTS[@]}"; do umount -l "$m" 2>/dev/null || true; done
    SYSTEM_MOUNTS=()
}

system_remove() {
    system_unmount
    rm -rf --one-file-system "$1"
}
