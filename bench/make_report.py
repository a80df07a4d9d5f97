#!/usr/bin/env python3
"""Writes a payroll listing of PAGES pages twice, for the rendering benchmark.

    python3 bench/make_report.py PAGES OUTDIR

OUTDIR/LST00001.PRN  the report as the payroll program writes it: header line, code page 852,
                     CR LF line ends, 132 characters by 66 lines a page, "^PG" at the start of
                     every page but the first, style sequences (^B1 bold, ^I1 italic, ^U1
                     underline, ^B0 etc. back to plain) and box frames (Frames flag set).
OUTDIR/report.txt    the same visible text for general text-to-PDF tools: UTF-8, Unicode box
                     drawing characters in place of the frame bytes, no style sequences, LF line
                     ends, a form feed between pages.

The text is the same for the same PAGES (fixed random seed).
"""

import random
import re
import sys
from pathlib import Path

WIDTH = 132
LINES_PER_PAGE = 66
HEADER_MARK = "{9A936A9B-A688-4E5B-9238-07D5AC9DCD82}"
TITLE = "Výplatní listina"

# Frame pieces: Unicode box drawing character -> the Windows-1250 byte that Tarnyx draws as
# that piece when the header's Frames flag is set. Frames are recognised after the conversion
# from the report's code page, so a CP852 report carries the CP852 byte of the character that
# the Windows-1250 byte stands for (0xFE is "ţ", which is 0xEE in CP852).
# The double-line ║ ╣ ╗ ╚ ╩ (0x81 0x83 0x88 0x90 0x98) are undefined in Windows-1250, so no
# CP852 byte converts to them; only the double-line pieces below exist.
FRAME_CP1250 = {
    "│": 0xFE, "┤": 0xB9, "┐": 0xBF, "└": 0xBA, "┴": 0xE3, "┬": 0xC7,
    "├": 0xC3, "─": 0xCA, "┼": 0xD0, "┘": 0xD1, "┌": 0xDE,
    "╦": 0xA2, "╠": 0xA5, "═": 0xAA, "╬": 0xAF, "╝": 0xB2, "╔": 0xEA,
}
# Box character -> the character whose CP852 byte converts to its frame byte.
FRAME_SOURCE = {box: bytes([b]).decode("cp1250") for box, b in FRAME_CP1250.items()}

STYLE = re.compile(r"\^..")  # caret and the next two characters

# (heading, width between the borders, alignment); with 10 borders, 132 columns.
COLUMNS = [
    ("Os.č.", 7, ">"), ("Příjmení a jméno", 22, "<"), ("Středisko", 11, "<"),
    ("Hrubá mzda", 14, ">"), ("Pojistné", 14, ">"), ("Záloha daně", 13, ">"),
    ("Čistá mzda", 14, ">"), ("Srážky", 13, ">"), ("K výplatě", 14, ">"),
]
assert sum(w for _, w, _ in COLUMNS) + len(COLUMNS) + 1 == WIDTH

SURNAMES = [
    "Novák", "Svoboda", "Novotný", "Dvořák", "Černý", "Procházka", "Kučera", "Veselý",
    "Horák", "Němec", "Pokorný", "Marek", "Pospíšil", "Hájek", "Jelínek", "Král",
    "Růžička", "Beneš", "Fiala", "Sedláček", "Doležal", "Zeman", "Kolář", "Navrátil",
    "Čermák", "Vaněk", "Urban", "Blažek", "Kříž", "Kovář", "Kratochvíl", "Bartoš",
    "Vlček", "Polák", "Musil", "Kopecký", "Šimek", "Konečný", "Malý", "Holub",
    "Štěpánek", "Staněk", "Kadlec", "Dostál", "Soukup", "Šťastný", "Mareš", "Moravec",
    "Sýkora", "Tichý", "Valenta", "Vávra", "Matoušek", "Říha", "Bláha", "Šebesta",
]
FIRST_NAMES = [
    "Jiří", "Jan", "Petr", "Josef", "Pavel", "Martin", "Tomáš", "Jaroslav", "Miroslav",
    "Zdeněk", "Václav", "Michal", "František", "Jakub", "Milan", "Karel", "Lukáš", "David",
    "Jana", "Marie", "Eva", "Hana", "Anna", "Lenka", "Kateřina", "Věra", "Lucie", "Alena",
    "Petra", "Jaroslava", "Veronika", "Martina", "Ludmila", "Helena", "Zuzana", "Michaela",
]
CENTRES = ["Výroba", "Sklad", "Doprava", "Údržba", "Správa", "Obchod", "Účtárna", "Dílna"]

ROWS_PER_PAGE = 53  # data rows; with 13 lines of heading and footing, 66


def money(hellers: int) -> str:
    """12 345,67"""
    crowns, rest = divmod(hellers, 100)
    return f"{crowns:,}".replace(",", " ") + f",{rest:02d}"


def visible(line: str) -> str:
    return STYLE.sub("", line)


def pad(line: str) -> str:
    """Fills a line with blanks to WIDTH visible characters."""
    n = len(visible(line))
    assert n <= WIDTH, (n, line)
    return line + " " * (WIDTH - n)


