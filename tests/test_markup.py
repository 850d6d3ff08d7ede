"""The markup compiler _mk_textloom_t and extend_markup."""
import json
import logging
import re

import pytest

from helpers import run_python
from interfering import answering

LOGGER = "mirel.textloom.core"

TYPE_TABLE = {
    "A": r"[A-Fa-f0-9:\.]+",
    "B": r"[^\)\]\}]+",
    "C": r"[^,]+",
    "F": r"\d+.\d+",
    "H": r"(?:0x)?[a-fA-F0-9]+",
    "I": r"[-A-Za-z0-9\._/:]+",
    "M": r"[0-9A-Za-z\.\:]+",
    "N": r"\d+",
    "P": r"[A-Fa-f0-9/:\.]+",
    "Q": r"[^\"]+",
    "R": r"[^\r\n]+",
    "S": r"\S+",
    "T": r"\d{2}:\d{2}:\d{2}",
    "W": r"\w+",
}

OSES = ['ketch', 'pellam', 'larch', 'brume', 'morrow', 'wend', 'dapple', 'quint', 'gorse', 'tessel', 'halvane',
        'fernet']


@pytest.fixture
def mk(core):
    return core._mk_textloom_t()


def compiled(core, text, join="-"):
    compiler = core._mk_textloom_t()
    compiler.process_marked_up_input(iter(text.splitlines()), join)
    return compiler


def warnings_of(caplog):
    return [r.getMessage() for r in caplog.records if r.name == LOGGER and r.levelno == logging.WARNING]


# ---- the class and its object ------------------------------------------------------------

def test_class_members_in_order(core):
    names = [n for n in vars(core._mk_textloom_t) if not n.startswith("__") or n == "__init__"]
    assert names == ["regex", "__init__", "escape", "convert", "_desc_max", "generate_output", "convert_output",
                     "process_marked_up_input"]
    assert core._mk_textloom_t.__bases__ == (object,)
    assert core._mk_textloom_t.__module__ == "mirel.textloom.core"


def test_type_tables(core, mk):
    assert list(core._mk_textloom_t.regex.items()) == list(TYPE_TABLE.items())
    core._mk_textloom_t()
    assert core._mk_textloom_t.regex == TYPE_TABLE
    expected = dict(TYPE_TABLE, **{k.lower(): v for k, v in TYPE_TABLE.items()})
    assert mk.regex == expected and len(mk.regex) == 28
    assert mk.regex is not core._mk_textloom_t.regex


def test_construction_state(mk):
    custom = r"|X[xX]X(?:<(?P<regex>[^>]+)>)(?:<(?P<desc>[^>]+)>)?X[xX]X)"
    allregex = mk.allregex.pattern
    assert allregex.startswith(r"(?:XA(?:<[^>]+>)?X[A-Fa-f0-9:\.]+|XB(?:<[^>]+>)?X")
    assert allregex.endswith(r"|XW(?:<[^>]+>)?X\w+" + custom)
    assert "Xn(" not in allregex
    assert r"|Xn(?:<[^>]+>)?X\d+|" in mk._alloptregex.pattern
    assert mk._alloptregex.pattern.endswith(r"|Xw(?:<[^>]+>)?X\w+" + custom)
    for pattern in (mk.allregex, mk._alloptregex):
        assert pattern.groupindex == {"regex": 1, "desc": 2} and pattern.flags == re.UNICODE
    assert mk._descregex == r"X(.)(?:<([^>]+)>)?X"
    assert mk._postItemDescRegex.pattern == r"\S*\s+([^,\r\n]+)[,\r\n]*"
    assert mk._cleanUpPdescRegex.pattern == r"[^\w-]"
    assert (mk._commands, mk._regexdict, mk._regexkeydict, mk.prefixDescSet, mk._autoKeyJoinChar) == (
        {}, {}, {}, set(), "")
    assert list(vars(mk)) == ["allregex", "regex", "_alloptregex", "_descregex", "_postItemDescRegex",
                              "_cleanUpPdescRegex", "_commands", "_regexdict", "_regexkeydict", "prefixDescSet",
                              "_autoKeyJoinChar"]


def test_help_text_describes_markers(core):
    doc = core._mk_textloom_t.__doc__
    for form in ("XxX....", "Xx<desc>X....", "XXX<regex>XXX...", "XXX<regex><desc>XXX...",
                 "the string to label the match in the table"):
        assert form in doc


# ---- markers -----------------------------------------------------------------------------

@pytest.mark.parametrize("text, captured, all_markers", [
    ("XN<mtu>X1500 bytes", ["XN<mtu>X1500"], ["XN<mtu>X1500"]),
    ("XNX1500", ["XNX1500"], ["XNX1500"]),
    ("XNXabc", [], []),
    ("XN<>X15", [], []),
    ("Xn<rate>X5", [], ["Xn<rate>X5"]),
    ("XXX<[0-9/]+><reliability>XXX255/255", ["XXX<[0-9/]+><reliability>XXX"], ["XXX<[0-9/]+><reliability>XXX"]),
    ("XxX<[0-9/]+>XXX1/255", ["XxX<[0-9/]+>XXX"], ["XxX<[0-9/]+>XXX"]),
    ("XXX<[0-9/]+>XxX1/255", ["XXX<[0-9/]+>XxX"], ["XXX<[0-9/]+>XxX"]),
    ("xXX<[0-9/]+>XXX1/255", [], []),
    ("xNX5 XNx5 XN<mtu>x5", [], []),
    ("XRXrouted XN<mtu>X1500", ["XRXrouted XN<mtu>X1500"], ["XRXrouted XN<mtu>X1500"]),
    ("XC<a>Xfoo, XN<b>X12", ["XC<a>Xfoo", "XN<b>X12"], ["XC<a>Xfoo", "XN<b>X12"]),
    ("XFX1500 XFX1.5", ["XFX1500", "XFX1.5"], ["XFX1500", "XFX1.5"]),
    ("XTX1:02:03 XTX01:02:03", ["XTX01:02:03"], ["XTX01:02:03"]),
    ("XI<rx.unicast>Xeth0/1.100", ["XI<rx.unicast>Xeth0/1.100"], ["XI<rx.unicast>Xeth0/1.100"]),
])
def test_markers(mk, text, captured, all_markers):
    assert [m.group(0) for m in mk.allregex.finditer(text)] == captured
    assert [m.group(0) for m in mk._alloptregex.finditer(text)] == all_markers


