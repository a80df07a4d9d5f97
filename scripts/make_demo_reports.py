#!/usr/bin/env python3
"""Writes the sample payroll reports that scripts/demo feeds to Tarnyx.

Usage: make_demo_reports.py DIR_A DIR_B FAULTY_DIR

Good reports go into the two spool directories DIR_A and DIR_B; the one report whose header is
faulty (121 lines per page, above the limit of 120) goes into FAULTY_DIR, which may be DIR_B
itself. The reports cover the code pages 852, 862 (Kamenický), 859 (ISO 8859-2) and 1250, frames
of single and double lines, bold, italic and underlined text, page marks and page breaks by
line count, portrait and landscape.

Standard output gets one line per report, fields separated by tabs:
    good|faulty  path  pages  title  description
"""

import datetime
import os
import sys

HEADER_MARK = "{9A936A9B-A688-4E5B-9238-07D5AC9DCD82}"

# Frame pieces: the Windows-1250 byte that draws each box character when the report's frame
# flag is set (single and double lines).
FRAME_BYTES = {
    "│": 0xFE, "┤": 0xB9, "┐": 0xBF, "└": 0xBA, "┴": 0xE3, "┬": 0xC7,
    "├": 0xC3, "─": 0xCA, "┼": 0xD0, "┘": 0xD1, "┌": 0xDE,
    "║": 0x81, "╣": 0x83, "╗": 0x88, "╚": 0x90, "╩": 0x98, "╦": 0xA2,
    "╠": 0xA5, "═": 0xAA, "╬": 0xAF, "╝": 0xB2, "╔": 0xEA,
}

# Kamenický: bytes 0x80 to 0xAF in order (0xAC is ¼, which no report here uses).
KAMENICKY_HIGH = "ČüéďäĎŤčěĚĹÍľĺÄÁÉžŽôöÓůÚýÖÜŠĽÝŘťáíóúňŇŮÔšřŕŔ¼§«»"


def to_cp1250(text, frames):
    """The Windows-1250 bytes Tarnyx sees after converting a line: box characters become frame
    bytes when frames are on, everything else is the letter itself."""
    out = bytearray()
    for ch in text:
        if frames and ch in FRAME_BYTES:
            out.append(FRAME_BYTES[ch])
        else:
            out += ch.encode("cp1250")
    return bytes(out)


def encode_line(text, codepage, frames):
    """The bytes of one line as the payroll program writes them in the given code page."""
    if frames:
        # Frame bytes exist only in Windows-1250: write the letter of the report's code page that
        # converts to each of them.
        target = to_cp1250(text, True)
        if codepage == 1250:
            return target
        letters = target.decode("cp1250")
        if codepage == 852:
            data = letters.encode("cp852")
            assert data.decode("cp852").encode("cp1250") == target, text
            return data
        if codepage == 859:
            data = letters.encode("iso8859_2")
            assert data.decode("iso8859_2").encode("cp1250") == target, text
            return data
        raise ValueError(f"no frames in code page {codepage}")
    if codepage == 1250:
        return text.encode("cp1250")
    if codepage == 852:
        return text.encode("cp852")
    if codepage == 859:
        return text.encode("iso8859_2")
    if codepage == 862:
        out = bytearray()
        for ch in text:
            if ord(ch) < 0x80:
                out.append(ord(ch))
            else:
                out.append(0x80 + KAMENICKY_HIGH.index(ch))
        return bytes(out)
    raise ValueError(f"unknown code page {codepage}")


def printed(line):
    """The line as printed: without a leading page mark and without control sequences."""
    if line.startswith("^PG"):
        line = line[3:]
    out, i = [], 0
    while i < len(line):
        if line[i] == "^" and i + 2 < len(line):
            i += 3
            continue
        out.append(line[i])
        i += 1
    return "".join(out)


