"""Non-tabular parse speed: _textloom_t against TextFSM on the same text.

    .venv/bin/python bench/nontabular.py

Prints microseconds per parse and ratios measured in this run, then the cost
per line of a check-mode section whose lines all mismatch, at growing sizes.
"""
import io

from common import EXPECTED, FIELDS, TAGS, TEXTFSM_TEMPLATE, best, sample

import textfsm  # noqa: E402

from mirel.textloom import core  # noqa: E402

def best_us(fn, number):
    return best(fn, number) * 1e6


def record_case(text):
    core.extend({tag: regex for tag, regex, _ in FIELDS})
    core.text_to_parse["bench"] = text
    fsm = textfsm.TextFSM(io.StringIO(TEXTFSM_TEMPLATE))

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
    record_case(sample("interface_long.txt"))
    section_case()


if __name__ == "__main__":
    main()