@pytest.mark.parametrize("marker, type_char, key, regex, desc", [
    ("XN<mtu>X1500", "N", "mtu", None, None),
    ("XnX5", "n", None, None, None),
    ("XXX<[0-9/]+><reliability>XXX", "X", None, "[0-9/]+", "reliability"),
    ("XxX<[0-9/]+>XXX", "x", None, "[0-9/]+", None),
])
def test_marker_parts(mk, marker, type_char, key, regex, desc):
    m = re.match(mk._descregex, marker)
    found = mk._alloptregex.search(marker)
    assert (m.group(1), m.group(2), found.group("regex"), found.group("desc")) == (type_char, key, regex, desc)


@pytest.mark.parametrize("text, expected", [
    ("(bia 5254.0070.0dff)", r"\(bia 5254.0070.0dff\)"),
    ("a+b*c?", r"a\+b\*c\?"),
    ("list[0]", r"list\[0\]"),
    ("10 usec  ", r"10 usec\s+"),
    ("10 usec \t\n", r"10 usec\s+"),
    ("1.5|x {a} ^$ \\d", "1.5|x {a} ^$ \\d"),
    ("", ""),
    ("a  b", "a  b"),
    ("  ", r"\s+"),
])
def test_escape(mk, text, expected):
    assert mk.escape(text) == expected


# ---- line conversion ---------------------------------------------------------------------------

MTU_LINE = "  MTU XNX1500 bytes, BW XNX0 Kbit, DLY XNX10 usec"
HW_LINE = "  Hardware is XWXEthernet, address is XMX0011.2233.4455"
RATE_LINE = "  5 minute input rate XNX0 bits/sec, XNX0 packets/sec"


@pytest.mark.parametrize("line, groupnum, join, key, regex", [
    (MTU_LINE, 0, "-", "mtu", r"\s+MTU\s+(\d+) bytes, BW\s+\d+ Kbit, DLY\s+\d+ usec"),
    (MTU_LINE, 1, "-", "bw", r"\s+MTU\s+\d+ bytes, BW\s+(\d+) Kbit, DLY\s+\d+ usec"),
    (MTU_LINE, 2, "-", "dly", r"\s+MTU\s+\d+ bytes, BW\s+\d+ Kbit, DLY\s+(\d+) usec"),
    ("  MTU XN<mtu>X1500 bytes", 0, "-", "mtu", r"\s+MTU\s+(\d+) bytes"),
    ("  MTU XN<In Octets>X1500 bytes", 0, "-", "In Octets", r"\s+MTU\s+(\d+) bytes"),
    ("  MTU XnX1500 bytes", 0, "-", "mtu", r"\s+MTU\s+\d+ bytes"),
    (HW_LINE, 0, "-", "hardware", r"\s+Hardware is\s+(\w+), address is\s+[0-9A-Za-z\.\:]+"),
    (HW_LINE, 1, "-", "address", r"\s+Hardware is\s+\w+, address is\s+([0-9A-Za-z\.\:]+)"),
    ("  Hardware: XWXEthernet, address: XMX5254.0070.0dff (bia XMX5254.0070.0dff)", 2, "-", "hardware-hardware-bia",
     r"\s+Hardware:\s+\w+, address:\s+[0-9A-Za-z\.\:]+ \(bia\s+([0-9A-Za-z\.\:]+)\)"),
    ("in XNX1 out XNX2 drop XNX3", 0, "-", "in", r"in\s+(\d+) out\s+\d+ drop\s+\d+"),
    ("in XNX1 out XNX2 drop XNX3", 1, "-", "in-out", r"in\s+\d+ out\s+(\d+) drop\s+\d+"),
    ("in XNX1 out XNX2 drop XNX3", 2, "-", "in-in-drop", r"in\s+\d+ out\s+\d+ drop\s+(\d+)"),
    ("XNX1 XNX2 XNX3", 2, "-", "unknown-unknown-unknown", r"\d+\s+\d+\s+(\d+)"),
    ("XAX10.0.0.1 XNX5", 1, "-", "addr-unknown", r"[A-Fa-f0-9:\.]+\s+(\d+)"),
    ("XIXeth0/1", 0, "-", "intf", r"([-A-Za-z0-9\._/:]+)"),
    ("XPX10.0.0.0/8", 0, "-", "prefix", r"([A-Fa-f0-9/:\.]+)"),
    ("XNX5 packets input, XNX100 bytes", 0, "-", "packets-input", r"(\d+) packets input,\s+\d+ bytes"),
    ("XNX5 packets input, XNX100 bytes", 1, "-", "bytes", r"\d+ packets input,\s+(\d+) bytes"),
    ("Description: XRXuplink to core", 0, "-", "description", r"Description:\s+([^\r\n]+)"),
    ("Description:   XRXuplink to core", 0, "-", "to-core", r"Description:\s+([^\r\n]+)"),
    (RATE_LINE, 0, "_", "5_minute_input_rate", r"\s+5 minute input rate\s+(\d+) bits/sec,\s+\d+ packets/sec"),
    (RATE_LINE, 1, "-", "packets-sec", r"\s+5 minute input rate\s+\d+ bits/sec,\s+(\d+) packets/sec"),
    (RATE_LINE, 0, "", "5minuteinputrate", r"\s+5 minute input rate\s+(\d+) bits/sec,\s+\d+ packets/sec"),
    ("rate/sec XNX1", 0, ".", "ratesec", r"rate/sec\s+(\d+)"),
    ("  Keepalive set (10 sec)  XWXok", 0, "-", "keepalive-set-10-sec", r"\s+Keepalive set \(10 sec\)\s+(\w+)"),
    ("  Load: 1/255, state :XWXup", 0, "-", "state", r"\s+Load:\s+1/255, state\s+:(\w+)"),
    ("this is crisis-level XNX1", 0, "-", "this", r"this is crisis-level\s+(\d+)"),
    ("  drops XNX0, Total output drops XNX0", 1, "-", "total-output-drops",
     r"\s+drops\s+\d+, Total output drops\s+(\d+)"),
    ("  drops XNX0, Total output drops XNX0 packets", 1, "-", "totaloutputdrops",
     r"\s+drops\s+\d+, Total output drops\s+(\d+) packets"),
    ("  Internet Address is XXX<[0-9\\.]+><ip_address>XXX10.10.10.5/24", 0, "-", "ip_address",
     r"\s+Internet Address is\s+([0-9\.]+)/24"),
    ("  reliability XXX<[0-9/]+><reliability>XXX255/255, txload XXX<[0-9/]+><txload>XXX1/255", 1, "-", "txload",
     r"\s+reliability\s+[0-9/]+, txload\s+([0-9/]+)"),
    ("XXX<ab><k>XXX ab cd", 0, "-", "k", r"(ab) cd"),
    ("XXX<a: b><k>XXXa: b", 0, "-", "k", r"(a:\s+b)"),
    ("  XW<duplex>Xauto-duplex, XW<speed>Xauto-speed", 1, "-", "speed", r"\s+\w+-duplex,\s+(\w+)-speed"),
    ("MTU XNX1500 bytes", 3, "-", "mtu", r"MTU\s+\d+ bytes"),
    ("XXX<.+>XXX foo XNX5", 1, "-", "unknown", r".+"),
    ("  state XW<a--b->Xup", 0, "-", "a-b", r"\s+state\s+(\w+)"),
])
def test_convert(mk, line, groupnum, join, key, regex):
    mk._autoKeyJoinChar = join
    assert mk.convert("brume", line, groupnum) == (key, regex)