def count_pages(body, lines_per_page):
    pages, on_page = 0, 0
    for line in body:
        if pages == 0 or line.startswith("^PG") or on_page == lines_per_page:
            pages += 1
            on_page = 0
        on_page += 1
    return max(pages, 1)


def write_report(path, stamp, title, body, codepage, frames, lines_per_page=60, scale=100,
                 declared_lines=None):
    """Writes one report; returns its page count. declared_lines overrides the header's lines
    per page (to make a faulty header)."""
    pages = count_pages(body, lines_per_page)
    width = max(len(printed(line)) for line in body)
    fields = [HEADER_MARK, "1", stamp.strftime("%Y%m%d"),
              stamp.strftime("%H%M%S") + f"{stamp.microsecond // 10000:02d}", None, str(width),
              str(pages), str(declared_lines or lines_per_page), "0", str(codepage), str(scale),
              "1" if frames else "0", stamp.strftime("%m/%Y")]
    # The title is quoted (it holds blanks) and written in the report's code page.
    title_bytes = encode_line(title, codepage, False)
    header = b";".join(b'"' + title_bytes.replace(b'"', b'""') + b'"' if f is None
                       else f.encode("ascii") for f in fields)
    data = header + b"\r\n" + b"".join(encode_line(line, codepage, frames) + b"\r\n"
                                       for line in body)
    # Written under another name and renamed: Tarnyx never sees half a report.
    part = os.path.join(os.path.dirname(path), "." + os.path.basename(path) + ".part")
    with open(part, "wb") as f:
        f.write(data)
    os.replace(part, path)
    return pages


# --- report contents -------------------------------------------------------------------------

COMPANY = "Mzdová účtárna s.r.o."
STAFF = [
    ("0001", "Novák Jiří", "Výroba", 32500),
    ("0002", "Dvořáková Šárka", "Účtárna", 41200),
    ("0003", "Černý Tomáš", "Výroba", 28900),
    ("0004", "Málková Růžena", "Sklad", 26400),
    ("0005", "Kříž Ondřej", "Výroba", 35750),
    ("0006", "Šťastná Lucie", "Účtárna", 38100),
    ("0007", "Žák Petr", "Sklad", 24800),
    ("0008", "Horáčková Věra", "Vedení", 56000),
]


def money(value):
    return f"{value:,.2f}".replace(",", " ").replace(".", ",")


def payroll(gross):
    insurance = round(gross * 0.11)
    tax = max(0, round(gross * 0.15) - 2570)
    return insurance, tax, gross - insurance - tax


def page_head(page, width, mark=True):
    left = COMPANY
    right = f"Strana {page}"
    return ("^PG" if mark and page > 1 else "") + left + " " * (width - len(left) - len(right)) + right


