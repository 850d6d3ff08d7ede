"""The stop rule under a polling script: one record of N tags parsed again and again.

    .venv/bin/python bench/stop_rule.py [--tags 400,1000] [--parses 300] [--python-parses 5] [--traced]

Each size runs in a fresh interpreter of its own.  The registry has N tags, each
with a regex of its own that matches one line of the record, and a line that
none matches stands between every two of them, so that every prefix of the
consumed tags is tested by the stop rule on two lines of each parse.  A first
parse in fill mode compiles the tags' regexes and is not timed; then the record
is parsed `--parses` times.  Printed per size:

  median     the median parse;
  slowest    the slowest parse as a ratio to the median, and which parse it was;
  total      the time of all the parses;
  kept       the resident memory the process holds after the parses, less what
             it held before them: the consumed patterns' alternations, kept across
             parses (with --traced, also what tracemalloc traces in a second run
             of its own: re's compiled patterns are Python objects);
  python x   the stop rule done in Python, `any(p.match(line) for p in regex_done)`
             in an override of _parser_check_scope, timed in the same process over
             `--python-parses` parses: its median parse against ours, and its
             total (that median times the parses) against ours.

Targets: no parse over 20x the median, kept under 16 MiB.
"""
import argparse
import gc
import json
import os
import statistics
import subprocess
import sys
import time
import tracemalloc

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "standins")]

SLOWEST_TARGET = 20
KEPT_TARGET_MIB = 16


def resident_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def polling_record(core, n):
    """A parse of the record of n tags in fill mode, and the same parse by a class whose stop rule is Python's."""
    tags = ["S%d" % i for i in range(n)]
    core.extend({"ketch": {tag: r"\s+stat%d is (\S+)" % i for i, tag in enumerate(tags)}})
    core.text_to_parse["polling"] = "".join("  stat%d is %d\n  --\n" % (i, i) for i in range(n))
    values = ["0"] + [None] * (n - 1)

    class python_t(core._textloom_t):
        def _parser_check_scope(self, regex_done, line):
            return not any(p.match(line) for p in regex_done)

    def parse(cls=core._textloom_t):
        obj = cls("ketch", tags, values, True, "polling")
        assert obj._validate and len(core.ext_dictio["polling"]) == n
    return parse, lambda: parse(python_t)


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def child(n, parses, python_parses, traced):
    from mirel.textloom import core
    parse, python_parse = polling_record(core, n)
    parse()
    gc.collect()
    if traced:
        tracemalloc.start()
        for _ in range(parses):
            parse()
        gc.collect()
        print(json.dumps({"traced": tracemalloc.get_traced_memory()[0]}))
        return
    before = resident_kib()
    times = [timed(parse) for _ in range(parses)]
    gc.collect()
    kept = resident_kib() - before
    python = [timed(python_parse) for _ in range(python_parses)]
    print(json.dumps({"times": times, "kept_kib": kept, "python": python}))


def run_child(n, args, traced=False):
    command = [sys.executable, __file__, "--child", str(n), "--parses", str(args.parses),
               "--python-parses", str(args.python_parses)] + (["--traced"] if traced else [])
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return json.loads(out.splitlines()[-1])


def report(args):
    sizes = [int(n) for n in args.tags.split(",")]
    print("%d parses of a record of N tags in fill mode; the stop rule against Python's, same run" % args.parses)
    print("%6s %10s %9s %6s %9s %10s %11s %10s %10s" % (
        "N", "median", "slowest", "parse", "total", "kept", "traced", "python x", "total x"))
    for n in sizes:
        r = run_child(n, args)
        times = r["times"]
        median = statistics.median(times)
        slowest = max(times)
        python = statistics.median(r["python"])
        traced = "%7.1f MiB" % (run_child(n, args, True)["traced"] / 2**20) if args.traced else "-"
        print("%6d %7.2f ms %8.1fx %6d %7.2f s %6.1f MiB %11s %9.1fx %9.1fx" % (
            n, median * 1e3, slowest / median, times.index(slowest) + 1, sum(times), r["kept_kib"] / 1024,
            traced, python / median, python * len(times) / sum(times)))
    print("targets: slowest at most %dx the median, kept under %d MiB" % (SLOWEST_TARGET, KEPT_TARGET_MIB))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tags", default="400,1000")
    parser.add_argument("--parses", type=int, default=300)
    parser.add_argument("--python-parses", type=int, default=5)
    parser.add_argument("--traced", action="store_true")
    parser.add_argument("--child", type=int)
    args = parser.parse_args()
    if args.child:
        child(args.child, args.parses, args.python_parses, args.traced)
    else:
        report(args)


if __name__ == "__main__":
    main()