def test_convert_keywords_and_no_state_change(mk):
    before = dict(vars(mk))
    assert mk.convert(os=None, line=MTU_LINE, groupnum=1)[0] == "bw"
    assert vars(mk) == before


@pytest.mark.parametrize("line, raw, key, regex", [
    ("XSX XNX5", "XSX 5", "xsx", r"XSX\s+(\d+)"),     # the escaped "XSX\s+" is itself an S marker
    ("XBX) XNX5", "XBX) 5", "xbx", r"XBX\)\s+(\d+)"),  # the escaped "XBX\)" is a B marker
    ("XXX<XNX5><k>XXXXNX5", "XNX5", "k", "(XNX5)"),
])
def test_regex_text_built_so_far_is_not_converted_again(mk, line, raw, key, regex):
    assert mk.convert("brume", line, 0) == (key, regex)
    assert re.match(regex, raw)


def test_custom_regex_with_global_flags_is_hoisted(mk):
    key, regex = mk.convert("brume", "Port XXX<(?i)up><state>XXXUP", 0)
    assert (key, regex) == ("state", r"(?i)Port\s+(up)")
    assert re.match(regex, "PORT Up").group(1) == "Up"


def test_custom_regex_not_found(mk):
    with pytest.raises(AssertionError) as info:
        mk.convert("brume", r"Value XXX<\d+>XXXabc", 0)
    assert info.value.args == (r"ERROR: regex: '\d+' doesn't match abc",)


def test_custom_regex_that_does_not_compile(mk):
    with pytest.raises(re.error, match="missing \\), unterminated subpattern"):
        mk.convert("brume", "XXX<(>XXX(", 0)


def test_convert_goes_through_escape(core):
    class Octets(core._mk_textloom_t):
        def escape(self, line):
            return super().escape(line).replace("bytes", "octets")
    assert Octets().convert("brume", "mtu XNX5 bytes", 0) == ("mtu", r"mtu\s+(\d+) octets")


@pytest.mark.parametrize("line", ["mtu XNX5 bytes", "XNX5", "a, b XNX5"])
@pytest.mark.parametrize("escaped, error", [(list, "must be str, not list"), (str.encode, "must be str, not bytes")])
def test_escape_override_returning_no_str(core, line, escaped, error):
    class Odd(core._mk_textloom_t):
        def escape(self, line):
            return escaped(line)
    with pytest.raises(TypeError, match=error):
        Odd().convert("brume", line, 0)


# ---- block compilation ----------------------------------------------------------------------------

def test_desc_max(mk):
    assert mk._desc_max("brume", "  MTU XN<mtu>X1500 bytes, BW XN<bw>X0 Kbit\n  XN<mtu_total>X5\n") == 9
    assert mk._desc_max("brume", "plain text\n  MTU XnX1500\n") == 0
    # an optional custom marker is measured
    assert mk._desc_max("brume", "XxX<\\d+>XXX5\n") == len("unknown")


def test_optional_marker_before_captured_one(mk):
    # the width pass measures position 0 (the optional marker) only, so the longer key gets no pad
    mk.convert_output("show x", "p", "  Xn<x>X5 rate XN<longer_key_name>X7\n", "brume", "")
    assert mk._regexdict == {"brume": {"SHOW_X": "        'p.longer_key_name' : r'\\s+\\d+ rate\\s+(\\d+)',\n"}}
    assert mk._regexkeydict == {"brume": {"SHOW_X": "        'p.longer_key_name' ,\n"}}