def payroll_sheet(period):
    """Code page 852: single-line frames, styles, two pages by page mark."""
    cols = (6, 20, 12, 10, 10, 12)
    heads = ("Os.č.", "Příjmení a jméno", "Hrubá mzda", "Pojištění", "Daň", "Čistá mzda")

    def rule(left, mid, right):
        return left + mid.join("─" * (w + 2) for w in cols) + right

    def row(cells, align):
        parts = [" " + (c.rjust(w) if a == "r" else c.ljust(w)) + " "
                 for c, w, a in zip(cells, cols, align)]
        return "│" + "│".join(parts) + "│"

    width = len(rule("┌", "┬", "┐"))
    body = [page_head(1, width), "^B1VÝPLATNÍ LISTINA^B0", f"Období: {period}", "",
            rule("┌", "┬", "┐"), "^B1" + row(heads, "llrrrr") + "^B0", rule("├", "┼", "┤")]
    total = [0, 0, 0, 0]
    for number, name, _, gross in STAFF:
        insurance, tax, net = payroll(gross)
        total = [a + b for a, b in zip(total, (gross, insurance, tax, net))]
        body.append(row((number, name, money(gross), money(insurance), money(tax), money(net)),
                        "llrrrr"))
    body += [rule("├", "┼", "┤"),
             "^B1" + row(("", "Celkem", *map(money, total)), "llrrrr") + "^B0",
             rule("└", "┴", "┘"), "",
             "^I1Částky jsou v Kč; pojištění 11 %, daň 15 % po slevě na poplatníka.^I0"]
    body += [page_head(2, width), "", "^U1Rozpis podle středisek^U0", ""]
    sub = (12, 12, 12)
    body.append("┌" + "┬".join("─" * (w + 2) for w in sub) + "┐")
    body.append("│ " + " │ ".join(h.ljust(w) for h, w in
                                  zip(("Středisko", "Osob", "Hrubé mzdy"), sub)) + " │")
    body.append("├" + "┼".join("─" * (w + 2) for w in sub) + "┤")
    for dept in sorted({s[2] for s in STAFF}):
        people = [s for s in STAFF if s[2] == dept]
        cells = (dept.ljust(sub[0]), str(len(people)).rjust(sub[1]),
                 money(sum(s[3] for s in people)).rjust(sub[2]))
        body.append("│ " + " │ ".join(cells) + " │")
    body.append("└" + "┴".join("─" * (w + 2) for w in sub) + "┘")
    body += ["", "Vyhotovil: ^I1Jana Veselá^I0        Schválil: ^U1                    ^U0"]
    return body


def recap(period):
    """Code page 862 (Kamenický): no frames (its letters cannot form them), styles, page marks."""
    width = 64
    body = []
    depts = sorted({s[2] for s in STAFF})
    for page, dept in enumerate(depts, start=1):
        people = [s for s in STAFF if s[2] == dept]
        body += [page_head(page, width), f"^B1REKAPITULACE MEZD^B0 - středisko ^U1{dept}^U0",
                 f"Období: {period}", "-" * width]
        for number, name, _, gross in people:
            net = payroll(gross)[2]
            body.append(f"{number}  {name:<22}{money(gross):>16}{money(net):>18}")
        body += ["-" * width,
                 f"^B1{'Celkem za středisko':<28}^B0"
                 f"{money(sum(p[3] for p in people)):>16}"
                 f"{money(sum(payroll(p[3])[2] for p in people)):>18}",
                 "", "^I1Kamenický: ÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ áčďéěíňóřšťúůýž ľĺŕ ô ä ö ü^I0"]
    return body


def absences(period):
    """Code page 859 (ISO 8859-2): single-line frames, a page break by line count (25 a page)."""
    cols = (20, 8, 8, 8)
    heads = ("Zaměstnanec", "Dovol.", "Nemoc", "Přesčas")

    def rule(left, mid, right):
        return left + mid.join("─" * (w + 2) for w in cols) + right

    def row(cells):
        return "│" + "│".join(" " + (c.ljust(w) if i == 0 else c.rjust(w)) + " "
                              for i, (c, w) in enumerate(zip(cells, cols))) + "│"

    width = len(rule("┌", "┬", "┐"))
    body = [page_head(1, width, mark=False), "^B1PŘEHLED NEPŘÍTOMNOSTI^B0", f"Období: {period}",
            "", rule("┌", "┬", "┐"), row(heads), rule("├", "┼", "┤")]
    for i, (_, name, _, _) in enumerate(STAFF * 3):
        body.append(row((name, f"{(i * 7) % 5} d", f"{(i * 3) % 4} d", f"{(i * 5) % 9} h")))
    body += [rule("└", "┴", "┘"), "",
             "^I1Tato sestava nemá značky stránek: po 25 řádcích začíná nová strana.^I0"]
    return body


