#!/usr/bin/env bash
# Kills the tray program with SIGKILL, again and again, while it prints, and then checks that no
# report was lost or damaged.
#
#   bench/kill_test.sh                      uses build/app/tarnyx
#   TARNYX=/path/to/tarnyx REPORTS=200 DURATION=600 bench/kill_test.sh
#
# Settings (environment): REPORTS (200), DURATION (600 s, the bound of the killing phase),
# KILL_MIN / KILL_MAX (0.5 / 10 s), JOB_KILL_MS (100), SEED (random), KEEP=1 keeps the work
# directory.
#
# The program runs offscreen with its own XDG_CONFIG_HOME, XDG_RUNTIME_DIR, TMPDIR and working
# directory, Erase off, on one spool directory, printing on a private cupsd whose queue stores
# every job as a file (bench/lib-cups.sh). REPORTS reports of 1 or 2 pages, each different
# (bench/make_spool_reports.py), are kept aside as the originals and renamed into the spool
# directory. Then, until the spool directory holds no report or DURATION has passed, the
# program is started and, in turn at random,
#
#   - killed at a random moment KILL_MIN .. KILL_MAX s after its start, or
#   - killed 0 .. JOB_KILL_MS ms after its print job's temporary PDF appears (in TMPDIR), so in
#     the middle of a print: while the PDF is written, handed to the print server, or the
#     report archived;
#
# and the next copy starts only once the killed one is gone (its pid waited for). A copy that
# ends on its own is counted with its exit status and restarted as well.
#
# Afterwards, with the print server's queue empty:
#   - every report is either still in the spool directory, byte for byte the original, or in
#     BAKPRN under its archived name YYYYMMDD-HHMMSS-LSTnnnnn.PRN, byte for byte the original;
#     missing, damaged or doubled reports are violations;
#   - every captured job is a whole PDF (pdfinfo reads it, its page count is the report's) and
#     names its report (the title carries the report number); a report archived without a
#     captured job is a violation (archived, never printed);
#   - reports printed more than once are counted: a copy killed after handing the job to the
#     print server and before archiving finds the job through its print journal at the next
#     start and archives the report without printing it again, so the count should be 0.
#   - jobs left queued at the print server are counted: each document goes to the server in one
#     request, so no job can be left there without its document.
#
# It prints the figures as a markdown table and exits with 1 when there is a violation.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
. bench/lib-cups.sh

TARNYX=${TARNYX:-$root/build/app/tarnyx}
REPORTS=${REPORTS:-200}
DURATION=${DURATION:-600}
KILL_MIN=${KILL_MIN:-0.5}
KILL_MAX=${KILL_MAX:-10}
JOB_KILL_MS=${JOB_KILL_MS:-100}
SEED=${SEED:-$$}
QUEUE=killtest
RANDOM=$SEED

[ -x "$TARNYX" ] || { echo "kill_test: $TARNYX is not there; build first (scripts/setup)" >&2; exit 1; }
for tool in python3 lpstat pdfinfo cmp; do
    command -v $tool >/dev/null || { echo "kill_test: $tool is missing" >&2; exit 1; }
done

bench_work kill

spool=$WORK/spool
orig=$WORK/originals
base=$WORK/tarnyx
mkdir -p "$spool" "$orig" "$WORK/stage" "$base"/{config,runtime,tmp,cwd}
chmod 0700 "$base/runtime"
: >"$WORK/violations.txt"

log "work directory $WORK, program $TARNYX, seed $SEED"
cups_start "$WORK" "$QUEUE" || exit 1
jobs_dir=$(cups_jobs "$QUEUE")
tarnyx_settings "$base/config" "$spool" "$QUEUE" 0
python3 bench/make_spool_reports.py "$REPORTS" "$orig" >"$WORK/reports.txt" || exit 1
cp -p "$orig"/LST*.PRN "$WORK/stage/"
for f in "$WORK/stage"/LST*.PRN; do mv "$f" "$spool/"; done

reports_left() { compgen -G "$spool/LST*.PRN" | wc -l; }