def test_convert_output_files_a_block(mk):
    mk.convert_output("show interface {ifname}", "show.intf",
                      "  MTU XN<mtu>X1500 bytes, BW XN<bw>X0 Kbit, DLY XN<dly>X10 usec\n\n  rate XnX5\n", "brume",
                      "show_interface_<WORD>")
    line = r"\s+MTU\s+{} bytes, BW\s+{} Kbit, DLY\s+{} usec"
    assert mk._commands == {"brume": {"show_interface_<WORD>": "show interface {ifname}"}}
    assert mk._regexdict == {"brume": {"show_interface_<WORD>": (
        "        'show.intf.mtu' : r'" + line.format(r"(\d+)", r"\d+", r"\d+") + "',\n"
        "        'show.intf.bw'  : r'" + line.format(r"\d+", r"(\d+)", r"\d+") + "',\n"
        "        'show.intf.dly' : r'" + line.format(r"\d+", r"\d+", r"(\d+)") + "',\n")}}
    assert mk._regexkeydict == {"brume": {"show_interface_<WORD>": (
        "        'show.intf.mtu' ,\n        'show.intf.bw'  ,\n        'show.intf.dly' ,\n")}}
    assert mk.prefixDescSet == {"brume.show.intf.mtu", "brume.show.intf.bw", "brume.show.intf.dly"}


@pytest.mark.parametrize("showcmd, cmd, expected", [
    ("show interface {ifname}", "", "SHOW_INTERFACE_{IFNAME}"),
    ("show ip-route\tvrf x", None, "SHOW_IP_ROUTE\tVRF_X"),
    ("", "", ""),
    ("show arp", "my_tag", "my_tag"),
])
def test_command_tag(mk, showcmd, cmd, expected):
    mk.convert_output(showcmd, "p", "x XNX1\n", "brume", cmd)
    assert mk._commands == {"brume": {expected: showcmd}}
    assert list(mk._regexdict["brume"]) == [expected]


def test_convert_output_defaults(mk):
    mk.convert_output("show x", "", "  MTU XN<mtu>X1\n", None, "")
    assert mk._commands == {"WEND": {"SHOW_X": "show x"}}
    assert mk._regexdict == {"WEND": {"SHOW_X": "        '.mtu' : r'\\s+MTU\\s+(\\d+)',\n"}}
    assert mk.prefixDescSet == {"WEND..mtu"}


def test_unset_show_command_and_prefix(mk):
    # unset after an OS header: the empty text, not "None"
    mk.convert_output(None, None, "  MTU XN<mtu>X1\n", "brume", "x")
    assert mk._commands == {"brume": {"x": ""}}
    assert mk._regexkeydict == {"brume": {"x": "        '.mtu' ,\n"}}
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'replace'"):
        mk.convert_output(None, "p", "MTU XNX1\n", "brume", "")
    assert list(mk._commands["brume"]) == ["x"]


def test_block_without_captures(mk):
    mk.convert_output("show x", "p", "plain\n  MTU XnX1 XxX<\\d+>XXX5\n", "brume", "X")
    assert (mk._commands, mk._regexdict, mk._regexkeydict, mk.prefixDescSet) == (
        {"brume": {"X": "show x"}}, {"brume": {"X": ""}}, {"brume": {"X": ""}}, set())


def test_duplicate_tag_in_one_block(core, caplog):
    compiler = compiled(core, "OS: wend\nCMD: show_x\nPREFIX: show.intf\nMARKUP:\nMTU XN<mtu>X1\n  mtu XN<mtu>X2 bytes\n")
    assert warnings_of(caplog) == [
        "wend.show.intf.mtu has been defined more than once (command show_x,existing re"
        "        'show.intf.mtu' : r'MTU\\s+(\\d+)',\n"
        "        'show.intf.mtu' : r'\\s+mtu\\s+(\\d+) bytes',\n"
        ", new re \\s+mtu\\s+(\\d+) bytes)."]
    assert compiler._regexdict["wend"]["show_x"].count("'show.intf.mtu'") == 2


@pytest.mark.parametrize("text, warned, commands", [
    # the same command again: the later block replaces the earlier one
    ("OS: brume\nCMD: a\nSHOWCMD: one\nPREFIX: p\nMARKUP:\nx XN<k>X1\ny XN<j>X2\n"
     "CMD: a\nSHOWCMD: two\nPREFIX: p\nMARKUP:\nz XN<k>X3\n", ["brume.p.k"], {"brume": {"a": "two"}}),
    # another command, a common key under the same prefix: both stay
    ("OS: brume\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\nCMD: b\nPREFIX: p\nMARKUP:\nz XN<k>X3\n", ["brume.p.k"],
     {"brume": {"a": "", "b": ""}}),
    # another OS, another prefix, or no OS header against "wend": no warning
    ("OS: brume\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\nOS: pellam\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\n", [],
     {"brume": {"a": ""}, "pellam": {"a": ""}}),
    ("OS: brume\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\nCMD: a\nPREFIX: q\nMARKUP:\nx XN<k>X1\n", [],
     {"brume": {"a": ""}}),
    ("CMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\nOS: wend\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\n", [],
     {"WEND": {"a": ""}, "wend": {"a": ""}}),
])
def test_duplicates_across_blocks(core, caplog, text, warned, commands):
    compiler = compiled(core, text)
    assert [w.split(" ")[0] for w in warnings_of(caplog)] == warned
    assert compiler._commands == commands
    assert set(compiler._regexdict) == set(commands)


def test_second_block_replaces_entries(core):
    compiler = compiled(core, "OS: brume\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\ny XN<j>X2\n"
                              "CMD: a\nPREFIX: p\nMARKUP:\nz XN<m>X3\n")
    assert compiler._regexkeydict == {"brume": {"a": "        'p.m' ,\n"}}
    assert compiler.prefixDescSet == {"brume.p.k", "brume.p.j", "brume.p.m"}


