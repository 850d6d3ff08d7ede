"""Heading search with blank heading slots ("").

Two kinds of input: a two-line port-channel heading whose first line holds
"LACP" over "Key" and seven blank slots, over 160 rows; and headings with six
blank slots over a text of three lines, with long runs of blanks, that does not
hold them.  Each parse is timed against a parse of the same text in the same
run under a heading without the slots: the Key line alone for the port
channels, the heading without its slots for the others (for the two-line one,
without the columns of its slots: the column under Flow).  It prints both
times and their ratio: the slots cost about what the blanks cost, a few times
the heading without them at most.

Then the parse with the expression that keeps a blanks group before every
heading text, the slots' included (a subclass's compile_header_pattern returns
it, so the search runs as the steps are written): there every run of blanks is
shared between those groups in every way before a position fails.  Each of
these runs in a child process, stopped after --cap seconds.

    .venv/bin/python bench/heading.py [--rows 160] [--blanks 200] [--repeat 5] [--cap 10]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time

from common import ROOT, best

sys.path.insert(0, os.path.join(ROOT, "tests"))
import mirel.textloom.core as core  # noqa: E402
from helpers import every_group_heading_expression  # noqa: E402

CHANNEL_TOP = ["", "", "", "", "", "", "LACP", ""]
CHANNEL = ["Group", "Port-channel", "Protocol", "Status", "Members", "Speed", "Key", "Flags"]
CHANNEL_ROW = "%-8s%-16s%-12s%-10s%-10s%-10s%-8s%s\n"


def channel_rows(rows):
    return "".join(CHANNEL_ROW % (i, "Port-channel%d" % i, "LACP", "up" if i % 7 else "down", 1 + i % 4,
                                  "10G", 32768 + i, "SU" if i % 7 else "SD") for i in range(rows))


def channel_text(rows, top):
    heading = CHANNEL_ROW % tuple(CHANNEL)
    if top:
        heading = " " * heading.index("Key") + "LACP\n" + heading
    return heading + channel_rows(rows)


def three_lines(blanks):
    """Words far apart, "Flow" among them, and no heading."""
    gap = " " * blanks
    return "".join(gap.join(["eth%d" % i, "Flow", "up", "1500"]) + gap + "\n" for i in range(3))


FLOW_LINE = ["Port", "Type", "Mode", "ctrl", "Rx", "Tx", "Drops"]

# name, heading, the heading without its slots, text of (rows, blanks, with the slots' line)
CASES = [
    ("LACP over Key, 7 blank slots", [CHANNEL_TOP, CHANNEL], CHANNEL,
     lambda rows, blanks, top: channel_text(rows, top)),
    ("6 blank slots, then Flow", [""] * 6 + ["Flow"], ["Flow"], lambda rows, blanks, top: three_lines(blanks)),
    ("6 blank slots, then [Ff]low", [""] * 6 + ["[Ff]low"], ["[Ff]low"],
     lambda rows, blanks, top: three_lines(blanks)),
    ("6 blank slots around Flow", [["", "", "", "Flow", "", "", ""], FLOW_LINE], [["Flow"], ["ctrl"]],
     lambda rows, blanks, top: three_lines(blanks)),
]


class EveryGroup(core.column_table_result_core_t):
    def compile_header_pattern(self, header_fields):
        super().compile_header_pattern(header_fields)
        return re.compile(every_group_heading_expression(header_fields))


def parse(text, header_fields, cls=core.column_table_result_core_t):
    core.text_to_parse["heading"] = text
    return len(cls(header_fields, parse_key="heading").entries)


def child(index, rows, blanks):
    """The parse with a blanks group before every heading text, in this process."""
    _, heading, _, make = CASES[index]
    text = make(rows, blanks, True)
    start = time.perf_counter()
    parse(text, heading, EveryGroup)
    print(json.dumps({"seconds": time.perf_counter() - start}))


def every_group_seconds(index, rows, blanks, cap):
    try:
        out = subprocess.run([sys.executable, __file__, "--child", str(index), "--rows", str(rows),
                              "--blanks", str(blanks)], check=True, capture_output=True, text=True, timeout=cap)
    except subprocess.TimeoutExpired:
        return None
    return json.loads(out.stdout)["seconds"]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--rows", type=int, default=160, help="rows under the port-channel heading")
    ap.add_argument("--blanks", type=int, default=200, help="blanks between the words of the three lines")
    ap.add_argument("--repeat", type=int, default=5, help="runs per measurement (best taken)")
    ap.add_argument("--cap", type=float, default=10.0, help="seconds after which a child process is stopped")
    ap.add_argument("--child", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child is not None:
        child(args.child, args.rows, args.blanks)
        return

    print("%-30s %14s %12s %7s %16s" % ("", "no slots (ms)", "slots (ms)", "ratio", "every group (s)"))
    for index, (name, heading, without, make) in enumerate(CASES):
        text, other_text = make(args.rows, args.blanks, True), make(args.rows, args.blanks, False)
        assert parse(text, heading) == parse(other_text, without), name
        number = max(1, int(0.05 / best(lambda: parse(text, heading), 1, 1)))
        ours = best(lambda: parse(text, heading), number, args.repeat)
        theirs = best(lambda: parse(other_text, without), number, args.repeat)
        slow = every_group_seconds(index, args.rows, args.blanks, args.cap)
        print("%-30s %14.3f %12.3f %7.2f %16s" % (name, theirs * 1e3, ours * 1e3, ours / theirs,
                                                  "> %g" % args.cap if slow is None else "%.3f" % slow))


if __name__ == "__main__":
    main()
