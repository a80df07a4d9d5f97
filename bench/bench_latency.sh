#!/usr/bin/env bash
# How long a report waits in its spool directory: from the moment its writer closes it to the
# moment its job reaches the print server, over REPORTS reports written one after another into
# DIRS spool directories in turn, with the tray program running on a private cupsd whose queue
# stores every job; and the CPU the idle program uses.
#
#   bench/bench_latency.sh                          measures build/app/tarnyx
#   TARNYX=/path/to/tarnyx REPORTS=100 DIRS=3 GAP=0.5 bench/bench_latency.sh
#
# A report is written under its final name and closed, as the payroll program does; the next one
# follows GAP seconds (default 0.5: at random 0.5 to 1.5 times GAP) after the previous job arrived. A
# job counts as arrived when cupsd has accepted its whole document (its document file appears in
# cupsd's spool directory). The floor is the same wait for `lp` with the finished PDF. Idle CPU: the program's CPU time (utime +
# stime from /proc) over IDLE seconds (default 30) with empty spool directories, after the
# reports.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
. bench/lib-cups.sh

TARNYX=${TARNYX:-$root/build/app/tarnyx}
REPORTS=${REPORTS:-100}
DIRS=${DIRS:-3}
GAP=${GAP:-0.5}
IDLE=${IDLE:-30}
QUEUE=latency
[ -x "$TARNYX" ] || { echo "bench_latency: $TARNYX is not there; build first" >&2; exit 1; }

bench_work latency
cups_start "$WORK" "$QUEUE" || exit 1
dirs=()
for ((d = 1; d <= DIRS; d++)); do
    dirs+=("$WORK/spool$d")
    mkdir -p "$WORK/spool$d"
done
mkdir -p "$WORK"/{config,runtime,tmp,cwd,reports}
chmod 0700 "$WORK/runtime"
tarnyx_settings "$WORK/config" "$(IFS=';'; echo "${dirs[*]}")" "$QUEUE" 1
python3 bench/make_spool_reports.py "$REPORTS" "$WORK/reports" >/dev/null || exit 1

tarnyx_launch "$WORK" "$WORK/config" "$WORK/output.txt"
sleep 4 # started, polling and printing

# A job is at the scheduler once its document file is in the scheduler's spool directory (cupsd
# keeps job files for a day by default, so they are there to count).
jobs_now() { compgen -G "$CUPS_DIR/spool/d*" | wc -l; }
: >"$WORK/latency.txt"
i=0
for f in "$WORK/reports"/LST*.PRN; do
    dir=${dirs[$((i % DIRS))]}
    i=$((i + 1))
    before=$(jobs_now)
    cp "$f" "$WORK/stage.PRN"
    # One open, write and close under the final name; the time is taken right after the close.
    cat "$WORK/stage.PRN" >"$dir/${f##*/}"
    t0=$(usec)
    deadline=$((t0 + 30000000))
    while (($(jobs_now) <= before)); do
        (($(usec) > deadline)) && { echo "bench_latency: report $i never arrived" >&2; exit 1; }
        pause 0.001
    done
    echo $((($(usec) - t0) / 1000)) >>"$WORK/latency.txt"
    pause "$(awk -v g="$GAP" -v r=$RANDOM 'BEGIN { printf "%.3f", g * (0.5 + r / 32767) }')"
done

# Idle: nothing left to print.
read -r _ _ _ _ _ _ _ _ _ _ _ _ _ ut0 st0 _ <"/proc/$TPID/stat"
sleep "$IDLE"
read -r _ _ _ _ _ _ _ _ _ _ _ _ _ ut1 st1 _ <"/proc/$TPID/stat"
ticks=$(getconf CLK_TCK)
kill -TERM "$TPID"
wait "$TPID"
TPID=""

# The floor: the same wait for a finished PDF handed over by `lp` (process start, request,
# scheduler), for 20 of the reports.
: >"$WORK/floor.txt"
if command -v lp >/dev/null; then
    for f in $(ls "$WORK/reports"/LST*.PRN | head -20); do
        env XDG_CONFIG_HOME="$WORK/config" QT_QPA_PLATFORM=offscreen \
            "$(dirname "$TARNYX")/tarnyx-cli" pdf "$f" "$WORK/floor.pdf" --printer "$QUEUE" \
            >/dev/null 2>&1 || break
        before=$(jobs_now)
        t0=$(usec)
        lp -d "$QUEUE" "$WORK/floor.pdf" >/dev/null || break
        while (($(jobs_now) <= before)); do pause 0.001; done
        echo $((($(usec) - t0) / 1000)) >>"$WORK/floor.txt"
    done
fi

python3 - "$WORK/floor.txt" <<'PY' >&2
import statistics, sys
ms = sorted(int(l) for l in open(sys.argv[1]) if l.strip())
if ms:
    print(f"floor (lp of the finished PDF until cupsd has it): median {statistics.median(ms):.0f} ms, max {ms[-1]} ms")
PY
python3 - "$WORK/latency.txt" "$((ut1 + st1 - ut0 - st0))" "$ticks" "$IDLE" "$REPORTS" "$DIRS" "$TARNYX" <<'PY'
import statistics, sys
ms = [int(l) for l in open(sys.argv[1]) if l.strip()]
cpu, hz, idle = int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
ms.sort()
p90 = ms[min(len(ms) - 1, int(round(0.9 * (len(ms) - 1))))]
print(f"| {sys.argv[7]} | {sys.argv[5]} reports, {sys.argv[6]} directories | "
      f"{statistics.median(ms):.0f} ms | {p90} ms | {ms[-1]} ms | {100 * cpu / hz / idle:.2f} % |")
PY
