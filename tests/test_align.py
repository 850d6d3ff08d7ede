"""The alignment of drawn tables: against its plain-Python transcription on
generated tables (narrow and wide characters, bars inside cells, ragged and
empty lines, carriage returns, tabs, cells holding the marker words), the
width of each column, delimiters that a bound sub could read as a template,
and a header test whose heading list changes under it."""
import re

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import align_reference

EXAMPLES = settings(max_examples=400, deadline=None, derandomize=True, database=None,
                    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])

HEADINGS = ["Port", "Status", "Address", r"Age \(min\)", "Vlan(\\d+)", "", "Name|Id", "\xe9tat", "\u72b6\u614b",
            "\U0001f600x", "[a-z]+", "new_line", "header_missing"]
WORDS = ["Port", "Status", "Ports", "Age (min)", "Vlan12", "eth0", "up", "down", "\xe9tat", "\u72b6\u614b",
         "\U0001f600x", "\U0010ffff", "new_line", "header_missing", "anew_line b", "xheader_missing\t", "#_D_#",
         "#", "a" * 45, "e", "\u3000", "\x85"]
SHORT_WORDS = [w for w in WORDS if len(w) <= 16]


def cells_of(words):
    return st.one_of(
        st.sampled_from(words),
        st.sampled_from(["", " ", "   ", "\t", " \t ", "|"]),
        st.builds(lambda left, word, right: left + word + right,
                  st.sampled_from(["", " ", "  "]), st.sampled_from(words), st.sampled_from(["", " ", "   "])),
        st.text(st.sampled_from("ab |\t\xe9\u4e00\U0001f600#_e"), max_size=6))


LINE_ENDS = st.sampled_from(["\n", "\n", "\r\n", "\r", "\n\n"])


@st.composite
def drawn_table(draw, words=WORDS):
    multi_line = draw(st.booleans())
    width = draw(st.integers(2, 4))
    first = draw(st.lists(st.sampled_from(HEADINGS), min_size=width, max_size=width))
    header_fields = [first, draw(st.lists(st.sampled_from(HEADINGS), min_size=width, max_size=width))] \
        if multi_line else first
    delimiter = draw(st.sampled_from(["", "|", "|", "||", "!", "\u2502", "e", " ", "\n|", "\\", " | ", "| ", " \u3000"]))
    bar = delimiter or "|"
    # a bar at a line's end, with or without the white space the delimiter holds
    edge = draw(st.sampled_from([bar, bar.strip() or bar]))
    lines = []
    for _ in range(draw(st.integers(1, 8))):
        kind = draw(st.sampled_from(["heading", "row", "row", "row", "plain", "empty"]))
        if kind == "heading":
            cells = [" %s " % h.replace("\\", "") for h in draw(st.sampled_from(
                [first, header_fields[-1]] if multi_line else [first]))]
        elif kind == "row":
            cells = draw(st.lists(cells_of(words), min_size=1, max_size=width + 2))
        elif kind == "plain":
            lines.append(draw(st.sampled_from(["title", "note   wide", "R1#", "  "])))
            continue
        else:
            lines.append("")
            continue
        line = bar.join(cells)
        if draw(st.booleans()):
            line = edge + line
        if draw(st.booleans()):
            line = line + edge
        lines.append(draw(st.sampled_from(["", " ", "\t"])) + line + draw(st.sampled_from(["", " ", "\t"])))
    text = "".join(line + draw(LINE_ENDS) for line in lines)
    return multi_line, text, header_fields, delimiter


@pytest.fixture
def parser(core):
    return core.column_table_result_core_t.__new__(core.column_table_result_core_t)


@EXAMPLES
@given(case=drawn_table(), right_justified=st.booleans())
def test_alignment_matches_the_transcription(parser, case, right_justified):
    multi_line, text, header_fields, delimiter = case
    parser.multi_line = multi_line
    expected = align_reference.align_table(multi_line, text, header_fields, delimiter, right_justified)
    got = parser.align_table(text, header_fields, None, delimiter, right_justified)
    assert got == expected
    assert (got is text) == (expected is text)


@EXAMPLES
@given(case=drawn_table(), right_justified=st.booleans())
def test_rebound_functions_give_the_same_alignment(core, parser, case, right_justified):
    # core's sub and escape rebound to wrappers of re's own take the path through them
    multi_line, text, header_fields, delimiter = case
    parser.multi_line = multi_line
    expected = parser.align_table(text, header_fields, None, delimiter, right_justified)
    core.sub = lambda pattern, repl, string: re.sub(pattern, repl, string)
    core.escape = lambda s: re.escape(s)
    try:
        assert parser.align_table(text, header_fields, None, delimiter, right_justified) == expected
    finally:
        core.sub, core.escape = re.sub, re.escape


