# shellcheck shell=bash
# Shell helpers for the benchmarks: a private print server with capture queues, and the settings
# of a private copy of the tray program. Source this file from bash:
#
#   . bench/lib-cups.sh
#   cups_start DIR QUEUE...   starts cupsd in DIR/cups, listening only on the socket DIR/cups/cups.sock,
#                             with one queue per name that stores every job, byte for byte, as
#                             DIR/cups/jobs/QUEUE/job-<job id, 8 digits>-<document, 3 digits>.bin
#                             (tests/support/capture-backend), and exports CUPS_SERVER and
#                             CUPS_SERVERROOT for the programs started afterwards
#   cups_jobs QUEUE           prints the directory that collects the jobs of QUEUE
#   cups_stop                 ends the cupsd started by cups_start and waits for it
#   tarnyx_settings CONFIG SPOOLDIRS PRINTER ERASE
#                             writes CONFIG/Morvane/registry.reg (CONFIG becomes XDG_CONFIG_HOME):
#                             the spool directories (";"-separated), the queue, Erase 0 or 1,
#                             not iconized, no update check
#   tarnyx_launch HOME CONFIG OUTPUT [ARGS...]
#                             starts $TARNYX in the background, offscreen, in HOME/cwd with
#                             XDG_CONFIG_HOME=CONFIG, XDG_RUNTIME_DIR=HOME/runtime and
#                             TMPDIR=HOME/tmp, its output appended to OUTPUT; TPID is its pid
#   bench_work NAME           makes the scratch directory WORK (/tmp/tarnyx-NAME-XXXXXX) and on exit
#                             kills the copy whose pid is in TPID, stops cupsd and removes WORK
#                             (kept with KEEP=1); also defines log, usec (the time in µs) and
#                             pause SECONDS (a sleep that starts no process)
#
# The scheduler needs root or a user that may run it (a capture backend owned by root runs as
# root; owned by anybody else, as that user). It takes no traffic but that of its unix socket.

lib_cups_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CUPS_DIR=""
CUPS_PID=""

cups_tool() {
    command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; }
}

cups_start() {
    local dir=$1 queue sub
    shift
    [ $# -gt 0 ] || { echo "cups_start: no queue named" >&2; return 1; }
    local cupsd lpadmin
    cupsd=$(cups_tool cupsd) && lpadmin=$(cups_tool lpadmin) || {
        echo "cups_start: cupsd or lpadmin not found (packages cups-daemon, cups-client)" >&2
        return 1
    }
    [ -x /usr/lib/cups/daemon/cups-exec ] || {
        echo "cups_start: /usr/lib/cups/daemon/cups-exec is missing (package cups-daemon)" >&2
        return 1
    }
    CUPS_DIR=$(cd "$dir" && pwd)/cups
    case $CUPS_DIR in *[!A-Za-z0-9/._+-]*)
        echo "cups_start: $CUPS_DIR has characters a device URI cannot carry" >&2
        return 1 ;;
    esac
    [ ${#CUPS_DIR} -lt 90 ] || { echo "cups_start: $CUPS_DIR is too long for a socket path" >&2; return 1; }
    rm -rf "$CUPS_DIR"
    mkdir -p "$CUPS_DIR"/{etc,lib/backend,spool/tmp,cache,run,log}
    for queue in "$@"; do mkdir -p "$CUPS_DIR/jobs/$queue"; done
    # The scheduler's own helpers (cups-exec runs every backend and filter) come from the system.
    for sub in daemon filter notifier driver cgi-bin monitor; do
        # (not `[ … ] && ln`: a missing last one would fail the loop, and a caller's `set -e`)
        if [ -d "/usr/lib/cups/$sub" ]; then ln -s "/usr/lib/cups/$sub" "$CUPS_DIR/lib/$sub"; fi
    done
    # cupsd runs a backend as root only when root owns it and nobody else may touch it.
    cp "$lib_cups_root/tests/support/capture-backend" "$CUPS_DIR/lib/backend/capture"
    if [ "$(id -u)" -eq 0 ]; then chmod 0700 "$CUPS_DIR/lib/backend/capture"; else chmod 0755 "$CUPS_DIR/lib/backend/capture"; fi
    cat >"$CUPS_DIR/etc/cups-files.conf" <<EOF
ServerRoot $CUPS_DIR/etc
ServerBin $CUPS_DIR/lib
RequestRoot $CUPS_DIR/spool
TempDir $CUPS_DIR/spool/tmp
CacheDir $CUPS_DIR/cache
StateDir $CUPS_DIR/run
ErrorLog $CUPS_DIR/log/error_log
AccessLog $CUPS_DIR/log/access_log
PageLog $CUPS_DIR/log/page_log
Printcap $CUPS_DIR/run/printcap
ServerKeychain $CUPS_DIR/etc/ssl
EOF
    cat >"$CUPS_DIR/etc/cupsd.conf" <<EOF
Listen $CUPS_DIR/cups.sock
LogLevel info
MaxLogSize 0
Browsing No
WebInterface No
ErrorPolicy abort-job
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    env -u CUPS_SERVER -u CUPS_SERVERROOT "$cupsd" -f -c "$CUPS_DIR/etc/cupsd.conf" \
        -s "$CUPS_DIR/etc/cups-files.conf" </dev/null >"$CUPS_DIR/log/cupsd.out" 2>&1 &
    CUPS_PID=$!
    export CUPS_SERVER=$CUPS_DIR/cups.sock CUPS_SERVERROOT=$CUPS_DIR/etc
    unset LPDEST PRINTER
    local i
    for ((i = 0; i < 200; i++)); do
        [ -S "$CUPS_SERVER" ] && lpstat -r >/dev/null 2>&1 && break
        kill -0 "$CUPS_PID" 2>/dev/null || { echo "cups_start: cupsd ended during start-up" >&2; cat "$CUPS_DIR/log/cupsd.out" >&2; return 1; }
        sleep 0.05
    done
    lpstat -r >/dev/null 2>&1 || { echo "cups_start: cupsd does not answer on $CUPS_SERVER" >&2; cups_stop; return 1; }
    for queue in "$@"; do
        "$lpadmin" -p "$queue" -E -v "capture:$CUPS_DIR/jobs/$queue" >/dev/null 2>&1 ||
            { echo "cups_start: lpadmin -p $queue failed" >&2; cups_stop; return 1; }
    done
}

cups_jobs() {
    echo "$CUPS_DIR/jobs/$1"
}

cups_stop() {
    [ -n "$CUPS_PID" ] || return 0
    local i
    # cupsd can miss a SIGTERM that arrives just before it goes back to waiting; repeat it.
    for ((i = 0; i < 100; i++)); do
        kill -TERM "$CUPS_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$CUPS_PID" 2>/dev/null || true
    wait "$CUPS_PID" 2>/dev/null || true
    CUPS_PID=""
}

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