def rule(left: str, fill: str, join: str, right: str) -> str:
    return left + join.join(fill * w for _, w, _ in COLUMNS) + right


def row(cells, styles=None) -> str:
    """One table row; styles maps a column index to a style letter (B, I, U)."""
    parts = []
    for i, ((_, w, align), text) in enumerate(zip(COLUMNS, cells)):
        text = f"{text:{align}{w - 2}}"
        assert len(text) == w - 2, text
        style = (styles or {}).get(i)
        if style:
            text = f"^{style}1{text}^{style}0"
        parts.append(f" {text} ")
    return "│" + "│".join(parts) + "│"


class Payroll:
    def __init__(self, pages: int):
        self.pages = pages
        self.rnd = random.Random(20240131)
        self.number = 1000

    def employee(self):
        r = self.rnd
        # Personal numbers run 1001 to 99999 (the column holds five digits), then start again:
        # reports of up to 1,867 pages are unchanged by the wrap.
        self.number = self.number + 1 if self.number < 99999 else 1001
        name = f"{r.choice(SURNAMES)} {r.choice(FIRST_NAMES)}"
        gross = r.randrange(1800000, 9500000)  # hellers
        insurance = gross * 110 // 1000  # social and health
        tax = max(0, (gross * 15 // 100) - 257000)
        net = gross - insurance - tax
        deductions = r.choice([0, 0, 0, 50000, 120000, r.randrange(10000, 300000)])
        payout = net - deductions
        cells = [str(self.number), name, r.choice(CENTRES), money(gross), money(insurance),
                 money(tax), money(net), money(deductions), money(payout)]
        return cells, [gross, insurance, tax, net, deductions, payout]

    def page(self, n: int):
        """The 66 lines of page n (1-based), Unicode, with style sequences."""
        lines = []
        title = f"^B1{TITLE}^B0"
        firm = "Stavební družstvo Horní Újezd, IČ 12345678"
        page_no = f"Strana {n}/{self.pages}"
        gap = WIDTH - len(visible(title)) - len(firm) - len(page_no)
        lines.append(title + " " * (gap // 2) + firm + " " * (gap - gap // 2) + page_no)
        lines.append("Středisko: všechna    Mzdový útvar: 01    Měna: Kč")
        # The third body line carries the payroll period that the header reader looks for.
        lines.append("Období: 01/2024    Zpracováno: 31.01.2024 08:15")
        lines.append("")
        lines.append(rule("┌", "─", "┬", "┐"))
        lines.append(row([h for h, _, _ in COLUMNS], {i: "B" for i in range(len(COLUMNS))}))
        lines.append(rule("├", "─", "┼", "┤"))
        totals = [0] * 6
        for r in range(ROWS_PER_PAGE):
            cells, amounts = self.employee()
            totals = [a + b for a, b in zip(totals, amounts)]
            styles = {}
            if r % 13 == 5:
                styles[1] = "I"  # on sick leave: name in italics
            if r % 10 == 9:
                styles[8] = "U"  # paid in cash: amount underlined
            lines.append(row(cells, styles))
        # Totals under a double rule; its right end is a single piece, as there is no
        # double-line branch to the left.
        lines.append(rule("╠", "═", "╬", "┤"))
        lines.append(row(["", "Celkem za stranu", "", *map(money, totals)],
                         {1: "B", 3: "B", 8: "B"}))
        lines.append(rule("└", "─", "┴", "┘"))
        lines.append("")
        lines.append("^I1Sestavu vytiskl mzdový systém; údaje jsou důvěrné.^I0"
                     "          ^U1Schválil:^U0 ____________________")
        lines.append("")
        assert len(lines) == LINES_PER_PAGE, len(lines)
        return [pad(line) for line in lines]


def cp852(line: str) -> bytes:
    line = "".join(FRAME_SOURCE.get(c, c) for c in line)
    return line.encode("cp852")  # strict: every character must exist in CP852


def main(argv):
    if len(argv) != 3 or not argv[1].isdigit() or not 1 <= int(argv[1]) <= 9999:
        sys.exit("usage: make_report.py PAGES(1-9999) OUTDIR")
    pages, outdir = int(argv[1]), Path(argv[2])
    outdir.mkdir(parents=True, exist_ok=True)
    payroll = Payroll(pages)
    header = (f'{HEADER_MARK};1;20240131;08153000;"{TITLE}";{WIDTH};{pages};'
              f"{LINES_PER_PAGE};0;852;100;1")
    with open(outdir / "LST00001.PRN", "wb") as prn, \
            open(outdir / "report.txt", "w", encoding="utf-8", newline="\n") as txt:
        prn.write(cp852(header) + b"\r\n")
        for n in range(1, pages + 1):
            lines = payroll.page(n)
            if n > 1:
                txt.write("\f")
            for i, line in enumerate(lines):
                mark = "^PG" if n > 1 and i == 0 else ""
                prn.write(cp852(mark + line) + b"\r\n")
                txt.write(visible(line) + "\n")


if __name__ == "__main__":
    main(sys.argv)
