#!/usr/bin/env bash
# The print preview of a long report on a private cupsd queue: time to the first page on screen,
# to the whole document, and the peak memory, for reports of 100 and 1,000 pages.
#
#   bench/bench_print_preview.sh          uses build/bench/bench_print_preview
#   RUNS=5 BENCH_PRINT_PREVIEW=build-x/bench/bench_print_preview bench/bench_print_preview.sh
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
. bench/lib-cups.sh

RUNS=${RUNS:-5}
TOOL=${BENCH_PRINT_PREVIEW:-build/bench/bench_print_preview}
[ -x "$TOOL" ] || { echo "bench_print_preview: $TOOL is not there; build first" >&2; exit 1; }

bench_work preview
cups_start "$WORK" bench || exit 1
export QT_QPA_PLATFORM=offscreen
for pages in 100 1000; do
    python3 bench/make_report.py "$pages" "$WORK/r$pages" >/dev/null || exit 1
    log "report: $pages pages, $(stat -c %s "$WORK/r$pages/LST00001.PRN") bytes"
    for ((run = 1; run <= RUNS; run++)); do
        "$TOOL" "$WORK/r$pages/LST00001.PRN" bench "$WORK/first-$pages.png" || exit 1
    done
done