# --- killing -------------------------------------------------------------------------------------
printf 'run\tmode\tplanned_ms\tlived_ms\tend\tleft_before\tleft_after\tjobs_after\n' >"$WORK/runs.tsv"
runs=0 kills=0 kills_in_job=0 self_ends=0 self_statuses="" refused=0 found_tmp=0 found_pdf=0
start=$(usec)
deadline=$((start + DURATION * 1000000))
while (($(usec) < deadline)) && [ "$(reports_left)" -gt 0 ]; do
    runs=$((runs + 1))
    before=$(reports_left)
    # What the killed copies left in the temporary directory stays there: the next start has to
    # remove it. Counted here, as each start finds it.
    for d in "$base/tmp"/tarnyx-print-*; do
        [ -e "$d" ] || continue
        found_tmp=$((found_tmp + 1))
        [ -e "$d/job.pdf" ] && found_pdf=$((found_pdf + 1))
    done
    if ((RANDOM % 2)); then
        mode=random
        planned=$(awk -v a="$KILL_MIN" -v b="$KILL_MAX" -v r=$RANDOM 'BEGIN { printf "%d", (a + (b - a) * r / 32767) * 1000 }')
    else
        mode=job
        planned=$((RANDOM % (JOB_KILL_MS + 1)))
    fi
    tarnyx_launch "$base" "$base/config" "$WORK/output.txt" /log
    t0=$(usec)
    if [ $mode = random ]; then
        kill_at=$((t0 + planned * 1000))
    else
        kill_at=$((t0 + 10000000)) # no job within 10 s: killed all the same
    fi
    in_job=0
    while kill -0 "$TPID" 2>/dev/null; do
        now=$(usec)
        if [ $mode = job ] && [ $in_job = 0 ] && compgen -G "$base/tmp/tarnyx-print-$TPID-*/job.pdf" >/dev/null; then
            in_job=1
            kill_at=$((now + planned * 1000))
        fi
        ((now >= kill_at)) && break
        pause 0.002
    done
    if kill -KILL "$TPID" 2>/dev/null; then
        wait "$TPID" 2>/dev/null
        end=killed
        kills=$((kills + 1))
        [ $in_job = 1 ] && kills_in_job=$((kills_in_job + 1))
    else
        wait "$TPID" 2>/dev/null
        status=$?
        end="exit $status"
        if [ $status = 0 ] && (($(usec) - t0 < 1500000)); then
            refused=$((refused + 1)) # another copy answered the single-instance check
        fi
        self_ends=$((self_ends + 1))
        self_statuses+="$status "
    fi
    lived=$((($(usec) - t0) / 1000))
    # The copy is gone for sure before the next one starts.
    while [ -e "/proc/$TPID" ]; do pause 0.01; done
    TPID=""
    after=$(reports_left)
    njobs=$(compgen -G "$jobs_dir/job-*.bin" | wc -l)
    [ $mode = job ] && [ $in_job = 0 ] && mode=job-none
    printf '%d\t%s\t%d\t%d\t%s\t%d\t%d\t%d\n' $runs $mode "$planned" $lived "$end" "$before" "$after" "$njobs" >>"$WORK/runs.tsv"
    ((runs % 20 == 0)) && log "run $runs: $after reports left, $njobs jobs, $kills kills ($kills_in_job in a job), $self_ends ended on their own"
done
elapsed=$((($(usec) - start) / 1000000))
log "killing done after ${elapsed} s: $runs runs, $(reports_left) reports left"

# --- a last start ---------------------------------------------------------------------------------
# One more copy, on an empty spool directory of its own so that it prints nothing, runs for a few
# seconds and is ended with SIGTERM: whatever the killed copies left in the temporary directory
# and survives that start is a leftover for good.
mkdir -p "$WORK/empty-spool" "$base/config-last"
tarnyx_settings "$base/config-last" "$WORK/empty-spool" "$QUEUE" 0
tarnyx_launch "$base" "$base/config-last" "$WORK/output.txt"
sleep 5
kill -TERM "$TPID" 2>/dev/null
wait "$TPID" 2>/dev/null
last_status=$?
TPID=""
leftover_tmp=0 leftover_pdf=0
for d in "$base/tmp"/tarnyx-print-*; do
    [ -e "$d" ] || continue
    leftover_tmp=$((leftover_tmp + 1))
    [ -e "$d/job.pdf" ] && leftover_pdf=$((leftover_pdf + 1))
    echo "temporary directory ${d##*/} left after a later start" >>"$WORK/violations.txt"
done

# --- checking ------------------------------------------------------------------------------------
for ((i = 0; i < 300; i++)); do # the print server finishes what it was handed
    [ -z "$(lpstat -o "$QUEUE" 2>/dev/null)" ] && break
    sleep 0.1
done
pending=$(lpstat -o "$QUEUE" 2>/dev/null | wc -l)

