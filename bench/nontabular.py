"""Non-tabular parse speed: _textloom_t against TextFSM on the same text.

    .venv/bin/python bench/nontabular.py

Prints microseconds per parse and ratios measured in this run, then the cost
per line of a check-mode section whose lines all mismatch, at growing sizes.
"""
import io
import os
import sys
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "standins")]

import textfsm  # noqa: E402

from mirel.textloom import core  # noqa: E402

# tag, regex, TextFSM rule (a None rule: the value is captured by the rule before it)
FIELDS = [
    ("NAME", r"(\S+) is (?:up|down)", r"^${NAME} is (?:up|down)"),
    ("ADMIN", r"admin state is (\S+)", r"^admin state is ${ADMIN}"),
    ("HW", r"\s+Hardware: (\S+),", r"^\s+Hardware: ${HW}, address: ${MAC}"),
    ("MAC", r"\s+Hardware: .*address: (\S+)", None),
    ("IP", r"\s+Internet Address is (\S+)", r"^\s+Internet Address is ${IP}"),
    ("MTU", r"\s+MTU (\d+) bytes", r"^\s+MTU ${MTU} bytes, BW ${BW} Kbit, DLY ${DLY} usec"),
    ("BW", r"\s+MTU .*BW (\d+) Kbit", None),
    ("DLY", r"\s+MTU .*DLY (\d+) usec", None),
    ("RELY", r"\s+reliability (\S+),", r"^\s+reliability ${RELY},"),
    ("ENCAP", r"\s+Encapsulation (\S+),", r"^\s+Encapsulation ${ENCAP},"),
    ("MODE", r"\s+Port mode is (\S+)", r"^\s+Port mode is ${MODE}"),
    ("DUPLEX", r"\s+(\S+)-duplex", r"^\s+${DUPLEX}-duplex"),
    ("IN_RATE", r"\s+1 minute input rate (\d+) bits/sec", r"^\s+1 minute input rate ${IN_RATE} bits/sec"),
    ("IN_PKTS", r"\s+(\d+) input packets", r"^\s+${IN_PKTS} input packets"),
]
TAGS = [tag for tag, _, _ in FIELDS]
EXPECTED = ["mgmt0", "up", "Ethernet", "5254.0070.0dff", "10.10.10.5/24", "1500", "1000000", "10",
            "255/255", "ARPA", "routed", "full", "112", "71"]
TEMPLATE = "".join("Value %s (\\S+)\n" % tag for tag in TAGS) + "\nStart\n" + "".join(
    "  %s\n" % rule for _, _, rule in FIELDS if rule)


def best_us(fn, number):
    return min(timeit.repeat(fn, number=number, repeat=7)) / number * 1e6


def record_case(text):
    core.extend({tag: regex for tag, regex, _ in FIELDS})
    core.text_to_parse["bench"] = text
    fsm = textfsm.TextFSM(io.StringIO(TEMPLATE))

    def ours(values, fill):
        def run():
            return core._textloom_t("ketch", TAGS, values, fill, "bench")._parser_validate()
        return run

    def theirs(check):
        def run():
            fsm.Reset()
            row = dict(zip(fsm.header, fsm.ParseText(text)[0]))
            return [row[tag] for tag in TAGS] == EXPECTED if check else row
        return run

    fill_values = ["mgmt0"] + [None] * (len(TAGS) - 1)
    assert ours(fill_values, True)()[0] and core.ext_dictio["bench"] == dict(zip(TAGS, EXPECTED))
    assert ours(EXPECTED, False)()[0] and theirs(True)()
    lines = len(text.splitlines())
    print("record of %d lines, %d values" % (lines, len(TAGS)))
    print("  %-22s %10s %10s %8s" % ("", "textloom", "TextFSM", "ratio"))
    for name, mine, other in (("fill", ours(fill_values, True), theirs(False)),
                              ("check", ours(EXPECTED, False), theirs(True))):
        a, b = best_us(mine, 2000), best_us(other, 2000)
        print("  %-22s %8.1f us %8.1f us %7.2fx" % (name + " mode, per parse", a, b, b / a))


def section_case():
    core.extend({"IFACE": r"Interface (\S+)", "COUNT": r"\s+counter (\d+)"})
    print("check mode, one section whose every line mismatches until the last")
    print("  %-8s %14s %12s" % ("lines", "textloom", "per line"))
    for n in (2500, 5000, 10000, 20000, 40000):
        core.text_to_parse["big"] = "Interface eth0\n" + "  counter 1\n" * n + "  counter 7"

        def run():
            return core._textloom_t("ketch", ["IFACE", "COUNT"], ["eth0", "7"], False, "big")._parser_validate()
        assert run()[0] is True
        us = best_us(run, 3)
        print("  %-8d %11.0f us %9.0f ns" % (n, us, us * 1000 / n))


def main():
    with open(os.path.join(ROOT, "samples", "interface_long.txt"), encoding="utf-8") as f:
        record_case(f.read())
    section_case()


if __name__ == "__main__":
    main()
