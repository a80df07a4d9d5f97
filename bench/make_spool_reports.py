#!/usr/bin/env python3
"""Writes COUNT small reports, each different, made from the sample reports in tests/data.

    python3 bench/make_spool_reports.py COUNT OUTDIR [FIRST]

Report k (FIRST, FIRST+1, ... ; FIRST is 1 by default) is OUTDIR/LST<k, 5 digits>.PRN, made from
tests/data/LST0000<1..3>.PRN in turn (code pages 852, 862 and 859):

- the header's time is k seconds after 08:00:00 (HHMMSS00), so that every report has its own
  archived name YYYYMMDD-HHMMSS-LSTnnnnn.PRN;
- the title gets " #<k, 5 digits>" appended; it becomes the title of the print job;
- the body ends with the line "Kontrola <k, 5 digits>";
- every even k has a second page ("^PG" at the start of its first line; the header says 2 pages).

It prints one line per report: number, file name, archived name, title marker.
"""

import sys
from pathlib import Path

SAMPLES = [Path(__file__).resolve().parent.parent / "tests" / "data" / f"LST0000{n}.PRN"
           for n in (1, 2, 3)]


def make(k: int, sample: bytes) -> tuple[bytes, str]:
    head, sep, body = sample.partition(b"\r\n")
    fields = head.split(b";")
    # {mark};version;date;time;"title";width;pages;lines per page;...
    date = fields[2]
    seconds = 8 * 3600 + k
    time = b"%02d%02d%02d00" % (seconds // 3600 % 24, seconds // 60 % 60, seconds % 60)
    fields[3] = time
    assert fields[4].startswith(b'"') and fields[4].endswith(b'"')
    fields[4] = fields[4][:-1] + b" #%05d\"" % k
    text = body
    if not text.endswith(b"\r\n"):
        text += b"\r\n"
    if k % 2 == 0:
        fields[6] = b"2"
        text += b"^PG" + text
    text += b"Kontrola %05d\r\n" % k
    archived = (date + b"-" + time[:6]).decode("ascii") + "-LST%05d.PRN" % k
    return b";".join(fields) + sep + text, archived


def main() -> int:
    if len(sys.argv) not in (3, 4):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    count = int(sys.argv[1])
    out = Path(sys.argv[2])
    first = int(sys.argv[3]) if len(sys.argv) == 4 else 1
    # Up to 50,000 the times (08:00:00 + k seconds) stay within one day.
    if first < 0 or first + count - 1 > 50000:
        print("report numbers must stay within 0 .. 50000", file=sys.stderr)
        return 2
    out.mkdir(parents=True, exist_ok=True)
    samples = [p.read_bytes() for p in SAMPLES]
    for k in range(first, first + count):
        data, archived = make(k, samples[(k - 1) % len(samples)])
        name = "LST%05d.PRN" % k
        (out / name).write_bytes(data)
        print(k, name, archived, "#%05d" % k)
    return 0


if __name__ == "__main__":
    sys.exit(main())