declare -A prints=()
bad_jobs=0 unnamed_jobs=0 njobs=0
for bin in "$jobs_dir"/job-*.bin; do
    [ -e "$bin" ] || continue
    njobs=$((njobs + 1))
    title=$(tr '\0' '\n' <"${bin%.bin}.info" | sed -n 's/^title=//p')
    if [[ $title =~ \#([0-9]{5})$ ]]; then
        k=$((10#${BASH_REMATCH[1]}))
        prints[$k]=$((${prints[$k]:-0} + 1))
    else
        unnamed_jobs=$((unnamed_jobs + 1))
        echo "job $bin: title '$title' names no report" >>"$WORK/violations.txt"
        continue
    fi
    p=$(pdfinfo "$bin" 2>/dev/null | awk '/^Pages:/ { print $2 }')
    want=$((k % 2 == 0 ? 2 : 1))
    if [ "$p" != "$want" ]; then
        bad_jobs=$((bad_jobs + 1))
        echo "job $bin (report $k): pdfinfo pages '${p:-unreadable}', expected $want" >>"$WORK/violations.txt"
    fi
done

in_spool=0 archived=0 missing=0 damaged=0 doubled=0 archived_unprinted=0 printed=0 dup=0 printed_in_spool=0
while read -r k name arch _; do
    s="$spool/$name" a="$spool/BAKPRN/$arch" found=0
    if [ -e "$s" ]; then
        found=$((found + 1))
        in_spool=$((in_spool + 1))
        cmp -s "$orig/$name" "$s" || { damaged=$((damaged + 1)); echo "report $name in the spool differs from the original ($(stat -c %s "$s") of $(stat -c %s "$orig/$name") bytes)" >>"$WORK/violations.txt"; }
        [ "${prints[$k]:-0}" -gt 0 ] && printed_in_spool=$((printed_in_spool + 1))
    fi
    if [ -e "$a" ]; then
        found=$((found + 1))
        archived=$((archived + 1))
        cmp -s "$orig/$name" "$a" || { damaged=$((damaged + 1)); echo "report $name archived as $arch differs from the original ($(stat -c %s "$a") of $(stat -c %s "$orig/$name") bytes)" >>"$WORK/violations.txt"; }
        [ "${prints[$k]:-0}" -eq 0 ] && { archived_unprinted=$((archived_unprinted + 1)); echo "report $name archived, never printed" >>"$WORK/violations.txt"; }
    fi
    [ $found = 0 ] && { missing=$((missing + 1)); echo "report $name is neither in the spool nor archived" >>"$WORK/violations.txt"; }
    [ $found = 2 ] && { doubled=$((doubled + 1)); echo "report $name is both in the spool and archived" >>"$WORK/violations.txt"; }
    [ "${prints[$k]:-0}" -gt 0 ] && printed=$((printed + 1))
    [ "${prints[$k]:-0}" -gt 1 ] && dup=$((dup + 1))
done <"$WORK/reports.txt"
extra_jobs=$((njobs - printed - unnamed_jobs))
# Anything else in the spool directory or the archive (temporary files, unknown names); the
# directory's lock file belongs there.
stray=$(cd "$spool" && find . -mindepth 1 -regextype posix-extended ! -path ./BAKPRN ! -path ./.tarnyx.lock ! -regex '\./LST[0-9]{5}\.PRN' ! -regex '\./BAKPRN/[0-9]{8}-[0-9]{6}-LST[0-9]{5}\.PRN' | sort)
[ -n "$stray" ] && printf 'stray file %s\n' $stray >>"$WORK/violations.txt"
damaged_settings=$(compgen -G "$base/config/Morvane/registry.reg.damaged-*" | wc -l)
violations=$(wc -l <"$WORK/violations.txt")
messages=$(grep -v '^$' "$WORK/output.txt" 2>/dev/null | sort | uniq -c | sort -rn | head -5)

echo
echo "Program: $TARNYX; $(nproc) CPUs, kernel $(uname -r), $(date +%F); seed $SEED"
echo
echo "| figure | value |"
echo "|---|---|"
echo "| reports | $REPORTS (1 or 2 pages) |"
echo "| killing phase | ${elapsed} s (bound ${DURATION} s), $runs starts |"
echo "| SIGKILLs | $kills ($kills_in_job of them 0–${JOB_KILL_MS} ms into a print job) |"
echo "| copies that ended on their own | $self_ends${self_statuses:+ (exit statuses: $(tr ' ' '\n' <<<"$self_statuses" | grep . | sort | uniq -c | awk '{ printf "%s%s×%s", s, $1, $2; s = ", " }'))} |"
echo "| copies refused by the single-instance check | $refused |"
echo "| reports archived, byte-identical | $((archived - $(grep -c 'archived as' "$WORK/violations.txt" 2>/dev/null || true))) of $archived |"
echo "| reports still in the spool, byte-identical | $((in_spool - $(grep -c 'in the spool differs' "$WORK/violations.txt" 2>/dev/null || true))) of $in_spool |"
echo "| missing / damaged / both in spool and archive | $missing / $damaged / $doubled |"
echo "| archived without a captured job | $archived_unprinted |"
echo "| jobs captured (whole PDFs with the right page count); left queued at the print server | $njobs ($((njobs - bad_jobs - unnamed_jobs))); $pending |"
echo "| reports printed / printed more than once (extra jobs) | $printed / $dup ($extra_jobs) |"
echo "| printed, still in the spool (will print again) | $printed_in_spool |"
echo "| print temporary directories of killed copies found at the next start (with a job.pdf) | $found_tmp ($found_pdf) |"
echo "| of these, left after a later start (with a job.pdf); exit status of that start | $leftover_tmp ($leftover_pdf); $last_status |"
echo "| settings files set aside as damaged | $damaged_settings |"
echo "| violations | $violations |"
if [ "$violations" -gt 0 ]; then
    echo
    echo "Violations (first 20 of $violations):"
    head -20 "$WORK/violations.txt"
fi
if [ -n "$messages" ]; then
    echo
    echo "Most frequent lines the program wrote on stdout/stderr:"
    echo "$messages"
fi
[ "$violations" -eq 0 ]