def test_convert_output_goes_through_its_methods(core):
    calls = []

    class Spy(core._mk_textloom_t):
        def _desc_max(self, os, output):
            calls.append(("_desc_max", os))
            return 6

        def convert(self, os, line, groupnum):
            calls.append(("convert", line, groupnum))
            return "k%d" % groupnum, "re"

    spy = Spy()
    spy.convert_output("s", "p", "a XNX1 XnX2 XNX3\n", "brume", "c")
    assert calls == [("_desc_max", "brume"), ("convert", "a XNX1 XnX2 XNX3", 0), ("convert", "a XNX1 XnX2 XNX3", 2)]
    assert spy._regexkeydict == {"brume": {"c": "        'p.k0'     ,\n        'p.k2'     ,\n"}}


# ---- reading marked-up input -----------------------------------------------------------------------

@pytest.fixture
def recorder(core):
    class Recorder(core._mk_textloom_t):
        def __init__(self):
            super().__init__()
            self.blocks = []

        def convert_output(self, *args, **kwargs):
            assert not kwargs
            self.blocks.append(args)

    return Recorder()


EXAMPLE = """OS: BRUME

CMD: show_interface_<WORD>

SHOWCMD: show interface {ifname}

PREFIX: show.intf

ACTUAL:
mgmt0 is up
  MTU 1500 bytes, BW 0 Kbit, DLY 10 usec

MARKUP:

  MTU XN<mtu>X1500 bytes, BW XN<bw>X0 Kbit, DLY XN<dly>X10 usec
  reliability XXX<[0-9/]+><reliability>XXX255/255, txload XXX<[0-9/]+><txload>XXX1/255
  EtherType is XH<ether_type>X0x0000
"""
EXAMPLE_BLOCK = ("  MTU XN<mtu>X1500 bytes, BW XN<bw>X0 Kbit, DLY XN<dly>X10 usec\n"
                 "  reliability XXX<[0-9/]+><reliability>XXX255/255, txload XXX<[0-9/]+><txload>XXX1/255\n"
                 "  EtherType is XH<ether_type>X0x0000\n")


@pytest.mark.parametrize("lines, blocks", [
    (EXAMPLE.splitlines(),
     [("show interface {ifname}", "show.intf", EXAMPLE_BLOCK, "brume", "show_interface_<WORD>")]),
    (EXAMPLE.replace("OS: BRUME\n", "").splitlines(),
     [("show interface {ifname}", "show.intf", EXAMPLE_BLOCK, None, "show_interface_<WORD>")]),
    (["OS: brume", "CMD: a", "PREFIX: p"], []),
    (["CMD: a", "MARKUP:", "", "", "CMD: b", "MARKUP:", ""], []),
    # an OS header hands the open block over with the OS before it; then the values are unset
    (["OS: Pellam", "CMD: a", "SHOWCMD: s", "PREFIX: p", "MARKUP:", "x", "OS: BRUME", "CMD: b", "MARKUP:", "y"],
     [("s", "p", "x\n", "pellam", "a"), (None, None, "y\n", "brume", "b")]),
    # CMD, SHOWCMD and PREFIX headers hand it over with the current OS; then the values are empty
    (["OS: brume", "CMD: a", "PREFIX: p", "MARKUP:", "x", "PREFIX: q", "MARKUP:", "y"],
     [("", "p", "x\n", "brume", "a"), ("", "q", "y\n", "brume", "")]),
    # not header lines: they belong to the block
    (["MARKUP:", "os: brume", "OS:brume", "OS: ", "CMD:", "SHOWCMD:x", " PREFIX: p", "markup:"],
     [("", "", "os: brume\nOS:brume\nOS: \nCMD:\nSHOWCMD:x\n PREFIX: p\nmarkup:\n", None, "")]),
    # sample output that looks like a header ends the block
    (["MARKUP:", "a XNX1", "CMD: b c", "z"], [("", "", "a XNX1\n", None, "")]),
    (["MARKUP: anything", "x", "ACTUAL:", "y"], [("", "", "x\nACTUAL:\ny\n", None, "")]),
    (["MARKUP:\n", "x\n", "y", "\n"], [("", "", "x\ny\n\n", None, "")]),
    (["PREFIX: a b  ", "CMD: c ", "MARKUP:", "x"], [("", "a b  ", "x\n", None, "c ")]),
    (["ACTUAL:", "x", "MARKUP:"], []),
    ("MARKUP:\nx XNX1\n", []),
])
def test_blocks(recorder, lines, blocks):
    assert recorder.process_marked_up_input(iter(lines)) is None
    assert recorder.blocks == blocks


@pytest.mark.parametrize("join", ["-", "__", "", 5])
def test_join_character_stored_unchanged(recorder, join):
    recorder.process_marked_up_input([], join)
    assert recorder._autoKeyJoinChar == join


def test_join_character_default(recorder):
    recorder.process_marked_up_input([])
    assert recorder._autoKeyJoinChar == "-"


def test_debug_line(mk, caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER)
    mk.process_marked_up_input(iter([]))
    assert [(r.levelno, r.getMessage()) for r in caplog.records if r.name == LOGGER] == [
        (logging.DEBUG, "process_marked_up_input")]


@pytest.mark.parametrize("lines, message", [
    (5, "Must provide an iterator to process_marked_up_input."),
    (None, "Must provide an iterator to process_marked_up_input."),
    (["MARKUP:", "x XNX1", "OS: wend "],
     "Unknown OS wend , must be one of ['ketch', 'pellam', 'larch', 'brume', 'morrow', 'wend', 'dapple', 'quint', "
     "'gorse', 'tessel', 'halvane', 'fernet']"),
    (["CMD: a", "", "MARKUP:", "x XNX1", "", "MARKUP:"], "Found two back-to-back MARKUP sections at line number 5."),
])
def test_reader_assertions(recorder, lines, message):
    with pytest.raises(AssertionError) as info:
        recorder.process_marked_up_input(lines)
    assert info.value.args == (message,)
    assert recorder.blocks == []


