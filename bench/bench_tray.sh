#!/usr/bin/env bash
# Measures the running tray program: its idle CPU time and memory, the cost of one tick on a
# spool directory full of files that are not reports, and the time from a report landing in the
# spool directory to its print job arriving at the printer.
#
#   bench/bench_tray.sh                     measures build/app/tarnyx
#   TARNYX=/path/to/tarnyx bench/bench_tray.sh
#   PARTS=latency bench/bench_tray.sh       only some of the parts: idle, tick, latency
#
# Settings (environment): IDLE_SECONDS (60), TICK_SECONDS (60), FILES (100000), REPORTS (20),
# SETTLE_SECONDS (8: how long a started copy runs before it is measured), KEEP=1 keeps the work
# directory. It takes about 7 minutes with the defaults.
#
# Each measurement runs its own copy of the program, offscreen, with its own XDG_CONFIG_HOME,
# XDG_RUNTIME_DIR, TMPDIR and working directory, printing on a private cupsd whose queue stores
# every job as a file (bench/lib-cups.sh). Nothing leaves this machine.
#
# idle     One empty spool directory. CPU time over IDLE_SECONDS: utime + stime from
#          /proc/PID/stat (whole process, 10 ms steps) and task-clock from `perf stat -p`;
#          VmRSS and VmHWM from /proc/PID/status afterwards.
# tick     CPU time over TICK_SECONDS with the one spool directory empty, then with it holding
#          FILES empty files DATA000001.TXT ... (no report among them). Every tick opens the
#          spool directory once: perf counts the openat calls in the same window (the
#          syscalls:sys_enter_openat tracepoint; without it, strace's count of the directory's
#          opens in the next 20 s gives the tick rate). The cost of one tick is CPU time per tick
#          with the files less CPU time per tick without them. For comparison, hyperfine times
#          `ls -f DIR` and `find DIR -maxdepth 1 -name 'LST?????.PRN'` on the same directory.
# latency  REPORTS reports (bench/make_spool_reports.py), one at a time: each is written outside
#          the spool directory and renamed into it at a random moment of the 2 s tick (0 to 2 s
#          after the copy has run 4 s, its first tick coming about 3 s after its start, or 0.5
#          to 2.5 s after the previous report was archived); measured is the time until its job
#          file appears in the queue's folder, and until the report has left the spool directory
#          (archived, Erase off). Should the program end on its own after a report, it is
#          restarted, and the table says so.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
. bench/lib-cups.sh

TARNYX=${TARNYX:-$root/build/app/tarnyx}
PARTS=${PARTS:-idle tick latency}
IDLE_SECONDS=${IDLE_SECONDS:-60}
TICK_SECONDS=${TICK_SECONDS:-60}
FILES=${FILES:-100000}
REPORTS=${REPORTS:-20}
SETTLE_SECONDS=${SETTLE_SECONDS:-8}
LATENCY_SETTLE_SECONDS=4
STRACE_SECONDS=20
QUEUE=bench

[ -x "$TARNYX" ] || { echo "bench_tray: $TARNYX is not there; build first (scripts/setup)" >&2; exit 1; }
for tool in python3 lpstat bc awk; do
    command -v $tool >/dev/null || { echo "bench_tray: $tool is missing" >&2; exit 1; }
done
part() { [[ " $PARTS " == *" $1 "* ]]; }

bench_work bench

# Starts the program as instance NAME (own configuration, runtime, temporary and working
# directories) on the spool directories DIRS; its pid goes into TPID, its start into TSTART (µs).
start_tarnyx() {
    local name=$1 dirs=$2 base=$WORK/$1
    mkdir -p "$base"/{config,runtime,tmp,cwd}
    chmod 0700 "$base/runtime"
    tarnyx_settings "$base/config" "$dirs" "$QUEUE" 0
    tarnyx_launch "$base" "$base/config" "$base/output.txt" /log
    TSTART=$(usec)
}

alive() { [ -n "$TPID" ] && kill -0 "$TPID" 2>/dev/null; }

must_run() {
    alive && return 0
    echo "bench_tray: the program ended at start-up; its output:" >&2
    cat "$WORK/$1/output.txt" >&2
    exit 1
}

memory_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

