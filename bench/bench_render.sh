#!/usr/bin/env bash
# Renders the same payroll report of 100 and of 1,000 pages to PDF with `tarnyx-cli pdf`, with
# texttopdf (cups-filters) and with paps, each as a whole process, and prints a markdown table:
# wall time (hyperfine), pages per second, CPU time, peak memory (max RSS from /usr/bin/time -v)
# and the pages actually produced.
#
# Usage: bench/bench_render.sh          (from anywhere; as root or with sudo for missing packages)
# Environment: TARNYX_CLI  the binary to measure (default build/app/tarnyx-cli)
#              RUNS        hyperfine runs per command (default 5, after 1 warm-up run)
set -euo pipefail
cd "$(dirname "$0")/.."

cli=$(realpath -m "${TARNYX_CLI:-build/app/tarnyx-cli}")
runs=${RUNS:-5}
ppd=/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd

# Benchmark tools: hyperfine, pdfinfo, texttopdf and its PPD, paps, ps2pdf, GNU time.
missing=()
for p in hyperfine poppler-utils cups-filters paps ghostscript time python3; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "bench_render: installing ${missing[*]}" >&2
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >&2
fi

work=$(mktemp -d /tmp/bench-render.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"

for n in 20 100 1000; do
    python3 bench/make_report.py "$n" "$work/$n"
done

# tarnyx-cli takes part once it has the pdf command (its --help lists it). It runs headless,
# with an empty configuration directory so that no user settings change the layout.
tarnyx_env=(env XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
            QT_QPA_PLATFORM=offscreen)
have_tarnyx=0
if [ -x "$cli" ] && { "${tarnyx_env[@]}" "$cli" --help 2>&1 || true; } | grep -qE '^ +pdf '; then
    have_tarnyx=1
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$(dirname "$cli")/../CMakeCache.txt" 2>/dev/null || true)
if [ "$have_tarnyx" -eq 1 ]; then
    [ "$build_type" = Debug ] && echo "bench_render: $cli is a Debug build; measure an optimised one" >&2
    # Every run measures the same binary, even if the build tree is rebuilt meanwhile.
    cp "$cli" "$work/tarnyx-cli"
fi

# The commands, as bash command lines for hyperfine and /usr/bin/time. $1: pages.
q() { printf '%q ' "$@"; }
cmd_tarnyx() {
    q "${tarnyx_env[@]}" "$work/tarnyx-cli" pdf "$work/$1/LST00001.PRN" "$work/out/tarnyx-$1.pdf"
}
# texttopdf is a CUPS filter: job user title copies options file, PDF on standard output. The
# generic PDF printer's PPD gives it A4 paper (without a PPD it uses Letter); 13 characters and
# 9 lines an inch fit 132 by 66 on A4 landscape within the PPD's margins.
cmd_texttopdf() {
    q env PPD="$ppd" CHARSET=utf-8 CONTENT_TYPE=text/plain /usr/lib/cups/filter/texttopdf \
        1 bench report 1 "landscape media=A4 cpi=13 lpi=9" "$work/$1/report.txt"
    q '>' && q "$work/out/texttopdf-$1.pdf"
}
# paps 0.6 (Debian 12) writes PostScript only; 8 points and 9 lines an inch with half-inch
# margins top and bottom fit 132 by 66 on A4 landscape.
paps_args=(paps --landscape --paper=a4 --font="Monospace 8" --lpi=9
           --top-margin=18 --bottom-margin=18)
cmd_paps() {
    q "${paps_args[@]}" "$work/$1/report.txt"
    q '>' && q "$work/out/paps-$1.ps"
}
# paps to PDF: its PostScript through ps2pdf (Ghostscript).
cmd_paps_pdf() {
    q "${paps_args[@]}" "$work/$1/report.txt"
    q '|' ps2pdf - "$work/out/paps-pdf-$1.pdf"
}
# printf %q quotes > and |; put them back as operators.
unquote_ops() { sed -e 's/\\> />/g' -e 's/\\| /| /g'; }

tools=(texttopdf paps)
[ "$have_tarnyx" -eq 1 ] && tools=(tarnyx "${tools[@]}")

# Wall time: hyperfine, one warm-up run, $runs timed runs per command.
for n in 100 1000; do
    args=()
    for t in "${tools[@]}"; do
        args+=(-n "$t" "$("cmd_$t" "$n" | unquote_ops)")
    done
    echo "== hyperfine, $n pages" >&2
    hyperfine --shell=bash --style=basic --warmup 1 --runs "$runs" \
        --export-json "$work/hyperfine-$n.json" "${args[@]}" >&2
done

# Peak memory and the pages produced: one more run of each under /usr/bin/time -v. The paps to
# PDF pipeline runs once, on 20 pages only: Ghostscript needs more than half a second a page.
count_pages() {
    case "$1" in
        *.pdf) pdfinfo "$1" | sed -n 's/^Pages: *//p' ;;
        *.ps) grep -c '^%%Page:' "$1" ;;
    esac
}
: >"$work/rss.tsv"
measure() { # tool pages output
    local line
    line=$("cmd_$1" "$2" | unquote_ops)
    echo "== /usr/bin/time -v: $line" >&2
    /usr/bin/time -v -o "$work/time.txt" bash -c "$line"
    local rss wall user system
    rss=$(sed -n 's/^\tMaximum resident set size (kbytes): //p' "$work/time.txt")
    wall=$(sed -n 's/^\tElapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
    user=$(sed -n 's/^\tUser time (seconds): //p' "$work/time.txt")
    system=$(sed -n 's/^\tSystem time (seconds): //p' "$work/time.txt")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$rss" "$(count_pages "$3")" "$wall" \
        "$user" "$system" >>"$work/rss.tsv"
    if [ "$1" = tarnyx ] && [ ! -f "$work/$2/LST00001.PRN" ]; then
        echo "bench_render: tarnyx-cli pdf removed its input file" >&2
        exit 1
    fi
}
for n in 100 1000; do
    for t in "${tools[@]}"; do
        case "$t" in
            paps) measure "$t" "$n" "$work/out/paps-$n.ps" ;;
            *) measure "$t" "$n" "$work/out/$t-$n.pdf" ;;
        esac
    done
