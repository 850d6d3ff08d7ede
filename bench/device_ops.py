"""Device operations against the core parsers they wrap, and against TextFSM.

    .venv/bin/python bench/device_ops.py

oper_fill on the interface record and oper_fill_tabular on a table of 10^5
rows, through the package's public names, on output given as text. Prints
the time per call, the overhead over calling core's parsers directly on the
same text (the target is under 10%), and TextFSM's time for the same work as
a ratio (TextFSM / textloom), all measured in this run.
"""
import io

from common import EXPECTED, FIELDS, TAGS, TEXTFSM_TEMPLATE, best, sample

from mirel.textloom import core, oper_fill, oper_fill_tabular  # noqa: E402

try:
    import textfsm  # noqa: E402
except ImportError:  # the bench extra is not installed
    textfsm = None

ROWS = 10 ** 5
HEADER = ["Address", "Age", "MAC Address", "Interface"]


def show(name, ours, direct, peer=None):
    line = "  %-34s %10.1f us %10.1f us %+8.1f%%" % (name, ours * 1e6, direct * 1e6, (ours / direct - 1) * 100)
    if peer is not None:
        line += " %8.2fx" % (peer / ours)
    print(line)


def header():
    print("  %-34s %13s %13s %9s %9s" % ("", "public API", "core direct", "overhead", "TextFSM/"))


def record():
    text = sample("interface_long.txt")
    core.extend({"brume": {tag: regex for tag, regex, _ in FIELDS}}, None, {"brume": TAGS})
    pairs = [(TAGS[0], EXPECTED[0])] + [(tag, None) for tag in TAGS[1:]]
    values = [v for _, v in pairs]

    def public():
        return oper_fill(attrvalpairs=pairs, device_output=text, device_os="brume").parse()

    def direct():
        core.text_to_parse["device_name"] = text
        return core._textloom_t("brume", TAGS, values, True, "device_name")._parser_validate()[0]

    prepared = oper_fill(attrvalpairs=pairs, device_output=text, device_os="brume")
    assert public() and direct() and prepared.parse()
    peer = None
    if textfsm:
        fsm = textfsm.TextFSM(io.StringIO(TEXTFSM_TEMPLATE))

        def theirs():
            fsm.Reset()
            return fsm.ParseText(text)
        assert theirs()[0][0] == EXPECTED[0]
        peer = best(theirs, 2000)
    print("oper_fill, interface record of %d lines, %d tags" % (text.count("\n"), len(TAGS)))
    header()
    d = best(direct, 2000)
    show("construct + parse()", best(public, 2000), d, peer)
    show("parse() of a prepared object", best(prepared.parse, 2000), d, peer)


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
