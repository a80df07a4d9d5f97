# shellcheck shell=bash
# A private CUPS scheduler: configuration, spool, logs and backends all live in one folder of its
# own, and it listens only on a unix socket there (never a TCP port), so that neither /etc/cups
# nor the machine's own scheduler is touched. Used by scripts/demo-cups, the benchmarks
# (bench/lib-cups.sh) and scripts/test-package; the tests' fixture (tests/support/CupsFixture)
# writes the same configuration from the same templates. Source this file from bash:
#
#   cups_start DIR QUEUE...   starts cupsd in DIR/cups (socket DIR/cups/cups.sock) with one queue
#                             per name that stores every job, byte for byte, as
#                             DIR/cups/jobs/QUEUE/job-<job id, 8 digits>-<document, 3 digits>.bin
#                             (tests/support/capture-backend), and exports CUPS_SERVER and
#                             CUPS_SERVERROOT for the programs started afterwards
#   cups_jobs QUEUE           prints the directory that collects the jobs of QUEUE
#   cups_stop                 ends the cupsd started here and waits for it
#
# The steps of cups_start, for a scheduler with queues of another kind:
#
#   cups_tools                finds cupsd, lpadmin and lpstat (also in sbin, which a user's PATH
#                             may lack) and the system's cups-exec
#   cups_prepare DIR          makes the scheduler's folders in DIR (an absolute path) and writes
#                             its configuration from tests/support/*.conf.in; its socket is
#                             DIR/cups.sock
#   cups_backend NAME         installs standard input as the backend NAME
#   cups_launch               starts cupsd, exports CUPS_SERVER and CUPS_SERVERROOT (and unsets
#                             LPDEST and PRINTER) and waits until it answers, for up to 10 s
#   cups_add_queue QUEUE URI  adds the enabled raw queue QUEUE on the device URI
#   cups_fail MESSAGE         says MESSAGE, shows the scheduler's warnings and output, stops it
#
# CUPS_DIR is the scheduler's folder and CUPS_PID its process. The functions return 1 on failure,
# having said why on standard error (prefixed with the script's name) and stopped the scheduler
# if it ran; its folder stays for the caller to remove. The scheduler needs root or a user that
# may run it (a backend owned by root runs as root; owned by anybody else, as that user).

lib_cups_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CUPS_DIR=""
CUPS_PID=""
CUPS_CUPSD=""
CUPS_LPADMIN=""
CUPS_LPSTAT=""

cups_say() { printf '%s: %s\n' "${0##*/}" "$*" >&2; }

cups_tools() {
    local tool found
    for tool in cupsd lpadmin lpstat; do
        found=$(PATH=$PATH:/usr/sbin:/sbin command -v "$tool") || {
            cups_say "$tool not found (packages cups-daemon, cups-client)"
            return 1
        }
        case $tool in
        cupsd) CUPS_CUPSD=$found ;;
        lpadmin) CUPS_LPADMIN=$found ;;
        lpstat) CUPS_LPSTAT=$found ;;
        esac
    done
    [ -x /usr/lib/cups/daemon/cups-exec ] || {
        cups_say "/usr/lib/cups/daemon/cups-exec is missing (package cups-daemon)"
        return 1
    }
}

cups_prepare() {
    CUPS_DIR=$1
    local socket=$1/cups.sock sub name text bytes
    bytes=$(LC_ALL=C && echo ${#socket})
    [ "$bytes" -lt 108 ] || { cups_say "socket path $socket is too long"; return 1; }
    mkdir -p "$CUPS_DIR"/{etc,lib/backend,spool/tmp,cache,run,log} || return 1
    # The scheduler's own helpers (cups-exec runs every backend and filter) come from the system.
    for sub in daemon filter notifier driver cgi-bin monitor; do
        if [ -d "/usr/lib/cups/$sub" ]; then
            ln -s "/usr/lib/cups/$sub" "$CUPS_DIR/lib/$sub" || return 1
        fi
    done
    # The templates name the folder @DIR@ (quoted below: no "&" of the folder's name is special).
    for name in cups-files.conf cupsd.conf; do
        text=$(<"$lib_cups_root/tests/support/$name.in") &&
            printf '%s\n' "${text//@DIR@/"$CUPS_DIR"}" >"$CUPS_DIR/etc/$name" || return 1
    done
}

cups_backend() {
    local file=$CUPS_DIR/lib/backend/$1
    cat >"$file" || return 1
    # cupsd runs a backend as root only when root owns it and nobody else may touch it.
    if [ "$(id -u)" -eq 0 ]; then chmod 0700 "$file"; else chmod 0755 "$file"; fi
}

cups_launch() {
    local i pdeath=()
    # Should the caller die without stopping it, the scheduler goes with it (setpriv, util-linux).
    if [[ $(setpriv --help 2>/dev/null) == *--pdeathsig* ]]; then
        pdeath=(setpriv --pdeathsig TERM --)
    fi
    env -u CUPS_SERVER -u CUPS_SERVERROOT "${pdeath[@]}" \
        "$CUPS_CUPSD" -f -c "$CUPS_DIR/etc/cupsd.conf" -s "$CUPS_DIR/etc/cups-files.conf" \
        </dev/null >"$CUPS_DIR/log/cupsd.out" 2>&1 &
    CUPS_PID=$!
    export CUPS_SERVER=$CUPS_DIR/cups.sock CUPS_SERVERROOT=$CUPS_DIR/etc
    unset LPDEST PRINTER
    # (lpstat -r succeeds either way; only its words tell)
    for ((i = 0; ; i++)); do
        LC_ALL=C "$CUPS_LPSTAT" -r 2>/dev/null | grep -qx 'scheduler is running' && return 0
        kill -0 "$CUPS_PID" 2>/dev/null || { cups_fail "cupsd ended during start-up"; return 1; }
        ((i < 100)) || { cups_fail "cupsd did not answer on $CUPS_SERVER within 10 s"; return 1; }
        sleep 0.1
    done
}

cups_add_queue() {
    "$CUPS_LPADMIN" -p "$1" -E -v "$2" >"$CUPS_DIR/log/lpadmin.out" 2>&1 || {
        cups_fail "lpadmin could not create the queue $1: $(cat "$CUPS_DIR/log/lpadmin.out")"
        return 1
    }
}

cups_fail() {
    cups_say "$*"
    # The error log's warnings and worse, the scheduler's own output, both shortened.
    grep -E '^[XACEW] ' "$CUPS_DIR/log/error_log" 2>/dev/null | tail -n 20 >&2 || true
    tail -n 20 "$CUPS_DIR/log/cupsd.out" >&2 2>/dev/null || true
    cups_stop
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

cups_start() {
    local dir queue
    [ $# -gt 1 ] || { cups_say "cups_start: no queue named"; return 1; }
    cups_tools || return 1
    dir=$(cd "$1" && pwd)/cups || return 1
    shift
    case $dir in *[!A-Za-z0-9/._+-]*)
        cups_say "$dir has characters a device URI cannot carry"
        return 1 ;;
    esac
    rm -rf "$dir"
    cups_prepare "$dir" || return 1
    for queue in "$@"; do mkdir -p "$dir/jobs/$queue" || return 1; done
    cups_backend capture <"$lib_cups_root/tests/support/capture-backend" || return 1
    cups_launch || return 1
    for queue in "$@"; do cups_add_queue "$queue" "capture:$dir/jobs/$queue" || return 1; done
}

cups_jobs() {
    echo "$CUPS_DIR/jobs/$1"
}