@pytest.mark.parametrize("answer, accepted", [(tuple, False), (list, True), (AttributeError, True)])
def test_reader_asks_collections_for_iterable(core, recorder, answer, accepted):
    # a module __getattr__ answers; without an answer collections.abc.Iterable stands in
    core.collections = answering([answer])
    if accepted:
        recorder.process_marked_up_input(["CMD: a"])
    else:
        with pytest.raises(AssertionError, match="^Must provide an iterator to process_marked_up_input.$"):
            recorder.process_marked_up_input(["CMD: a"])


def test_unknown_os_reads_supported_oses_at_each_header(core, recorder):
    core.supported_oses = ["lark"]
    recorder.process_marked_up_input(["OS: Lark", "MARKUP:", "x"])
    assert recorder.blocks == [("", "", "x\n", "lark", "")]


def test_block_failure_propagates(core):
    compiler = core._mk_textloom_t()
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'replace'"):
        compiler.process_marked_up_input(["OS: brume", "CMD: a", "MARKUP:", "x XNX1", "OS: BRUME", "MARKUP:", "y"])
    assert compiler._commands == {"brume": {"a": ""}}


def test_without_assertions():
    code = r"""
import json, logging
logging.disable()
import mirel.textloom.core as core
out = {}
c = core._mk_textloom_t()
c.process_marked_up_input(["OS: Lark", "CMD: a", "MARKUP:", "x XN<k>X1", "MARKUP:", "y XN<j>X2"])
out["unknown os"] = c._commands, c._regexkeydict
try:
    c.process_marked_up_input(5, "_")
except TypeError as e:
    out["not iterable"] = str(e), c._autoKeyJoinChar
try:
    c.convert("brume", r"Value XXX<\d+>XXXabc", 0)
except AttributeError as e:
    out["custom"] = str(e)
core.extend_markup("OS: lark\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\n")
out["generic"] = core._glb_regex, core._glb_show_commands, core._glb_regex_tags
print(json.dumps(out))
"""
    done = run_python(code, optimize=True)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == {
        "unknown os": [{"lark": {"a": ""}}, {"lark": {"a": "        '.k' ,\n        '.j' ,\n"}}],
        "not iterable": ["'int' object is not iterable", "_"],
        "custom": "'NoneType' object has no attribute 'end'",
        "generic": [{"lark": {"p.k": "x\\s+(\\d+)"}}, {"lark": {"a": ""}}, {}],
    }


# ---- registration text -------------------------------------------------------------------------

PORT_INPUT = """OS: wend
CMD: show_port
SHOWCMD: show port
PREFIX: show.port
MARKUP:
Port eth1 is XW<state>Xup
  MTU XN<mtu>X1500 bytes
"""

PORT_HEAD = """from mirel.textloom import core as tlcore
show_commands = {
    'wend': {
        'show_port': 'show port',
    },
}
regex = {
    'wend': {
        #
        # show_port ('show port')
        #
        'show.port.state' : r'Port eth1 is\\s+(\\w+)',
        'show.port.mtu'   : r'\\s+MTU\\s+(\\d+) bytes',

    },
}
"""

PORT_TAGS = """regex_tags = {
    'wend': [
        #
        # show_port ('show port')
        #
        'show.port.state' ,
        'show.port.mtu'   ,

    ],
}
"""


@pytest.mark.parametrize("args, expected", [
    ((), PORT_HEAD + "tlcore.extend (regex, show_commands)\n"),
    ((True,), PORT_HEAD + PORT_TAGS + "tlcore.extend (regex, show_commands, regex_tags)\n"),
    ((1, 0), PORT_HEAD + PORT_TAGS + "tlcore.extend (regex, show_commands, regex_tags)\n"),
    (("", "yes"), PORT_HEAD.replace("from mirel.textloom import core as tlcore", "from mirel import textloom as tlpkg")
     + "tlpkg.extend (regex, show_commands)\n"),
    ((True, True), PORT_HEAD.replace("from mirel.textloom import core as tlcore", "from mirel import textloom as tlpkg")
     + PORT_TAGS + "tlpkg.extend (regex, show_commands, regex_tags)\n"),
])
def test_worked_example(core, args, expected):
    compiler = compiled(core, PORT_INPUT)
    assert compiler.generate_output(*args) == expected
    assert compiler.generate_output(*args) == expected


def test_generate_output_keywords(core):
    text = compiled(core, PORT_INPUT).generate_output(called_from_textloom=False, generate_regex_tags=True)
    assert text == PORT_HEAD + PORT_TAGS + "tlcore.extend (regex, show_commands, regex_tags)\n"


def test_nothing_read(mk):
    assert mk.generate_output(True) == ("from mirel.textloom import core as tlcore\nshow_commands = {\n}\n"
                                        "regex = {\n}\nregex_tags = {\n}\n"
                                        "tlcore.extend (regex, show_commands, regex_tags)\n")


def test_command_order_pad_and_empty_group(core):
    text = compiled(core, "OS: brume\nCMD: show_port\nSHOWCMD: show port\nMARKUP:\nplain\n"
                          "CMD: SHOW_ARP\nSHOWCMD: show arp\nPREFIX: arp\nMARKUP:\nip XA<ip>X1.1.1.1\n").generate_output(True)
    assert text == """from mirel.textloom import core as tlcore
show_commands = {
    'brume': {
        'SHOW_ARP' : 'show arp',
        'show_port': 'show port',
    },
}
regex = {
    'brume': {
        #
        # SHOW_ARP ('show arp')
        #
        'arp.ip' : r'ip\\s+([A-Fa-f0-9:\\.]+)',

        #
        # show_port ('show port')
        #

    },
}
regex_tags = {
    'brume': [
        #
        # SHOW_ARP ('show arp')
        #
        'arp.ip' ,

        #
        # show_port ('show port')
        #

    ],
}
tlcore.extend (regex, show_commands, regex_tags)
"""


