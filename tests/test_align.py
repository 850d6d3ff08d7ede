"""The alignment of drawn tables against its plain-Python transcription, on
generated tables: narrow and wide characters, bars inside cells, ragged and
empty lines, carriage returns, tabs, and cells holding the marker words."""
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
CELLS = st.one_of(
    st.sampled_from(WORDS),
    st.sampled_from(["", " ", "   ", "\t", " \t ", "|"]),
    st.builds(lambda left, word, right: left + word + right,
              st.sampled_from(["", " ", "  "]), st.sampled_from(WORDS), st.sampled_from(["", " ", "   "])),
    st.text(st.sampled_from("ab |\t\xe9\u4e00\U0001f600#_e"), max_size=6))
LINE_ENDS = st.sampled_from(["\n", "\n", "\r\n", "\r", "\n\n"])


@st.composite
def drawn_table(draw):
    multi_line = draw(st.booleans())
    width = draw(st.integers(2, 4))
    first = draw(st.lists(st.sampled_from(HEADINGS), min_size=width, max_size=width))
    header_fields = [first, draw(st.lists(st.sampled_from(HEADINGS), min_size=width, max_size=width))] \
        if multi_line else first
    delimiter = draw(st.sampled_from(["", "|", "|", "||", "!", "\u2502", "e", " ", "\n|", "\\"]))
    bar = delimiter or "|"
    lines = []
    for _ in range(draw(st.integers(1, 8))):
        kind = draw(st.sampled_from(["heading", "row", "row", "row", "plain", "empty"]))
        if kind == "heading":
            cells = [" %s " % h.replace("\\", "") for h in draw(st.sampled_from(
                [first, header_fields[-1]] if multi_line else [first]))]
        elif kind == "row":
            cells = draw(st.lists(CELLS, min_size=1, max_size=width + 2))
        elif kind == "plain":
            lines.append(draw(st.sampled_from(["title", "note   wide", "R1#", "  "])))
            continue
        else:
            lines.append("")
            continue
        line = bar.join(cells)
        if draw(st.booleans()):
            line = bar + line
        if draw(st.booleans()):
            line = line + bar
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
