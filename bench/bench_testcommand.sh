#!/usr/bin/env bash
# How long the README's test command (scripts/test) takes as a newcomer runs it: a fresh clone of
# each commit given, built from nothing (no build folder, no compiler cache), one after the other
# in one run, so that the figures stand side by side.
#
#   bench/bench_testcommand.sh [COMMIT...]     (default: HEAD)
#
# For each commit it prints the whole command's wall time and its parts: the packages and the
# configure step (everything before the first compile), the build (first compile to last link,
# from build/.ninja_log) and the test run (ctest's "Total Test time"). The first commit pays for
# the packages that scripts/setup installs on a machine that lacks them; run it twice, or on a
# machine that has them, to compare builds alone. Clones go to a temporary folder, removed after.
#
#   SYSTEM=1 bench/bench_testcommand.sh [COMMIT...]
#
# runs each commit as on a fresh Debian 12 machine instead: in a new minbase system made by
# mmdebstrap (with git and ca-certificates only) and entered with chroot, so that scripts/setup
# runs apt-get update and installs every package itself. Needs root and the Debian archive.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- HEAD
work=$(mktemp -d /tmp/tarnyx-testcommand-XXXXXX)
. "$repo/scripts/lib-system.sh"
trap 'system_unmount; rm -rf --one-file-system "$work"' EXIT

printf '| commit | whole command | packages + configure | build | tests (-j%s) | result |\n' "$(nproc)"
printf '|---|---|---|---|---|---|\n'
for commit in "$@"; do
    id=$(git -C "$repo" rev-parse --short "$commit")
    if [ "${SYSTEM:-0}" = 1 ]; then
        system=$work/system-$id
        system_make "$system" git ca-certificates
        dir=$system/root/tarnyx
        run=(system_run "$system" bash -c 'cd /root/tarnyx && bash scripts/test')
    else
        dir=$work/$id
        run=(bash -c 'cd "$0" && env -u XDG_RUNTIME_DIR bash scripts/test' "$dir")
    fi
    git clone -q "$repo" "$dir"
    git -C "$dir" checkout -q "$id"
    start=$(date +%s.%N)
    result=passed
    "${run[@]}" >"$work/$id.log" 2>&1 || result="failed (log: kept in $work/$id.log)"
    end=$(date +%s.%N)
    # .ninja_log: start and end of every step in ms since the build began.
    build=$(awk 'NR > 1 && $2 > max { max = $2 } END { printf "%.0f", max / 1000 }' \
        "$dir/build/.ninja_log")
    tests=$(sed -n 's/^Total Test time (real) = *\([0-9.]*\) sec$/\1/p' "$work/$id.log" | tail -1)
    whole=$(echo "$end - $start" | bc)
    before=$(echo "$whole - $build - ${tests:-0}" | bc)
    printf '| %s | %.0f s | %.0f s | %s s | %s s | %s |\n' "$id" "$whole" "$before" "$build" \
        "${tests:-?}" "$result"
    system_unmount
    [ "$result" = passed ] || trap - EXIT
    rm -rf --one-file-system "$dir" "${system:-}"
done
