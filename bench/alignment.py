"""Alignment benchmark: one long cell in a drawn table.

Aligns a table of four columns drawn with a delimiter (2,000 rows by
default), once with short cells only and once with one cell of 600
characters in its second column, on the path of a one-character delimiter
("|") and on the general one ("||"), left- and right-justified.  Prints the
time per aligned character of each table and their ratio, long / short: one
long cell costs what its characters cost, so the ratio stays near 1 (3 at
most).  Then the size of each aligned text against the widths of its columns,
and the peak traced memory of an alignment whose table holds one astral
character, against the size of the str it gives.

    .venv/bin/python bench/alignment.py [--rows 2000] [--long 600] [--repeat 5]
"""
import argparse
import sys
import tracemalloc

from common import best

import mirel.textloom.core as core  # noqa: E402

HEADINGS = ["Port", "Status", "Speed", "Description"]
LIMIT = 3.0


def drawn(d, rows, long_cell, first_cell=" eth0 "):
    """The table drawn with `d`, one blank around each cell text; row rows // 2 holds `long_cell` in column 1."""
    def line(cells):
        return d + d.join(cells) + d + "\n"
    out = [line(" %s " % h for h in HEADINGS)]
    for i in range(rows):
        status = long_cell if i == rows // 2 else "up" if i % 3 else "down"
        out.append(line([first_cell if i == 0 else " eth%d " % i, " %s " % status, " 1000 ", " rack %d " % (i % 40)]))
    return "".join(out)


def parser():
    p = core.column_table_result_core_t.__new__(core.column_table_result_core_t)
    p.multi_line = False
    return p


def column_bound(rows, widths, d):
    """Characters of an aligned text whose header row and data rows have cells of these widths."""
    line = len(d) * (len(widths) + 1) + sum(widths) + 1
    return line * (rows + 1) + len("+----+\n") + 1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--rows", type=int, default=2000, help="data rows of the table")
    ap.add_argument("--long", type=int, default=600, help="characters of the long cell")
    ap.add_argument("--repeat", type=int, default=5, help="runs per measurement (best taken)")
    args = ap.parse_args()
    p = parser()
    w = len(" Description ") + 20  # W: the first header row's longest cell and 20
    print("%d rows, one cell of %d characters; time per aligned character (ns)" % (args.rows, args.long))
    print("%-6s %-6s %12s %12s %8s" % ("delim", "just.", "short cell", "long cell", "ratio"))
    worst = 0.0
    sizes = []
    for d in ("|", "||"):
        for right in (False, True):
            per_char = []
            for cell in ("up", "x" * args.long):
                text = drawn(d, args.rows, cell)
                out = p.align_table(text, HEADINGS, None, d, right)
                seconds = best(lambda: p.align_table(text, HEADINGS, None, d, right), 1, args.repeat)
                per_char.append(seconds / len(out))
                sizes.append((d, right, cell != "up", len(out)))
            ratio = per_char[1] / per_char[0]
            worst = max(worst, ratio)
            print("%-6s %-6s %12.2f %12.2f %7.2fx" % (d, "right" if right else "left", per_char[0] * 1e9,
                                                      per_char[1] * 1e9, ratio))
    print("worst ratio %.2fx (limit %.0fx): %s" % (worst, LIMIT, "ok" if worst <= LIMIT else "OVER"))

    print("\naligned characters against the widths of the columns (W = %d; the long cell's column %d wide)"
          % (w, max(w, args.long + 1)))
    for d, right, long, n in sizes:
        widths = [w, max(w, args.long + 1) if long else w, w, w]
        print("%-6s %-6s %-10s %10d, the widths give %10d" % (d, "right" if right else "left",
                                                               "long cell" if long else "short cell", n,
                                                               column_bound(args.rows, widths, d)))

    text = drawn("||", args.rows, "x" * args.long, first_cell=" eth\U0001f600 ")
    tracemalloc.start()
    out = p.align_table(text, HEADINGS, None, "||", True)
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    size = sys.getsizeof(out)
    print("\none astral character in the table: the aligned str %.1f MB, peak traced %.1f MB (%.2fx)"
          % (size / 1e6, peak / 1e6, peak / size))


if __name__ == "__main__":
    main()
