"""Non-tabular parse speed: _textloom_t against TextFSM on the same text.

    .venv/bin/python bench/nontabular.py

Prints microseconds per parse and ratios measured in this run (textloom and
TextFSM timed in interleaved rounds, best of each) for two interface records,
the second with its regexes anchored "^\\s+" as users write them; then the
share of a parse spent in the stop rule, and the cost per line of a
check-mode section whose lines all mismatch, at growing sizes.

The stop rule is timed three ways on the same parse:
  combined  as it runs: one alternation of the consumed patterns per line;
  one by one  core.match rebound to a Python wrapper of re.match: the
            alternation is used only while core's match is re's own, and the
            non-tabular parse calls core.match nowhere else, so this leaves
            every other step as it is and tests each consumed pattern in turn;
  none      the hook overridden by operator.is_not, a C function that answers
            True for the two arguments: one call per line, no matching.
The share is (parse - parse with none) / parse.
"""
import io
import operator
import re
import timeit

from common import EXPECTED, FIELDS, TAGS, TEXTFSM_TEMPLATE, best, sample

import textfsm  # noqa: E402

from mirel.textloom import core  # noqa: E402

ROUNDS = 7
NUMBER = 1000

# the second record: the regexes of the indented lines anchored, its own values
ANCHORED = [(tag, "^" + regex if regex.startswith(r"\s+") else regex, rule) for tag, regex, rule in FIELDS]
PELLAM_EXPECTED = ["MgmtEth0/0/CPU0/0", "up", "Ethernet", "5254.0070.0dff", "10.10.10.5/24", "1514", "0", "10",
                   "255/255", "ARPA", "routed", "auto", "112", "71"]


def best_us(fn, number):
    return best(fn, number) * 1e6


def interleaved(fns, number=NUMBER, rounds=ROUNDS):
    """Microseconds per call of each function, best of `rounds` rounds that run them in turn."""
    times = [float("inf")] * len(fns)
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            times[i] = min(times[i], timeit.timeit(fn, number=number) / number)
    return [t * 1e6 for t in times]


def plain_match(*args, **kwargs):
    return re.match(*args, **kwargs)


class unchecked_t(core._textloom_t):
    _parser_check_scope = operator.is_not


def record_case(name, os, text, fields, expected):
    key = "bench-" + name
    core.extend({os: {tag: regex for tag, regex, _ in fields}})
    core.text_to_parse[key] = text
    fsm = textfsm.TextFSM(io.StringIO(TEXTFSM_TEMPLATE))

    def ours(values, fill, cls=core._textloom_t):
        def run():
            return cls(os, TAGS, values, fill, key)._parser_validate()
        return run

    def theirs(check):
        def run():
            fsm.Reset()
            row = dict(zip(fsm.header, fsm.ParseText(text)[0]))
            return [row[tag] for tag in TAGS] == expected if check else row
        return run

    fill_values = [expected[0]] + [None] * (len(TAGS) - 1)
    assert ours(fill_values, True)()[0] and core.ext_dictio[key] == dict(zip(TAGS, expected))
    assert ours(expected, False)()[0] and theirs(True)()
    print("%s record of %d lines, %d values" % (name, len(text.splitlines()), len(TAGS)))
    print("  %-22s %10s %10s %8s %11s %11s" % ("", "textloom", "TextFSM", "ratio", "stop rule", "one by one"))
    modes = (("fill", fill_values, True, False), ("check", expected, False, True))
    for mode, values, fill, check in modes:
        mine, other, unchecked = ours(values, fill), theirs(check), ours(values, fill, unchecked_t)
        assert unchecked() == mine()
        a, b, none = interleaved([mine, other, unchecked])
        matched, core.match = core.match, plain_match
        try:
            assert mine() == unchecked()
            before, none_before = interleaved([mine, unchecked])
        finally:
            core.match = matched
        print("  %-22s %8.1f us %8.1f us %7.2fx %10.0f%% %10.0f%%" % (
            mode + " mode, per parse", a, b, b / a, max(a - none, 0) / a * 100,
            max(before - none_before, 0) / before * 100))


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
    record_case("interface", "ketch", sample("interface_long.txt"), FIELDS, EXPECTED)
    record_case("anchored", "pellam", sample("interface_pellam.txt"), ANCHORED, PELLAM_EXPECTED)
    section_case()


if __name__ == "__main__":
    main()