done
measure paps_pdf 20 "$work/out/paps-pdf-20.pdf"

# Page sizes of the outputs, to show that the layouts compare.
sizes=""
for f in "$work"/out/*-1000.pdf "$work"/out/paps-pdf-20.pdf; do
    [ -f "$f" ] || continue
    sizes+="$(basename "$f"): $(pdfinfo "$f" | sed -n 's/^Page size: *//p'), $(du -h "$f" | cut -f1)"$'\n'
done

echo
echo "Machine: $(nproc) × $(sed -n 's/^model name\t: //p' /proc/cpuinfo | head -1), $(uname -r);" \
     "$(date -u +%Y-%m-%d)."
echo "Versions: cups-filters $(dpkg-query -W -f='${Version}' cups-filters)," \
     "paps $(dpkg-query -W -f='${Version}' paps), ghostscript $(dpkg-query -W -f='${Version}' ghostscript)," \
     "tarnyx-cli: $([ "$have_tarnyx" -eq 1 ] && echo "$cli (${build_type:-build type unknown})" || echo "no pdf command in $cli")."
echo
printf '%s' "$sizes"
echo

HAVE_TARNYX=$have_tarnyx RUNS=$runs python3 - "$work" <<'EOF'
import json, os, sys

work = sys.argv[1]
have_tarnyx = os.environ["HAVE_TARNYX"] == "1"
runs = os.environ["RUNS"]

times = {}
for n in (100, 1000):
    for r in json.load(open(f"{work}/hyperfine-{n}.json"))["results"]:
        times[(r["command"], n)] = (r["mean"], r["stddev"], r["user"] + r["system"])

def seconds(text):  # m:ss.ss or h:mm:ss
    s = 0.0
    for part in text.split(":"):
        s = s * 60 + float(part)
    return s

rss = {}
for line in open(f"{work}/rss.tsv"):
    tool, n, kb, pages, wall, user, system = line.rstrip("\n").split("\t")
    rss[(tool, int(n))] = (int(kb), int(pages), seconds(wall), float(user) + float(system))

names = {
    "tarnyx": ("`tarnyx-cli pdf`", "PDF"),
    "texttopdf": ("texttopdf", "PDF"),
    "paps": ("paps", "PostScript"),
    "paps_pdf": ("paps \\| ps2pdf", "PDF"),
}
print("| tool | output | pages | wall time | pages/s | CPU time | max RSS (MB) |")
print("|---|---|---|---|---|---|---|")
rows = [(t, n) for t in ("tarnyx", "texttopdf", "paps") for n in (100, 1000)] + [("paps_pdf", 20)]
for tool, n in rows:
    name, out = names[tool]
    if tool == "tarnyx" and not have_tarnyx:
        print(f"| {name} | {out} | {n} | pending | pending | pending | pending |")
        continue
    kb, pages, wall, cpu = rss[(tool, n)]
    shown = str(pages) if pages == n else f"{pages} (expected {n})"
    if (tool, n) in times:
        mean, sd, cpu = times[(tool, n)]
        wall_text = f"{mean:.2f} s" + (f" ± {sd:.2f}" if sd is not None else "")
    else:
        mean, wall_text = wall, f"{wall:.1f} s (1 run)"
    rate = n / mean
    rate_text = f"{rate:.0f}" if rate >= 10 else f"{rate:.1f}"
    print(f"| {name} | {out} | {shown} | {wall_text} | {rate_text} | {cpu:.2f} s | {kb / 1024:.1f} |")

print()
print(f"Wall time: mean ± standard deviation of {runs} hyperfine runs after one warm-up run, "
      "CPU time: their mean user + system time; "
      "max RSS: one further run under /usr/bin/time -v (for paps | ps2pdf, one run, the largest "
      "process of the pipeline).")
growth = []
for tool in ("tarnyx", "texttopdf", "paps"):
    if (tool, 100) in rss and (tool, 1000) in rss:
        a, b = rss[(tool, 100)][0], rss[(tool, 1000)][0]
        growth.append(f"{names[tool][0]} {a / 1024:.1f} → {b / 1024:.1f} MB")
print("Max RSS from 100 to 1,000 pages: " + "; ".join(growth) + ".")
if have_tarnyx:
    t, c = times[("tarnyx", 1000)], times[("texttopdf", 1000)]
    print(f"tarnyx/texttopdf at 1,000 pages: {c[0] / t[0]:.2f}× the pages per second "
          f"({c[2] / t[2]:.2f}× by CPU time), "
          f"{rss[('tarnyx', 1000)][0] / rss[('texttopdf', 1000)][0]:.2f}× the max RSS.")
else:
    print("tarnyx-cli has no pdf command yet: its rows are pending.")
EOF