@EXAMPLES
@given(case=drawn_table(SHORT_WORDS), right_justified=st.booleans())
def test_without_a_cell_wider_than_w_every_column_is_w_wide(parser, case, right_justified):
    # the steps as written, every cell justified to W: what the widths per column leave as it was
    multi_line, text, header_fields, delimiter = case
    parser.multi_line = multi_line
    assert parser.align_table(text, header_fields, None, delimiter, right_justified) \
        == align_reference.align_table(multi_line, text, header_fields, delimiter, right_justified, per_column=False)


PORTS = "| Port | Status |\n| eth0 | up     |\n| eth1 |        |\n"


def test_alignment_from_a_rebound_compile(core, parser):
    # the compile aligns another table meanwhile and rebinds sub for the later steps
    parser.multi_line = False
    inner = []

    def compile(pattern):
        if not inner:
            inner.append(None)
            inner[0] = parser.align_table(PORTS, ["Port", "Status"], None, "", True)
            core.sub = lambda pattern, repl, string: re.sub(pattern, lambda m: repl, string)
            core.compile = re.compile
        return re.compile(pattern)
    core.compile = compile
    text = "| Port | Status |\n| eth\u4e00 | up |\n|  | \U0001f600 |\n"
    assert parser.align_table(text, ["Port", "Status"], None, "|", False) \
        == align_reference.align_table(False, text, ["Port", "Status"], "|", False)
    assert inner == [align_reference.align_table(False, PORTS, ["Port", "Status"], "", True)]


# ---- the width of each column ----------------------------------------------------------

def aligned(d, right_justified, widths, header_rows, data_rows):
    """The aligned text: the rows' cells justified to their columns' widths."""
    def line(cells):
        return d + d.join(c.rjust(w) if right_justified else c.ljust(w) for c, w in zip(cells, widths)) + d + "\n"
    return "".join(map(line, header_rows)) + "+----+\n" + "".join(map(line, data_rows)) + "\n"


# text (drawn with "|"), header_fields, the widths of the columns, the header rows, the data rows;
# W is 28 for the headings Port and Status (a first header row's longest cell " Status " and 20)
WIDTHS = {
    "a data cell": ("| Port | Status |\n| eth0 | " + "u" * 40 + " |\n| eth1 | down |\n", ["Port", "Status"],
                    [28, 41], [["Port", "Status"]], [["eth0", "u" * 40], ["eth1", "down"]]),
    "a cell of a later header row": (
        "| Port | Status |\n| Port | Status as the device reports it |\n| eth0 | up |\n", ["Port", "Status"],
        [28, 32], [["Port", "Status"], ["Port", "Status as the device reports it"]], [["eth0", "up"]]),
    "two columns": ("| Port | Status |\n| " + "p" * 30 + " | " + "s" * 35 + " |\n| eth0 | up |\n", ["Port", "Status"],
                    [31, 36], [["Port", "Status"]], [["p" * 30, "s" * 35], ["eth0", "up"]]),
    "a short row and a long one": (
        "| Port | Status |\n| " + "e" * 30 + " |\n| eth1 | up | extra |\n", ["Port", "Status"],
        [31, 28, 28], [["Port", "Status"]], [["e" * 30], ["eth1", "up", "extra"]]),
    "a two-line heading": (  # W 27, of " Admin "
        "| Port | Admin | Oper |\n|      | State | State |\n| 1/1 | up | " + "d" * 30 + " |\n",
        [["Port", "Admin", "Oper"], ["", "State", "State"]],
        [27, 27, 31], [["Port", "Admin", "Oper"], ["", "State", "State"]], [["1/1", "up", "d" * 30]]),
    "empty cells": (  # blank cells come out as blanks as wide as their columns
        "| Port | Status | Note |\n| eth0 |  | " + "n" * 40 + " |\n| eth1 | up |    |\n|  | down | x |\n",
        ["Port", "Status", "Note"],
        [28, 28, 41], [["Port", "Status", "Note"]], [["eth0", "", "n" * 40], ["eth1", "up", ""], ["", "down", "x"]]),
}


