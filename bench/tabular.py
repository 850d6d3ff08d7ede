"""Tabular parser benchmark: generated ARP tables of six columns.

Parses each table with column_table_result_core_t (index on the address
column) and, in the same run on the same text, with TextFSM, TTP and a plain
Python loop cutting the same columns into dicts.  Prints rows per second, the
ratios, the per-row time against the smallest size, the parse's peak traced
memory against what the finished entries and the input hold, and the cost of a
Python cleanup_entry_field override.

    .venv/bin/python bench/tabular.py [--sizes 1000,10000,100000,1000000]
                                      [--baseline-max 100000] [--repeat 3]
"""
import argparse
import gc
import io
import os
import sys
import time
import tracemalloc

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "standins")]

import mirel.textloom.core as core  # noqa: E402

HEADINGS = ["Protocol", "Address", r"Age \(min\)", "Hardware Addr", "Type", "Interface"]
HEADER = "Protocol  Address          Age (min)  Hardware Addr   Type   Interface\n"
COLUMNS = [(0, 10), (10, 27), (27, 38), (38, 54), (54, 61), (61, None)]
NAMES = ["Protocol", "Address", "Age (min)", "Hardware Addr", "Type", "Interface"]


def arp_table(rows):
    lines = [HEADER]
    for i in range(rows):
        address = "10.%d.%d.%d" % (i >> 16 & 255, i >> 8 & 255, i & 255)
        age = "-" if i % 17 == 0 else str(i % 240)
        mac = "%04x.%04x.%04x" % (i >> 32 & 0xFFFF, i >> 16 & 0xFFFF, i & 0xFFFF)
        lines.append("%-10s%-17s%-11s%-16s%-7s%s\n" % ("Internet", address, age, mac, "ARPA", "Vlan%d" % (100 + i % 40)))
    return "".join(lines)


def parse_textloom(text, cls=None, index=1):
    core.text_to_parse["bench"] = text
    return (cls or core.column_table_result_core_t)(HEADINGS, index=index, parse_key="bench").entries


def cut_only(text):
    """The same parse filing no row (index=[]): every row is cut and converted, nothing kept."""
    return parse_textloom(text, index=[])


class PythonCleanup(core.column_table_result_core_t):
    def cleanup_entry_field(self, header, field):
        return field


def parse_python(text):
    entries = {}
    lines = text.split("\n")
    for line in lines[1:]:
        if not line.strip():
            continue
        row = {}
        for name, (start, end) in zip(NAMES, COLUMNS):
            row[name] = (line[start:end] if end is not None else line[start:]).strip()
        entries[row["Address"]] = row
    return entries


TEXTFSM_TEMPLATE = r"""Value Protocol (\S+)
Value Address (\S+)
Value Age (\S+)
Value Mac (\S+)
Value Type (\S+)
Value Interface (\S+)

Start
  ^Protocol\s+Address -> Rows

Rows
  ^${Protocol}\s+${Address}\s+${Age}\s+${Mac}\s+${Type}\s+${Interface}\s*$$ -> Record
"""

TTP_TEMPLATE = """<group>
{{ protocol }} {{ address }} {{ age }} {{ mac }} {{ type }} {{ interface }}
</group>"""


def parse_textfsm(text):
    import textfsm
    return textfsm.TextFSM(io.StringIO(TEXTFSM_TEMPLATE)).ParseText(text)


def parse_ttp(text):
    from ttp import ttp
    parser = ttp(data=text, template=TTP_TEMPLATE)
    parser.parse()
    return parser.result()[0][0]


def timed(fn, text, repeat):
    best = None
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        result = fn(text)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
        del result
    return best


def traced_peak(text):
    """Peak traced memory of one parse, and what the entries and the input hold."""
    gc.collect()
    tracemalloc.start()
    copy = "".join([text[:1], text[1:]])  # the input, traced
    tracemalloc.reset_peak()
    entries = parse_textloom(copy)
    current, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    assert len(entries) > 0
    core.text_to_parse.pop("bench", None)
    return peak, current


def available(module):
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sizes", default="1000,10000,100000,1000000", help="row counts, comma-separated")
    ap.add_argument("--baseline-max", type=int, default=100000,
                    help="largest table the baselines parse (TTP and TextFSM are slow)")
    ap.add_argument("--repeat", type=int, default=5, help="runs per measurement below 10^6 rows (best taken)")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    baselines = [("python", parse_python)]
    for name, module, fn in (("textfsm", "textfsm", parse_textfsm), ("ttp", "ttp", parse_ttp)):
        if available(module):
            baselines.append((name, fn))
        else:
            print("(%s not installed: pip install -e '.[bench]')" % name)

    per_row, cut_per_row = {}, {}
    print("%9s %12s %10s %s" % ("rows", "rows/s", "us/row", "ratios (textloom speed / baseline speed)"))
    for n in sizes:
        text = arp_table(n)
        entries = parse_textloom(text)
        assert len(entries) == n, (len(entries), n)
        repeat = args.repeat if n < 1000000 else min(args.repeat, 2)
        ours = timed(parse_textloom, text, repeat)
        per_row[n] = ours / n
        cut_per_row[n] = timed(cut_only, text, repeat) / n
        ratios = []
        if n <= args.baseline_max:
            for name, fn in baselines:
                theirs = timed(fn, text, repeat if name != "ttp" else 1)
                ratios.append("%s %.1fx" % (name, theirs / ours))
        print("%9d %12.0f %10.3f %s" % (n, n / ours, ours / n * 1e6, "  ".join(ratios)))
        del entries, text

    first = sizes[0] if sizes[0] >= 10000 or len(sizes) == 1 else next((s for s in sizes if s >= 10000), sizes[0])
    for n in sizes:
        if n > first:
            print("per-row time at %d rows / at %d rows: %.2f (cutting without filing: %.2f)"
                  % (n, first, per_row[n] / per_row[first], cut_per_row[n] / cut_per_row[first]))

    n = min(max(sizes), 100000)
    text = arp_table(n)
    peak, held = traced_peak(text)
    print("peak traced memory during a parse of %d rows: %.1f MB; entries + input hold %.1f MB; ratio %.2f"
          % (n, peak / 1e6, held / 1e6, peak / held))
    fast = timed(parse_textloom, text, args.repeat)
    slow = timed(lambda t: parse_textloom(t, PythonCleanup), text, args.repeat)
    print("Python cleanup_entry_field override, %d rows: %.0f rows/s (%.1fx the time of the C++ path)"
          % (n, n / slow, slow / fast))


if __name__ == "__main__":
    main()
