#!/usr/bin/env bash
# Measures how the tray program follows its reports past the print server: how long after a
# printer fails the clerk is told, and what following costs while the program waits.
#
#   bench/bench_follow.sh                   measures build/app/tarnyx
#   TARNYX=/path/to/tarnyx bench/bench_follow.sh
#   PARTS=tell bench/bench_follow.sh        only some of the parts: tell, cpu
#
# Settings (environment): RUNS (10 failures of each kind), CPU_SECONDS (60), KEEP=1 keeps the
# work directory. It takes about 5 minutes with the defaults.
#
# tell  A queue whose backend takes the document and fails ("ERROR: printer is switched off",
#       exit 1), once with the error policy abort-job (the job is aborted) and once with
#       stop-printer (the queue stops and keeps the job). Each run puts one report into the spool
#       directory of a fresh copy of the program (started with /log); measured is the time from
#       the backend's exit (its last act is to note the time) until the event log holds the
#       line about it: "Sestava nevytištěna" or "Tiskárna". The event log is written at every
#       record, and the file is looked at every 10 ms. The notification and the main window are
#       told in the same step as the log.
# cpu   CPU time of the whole process over CPU_SECONDS (utime + stime from /proc/PID/stat):
#       with no report outstanding, then with one report held by a stopped queue (the program
#       asks the server once a second while a report is outstanding, every 15 s otherwise).
#       For comparison, a shell loop that asks the same two questions once a second with the
#       print server's own tools (`lpstat -p QUEUE` and `lpstat -o`), measured the same way;
#       it differs in starting two processes a second.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
. bench/lib-cups.sh

TARNYX=${TARNYX:-$root/build/app/tarnyx}
PARTS=${PARTS:-tell cpu}
RUNS=${RUNS:-10}
CPU_SECONDS=${CPU_SECONDS:-60}

[ -x "$TARNYX" ] || { echo "bench_follow: $TARNYX is not there; build first (scripts/setup)" >&2; exit 1; }
for tool in python3 lpstat bc awk; do
    command -v $tool >/dev/null || { echo "bench_follow: $tool is missing" >&2; exit 1; }
done
part() { [[ " $PARTS " == *" $1 "* ]]; }

bench_work follow
cups_tools && cups_prepare "$WORK/cups" || exit 1
# The failing printer: notes when it gives up, in µs, in the file its device URI names.
cups_backend fail <<'EOF'
#!/bin/bash
[ $# -eq 0 ] && exit 0
cat "${6:-/dev/stdin}" >/dev/null
echo "ERROR: printer is switched off" >&2
echo "${EPOCHREALTIME/./}" >"${DEVICE_URI#fail:}"
exit 1
EOF
cups_launch || exit 1
PATH=$PATH:/usr/sbin
lpadmin -p abort -E -v "fail:$WORK/abort.failed" -o printer-error-policy=abort-job || exit 1
lpadmin -p stop -E -v "fail:$WORK/stop.failed" -o printer-error-policy=stop-printer || exit 1

# Starts a fresh copy printing from WORK/NAME/spool to QUEUE.
start_copy() {
    local name=$1 queue=$2 base=$WORK/$1
    rm -rf "$base"
    mkdir -p "$base"/{config,runtime,tmp,cwd,spool}
    chmod 0700 "$base/runtime"
    tarnyx_settings "$base/config" "$base/spool" "$queue" 0
    tarnyx_launch "$base" "$base/config" "$base/output.txt" /log
}

# Puts one report into the spool directory of the copy NAME.
drop_report() {
    python3 bench/make_spool_reports.py 1 "$WORK/$1/tmp" >/dev/null || exit 1
    mv "$WORK/$1/tmp/LST00001.PRN" "$WORK/$1/spool/LST00001.PRN"
}

# Time from the backend's failure to the log line TITLE, in ms; "n/a" after 30 s.
time_to_tell() {
    local name=$1 queue=$2 title=$3 failed=$WORK/$queue.failed logfile seen t0
    logfile=$WORK/$name/cwd/tarnyx.log
    for ((i = 0; i < 3000; i++)); do
        if [ -s "$failed" ] && grep -aq "\]$title>" "$logfile" 2>/dev/null; then
            seen=$(usec)
            t0=$(<"$failed")
            echo $(((seen - t0) / 1000))
            return
        fi
        pause 0.01
    done
    echo "n/a"
}

if part tell; then
    for queue in abort stop; do
        title=$([ $queue = abort ] && echo "Sestava nevytištěna" || echo "Tiskárna")
        results=()
        for ((run = 1; run <= RUNS; run++)); do
            rm -f "$WORK/$queue.failed"
            cancel -a "$queue" 2>/dev/null
            cupsenable "$queue"
            start_copy "tell-$queue" "$queue"
            pause 4 # started, first tick done
            drop_report "tell-$queue"
            results+=("$(time_to_tell "tell-$queue" "$queue" "$title")")
            stop_tarnyx
        done
        printf '%s: failure → event log line, ms: %s\n' "$queue" "${results[*]}"
        printf '%s\n' "${results[@]}" | grep -v n/a | sort -n |
            awk -v q=$queue '{ a[NR] = $1; s += $1 } END { if (NR) printf "%s: median %d ms, mean %d ms, min %d, max %d (%d runs)\n", q, a[int((NR + 1) / 2)], s / NR, a[1], a[NR], NR }'
    done
fi

if part cpu; then
    cancel -a stop 2>/dev/null
    cupsenable stop
    start_copy cpu stop
    pause 8
    c0=$(cpu_seconds "$TPID")
    pause "$CPU_SECONDS"
    c1=$(cpu_seconds "$TPID")
    echo "cpu: no report outstanding: $(bc <<<"($c1 - $c0) * 1000") ms over $CPU_SECONDS s"
    drop_report cpu
    for ((i = 0; i < 300; i++)); do [ -s "$WORK/stop.failed" ] && break; pause 0.1; done
    pause 3
    c0=$(cpu_seconds "$TPID")
    pause "$CPU_SECONDS"
    c1=$(cpu_seconds "$TPID")
    echo "cpu: one report held by a stopped queue: $(bc <<<"($c1 - $c0) * 1000") ms over $CPU_SECONDS s"
    grep -a "Tiskárna\|Sestava" "$WORK/cpu/cwd/tarnyx.log" | tail -3
    stop_tarnyx
    # The same questions from a shell, once a second.
    (while :; do lpstat -p stop >/dev/null 2>&1; lpstat -o >/dev/null 2>&1; sleep 1; done) &
    LOOP=$!
    pause 2
    t0=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$LOOP/stat")
    pause "$CPU_SECONDS"
    t1=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$LOOP/stat")
    kill "$LOOP"
    echo "cpu: lpstat -p and lpstat -o once a second: $(bc <<<"($t1 - $t0) * 1000 / $(getconf CLK_TCK)") ms over $CPU_SECONDS s"
fi
