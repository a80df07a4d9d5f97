#!/usr/bin/env bash
# Size and speed of the PDF that `tarnyx-cli pdf` writes for a long framed report, for two builds
# side by side (before and after a change) and texttopdf (cups-filters) on the same text, all in
# one run. Prints a markdown table and the checks of the PDF files: qpdf --check, the fonts as
# pdffonts lists them, and whether pdftotext gives both builds' PDFs the same text.
#
# Usage: BEFORE=/path/to/old/tarnyx-cli bench/bench_pdfsize.sh
# Environment: BEFORE   the build to compare with (required)
#              AFTER    the build measured (default build/app/tarnyx-cli)
#              PAGES    pages of the report (default 1000)
#              RUNS     hyperfine runs per command (default 10, after 2 warm-up runs)
set -euo pipefail
cd "$(dirname "$0")/.."

before=$(realpath "${BEFORE:?set BEFORE to the tarnyx-cli to compare with}")
after=$(realpath "${AFTER:-build/app/tarnyx-cli}")
pages=${PAGES:-1000}
runs=${RUNS:-10}
ppd=/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd
for tool in hyperfine pdfinfo pdffonts pdftotext qpdf /usr/lib/cups/filter/texttopdf; do
    command -v "$tool" >/dev/null || {
        echo "bench_pdfsize: $tool is missing (hyperfine poppler-utils qpdf cups-filters)" >&2
        exit 1
    }
done

work=$(mktemp -d /tmp/bench-pdfsize.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
python3 bench/make_report.py "$pages" "$work/report"
# Copies, so that a rebuild meanwhile changes nothing.
cp "$before" "$work/before"
cp "$after" "$work/after"

q() { printf '%q ' "$@"; }
cli() { # name
    q env XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
        "$work/$1" pdf "$work/report/LST00001.PRN" "$work/$1.pdf"
}
texttopdf="$(q env PPD="$ppd" CHARSET=utf-8 CONTENT_TYPE=text/plain /usr/lib/cups/filter/texttopdf \
    1 bench report 1 "landscape media=A4 cpi=13 lpi=9" "$work/report/report.txt") > $(q "$work/texttopdf.pdf")"

hyperfine --shell=bash --style=basic --warmup 2 --runs "$runs" --export-json "$work/times.json" \
    -n before "$(cli before)" -n after "$(cli after)" -n texttopdf "$texttopdf" >&2

echo "Machine: $(nproc) × $(sed -n 's/^model name\t: //p' /proc/cpuinfo | head -1), $(uname -r);" \
    "load $(cut -d' ' -f1-3 /proc/loadavg); $(date -u '+%Y-%m-%d %H:%M UTC')."
echo "Report: bench/make_report.py $pages (132 columns, 66 lines a page, frames, bold, italic," \
    "underline), A4 landscape."
echo
python3 - "$work" "$pages" <<'EOF'
import json, os, sys
work, pages = sys.argv[1], int(sys.argv[2])
times = {r["command"]: r for r in json.load(open(f"{work}/times.json"))["results"]}
print("| build | PDF size | per 1,000 pages | wall time | CPU time | pages/s | texttopdf time / this |")
print("|---|---|---|---|---|---|---|")
t2p = times["texttopdf"]["mean"]
for name in ("before", "after", "texttopdf"):
    r = times[name]
    size = os.path.getsize(f"{work}/{name}.pdf")
    label = {"before": "`tarnyx-cli pdf`, before", "after": "`tarnyx-cli pdf`, after",
             "texttopdf": "texttopdf"}[name]
    print(f"| {label} | {size / 1e6:.2f} MB | {size / pages * 1000 / 1e6:.2f} MB "
          f"| {r['mean']:.3f} s ± {r['stddev']:.3f} | {r['user'] + r['system']:.3f} s "
          f"| {pages / r['mean']:.0f} | {t2p / r['mean']:.2f} |")
EOF
echo
for name in before after; do
    f="$work/$name.pdf"
    echo "$name: $(pdfinfo "$f" | sed -n 's/^Pages: *//p') pages;" \
        "qpdf --check: $(qpdf --check "$f" >/dev/null 2>&1 && echo clean || echo FAILED)"
    pdffonts "$f" | sed 's/^/    /'
done
pdftotext -layout "$work/before.pdf" "$work/before.txt"
pdftotext -layout "$work/after.pdf" "$work/after.txt"
if cmp -s "$work/before.txt" "$work/after.txt"; then
    echo "pdftotext -layout: the same text from both ($(wc -c <"$work/after.txt") bytes)"
else
    echo "pdftotext -layout: the text differs:"
    diff "$work/before.txt" "$work/after.txt" | head -20
fi