def test_os_order(core):
    text = compiled(core, "CMD: c\nMARKUP:\na XNX1\nOS: pellam\nCMD: c\nMARKUP:\na XNX1\n"
                          "OS: brume\nCMD: c\nMARKUP:\na XNX1\n").generate_output(True)
    assert re.findall(r"^    '(\w+)'", text, re.M) == ["wend", "brume", "pellam"] * 3


# ---- extend_markup -----------------------------------------------------------------------------------

# tag, line of samples/interface.txt, value captured there
INTERFACE_VALUES = [
    ("if_name", 0, "mgmt0"), ("line_protocol", 0, "up"), ("admin_state", 1, "up"), ("hardware", 2, "Ethernet"),
    ("mac_address", 2, "5254.0070.0dff"), ("bia_address", 2, "5254.0070.0dff"), ("ip_address", 3, "10.10.10.5"),
    ("mtu", 4, "1500"), ("bw", 4, "0"), ("dly", 4, "10"), ("reliability", 5, "255/255"), ("txload", 5, "1/255"),
    ("rxload", 5, "1/255"), ("encapsulation", 6, "ARPA"), ("port_mode", 7, "routed"), ("duplex", 8, "auto"),
    ("speed", 8, "auto"), ("auto_negotiation", 9, "on"), ("auto_mdix", 10, "off"), ("ether_type", 11, "0x0000"),
    ("input_bits_sec_60", 12, "112"), ("input_packets_sec_60", 12, "0"), ("output_bits_sec_60", 13, "24"),
    ("output_packets_sec_60", 13, "0"), ("input_packets", 15, "71"), ("rx.unicast", 15, "2"),
    ("rx.multicast", 15, "68"), ("rx.broadcast", 16, "1"), ("rx.bytes", 16, "22451"), ("output_packets", 18, "33"),
    ("tx.unicast", 18, "1"), ("tx.multicast", 18, "29"),
]


def test_interface_sample_is_the_marked_up_output(sample):
    marked, raw = sample("interface.markup"), sample("interface.txt").splitlines()
    lines = marked.split("\n")
    assert (len(marked), len(lines) - 1, marked.endswith("\n\n")) == (2015, 53, True)
    assert lines[9:29] == raw
    unmarked = [re.sub(r"XXX<[^>]+><[^>]+>XXX|X[A-Z]<[^>]+>X", "", line) for line in lines[33:52]]
    assert unmarked == raw[:19]


def test_interface_sample_round_trip(core, sample, caplog):
    assert core.extend_markup(sample("interface.markup")) is None
    assert warnings_of(caplog) == []
    assert core._glb_show_commands == {"brume": {"show_interface_<WORD>": "show interface {ifname}"}}
    tags = ["show.intf." + key for key, _, _ in INTERFACE_VALUES]
    assert core._glb_regex_tags == {"brume": tags}
    assert list(core._glb_regex) == ["brume"] and list(core._glb_regex["brume"]) == tags
    raw = sample("interface.txt").splitlines()
    # the receive counters' regexes also match the transmit counters, which have no tags
    also = {"rx.broadcast": [(19, "3")], "rx.bytes": [(19, "6527")]}
    for key, line, value in INTERFACE_VALUES:
        regex = core._glb_regex["brume"]["show.intf." + key]
        found = [(i, m.group(1)) for i, m in enumerate(re.match(regex, text) for text in raw) if m]
        assert found == [(line, value)] + also.get(key, []), key


def test_extend_markup_binds_in_core(core, sample):
    core.extend_markup(sample("interface.markup"))
    assert core.tlcore is core
    assert core.show_commands == core._glb_show_commands
    assert core.regex["brume"] == core._glb_regex["brume"]
    assert core.regex_tags == core._glb_regex_tags
    assert core.regex is not core._glb_regex
    assert "__builtins__" in vars(core)


def test_extend_markup_twice(core, sample, caplog):
    core.extend_markup(sample("interface.markup"))
    first = core.regex
    tables = [dict(t) for t in (core._glb_regex["brume"], core._glb_show_commands["brume"])]
    tags = list(core._glb_regex_tags["brume"])
    core.extend_markup(sample("interface.markup"), "-")
    assert warnings_of(caplog) == ["regex tag {} already exists, please change name".format(t) for t in tags]
    assert [core._glb_regex["brume"], core._glb_show_commands["brume"]] == tables
    assert core._glb_regex_tags["brume"] == tags
    assert core.regex == first and core.regex is not first


def test_extend_markup_line_ends(core, sample):
    crlf = sample("interface.markup").replace("\n", "\r\n")
    core.extend_markup(crlf)
    assert core.regex_tags["brume"][0] == "show.intf.if_name" and len(core._glb_regex["brume"]) == 32


def test_extend_markup_join_character(core):
    core.extend_markup(marked_up_input="OS: brume\nPREFIX: p\nSHOWCMD: s\nMARKUP:\n  Total output drops XNX0\n"
                                       "  state XW<admin_state>Xup\n", auto_key_join_char="_")
    assert core._glb_regex_tags == {"brume": ["p.total_output_drops", "p.admin_state"]}


def test_extend_markup_without_markup(core):
    core.extend_markup("OS: brume\nCMD: a\n")
    assert (core.show_commands, core.regex, core.regex_tags, core.tlcore) == ({}, {}, {}, core)
    assert (core._glb_regex, core._glb_show_commands, core._glb_regex_tags) == ({}, {}, {})


def test_extend_markup_block_without_captures(core):
    core.extend_markup("OS: brume\nCMD: a\nSHOWCMD: show a\nMARKUP:\nplain\n")
    assert (core._glb_regex, core._glb_show_commands, core._glb_regex_tags) == (
        {"brume": {}}, {"brume": {"a": "show a"}}, {"brume": []})


