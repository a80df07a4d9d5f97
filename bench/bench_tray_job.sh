#!/usr/bin/env bash
# A long framed and styled report printed by the tray program's own pieces against the same
# report printed by `tarnyx-cli print`, on a private cupsd whose queue stores every job; and the
# longest stall of the tray program's user-interface thread while the job runs.
#
#   bench/bench_tray_job.sh                 uses build/bench/bench_tray_job and build/app/tarnyx-cli
#   PAGES=1000 RUNS=5 bench/bench_tray_job.sh
#
# The tray side (bench_tray_job) starts the job the way the tick does, without waiting for a
# tick, and times it until CUPS has accepted the document and the report is deleted; a 10 ms
# timer on its user-interface thread records the longest gap between two of its ticks. The
# command line side is timed by hyperfine as a whole process (start-up included) until CUPS has
# accepted the document.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
. bench/lib-cups.sh

PAGES=${PAGES:-1000}
RUNS=${RUNS:-5}
JOB=${BENCH_TRAY_JOB:-build/bench/bench_tray_job}
CLI=${TARNYX_CLI:-build/app/tarnyx-cli}
for tool in "$JOB" "$CLI"; do
    [ -x "$tool" ] || { echo "bench_tray_job: $tool is not there; build first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "bench_tray_job: hyperfine is missing" >&2; exit 1; }

bench_work trayjob
cups_start "$WORK" bench || exit 1
python3 bench/make_report.py "$PAGES" "$WORK/report" >/dev/null || exit 1
export XDG_CONFIG_HOME=$WORK/config QT_QPA_PLATFORM=offscreen
report=$WORK/report/LST00001.PRN
log "report: $PAGES pages, $(stat -c %s "$report") bytes"

hyperfine -N --warmup 1 --runs "$RUNS" --export-json "$WORK/cli.json" \
    "$CLI print $report --printer bench" >&2
cli_ms=$(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print(round(r["median"]*1000))' "$WORK/cli.json")
"$JOB" "$report" bench "$RUNS" | tee "$WORK/tray.txt" >&2
tray_ms=$(sed -n 's/.*job \([0-9]*\) ms.*/\1/p' "$WORK/tray.txt" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
stall_ms=$(sed -n 's/.*stall \([0-9]*\) ms.*/\1/p' "$WORK/tray.txt" | sort -n | tail -1)

echo
echo "| measurement ($PAGES pages, median of $RUNS) | value |"
echo "|---|---|"
echo "| \`tarnyx-cli print\`, whole process | $cli_ms ms |"
echo "| tray program, job start to document accepted and report deleted | $tray_ms ms |"
echo "| ratio tray / command line | $(awk -v a="$tray_ms" -v b="$cli_ms" 'BEGIN { printf "%.2f", a / b }') |"
echo "| longest stall of the user-interface thread (any run) | $stall_ms ms |"
