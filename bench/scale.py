"""Scale: large inputs parse without error, in time linear with their size.

A tabular parse of an ARP table up to 10^6 rows (plain and bar-drawn), and a
non-tabular section up to 10^5 lines (fill, check, and check ending in a
wildcard tag that never matches), each through core's parser and through the device
operation on given output.  Prints the time per row or line at each size and
its ratio to the time per row or line at the smallest size: a ratio near 1
at every size is a linear parse.

    .venv/bin/python bench/scale.py [--rows 10000,100000,1000000] [--lines 1000,10000,100000]
"""
import argparse
import gc
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "standins"), os.path.join(ROOT, "bench")]

import mirel.textloom._textloom as tl  # noqa: E402
import mirel.textloom.core as core  # noqa: E402
from tabular import HEADINGS, arp_table  # noqa: E402


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


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--rows", default="10000,100000,1000000", help="table sizes, comma-separated")
    ap.add_argument("--lines", default="1000,10000,100000", help="section sizes, comma-separated")
    args = ap.parse_args()
    report("rows", [int(s) for s in args.rows.split(",")], tabular_cases, check_table)
    print()
    report("lines", [int(s) for s in args.lines.split(",")], nontabular_cases, check_section)


if __name__ == "__main__":
    main()
