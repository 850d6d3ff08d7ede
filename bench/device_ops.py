"""Device operations against the core parsers they wrap, and against TextFSM.

    .venv/bin/python bench/device_ops.py

oper_fill and oper_check on the interface record (the public call and core's
parser timed in turns, best of rounds) and oper_fill_tabular on a table of 10^5
rows, through the package's public names, on output given as text. Prints
the time per call, the overhead over calling core's parsers directly on the
same text (the target is under 10%), and TextFSM's time for the same work as
a ratio (TextFSM / textloom), all measured in this run.
"""
import io
import timeit

from common import EXPECTED, FIELDS, TAGS, TEXTFSM_TEMPLATE, best, sample

from mirel.textloom import core, oper_check, oper_fill, oper_fill_tabular  # noqa: E402

try:
    import textfsm  # noqa: E402
except ImportError:  # the bench extra is not installed
    textfsm = None

ROWS = 10 ** 5
HEADER = ["Address", "Age", "MAC Address", "Interface"]


def show(name, ours, direct, peer=None):
    line = "  %-42s %10.1f us %10.1f us %+8.1f%%" % (name, ours * 1e6, direct * 1e6, (ours / direct - 1) * 100)
    if peer is not None:
        line += " %8.2fx" % (peer / ours)
    print(line)


def header():
    print("  %-42s %13s %13s %9s %9s" % ("", "public API", "core direct", "overhead", "TextFSM/"))


def interleaved(fns, number, rounds=9):
    """Seconds per call of each function: the best of `rounds` runs of `number`
    calls, the functions taking turns in every round (so load drifts hit all alike)."""
    times = [float("inf")] * len(fns)
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            times[i] = min(times[i], timeit.timeit(fn, number=number) / number)
    return times


def record():
    text = sample("interface_long.txt")
    core.extend({"brume": {tag: regex for tag, regex, _ in FIELDS}}, None, {"brume": TAGS})
    fill_pairs = [(TAGS[0], EXPECTED[0])] + [(tag, None) for tag in TAGS[1:]]
    fill_values = [v for _, v in fill_pairs]
    check_pairs = list(zip(TAGS, EXPECTED))
    peer = None
    if textfsm:
        fsm = textfsm.TextFSM(io.StringIO(TEXTFSM_TEMPLATE))

        def theirs():
            fsm.Reset()
            return fsm.ParseText(text)
        assert theirs()[0][0] == EXPECTED[0]
        peer = best(theirs, 2000)
    print("interface record of %d lines, %d tags" % (text.count("\n"), len(TAGS)))
    header()
    for cls, pairs, values, fill in ((oper_fill, fill_pairs, fill_values, True),
                                     (oper_check, check_pairs, EXPECTED, False)):
        def public():
            return cls(attrvalpairs=pairs, device_output=text, device_os="brume").parse()

        def direct():
            core.text_to_parse["device_name"] = text
            return core._textloom_t("brume", TAGS, values, fill, "device_name")._parser_validate()[0]

        prepared = cls(attrvalpairs=pairs, device_output=text, device_os="brume")
        assert public() and direct() and prepared.parse()
        d, p, q = interleaved([direct, public, prepared.parse], 500)
        show("%s: construct + parse()" % cls.__name__, p, d, peer)
        show("%s: parse() of a prepared object" % cls.__name__, q, d, peer)


def table():
    rows = ["%-15s %-9s %-15s %s" % ("10.%d.%d.%d" % (i >> 16, (i >> 8) & 255, i & 255), "0:%02d:%02d" % (i % 60, i % 59),
                                      "0050.56%02x.%04x" % (i & 255, i & 0xffff), "Ethernet1/%d" % (i % 48))
            for i in range(ROWS)]
    text = "%-15s %-9s %-15s %s\r\n" % tuple(HEADER) + "\r\n".join(rows) + "\r\n"
    normal = text.replace("\r\n", "\n") + "\n"

    def public():
        return oper_fill_tabular(device_output=text, header_fields=HEADER).entries

    def direct():
        core.text_to_parse["device_name"] = normal
        return core.column_table_result_core_t(HEADER, None, 0, parse_key="device_name").entries

    assert len(public()) == len(direct()) == ROWS
    peer = None
    if textfsm:
        template = ("Value ADDRESS (\\d+\\.\\d+\\.\\d+\\.\\d+)\nValue AGE (\\S+)\nValue MAC (\\S+)\nValue INTERFACE (\\S+)\n\nStart\n"
                    "  ^${ADDRESS}\\s+${AGE}\\s+${MAC}\\s+${INTERFACE} -> Record\n")
        fsm = textfsm.TextFSM(io.StringIO(template))

        def theirs():
            fsm.Reset()
            return fsm.ParseText(normal)
        assert len(theirs()) == ROWS
        peer = best(theirs, 1, 3)
    print("oper_fill_tabular, table of %d rows" % ROWS)
    header()
    show("construct (whole parse)", best(public, 1, 3), best(direct, 1, 3), peer)


if __name__ == "__main__":
    for case in (record, table):
        try:
            case()
        except NotImplementedError:
            print("%s: the core parser it wraps is not built yet" % case.__name__)
        print()