@pytest.mark.parametrize("delimiter", ["|", "||"])
@pytest.mark.parametrize("right_justified", [False, True])
@pytest.mark.parametrize("case", sorted(WIDTHS))
def test_each_column_is_as_wide_as_its_longest_cell(parser, case, right_justified, delimiter):
    text, header_fields, widths, header_rows, data_rows = WIDTHS[case]
    parser.multi_line = isinstance(header_fields[0], list)
    out = parser.align_table(text.replace("|", delimiter), header_fields, None, delimiter, right_justified)
    assert out == aligned(delimiter, right_justified, widths, header_rows, data_rows)


@pytest.mark.parametrize("delimiter", ["|", "||"])
@pytest.mark.parametrize("right_justified", [False, True])
@pytest.mark.parametrize("text, header_fields, entries", [
    ("| Port | Status | Description |\n| eth0 | " + "u" * 60 + " | rack 1 |\n| eth1 | down | rack 2 |\n",
     ["Port", "Status", "Description"],
     {"eth0": {"Port": "eth0", "Status": "u" * 60, "Description": "rack 1"},
      "eth1": {"Port": "eth1", "Status": "down", "Description": "rack 2"}}),
    ("| Port | Admin | Oper |\n|      | State | State |\n| 1/1 | " + "u" * 60 + " | down |\n| 1/2 | up | up |\n",
     [["Port", "Admin", "Oper"], ["", "State", "State"]],
     {"1/1": {"Port ": "1/1", "Admin State": "u" * 60, "Oper State": "down"},
      "1/2": {"Port ": "1/2", "Admin State": "up", "Oper State": "up"}}),
])
def test_rows_with_an_overflowing_cell_parse_into_their_entries(core, text, header_fields, entries, right_justified,
                                                                 delimiter):
    # the column bounds taken from the heading fit every row
    core.text_to_parse[""] = text.replace("|", delimiter)
    t = core.column_table_result_core_t(header_fields, right_justified=right_justified, delimiter=delimiter)
    assert t.entries == entries


# ---- delimiters that hold blanks -------------------------------------------------------

# tables as rows of cells: the first rows are the heading lines
BLANK_DELIMITED = {
    "one heading line": ([["Port", "Status"], ["eth0", "up"], ["eth1", "down"]], ["Port", "Status"]),
    "empty cells": ([["Port", "Status", "Vlan"], ["eth0", "", "10"], ["eth1", "down", ""], ["eth2", "  ", "30"]],
                    ["Port", "Status", "Vlan"]),
    "two heading lines": ([["Port", "Admin", "Oper"], ["", "State", "State"], ["1/1", "up", "down"]],
                          [["Port", "Admin", "Oper"], ["", "State", "State"]]),
}


def drawn_with(rows, delimiter, bars_at_ends, cell_blanks=""):
    """The rows drawn with `delimiter` between cells; a bar at each line end
    stands without the blank outside it, as devices print it."""
    lines = []
    for cells in rows:
        line = delimiter.join(cell_blanks + c + cell_blanks for c in cells)
        if bars_at_ends:
            line = delimiter.lstrip() + line + delimiter.rstrip()
        lines.append(line)
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("bars_at_ends", [False, True])
@pytest.mark.parametrize("right_justified", [False, True])
@pytest.mark.parametrize("delimiter", [" | ", " |", "| ", "  |  ", " \u2502 "])
@pytest.mark.parametrize("case", sorted(BLANK_DELIMITED))
def test_a_delimiter_holding_blanks_gives_the_entries_of_its_bar(core, case, delimiter, right_justified,
                                                                  bars_at_ends):
    # the steps that take the row ends and the empty cells out leave the delimiter's blanks to it
    rows, header_fields = BLANK_DELIMITED[case]
    bar = delimiter.strip()

    def entries(text, d):
        core.text_to_parse[""] = text
        return core.column_table_result_core_t(header_fields, right_justified=right_justified, delimiter=d).entries

    expected = entries(drawn_with(rows, bar, bars_at_ends, " "), bar)
    assert expected
    assert entries(drawn_with(rows, delimiter, bars_at_ends), delimiter) == expected


@pytest.mark.parametrize("right_justified", [False, True])
def test_a_delimiter_holding_blanks_is_written_whole(parser, right_justified):
    parser.multi_line = False
    text = "| Port | Status |\n| eth0 | up |\n| eth1 |  |\n"
    out = parser.align_table(text, ["Port", "Status"], None, " | ", right_justified)
    assert out == aligned(" | ", right_justified, [26, 26], [["Port", "Status"]], [["eth0", "up"], ["eth1", ""]])


# ---- delimiters that a template would read otherwise -----------------------------------