ms() { [[ $1 =~ ^[0-9.]+$ ]] && printf '%.0f' "$(bc <<<"$1 * 1000")" || echo "n/a"; }

have_perf=0
if command -v perf >/dev/null && perf stat -x, -e task-clock -- true >/dev/null 2>&1; then
    have_perf=1
    # Counting system calls needs the tracepoints (tracefs, and root or perf_event_paranoid <= 1).
    perf stat -x, -e syscalls:sys_enter_openat -- true >/dev/null 2>&1 && have_perf=2
fi

# CPU time of the running program over $1 seconds, and its calls of openat (one opendir per
# tick) and getdents64: "proc_seconds perf_seconds openat getdents64" ("n/a" where not known)
measure_cpu() {
    local seconds=$1 c0 c1 out=$WORK/perf.$RANDOM events=task-clock
    [ $have_perf = 2 ] && events+=,syscalls:sys_enter_openat,syscalls:sys_enter_getdents64
    c0=$(cpu_seconds "$TPID")
    if [ $have_perf -ge 1 ]; then
        perf stat -x, -e "$events" -p "$TPID" -o "$out" -- sleep "$seconds" >/dev/null 2>&1
    else
        sleep "$seconds"
    fi
    c1=$(cpu_seconds "$TPID")
    value() { awk -F, -v e="$1" '$3 == e && $1 ~ /^[0-9.]+$/ { print $1 }' "$out" 2>/dev/null; }
    local task opens reads
    task=$(value task-clock)
    opens=$(value syscalls:sys_enter_openat)
    reads=$(value syscalls:sys_enter_getdents64)
    [ -n "$task" ] && task=$(bc <<<"scale=3; $task / 1000")
    echo "$(bc <<<"$c1 - $c0") ${task:-n/a} ${opens:-n/a} ${reads:-n/a}"
}

# Opens of directory $1 by the program during STRACE_SECONDS, counted with strace.
count_ticks() {
    local out=$WORK/strace.$RANDOM
    command -v strace >/dev/null || { echo "n/a"; return; }
    timeout -s INT "$STRACE_SECONDS" strace -f -qq -e trace=openat -o "$out" -p "$TPID" 2>/dev/null
    grep -c "\"$1\", O_RDONLY|O_NONBLOCK|O_CLOEXEC|O_DIRECTORY" "$out" 2>/dev/null || echo 0
}

cpu_model=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
results="Program: $TARNYX; $(nproc) CPUs ($cpu_model), kernel $(uname -r), $(date +%F), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"$'\n'
row() { results+="| $1 | $2 |"$'\n'; }
table() { results+=$'\n'"| $1 | result |"$'\n'"|---|---|"$'\n'; }

log "work directory $WORK, program $TARNYX"
cups_start "$WORK" "$QUEUE" || exit 1
jobs_dir=$(cups_jobs "$QUEUE")
mkdir -p "$WORK/empty"

# --- idle ----------------------------------------------------------------------------------------
if part idle; then
    log "idle: ${SETTLE_SECONDS} s start-up, then ${IDLE_SECONDS} s"
    start_tarnyx idle "$WORK/empty"
    sleep "$SETTLE_SECONDS"
    must_run idle
    startup_cpu=$(cpu_seconds "$TPID")
    read -r idle_proc idle_perf idle_opens _ < <(measure_cpu "$IDLE_SECONDS")
    rss=$(memory_kb "$TPID" VmRSS) hwm=$(memory_kb "$TPID" VmHWM) threads=$(memory_kb "$TPID" Threads)
    idle_strace=$(count_ticks "$WORK/empty")
    stop_tarnyx
    table "idle, one empty spool directory"
    row "CPU time of the start-up (first ${SETTLE_SECONDS} s, /proc)" "$(ms "$startup_cpu") ms"
    row "CPU time over ${IDLE_SECONDS} s: /proc utime+stime; perf task-clock" "$(ms "$idle_proc") ms; $(ms "$idle_perf") ms"
    row "ticks in those ${IDLE_SECONDS} s (perf, openat); in the next ${STRACE_SECONDS} s (strace)" "$idle_opens; $idle_strace"
    row "VmRSS / VmHWM" "$((rss / 1024)) MB / $((hwm / 1024)) MB ($rss kB / $hwm kB), $threads threads"
