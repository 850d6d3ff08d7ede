"""Scale: large inputs parse without error, in time linear with their size.

A tabular parse of an ARP table up to 10^6 rows (plain and bar-drawn), and a
non-tabular section up to 10^5 lines (fill, check, and check ending in a
wildcard tag that never matches), each through core's parser and through the device
operation on given output.  Prints the time per row or line at each size and
its ratio to the time per row or line at the smallest size: a ratio near 1
at every size is a linear parse.

Then the alignment of a drawn table of nine columns (10^5 rows by default),
by core and by the plain-Python transcription of its steps, each in a child
process of its own: the time and the peak resident memory the call adds, with
the sizes of the input and of the result (in bytes of their str objects).

Last, the heading search over long runs of blanks: a drawn table of 2,000 rows
with one long cell, parsed with a first heading text that has a literal start
("Port") and one that has none ("[Pp]ort"); the time per aligned character
against the same table with a short cell (a ratio near 1: the search is linear
in the blanks), and the same for the steps as written (compile rebound to a
wrapper of re's own, which tries the heading at every position) on a narrower cell.

    .venv/bin/python bench/scale.py [--rows 10000,100000,1000000] [--lines 1000,10000,100000]
                                    [--drawn-rows 100000] [--repeat 3]
                                    [--long-cell 1000] [--as-written-cell 150]
"""
import argparse
import gc
import json
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "standins"), os.path.join(ROOT, "bench"), os.path.join(ROOT, "tests")]

import mirel.textloom._textloom as tl  # noqa: E402
import mirel.textloom.core as core  # noqa: E402
from tabular import HEADINGS, arp_table  # noqa: E402
import align_reference  # noqa: E402


def bar_table(rows):
    """The ARP table drawn with a "|" border around every cell."""
    return "".join("|" + "|".join(line.split("  ")) + "|\n" if line else "" for line in arp_table(rows).split("\n"))


def section(lines):
    """One interface's section: its name first, its last counter last, and counters between."""
    body = "".join("  counter %d: %d packets\n" % (i, i * 7) for i in range(lines - 2))
    return "Interface eth0 is up\n" + body + "  last input %d seconds ago\n" % lines


core.extend({"ketch": {"IF": r"Interface (\S+) is", "LAST": r"\s+last input (\d+)", "NEVER": r"no such (line)"}})


def seconds(fn):
    gc.collect()
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


def tabular_cases(n):
    plain, bar = arp_table(n), bar_table(n)

    def through_core(text, **kwargs):
        core.text_to_parse["scale"] = text
        return core.column_table_result_core_t(HEADINGS, index=1, parse_key="scale", **kwargs).entries
    yield "table", lambda: through_core(plain)
    yield "bar-drawn table", lambda: through_core(bar, delimiter="|")
    yield "oper_fill_tabular", lambda: tl.oper_fill_tabular(device_output=plain, header_fields=HEADINGS, index=1).entries


def nontabular_cases(n):
    text = section(n)

    def through_core(tags, values, fill):
        core.text_to_parse["scale"] = text
        ok, _, _ = core._textloom_t("ketch", tags, values, fill, "scale")._parser_validate()
        return ok
    yield "fill", lambda: through_core(["IF", "LAST"], ["eth0", None], True)
    yield "check", lambda: through_core(["IF", "LAST"], ["eth0", str(n)], False)
    yield "check, wildcard", lambda: through_core(["IF", "LAST", "NEVER"], ["eth0", str(n), None], False)
    yield "oper_fill", lambda: tl.oper_fill(None, "show x", [("IF", "eth0"), ("LAST", None)], device_output=text,
                                            device_os="ketch").parse()


def report(unit, sizes, cases, check):
    per_unit = {}
    for _, run in cases(sizes[0]):
        run()  # regexes compiled, caches filled: the smallest size is timed warm, as the others
    print("%-20s %10s %10s %12s %8s" % ("", unit, "seconds", "us/" + unit.rstrip("s"), "ratio"))
    for n in sizes:
        for name, run in cases(n):
            elapsed, result = seconds(run)
            check(name, n, result)
            per_unit.setdefault(name, {})[n] = elapsed / n
            first = per_unit[name][sizes[0]]
            print("%-20s %10d %10.3f %12.3f %8.2f" % (name, n, elapsed, elapsed / n * 1e6, elapsed / n / first))
            del result


def check_table(name, n, entries):
    assert len(entries) == n, (name, len(entries), n)


def check_section(name, n, ok):
    assert ok, (name, n)


DRAWN_HEADINGS = HEADINGS + ["Vlan", "State", "Description"]


def drawn_table(rows):
    """Nine columns drawn with "|", one blank around every cell text, a title line first."""
    def line(cells):
        return "|" + "|".join(" %s " % c for c in cells) + "|\n"
    out = ["Address table\n", line(h.replace("\\", "") for h in DRAWN_HEADINGS)]
    for i in range(rows):
        out.append(line(["Internet", "10.%d.%d.%d" % (i >> 16 & 255, i >> 8 & 255, i & 255),
                         "-" if i % 17 == 0 else str(i % 240), "%04x.%04x.%04x" % (i >> 32, i >> 16 & 0xFFFF, i & 0xFFFF),
                         "ARPA", "Vlan%d" % (100 + i % 40), str(100 + i % 40), "up" if i % 5 else "   ",
                         "rack %d" % (i % 12)]))
    return "".join(out)