@pytest.mark.parametrize("bound", ["re's own", "a wrapper of sub", "a wrapper of escape"])
@pytest.mark.parametrize("delimiter", ["\\", "\\1", "\\g<0>", "\\n", "|", "||"])
def test_the_delimiter_is_taken_literally_through_the_bound_functions(core, parser, delimiter, bound):
    if bound == "a wrapper of sub":
        core.sub = lambda pattern, repl, string: re.sub(pattern, repl, string)
    elif bound == "a wrapper of escape":
        core.escape = lambda text: re.escape(text)
    parser.multi_line = False
    for right_justified in (False, True):
        expected = align_reference.align_table(False, PORTS, ["Port", "Status"], "|", right_justified)
        out = parser.align_table(PORTS.replace("|", delimiter), ["Port", "Status"], None, delimiter, right_justified)
        assert out == expected.replace("|", delimiter)


# ---- the header test reads header_fields as it stands ----------------------------------

class Text(str):
    """A heading text whose hash runs `edit` once."""
    edit = None

    def __hash__(self):
        edit, Text.edit = Text.edit, None
        if edit:
            edit()
        return str.__hash__(self)

    __eq__ = str.__eq__


# the bound function (or a heading text's hash) that changes header_fields the first time it runs, the change,
# the table, header_fields
HEADING_CHANGES = {
    # a search for the one-cell row between two tables, from then on re's own again
    "search between two rows": ("search", lambda hf: hf.__setitem__(1, "State"),
                                "| Port | Status |\n| eth0 | up |\nnote   wide\n| Port | State |\n| eth1 | down |\n",
                                ["Port", "Status"]),
    # the repeated heading then fails the test, but stands among the header rows: no data row
    "search before a repeated heading": ("search", lambda hf: hf.__setitem__(1, "State"),
                                         "| Port | Status |\nnote   wide\n| Port | Status |\n| eth0 | up |\n",
                                         ["Port", "Status"]),
    # compiling Port, the first text of the first row, changes the text after it
    "compile in the middle of a row": ("compile", lambda hf: hf.__setitem__(1, "Other"),
                                       "| Port | Status |\n| Port | Other |\n| eth0 | up |\n", ["Port", "Status"]),
    "compile shortening the list": ("compile", lambda hf: hf.__delitem__(slice(1, None)),
                                    "| Port | Status |\n| eth0 | up |\n", ["Port", "Status"]),
    "compile dropping a heading line": ("compile", lambda hf: hf.__delitem__(1),
                                        "| Port | Admin |\n|      | State |\n| 1/1 | up |\n",
                                        [["Port", "Admin"], ["", "State"]]),
    "compile adding a heading line": ("compile", lambda hf: hf.append(["e", "u"]),
                                      "| Port | Admin |\n| eth0 | up |\n", [["Port", "Admin"], ["", "State"]]),
    "a heading text's hash": ("hash", lambda hf: hf.__setitem__(1, Text("State")),
                              "| Port | Status |\n| Port | State |\n| eth0 | up |\n", [Text("Port"), Text("Status")]),
}


def changing(name, change, header_fields):
    """re's compile, search, sub and escape, with `name` changing header_fields the first time it runs
    (and rebinding core.<name> to re's own then)."""
    import mirel.textloom.core as core
    functions = type("Functions", (), {n: staticmethod(getattr(re, n)) for n in ("compile", "search", "sub", "escape")})
    if name == "hash":
        Text.edit = lambda: change(header_fields)
        return functions

    def first(*args):
        if getattr(core, name) is first:
            setattr(core, name, getattr(re, name))
        setattr(functions, name, staticmethod(getattr(re, name)))
        change(header_fields)
        return getattr(re, name)(*args)
    setattr(functions, name, staticmethod(first))
    return functions


@pytest.mark.parametrize("right_justified", [False, True])
@pytest.mark.parametrize("case", sorted(HEADING_CHANGES))
def test_the_header_test_reads_the_heading_list_as_it_stands(core, parser, case, right_justified):
    name, change, text, header_fields = HEADING_CHANGES[case]
    multi_line = isinstance(header_fields[0], list)
    fresh = lambda: [list(line) for line in header_fields] if multi_line else list(header_fields)
    ours = fresh()
    expected = align_reference.align_table(multi_line, text, ours, "", right_justified, changing(name, change, ours))
    assert expected != align_reference.align_table(multi_line, text, fresh(), "", right_justified)
    theirs = fresh()
    functions = changing(name, change, theirs)
    if name != "hash":
        setattr(core, name, getattr(functions, name))
    parser.multi_line = multi_line
    assert parser.align_table(text, theirs, None, "", right_justified) == expected