def test_extend_markup_duplicate_tag(core, caplog):
    core.extend_markup("OS: brume\nCMD: a\nPREFIX: p\nMARKUP:\nx XN<k>X1\nCMD: b\nPREFIX: p\nMARKUP:\ny XN<k>X2\n")
    assert core._glb_regex == {"brume": {"p.k": r"y\s+(\d+)"}}
    assert core._glb_regex_tags == {"brume": ["p.k"]}
    assert warnings_of(caplog)[1:] == ["regex tag p.k already exists, please change name"]


def test_extend_markup_uses_current_class(core):
    made = []

    class Counting(core._mk_textloom_t):
        def __init__(self):
            made.append(self)
            super().__init__()

    core._mk_textloom_t = Counting
    core.extend_markup("")
    assert len(made) == 1


@pytest.mark.parametrize("text, error", [
    (None, AttributeError),
    (5, AttributeError),
    ("OS: brume\nMARKUP:\nx XNX1\nOS: nope\n", AssertionError),
    ("OS: brume\nCMD: a\nMARKUP:\nx XXX<\\d+>XXXabc\n", AssertionError),
])
def test_extend_markup_failures_register_nothing(core, text, error):
    with pytest.raises(error):
        core.extend_markup(text)
    assert (core._glb_regex, core._glb_show_commands, core._glb_regex_tags) == ({}, {}, {})
    assert not {"tlcore", "show_commands", "regex", "regex_tags"} & set(vars(core))


# ---- values the registration text cannot hold between plain quotes -----------------------------------------

@pytest.mark.parametrize("text, line, regex, command", [
    ("OS: brume\nCMD: a\nSHOWCMD: show a\nPREFIX: p\nMARKUP:\nPort 'eth1' is XW<state>Xup\n",
     """        'p.state' : "Port 'eth1' is\\\\s+(\\\\w+)",\n""", ("p.state", r"Port 'eth1' is\s+(\w+)"), ("a", "show a")),
    ("OS: brume\nCMD: a\nSHOWCMD: dir bootflash:\\new\nPREFIX: p\nMARKUP:\nx XN<k>X1\n",
     "        'a': 'dir bootflash:\\\\new',\n", ("p.k", r"x\s+(\d+)"), ("a", "dir bootflash:\\new")),
    ("OS: brume\nCMD: it's\nSHOWCMD: show a\nPREFIX: p\\t\nMARKUP:\nx XN<k>X1\n",
     """        'p\\\\t.k' : r'x\\s+(\\d+)',\n""", ("p\\t.k", r"x\s+(\d+)"), ("it's", "show a")),
    ("OS: brume\nCMD: a\nSHOWCMD: show a\nPREFIX: p\nMARKUP:\ndir XW<d>Xtmp\\\n",
     "        'p.d' : 'dir\\\\s+(\\\\w+)\\\\',\n", ("p.d", "dir\\s+(\\w+)\\"), ("a", "show a")),
    ("OS: brume\nCMD: a\nSHOWCMD: show a\nPREFIX: p\nMARKUP:\ndir XW<d>Xtmp\\\\\n",
     "        'p.d' : r'dir\\s+(\\w+)\\\\',\n", ("p.d", "dir\\s+(\\w+)\\\\"), ("a", "show a")),
])
def test_values_read_back_exactly(core, text, line, regex, command):
    generated = compiled(core, text).generate_output(True)
    assert line in generated
    core.extend_markup(text)
    assert core._glb_regex == {"brume": dict([regex])}
    assert core._glb_show_commands == {"brume": dict([command])}


def test_comment_title_with_line_break(core):
    compiler = core._mk_textloom_t()
    compiler.convert_output("show a", "p", "x XN<k>X1\n", "brume", "a\rimport os")
    text = compiler.generate_output(True)
    assert "        # 'a\\rimport os' ('show a')\n" in text
    namespace = {}
    exec(text, namespace)
    assert namespace["show_commands"] == {"brume": {"a\rimport os": "show a"}}
    assert "os" not in namespace


def test_default_and_explicit_wend_are_one_group(core, caplog):
    text = ("CMD: a\nSHOWCMD: default a\nPREFIX: p\nMARKUP:\nx XN<x>X1\n"
            "CMD: c\nSHOWCMD: default c\nPREFIX: p\nMARKUP:\nz XN<z>X3\n"
            "OS: wend\nCMD: b\nSHOWCMD: wend b\nPREFIX: p\nMARKUP:\ny XN<y>X2\n"
            "CMD: a\nSHOWCMD: wend a\nPREFIX: p\nMARKUP:\nw XN<w>X4\n")
    generated = compiled(core, text).generate_output(True)
    assert generated.count("    'wend': ") == 3
    assert "        'a': 'wend a',\n        'b': 'wend b',\n        'c': 'default c',\n" in generated
    core.extend_markup(text)
    assert core._glb_show_commands == {"wend": {"a": "wend a", "b": "wend b", "c": "default c"}}
    assert core._glb_regex_tags == {"wend": ["p.w", "p.y", "p.z"]}
    assert core._glb_regex == {"wend": {"p.w": r"w\s+(\d+)", "p.y": r"y\s+(\d+)", "p.z": r"z\s+(\d+)"}}
    assert warnings_of(caplog) == []


def test_unset_values_after_os_header_register_as_empty(core):
    core.extend_markup("OS: brume\nCMD: a\nSHOWCMD: show a\nPREFIX: p\nMARKUP:\nx XN<k>X1\n"
                       "OS: pellam\nCMD: b\nMARKUP:\n  MTU XN<mtu>X2\n")
    assert core._glb_show_commands == {"brume": {"a": "show a"}, "pellam": {"b": ""}}
    assert core._glb_regex_tags == {"brume": ["p.k"], "pellam": [".mtu"]}


def test_custom_regex_with_flags_registers(core):
    core.extend_markup("OS: brume\nCMD: a\nPREFIX: p\nMARKUP:\nPort XXX<(?i)up><state>XXXUP\n")
    assert re.match(core._glb_regex["brume"]["p.state"], "port UP").group(1) == "UP"