def memory_kb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def drawn_child(which, rows):
    """One alignment in this (fresh) process: seconds, peak memory added, sizes."""
    text = drawn_table(rows)
    parser = core.column_table_result_core_t.__new__(core.column_table_result_core_t)
    parser.multi_line = False
    if which == "core":
        align = lambda: parser.align_table(text, DRAWN_HEADINGS, None, "|", False)
    else:
        align = lambda: align_reference.align_table(False, text, DRAWN_HEADINGS, "|", False)
    gc.collect()
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # the peak starts again from here
    except OSError:
        pass
    before = memory_kb("VmRSS")
    start = time.perf_counter()
    result = align()
    elapsed = time.perf_counter() - start
    peak = memory_kb("VmHWM") - before
    print(json.dumps({"seconds": elapsed, "peak_kb": peak, "input": sys.getsizeof(text),
                      "result": sys.getsizeof(result), "chars": len(result)}))


def drawn_report(rows, repeat):
    """The alignment by core and by the transcription, each case in child processes, best of `repeat`."""
    runs = {}
    for _ in range(repeat):
        for which in ("core", "python"):
            out = subprocess.run([sys.executable, __file__, "--drawn-child", which, str(rows)],
                                 check=True, capture_output=True, text=True).stdout
            run = json.loads(out)
            best = runs.get(which)
            if best is None or run["seconds"] < best["seconds"]:
                runs[which] = dict(run, peak_kb=min(run["peak_kb"], best["peak_kb"]) if best else run["peak_kb"])
    ours, theirs = runs["core"], runs["python"]
    print("drawn table, %d rows, 9 columns: %.1f MB in, %.1f MB (%d characters) out"
          % (rows, ours["input"] / 1e6, ours["result"] / 1e6, ours["chars"]))
    print("%-14s %10s %10s %16s" % ("", "seconds", "us/row", "peak added (MB)"))
    for name, run in (("align_table", ours), ("transcription", theirs)):
        print("%-14s %10.3f %10.2f %16.1f" % (name, run["seconds"], run["seconds"] / rows * 1e6, run["peak_kb"] / 1e3))
    print("speed: %.1fx the transcription; peak added / (input + result): %.2f (transcription %.2f)"
          % (theirs["seconds"] / ours["seconds"], ours["peak_kb"] * 1e3 / (ours["input"] + ours["result"]),
             theirs["peak_kb"] * 1e3 / (theirs["input"] + theirs["result"])))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--rows", default="10000,100000,1000000", help="table sizes, comma-separated")
    ap.add_argument("--lines", default="1000,10000,100000", help="section sizes, comma-separated")
    ap.add_argument("--drawn-rows", type=int, default=100000, help="rows of the drawn table aligned on its own")
    ap.add_argument("--repeat", type=int, default=3, help="child processes per alignment case (best taken)")
    ap.add_argument("--long-cell", type=int, default=1000, help="characters of the long cell of the heading search")
    ap.add_argument("--as-written-cell", type=int, default=150,
                    help="characters of the long cell for the steps as written (their time grows with its square)")
    ap.add_argument("--drawn-child", nargs=2, metavar=("WHICH", "ROWS"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.drawn_child:
        drawn_child(args.drawn_child[0], int(args.drawn_child[1]))
        return
    report("rows", [int(s) for s in args.rows.split(",")], tabular_cases, check_table)
    print()
    report("lines", [int(s) for s in args.lines.split(",")], nontabular_cases, check_section)
    print()
    drawn_report(args.drawn_rows, args.repeat)
    print()
    heading_search_report(args.long_cell, args.as_written_cell, args.repeat)


def long_cell_table(rows, cell):
    """Three columns drawn with "|"; the first row's description is `cell` characters long."""
    def line(cells):
        return "|" + "|".join(" %s " % c for c in cells) + "|\n"
    out = [line(["Port", "Status", "Description"])]
    for i in range(rows):
        out.append(line(["eth%d" % i, "up" if i % 3 else "down", "x" * cell if i == 0 else "rack %d" % (i % 12)]))
    return "".join(out)


def heading_search_report(long_cell, as_written_cell, repeat, rows=2000):
    """Seconds per aligned character with a long cell against a short one, per first heading text."""
    def parse(text, first):
        core.text_to_parse["scale"] = text
        t = core.column_table_result_core_t([first, "Status", "Description"], parse_key="scale", delimiter="|")
        assert len(t.entries) == rows, len(t.entries)
        return len(t._text_to_parse)

    def per_char(text, first):
        best = None
        for _ in range(repeat):
            elapsed, chars = seconds(lambda: parse(text, first))
            best = elapsed / chars if best is None else min(best, elapsed / chars)
        return best

    short = long_cell_table(rows, 8)
    print("heading search, %d rows drawn with one long cell:" % rows)
    print("%-26s %8s %14s %14s %8s" % ("", "cell", "ns/char short", "ns/char long", "ratio"))
    for name, first, cell in (("Port", "Port", long_cell), ("[Pp]ort", "[Pp]ort", long_cell),
                              ("[Pp]ort, steps as written", "[Pp]ort", as_written_cell)):
        if name.endswith("as written"):
            core.compile = lambda pattern, *flags: re.compile(pattern, *flags)
        try:
            base, wide = per_char(short, first), per_char(long_cell_table(rows, cell), first)
        finally:
            core.compile = re.compile
        print("%-26s %8d %14.1f %14.1f %8.2f" % (name, cell, base * 1e9, wide * 1e9, wide / base))


if __name__ == "__main__":
    main()
