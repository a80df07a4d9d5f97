# shellcheck shell=bash
# Shell helpers for the benchmarks: a private print server with capture queues, and the settings
# of a private copy of the tray program. Source this file from bash:
#
#   . bench/lib-cups.sh
#   cups_start DIR QUEUE..., cups_jobs QUEUE, cups_stop
#                             a private cupsd in DIR/cups whose queues store every job as a file
#                             in the folder cups_jobs names (scripts/lib-cups.sh)
#   tarnyx_settings CONFIG SPOOLDIRS PRINTER ERASE
#                             writes CONFIG/Morvane/registry.reg (CONFIG becomes XDG_CONFIG_HOME):
#                             the spool directories (";"-separated), the queue, Erase 0 or 1,
#                             not iconized, no update check
#   tarnyx_launch HOME CONFIG OUTPUT [ARGS...]
#                             starts $TARNYX in the background, offscreen, in HOME/cwd with
#                             XDG_CONFIG_HOME=CONFIG, XDG_RUNTIME_DIR=HOME/runtime and
#                             TMPDIR=HOME/tmp, its output appended to OUTPUT; TPID is its pid
#   stop_tarnyx               ends the copy whose pid is in TPID with SIGTERM, SIGKILL after 10 s
#   cpu_seconds PID           utime + stime of the whole process so far, in seconds
#   bench_work NAME           makes the scratch directory WORK (/tmp/tarnyx-NAME-XXXXXX) and on exit
#                             kills the copy whose pid is in TPID, stops cupsd and removes WORK
#                             (kept with KEEP=1); also defines log, usec (the time in µs) and
#                             pause SECONDS (a sleep that starts no process)

# shellcheck source=scripts/lib-cups.sh
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib-cups.sh"

tarnyx_settings() {
    local config=$1 dirs=$2 printer=$3 erase=$4
    mkdir -p "$config/Morvane"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings]\r\n"Directories"="%s"\r\n"Printer"="%s"\r\n"Erase"=dword:%08x\r\n"Iconize"=dword:00000000\r\n"VerCheck"=dword:00000000\r\n' \
        "$dirs" "$printer" "$erase" >"$config/Morvane/registry.reg"
}

tarnyx_launch() {
    local home=$1 config=$2 output=$3
    shift 3
    (
        cd "$home/cwd" &&
            exec env XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$home/runtime" \
                TMPDIR="$home/tmp" QT_QPA_PLATFORM=offscreen "$TARNYX" "$@"
    ) </dev/null >>"$output" 2>&1 &
    TPID=$!
}

# Ends the program with SIGTERM (as the session would), SIGKILL after 10 s.
stop_tarnyx() {
    [ -n "$TPID" ] || return 0
    kill -TERM "$TPID" 2>/dev/null
    local i
    for ((i = 0; i < 100; i++)); do
        kill -0 "$TPID" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$TPID" 2>/dev/null
    wait "$TPID" 2>/dev/null
    TPID=""
}

# utime + stime of the whole process (all its threads, also ended ones), in seconds.
cpu_seconds() {
    local stat
    stat=$(<"/proc/$1/stat") || return 1
    stat=${stat##*) }
    # After the name: state is field 3, utime 14 and stime 15, counted from 1 at the pid.
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($12 + $13) / hz }' <<<"$stat"
}

bench_work() {
    local name=$1
    WORK=$(mktemp -d "/tmp/tarnyx-$name-XXXXXX")
    TPID=""
    BENCH_NAME=$(basename "$0" .sh)
    trap bench_cleanup EXIT
    trap 'exit 130' INT TERM
    exec {pause_fd}<> <(:) # `read -t` on it is a pause without starting a process
}

bench_cleanup() {
    [ -n "$TPID" ] && kill -KILL "$TPID" 2>/dev/null && wait "$TPID" 2>/dev/null
    cups_stop
    if [ "${KEEP:-0}" = 1 ]; then echo "$BENCH_NAME: kept $WORK" >&2; else rm -rf "$WORK"; fi
}

log() { printf '[%s] %s\n' "$(date +%T)" "$*" >&2; }
usec() { echo "${EPOCHREALTIME/./}"; }
pause() { read -r -t "$1" -u "$pause_fd"; }