def yearly(period):
    """Code page 1250: double-line frames, wide enough for landscape, scale 80 %."""
    months = ["I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII"]
    name_w, month_w, total_w = 18, 7, 10

    def rule(left, mid, right):
        return left + mid.join("═" * w for w in [name_w] + [month_w] * 12 + [total_w]) + right

    def row(cells):
        return "║" + "║".join(cells) + "║"

    head = row([" Zaměstnanec".ljust(name_w)] + [m.center(month_w) for m in months]
               + [" Celkem ".rjust(total_w)])
    width = len(head)
    body = [page_head(1, width), "^B1MZDOVÉ LISTY – ROČNÍ PŘEHLED HRUBÝCH MEZD (v Kč)^B0",
            f"Období: {period}", "", rule("╔", "╦", "╗"), "^B1" + head + "^B0",
            rule("╠", "╬", "╣")]
    for _, name, _, gross in STAFF:
        per_month = [gross + (m % 3) * 500 for m in range(12)]
        body.append(row([" " + name.ljust(name_w - 1)]
                        + [f"{v:,}".replace(",", " ").rjust(month_w - 1) + " " for v in per_month]
                        + [f"{sum(per_month):,}".replace(",", " ").rjust(total_w - 1) + " "]))
    body += [rule("╚", "╩", "╝"), "",
             "^I1Široká sestava: tiskne se na šířku, v měřítku 80 %.^I0"]
    return body


def staff_list(period):
    """Code page 852 without the frame flag: the DOS box characters print as look-alikes."""
    body = [page_head(1, 52), "^B1SEZNAM ZAMĚSTNANCŮ^B0", f"Období: {period}", "",
            "╔" + "═" * 50 + "╗"]
    for number, name, dept, _ in STAFF:
        body.append("║ " + f"{number}  {name:<24}{dept:<20}" + " ║")
    body += ["╚" + "═" * 50 + "╝", "",
             "^I1Bez příznaku rámečků se znaky rámečku tisknou jako podobné znaky.^I0"]
    return body


def faulty_slips(period):
    return [page_head(1, 52), "^B1VÝPLATNÍ PÁSKY^B0", f"Období: {period}", "",
            "Hlavička této sestavy žádá 121 řádků na stránku, povoleno je nejvýš 120."]


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    dir_a, dir_b, faulty_dir = argv[1:]
    for d in (dir_a, dir_b, faulty_dir):
        os.makedirs(d, exist_ok=True)
    now = datetime.datetime.now().replace(microsecond=0)
    period = now.strftime("%m/%Y")
    # (directory, name, title, body, code page, frames, options, description)
    reports = [
        (dir_a, "LST00101.PRN", "Výplatní listina", payroll_sheet(period), 852, True, {},
         "code page 852, single-line frames, bold/italic/underline, page mark"),
        (dir_b, "LST00102.PRN", "Rekapitulace mezd", recap(period), 862, False, {},
         "code page 862 (Kamenický), styles, a page mark per department"),
        (dir_a, "LST00103.PRN", "Přehled nepřítomnosti", absences(period), 859, True,
         {"lines_per_page": 25}, "code page 859 (ISO 8859-2), frames, page break after 25 lines"),
        (dir_b, "LST00104.PRN", "Roční přehled mezd", yearly(period), 1250, True, {"scale": 80},
         "code page 1250, double-line frames, landscape, scale 80 %"),
        (dir_a, "LST00105.PRN", "Seznam zaměstnanců", staff_list(period), 852, False, {},
         "code page 852, DOS box characters without the frame flag"),
    ]
    for i, (d, name, title, body, cp, frames, options, description) in enumerate(reports):
        path = os.path.join(d, name)
        pages = write_report(path, now + datetime.timedelta(seconds=i), title, body, cp, frames,
                             **options)
        print(f"good\t{path}\t{pages}\t{title}\t{description}")
    path = os.path.join(faulty_dir, "LST00109.PRN")
    write_report(path, now + datetime.timedelta(seconds=len(reports)), "Výplatní pásky",
                 faulty_slips(period), 852, False, declared_lines=121)
    print(f"faulty\t{path}\t0\tVýplatní pásky\tcode page 852, header with 121 lines per page")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
