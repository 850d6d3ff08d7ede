"""Memory stays flat over 10^4 parses of each kind, and a parse keeps no
reference to what the caller handed it.

Each loop runs a warm-up window untraced, then two equal windows under
tracemalloc: what the second window adds to the traced memory and to the
resident size is what every further parse would add.
"""
import contextlib
import gc
import logging
import os
import sys
import tracemalloc

import pytest

pytestmark = pytest.mark.slow

RUNS = 10_000
TRACED_LIMIT = 64 * 1024       # a leaked int per parse is 4 times this over a window
RESIDENT_LIMIT = 4 * 1024 * 1024
# ASan keeps freed memory in quarantine: the resident size grows without any leak
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")

INTERFACE = "".join("Interface eth%d\n  mtu %d\n  description link %d\n" % (i, 1500 + i, i) for i in range(30))
TABLE = "Address         Age  Hardware Addr   Interface\n" + "".join(
    "10.0.%d.%d        %d    0011.2233.%04x  eth%d\n" % (i // 200, i % 200, i % 60, i, i % 4) for i in range(40))
DELIMITED = "| Port | Speed |\n|------|-------|\n" + "".join("| e%d | %d |\n" % (i, i * 10) for i in range(20))
MARKUP = ("OS: wend\nCMD: show_leak\nSHOWCMD: show leak {name}\nPREFIX: leak\nMARKUP:\n"
          "XW<name>Xeth0 is up, line protocol is XW<state>Xup\n  MTU XN<mtu>X1500 bytes, BW XN<bw>X10 Kbit\n")
HEADINGS = ["Address", "Age", "Hardware Addr", "Interface"]
REGEXES = {"IF": r"Interface (\S+)", "MTU": [r"mtu (\d+)", r"MTU (\d+)"], "DESC": r"description (.*)"}


def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@contextlib.contextmanager
def silent():
    # log records would pile up in pytest's capture
    logging.disable(logging.CRITICAL)
    try:
        yield
    finally:
        logging.disable(logging.NOTSET)


def assert_flat(parse, runs=RUNS):
    window = runs * 2 // 5
    with silent():
        for _ in range(runs - 2 * window):
            parse()
        gc.collect()
        tracemalloc.start()
        try:
            for _ in range(window):
                parse()
            gc.collect()
            traced, resident_before = tracemalloc.get_traced_memory()[0], resident()
            for _ in range(window):
                parse()
            gc.collect()
            traced_growth = tracemalloc.get_traced_memory()[0] - traced
            resident_growth = resident() - resident_before
        finally:
            tracemalloc.stop()
    assert traced_growth < TRACED_LIMIT, "traced memory grew by %d bytes over %d parses" % (traced_growth, window)
    if not UNDER_ASAN:
        assert resident_growth < RESIDENT_LIMIT, "resident size grew by %d bytes" % resident_growth


def fresh(text):
    """An equal str that no other code holds, so that its reference count says who keeps it."""
    return "".join(list(text))


def assert_unreferenced(parse, *inputs):
    """After a first parse (which fills the tables), further parses hold no new reference to the inputs."""
    with silent():
        parse()
        gc.collect()
        before = [sys.getrefcount(o) for o in inputs]
        for _ in range(50):
            parse()
        gc.collect()
        after = [sys.getrefcount(o) for o in inputs]
    assert after == before


# ---- the parses -----------------------------------------------------------------------------

@pytest.fixture
def registry(core):
    core.extend({"ketch": dict(REGEXES)}, {"ketch": {"SHOW_INTF": "show interface {}"}},
                {"ketch": ["IF", "MTU", "DESC"]})
    return core


def nontabular(core, text, tags, values, fill):
    def parse():
        core.text_to_parse["k"] = text
        core._textloom_t("ketch", tags, values, fill, "k")._parser_validate()
    return parse


@pytest.mark.parametrize("fill, values", [(True, ["eth3", None, None]), (False, ["eth3", "1503", "link 3"]),
                                          (False, [None, ("1", "1503"), "wrong"])], ids=["fill", "check", "wildcard"])
def test_nontabular(registry, fill, values):
    assert_flat(nontabular(registry, INTERFACE, ["IF", "MTU", "DESC"], values, fill))


def converting(core):
    """A tabular parser subclass whose hooks run Python code for every cell."""
    class converting_t(core.column_table_result_core_t):
        field_mapping = {"Age": int}

        def cleanup_entry_field(self, header, field):
            return field.upper() if header == "Interface" else field
    return converting_t


@pytest.mark.parametrize("kind", ["plain", "hooks", "delimited", "titled"])
def test_tabular(core, kind):
    headings = HEADINGS
    cls, text, kwargs = core.column_table_result_core_t, TABLE, {"index": [3, 0]}
    if kind == "hooks":
        cls = converting(core)
    elif kind == "delimited":
        headings, text, kwargs = ["Port", "Speed"], DELIMITED, {"delimiter": "|"}
    elif kind == "titled":
        text, kwargs = "VRF red\n" + TABLE + "VRF blue\n" + TABLE, {"table_title_pattern": r"VRF (\S+)"}

    def parse():
        core.text_to_parse["k"] = text
        assert cls(headings, parse_key="k", **kwargs).entries
    assert_flat(parse)


def test_markup_registration(core):
    assert_flat(lambda: core.extend_markup(MARKUP), runs=RUNS // 5)


@pytest.mark.parametrize("operation", ["fill", "check", "tabular"])
def test_device_operations_on_given_output(tl, registry, operation):
    if operation == "tabular":
        def parse():
            assert tl.oper_fill_tabular(device_output=TABLE, header_fields=HEADINGS).entries
    elif operation == "fill":
        def parse():
            tl.oper_fill(None, "SHOW_INTF", [("IF", "eth0"), ("MTU", None)], device_output=INTERFACE,
                         device_os="ketch").parse()
    else:
        def parse():
            check = tl.oper_check(None, "SHOW_INTF", [("IF", "eth0"), ("MTU", "9")], device_output=INTERFACE,
                                  device_os="ketch")
            assert not check.parse()
            str(check)
    assert_flat(parse)


# ---- references to the inputs ----------------------------------------------------------------

def test_nontabular_keeps_no_reference(registry):
    text, tag, value = fresh(INTERFACE), fresh("MTU"), fresh("1503")
    alternatives = [r"mtu (\d+)", r"MTU (\d+)"]
    registry._glb_regex["ketch"][tag] = alternatives
    tags, values = ["IF", tag], ["eth3", value]
    for fill in (False, True):
        assert_unreferenced(nontabular(registry, text, tags, values, fill), text, tag, value, tags, values,
                            alternatives)


def test_tabular_keeps_no_reference(core):
    text = fresh(TABLE)
    headings = [fresh("Address")] + HEADINGS[1:]
    labels = ["a", "b", "c", "d"]
    skip = fresh("^Total")
    hooked = converting(core)
    cleanup = hooked.cleanup_entry_field

    def parse():
        core.text_to_parse["k"] = text
        hooked(headings, "---", [3, 0], None, None, False, labels, skip, "k")
    assert_unreferenced(parse, text, headings, headings[0], labels, skip, hooked, cleanup, hooked.field_mapping)


def test_device_operations_keep_no_reference(tl, registry):
    output, tag = fresh(INTERFACE), fresh("MTU")
    pairs = [("IF", "eth0"), (tag, None)]
    pattern = fresh("M.U")
    headings = list(HEADINGS)
    assert_unreferenced(lambda: tl.oper_fill(None, "SHOW_INTF", pairs, device_output=output, device_os="ketch",
                                             regex_tag_fill_pattern=pattern).parse(),
                        output, tag, pairs, pairs[1], pattern)
    assert_unreferenced(lambda: tl.oper_check(None, "SHOW_INTF", pairs, device_output=output,
                                              device_os="ketch").parse(), output, pairs, pairs[0])
    table = fresh(TABLE)
    assert_unreferenced(lambda: tl.oper_fill_tabular(device_output=table, header_fields=headings, index=[0]),
                        table, headings)


def test_markup_keeps_no_reference(core):
    text, join = fresh(MARKUP), fresh("_")
    assert_unreferenced(lambda: core.extend_markup(text, join), text, join)