fi

# --- tick ----------------------------------------------------------------------------------------
if part tick; then
    log "tick: making $FILES files"
    mkdir -p "$WORK/big"
    (cd "$WORK/big" && seq -f 'DATA%06g.TXT' 1 "$FILES" | xargs touch)
    [ "$(find "$WORK/big" -maxdepth 1 -type f | wc -l)" -eq "$FILES" ] ||
        { echo "bench_tray: making the files failed" >&2; exit 1; }
    ls -f "$WORK/big" >/dev/null # into the dentry cache

    tick_run() { # name dir -> "proc perf opens reads rss hwm strace_ticks"
        start_tarnyx "$1" "$2"
        sleep "$SETTLE_SECONDS"
        must_run "$1"
        local cpu rss hwm ticks
        cpu=$(measure_cpu "$TICK_SECONDS")
        rss=$(memory_kb "$TPID" VmRSS)
        hwm=$(memory_kb "$TPID" VmHWM)
        ticks=$(count_ticks "$2")
        stop_tarnyx
        echo "$cpu $rss $hwm $ticks"
    }
    log "tick: ${TICK_SECONDS} s with the empty directory"
    read -r e_proc e_perf e_opens _ e_rss e_hwm e_strace < <(tick_run tick-empty "$WORK/empty")
    log "tick: ${TICK_SECONDS} s with $FILES files"
    read -r b_proc b_perf b_opens b_reads b_rss b_hwm b_strace < <(tick_run tick-big "$WORK/big")

    # Ticks in the CPU window: the openat calls perf counted there, else the window times the
    # tick rate strace saw.
    ticks_in() { # perf_opens strace_ticks
        if [[ $1 =~ ^[0-9]+$ ]] && [ "$1" -gt 0 ]; then
            echo "$1"
        elif [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ]; then
            bc <<<"scale=2; $2 * $TICK_SECONDS / $STRACE_SECONDS"
        else
            echo "$TICK_SECONDS / 2" | bc
        fi
    }
    e_n=$(ticks_in "$e_opens" "$e_strace")
    b_n=$(ticks_in "$b_opens" "$b_strace")
    per_tick() { # cpu_with cpu_without -> ms per tick
        [[ $1 =~ ^[0-9.]+$ && $2 =~ ^[0-9.]+$ ]] || { echo "n/a"; return; }
        printf '%.1f' "$(bc <<<"scale=6; ($1 / $b_n - $2 / $e_n) * 1000")"
    }
    reads="n/a"
    [[ $b_reads =~ ^[0-9]+$ ]] && reads=$(bc <<<"scale=0; $b_reads / $b_n")

    # For comparison, two public tools on the same directory: reading it only, and matching the
    # report pattern.
    ls_time="n/a" find_time="n/a"
    if command -v hyperfine >/dev/null &&
        hyperfine -N --warmup 3 --runs 20 --export-json "$WORK/list.json" "ls -f $WORK/big" \
            "find $WORK/big -maxdepth 1 -name LST?????.PRN" >/dev/null 2>&1; then
        read -r ls_time find_time < <(python3 -c 'import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print("%.0f±%.0f_ms_(CPU_%.0f_ms)" % (r["mean"] * 1e3, r["stddev"] * 1e3, (r["user"] + r["system"]) * 1e3), end=" ")' "$WORK/list.json")
        ls_time=${ls_time//_/ } find_time=${find_time//_/ }
    fi
    table "tick, one spool directory: empty / $FILES files that are not reports"
    row "CPU time over ${TICK_SECONDS} s, /proc utime+stime" "$(ms "$e_proc") ms / $(ms "$b_proc") ms"
    row "CPU time over ${TICK_SECONDS} s, perf task-clock" "$(ms "$e_perf") ms / $(ms "$b_perf") ms"
    row "ticks in those ${TICK_SECONDS} s (perf, openat); in the next ${STRACE_SECONDS} s (strace)" "$e_opens / $b_opens; $e_strace / $b_strace"
    row "**one tick on $FILES non-reports, less an empty tick** (/proc; perf)" "**$(per_tick "$b_proc" "$e_proc") ms; $(per_tick "$b_perf" "$e_perf") ms**"
    row "getdents64 calls per tick on $FILES non-reports" "$reads"
    row "VmRSS / VmHWM" "$((e_rss / 1024)) / $((e_hwm / 1024)) MB; $((b_rss / 1024)) / $((b_hwm / 1024)) MB"
    row "for comparison, hyperfine on the $FILES files: \`ls -f DIR\`; \`find DIR -maxdepth 1 -name 'LST?????.PRN'\`" "$ls_time; $find_time"
fi

# --- latency -------------------------------------------------------------------------------------
if part latency; then
    log "latency: $REPORTS reports"
    mkdir -p "$WORK/spool" "$WORK/stage"
    python3 bench/make_spool_reports.py "$REPORTS" "$WORK/stage" >/dev/null || exit 1
    : >"$WORK/latency.txt"
    restarts=0 ended="" job=0
    start_tarnyx latency "$WORK/spool"
    for ((k = 1; k <= REPORTS; k++)); do
        name=$(printf 'LST%05d.PRN' "$k")
        if ! alive; then
            wait "$TPID" 2>/dev/null
            ended+="$? "
            restarts=$((restarts + 1))
            start_tarnyx latency "$WORK/spool"
        fi
        # A random moment of the tick: not before the copy has run LATENCY_SETTLE_SECONDS.
        wake=$((TSTART + LATENCY_SETTLE_SECONDS * 1000000 + RANDOM % 2000 * 1000))
        while (($(usec) < wake)); do read -r -t 0.01 -u "$pause_fd"; done
        mv "$WORK/stage/$name" "$WORK/spool/$name"
        t0=$(usec)
        job=$((job + 1))
        want=$(printf '%s/job-%08d-001.bin' "$jobs_dir" "$job")
        t_job="" t_gone=""
        while [ -z "$t_job" ] || [ -z "$t_gone" ]; do
            now=${EPOCHREALTIME/./}
            [ -z "$t_job" ] && [ -e "$want" ] && t_job=$now
            [ -z "$t_gone" ] && [ ! -e "$WORK/spool/$name" ] && t_gone=$now
            ((now - t0 > 30000000)) && break
            read -r -t 0.005 -u "$pause_fd"
        done
        if [ -z "$t_job" ] || [ -z "$t_gone" ]; then
            echo "bench_tray: report $name: no job or not archived within 30 s" >&2
            exit 1
        fi
        echo "$(((t_job - t0) / 1000)) $(((t_gone - t0) / 1000))" >>"$WORK/latency.txt"
        sleep 0.5
        # The next report comes 0 to 2 s later (or after a restart).
        TSTART=$(($(usec) - LATENCY_SETTLE_SECONDS * 1000000))
    done
    alive || { wait "$TPID" 2>/dev/null; ended+="$? "; restarts=$((restarts + 1)); TPID=""; }
    memory="n/a"
    alive && memory="$(($(memory_kb "$TPID" VmRSS) / 1024)) MB / $(($(memory_kb "$TPID" VmHWM) / 1024)) MB"
    stop_tarnyx
    archived=$(find "$WORK/spool/BAKPRN" -name '*-LST?????.PRN' | wc -l)
    captured=$(find "$jobs_dir" -name 'job-*.bin' | wc -l)

    stats() { # column (ms) -> "median (min – max)"
        awk -v c="$1" '{ print $c }' "$WORK/latency.txt" | sort -n | awk '{ v[NR] = $1 }
            END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                  printf "%d ms (%d – %d ms)\n", m, v[1], v[NR] }'
    }
    table "latency, $REPORTS reports of 1 or 2 pages, one at a time"
    row "**renamed into the spool → job file in the queue's folder**: median (min – max)" "**$(stats 1)**"
    row "renamed into the spool → gone from it (archived): median (min – max)" "$(stats 2)"
    row "jobs captured / reports archived" "$captured / $archived"
    row "VmRSS / VmHWM of the copy that printed the last report, afterwards" "$memory"
    row "copies that ended on their own (exit status) and were restarted" "$restarts${ended:+ ($(tr ' ' '\n' <<<"$ended" | grep . | sort | uniq -c | awk '{ printf "%s%s×%s", s, $1, $2; s = ", " }'))}"
fi

results+=$'\n'"Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "$results"
