"""The tabular parsers column_result_t and column_table_result_core_t."""
import logging
import re

import pytest
from hypothesis import HealthCheck, example, given, settings, strategies as st

from helpers import every_group_heading_expression, run_python

EXAMPLES = settings(max_examples=300, deadline=None, derandomize=True, database=None,
                    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])

ARP = ("Address         Age  Hardware Addr\n"
       "10.0.0.1        5    0011.2233.4455\n"
       "10.0.0.2        -    0011.2233.4466\n"
       "\n")
ARP_HEADINGS = ["Address", "Age", "Hardware Addr"]
ARP_ENTRIES = {
    "10.0.0.1": {"Address": "10.0.0.1", "Age": "5", "Hardware Addr": "0011.2233.4455"},
    "10.0.0.2": {"Address": "10.0.0.2", "Age": "-", "Hardware Addr": "0011.2233.4466"},
}
SAMPLE_HEADINGS = ["Protocol", "Address", r"Age \(min\)", "Hardware Addr", "Type", "Interface"]
VRF_HEADINGS = ["Address", "Age", "MAC Address", "Interface"]


def parse(core, text, *args, cls=None, key="", **kwargs):
    core.text_to_parse[key] = text
    return (cls or core.column_table_result_core_t)(*args, parse_key=key, **kwargs)


@pytest.fixture
def recorder(core):
    """A parser class that records every add_entry call and files the row as the base does."""
    class Recorder(core.column_table_result_core_t):
        def add_entry(self, line, header_fields, field_delims):
            self.calls = getattr(self, "calls", [])
            self.calls.append((line, list(header_fields), list(field_delims)))
            return super().add_entry(line, header_fields, field_delims)
    return Recorder


# ---- classes, settings and hooks -------------------------------------------------

def test_class_namespaces_hold_the_members_in_order(core):
    base = [name for name in vars(core.column_result_t) if not name.startswith("__") or name == "__init__"]
    assert base == ["field_mapping", "table_title_mapping", "add_entry", "get_init_info", "compile_header_pattern",
                    "align_table", "__init__", "_add_entries_to_results", "_map_entry_field",
                    "cleanup_entry_field", "_find_entry_in_list", "find_entry_index_list"]
    derived = [name for name in vars(core.column_table_result_core_t) if not name.startswith("__") or name == "__init__"]
    assert derived == ["index_objects", "index_mapped_string", "__init__", "add_entry"]
    assert core.column_table_result_core_t.__mro__ == (core.column_table_result_core_t, core.column_result_t, object)
    assert core.column_result_t.field_mapping == {} and core.column_result_t.table_title_mapping is None
    assert core.column_table_result_core_t.index_objects is True
    assert core.column_table_result_core_t.index_mapped_string is False
    assert core.column_result_t.add_entry.__doc__ == "Must be provided by concrete sub-class"
    assert (core.column_result_t.find_entry_index_list.__doc__
            == "Find an entry given a list of indices. Return None if not there.")
    assert core.column_result_t.compile_header_pattern.__doc__ == "Compile a header pattern from the given header fields"
    assert (core.column_result_t.align_table.__doc__
            == "A function to align all the table fields before parsing operation")
    assert core.column_result_t.__init__.__module__ == "mirel.textloom.core"


@pytest.mark.parametrize("index, stored, key_column", [
    (0, [0], "Address"), (True, [True], "Age"), (False, [False], "Address"), ([2], [2], "Hardware Addr"),
])
def test_index_is_normalised_to_a_list(core, index, stored, key_column):
    t = parse(core, ARP, ARP_HEADINGS, index=index)
    assert t.index == stored and type(t.index[0]) is type(stored[0])
    assert sorted(t.entries) == sorted(row[key_column] for row in ARP_ENTRIES.values())


def test_index_list_is_the_callers_object(core):
    index = [0]
    assert parse(core, ARP, ARP_HEADINGS, index=index).index is index


@pytest.mark.parametrize("index, text", [((0, 3), "(0, 3)"), (None, "None"), ("0", "0"), (1.0, "1.0")])
def test_index_neither_int_nor_list_raises(core, recorder, index, text):
    core.text_to_parse[""] = ARP
    t = recorder.__new__(recorder)
    with pytest.raises(ValueError) as err:
        t.__init__(ARP_HEADINGS, index=index)
    assert err.value.args == (text + " is not an int or list of ints",)
    assert t.entries == {} and not hasattr(t, "entrydict")  # before any parse


def test_empty_index_files_no_row(core, recorder):
    t = parse(core, ARP, ARP_HEADINGS, index=[], cls=recorder)
    assert len(t.calls) == 2 and t.entries == {}


def test_without_header_fields_get_init_info_must_be_overridden(core):
    core.text_to_parse[""] = ARP
    with pytest.raises(AssertionError) as err:
        core.column_table_result_core_t()
    assert err.value.args == ("get_init_info must be overridden by concrete sub-class",)


def test_a_direct_subclass_must_supply_add_entry(core):
    class Bare(core.column_result_t):
        pass
    core.text_to_parse[""] = ARP
    with pytest.raises(AssertionError) as err:
        Bare(ARP_HEADINGS, None, None)
    assert err.value.args == ("add_entry must be implemented by concrete sub-class",)


def test_base_hooks_with_assertions_disabled():
    out = run_python(
        "import mirel.textloom.core as core\n"
        "core.text_to_parse[''] = 'Address  Age\\n1.1.1.1  3\\n'\n"
        "class Bare(core.column_result_t): pass\n"
        "b = Bare(['Address', 'Age'], None, None)\n"
        "print(vars(b).get('entries'), b.add_entry('x', [], []))\n"
        "try:\n"
        "    core.column_table_result_core_t()\n"
        "except TypeError as e:\n"
        "    print(e)\n", optimize=True)
    assert out.stdout == "None None\ncannot unpack non-iterable NoneType object\n", out.stderr


def test_get_init_info_supplies_the_settings(core):
    seen = []

    class Configured(core.column_table_result_core_t):
        def get_init_info(self, output, *settings):
            seen.append((output, settings))
            return ARP_HEADINGS, None, None, None, False, ["ip", "age", "mac"], None

    t = parse(core, ARP, cls=Configured, skip_line="x")
    assert seen == [(ARP, (None, None, None, None, False, None, "x"))]
    assert t.entries["10.0.0.1"] == {"ip": "10.0.0.1", "age": "5", "mac": "0011.2233.4455"}


@pytest.mark.parametrize("result, error", [
    ((1, 2), "not enough values to unpack (expected 7, got 2)"),
    (tuple(range(8)), "too many values to unpack (expected 7)"),
])
def test_get_init_info_must_give_seven_settings(core, result, error):
    class Configured(core.column_table_result_core_t):
        def get_init_info(self, *args):
            return result
    with pytest.raises(ValueError, match=re.escape(error)):
        parse(core, ARP, cls=Configured)


def test_missing_parse_key_raises_key_error(core):
    with pytest.raises(KeyError) as err:
        core.column_table_result_core_t(ARP_HEADINGS, parse_key="nowhere")
    assert err.value.args == ("nowhere",)


def test_find_entry_index_list(core):
    t = parse(core, ARP, ARP_HEADINGS, index=[0, 1])
    assert t.find_entry_index_list([]) is t.entries
    assert t.find_entry_index_list(["10.0.0.1"]) is t.entries["10.0.0.1"]
    assert t.find_entry_index_list(["10.0.0.1", "5"]) == ARP_ENTRIES["10.0.0.1"]
    assert t.find_entry_index_list(["10.0.0.9"]) is None
    assert t.find_entry_index_list(["10.0.0.1", "6"]) is None


def test_find_entry_in_list(core):
    t = parse(core, ARP, ARP_HEADINGS)
    assert t._find_entry_in_list("x", []) is None and not hasattr(t, "last_find_match")
    assert t._find_entry_in_list("^z", [("a", 1), ("b", 2)]) is None and t.last_find_match is None
    rows = [("eth0", 1), ("eth1", 2), ("eth1", 3)]
    assert t._find_entry_in_list(r"h(\d)", rows[1:]) is rows[1] and t.last_find_match.group(1) == "1"


# ---- header pattern ---------------------------------------------------------------

# the expression's text holds the escapes \t, \n and \r, not the characters
@pytest.mark.parametrize("header_fields, pattern, multi_line", [
    (["Address", "Age", "Interface"],
     r"([ \t]*)(Address)([ \t]*)(Age)([ \t]*)(Interface)[ \t]*[\n\r]+", False),
    ([["Local", "Remote"], ["Port", "Port"]],
     r"([ \t]*)(Local)([ \t]*)(Remote)([ \n]*)([ \t]*)(Port)([ \t]*)(Port)([ \n]*)[ \t]*[\n\r]+", True),
    ([], r"[ \t]*[\n\r]+", True),
    ([["Port", "State"]], r"([ \t]*)(Port)([ \t]*)(State)([ \n]*)[ \t]*[\n\r]+", True),
    (["Port", ["State"]], None, False),
])
def test_compile_header_pattern(core, header_fields, pattern, multi_line):
    t = parse(core, ARP, ARP_HEADINGS)
    if pattern is None:
        with pytest.raises(TypeError):
            t.compile_header_pattern(header_fields)
    else:
        assert t.compile_header_pattern(header_fields).pattern == pattern
    assert t.multi_line is multi_line


def test_compile_header_pattern_of_none_fails_after_setting_multi_line(core):
    t = parse(core, ARP, ARP_HEADINGS)
    with pytest.raises(TypeError):
        t.compile_header_pattern(None)
    assert t.multi_line is True


def test_heading_with_its_own_group_shifts_the_later_groups(core):
    t = parse(core, ARP, ARP_HEADINGS)
    m = t.compile_header_pattern([r"Port (\d)", "State"]).match("Port 1  State\n")
    assert m.groups() == ("", "Port 1", "1", "  ", "State")


# ---- blank heading slots ----------------------------------------------------------

# a run of blanks groups with only blank slots between them: its first group
# takes the blanks, a later one takes nothing, or, after a group that takes
# other characters, only where that group has taken all it could
@pytest.mark.parametrize("header_fields, pattern", [
    (["", "Port", "Type"], r"([ \t]*)()()(Port)([ \t]*)(Type)[ \t]*[\n\r]+"),
    (["Port", "", "Type"], r"([ \t]*)(Port)([ \t]*)()()(Type)[ \t]*[\n\r]+"),
    (["Port", "Type", ""], r"([ \t]*)(Port)([ \t]*)(Type)([ \t]*)()[\n\r]+"),
    (["", "", "Flow"], r"([ \t]*)()()()()(Flow)[ \t]*[\n\r]+"),
    ([["", "", "Flow"], ["Port", "Type", "ctrl"]],
     r"([ \t]*)()()()()(Flow)([ \n]*)([ \t]*)(Port)([ \t]*)(Type)([ \t]*)(ctrl)([ \n]*)[ \t]*[\n\r]+"),
    ([["LACP", ""], ["Key", "Port"]],
     r"([ \t]*)(LACP)([ \t]*)()((?![ \t])[ \n]*|)((?![ \n])[ \t]*|)(Key)([ \t]*)(Port)([ \n]*)[ \t]*[\n\r]+"),
    ([["Port", "Flow"], ["", "ctrl"]],
     r"([ \t]*)(Port)([ \t]*)(Flow)([ \n]*)((?![ \n])[ \t]*|)()()(ctrl)([ \n]*)[ \t]*[\n\r]+"),
    ([["Port", "Flow"], ["Type", ""]],
     r"([ \t]*)(Port)([ \t]*)(Flow)([ \n]*)([ \t]*)(Type)([ \t]*)()((?![ \t])[ \n]*|)(?:(?![ \n])[ \t]*|)[\n\r]+"),
    ([["", ""], ["Port", "Type"]],
     r"([ \t]*)()()()((?![ \t])[ \n]*|)((?![ \n])[ \t]*|)(Port)([ \t]*)(Type)([ \n]*)[ \t]*[\n\r]+"),
])
def test_blank_slots_share_no_run_of_blanks(core, header_fields, pattern):
    t = parse(core, ARP, ARP_HEADINGS)
    compiled = t.compile_header_pattern(header_fields)
    assert compiled.pattern == pattern
    assert compiled.groups == re.compile(every_group_heading_expression(header_fields)).groups


# texts that could tell how the blanks were shared between the groups keep every group
@pytest.mark.parametrize("header_fields", [
    ["", "", r"X\3Y"],            # reads a blanks group
    ["", "", r"(?(3)X|Y)"],       # asks whether one took part
    ["", "(?x: Port)", "Type"],   # may turn on verbose mode, which reads blanks otherwise
    ["", "Port)(x", "Type"],      # ends its group early
])
def test_blank_slots_stay_where_the_texts_could_tell(core, header_fields):
    t = parse(core, ARP, ARP_HEADINGS)
    assert t.compile_header_pattern(header_fields).pattern == every_group_heading_expression(header_fields)


def test_blank_slots_before_a_backreference_share_the_blanks(core, recorder):
    # group 3 takes the blank before X: without it the heading is not found
    text = "  X Y\n1  2 3\n"
    t = parse(core, text, ["", "", r"X\3Y"], cls=recorder)
    assert t.calls == [("1  2 3", ["", "", r"X\3Y"], [(0, 2), (2, 2), (2, 5)])]


# heading texts, each with cells it matches
BLANK_SLOT_TEXTS = {
    "": [""], "Port": ["Port"], "Type": ["Type"], "Flow": ["Flow"], "Key": ["Key"],
    r"[Pp]ort": ["port", "Port"], r"\S+": ["x", "Flow"], r" ?Type": [" Type", "Type"], r"\s*Flow": ["Flow"],
    r"(?<= )Key": ["Key"], r"(?i:p)ort": ["port"], r"(?P<w>F)low": ["Flow"], r"(?P=w)?ctrl": ["Fctrl", "ctrl"],
    r"(K)ey": ["Key"], r"(?=\s)": [""], r"[ \n]*x": ["x"], r"(?<=\n)Type": ["Type"],
}
BLANK_SLOT_TEXT = st.sampled_from([""] * 12 + sorted(BLANK_SLOT_TEXTS))
LINE_ENDS = st.sampled_from(["\n", "\n", "\r\n", " \n", "\n\n", "\r"])


@st.composite
def blank_slot_case(draw, blanks, equal_lines=False):
    """A heading with blank slots, and a text of lines that it matches or nearly does."""
    width = draw(st.integers(1, 4))
    if draw(st.booleans()):
        header_fields = draw(st.lists(BLANK_SLOT_TEXT, min_size=width, max_size=width))
        heading_lines = [header_fields]
    else:
        line = st.lists(BLANK_SLOT_TEXT, min_size=width if equal_lines else 0, max_size=width)
        header_fields = heading_lines = draw(st.lists(line, min_size=1 + equal_lines, max_size=3))
    lines = []
    for _ in range(draw(st.integers(1, 4))):
        if draw(st.booleans()):
            for line in heading_lines:
                cells = [draw(st.sampled_from(BLANK_SLOT_TEXTS[text])) for text in line]
                lines.append("".join(draw(blanks) + cell for cell in cells) + draw(blanks) + draw(LINE_ENDS))
        else:
            cells = draw(st.lists(st.sampled_from(["Port", "Type", "Flow", "ctrl", "Key", "x", "1"]), max_size=4))
            lines.append("".join(draw(blanks) + cell for cell in cells) + draw(blanks) + draw(LINE_ENDS))
    return header_fields, "".join(lines)


def outcome(fn):
    """fn()'s result, or the error it raised (the message of re's, which tells
    a position in the expression, left out)."""
    try:
        return fn()
    except Exception as e:
        return type(e), str(e) if not isinstance(e, re.error) else None


@EXAMPLES
@given(case=blank_slot_case(st.sampled_from(["", " ", "  ", "   ", "\t", " \t", "\t "])))
@example(case=([["LACP", ""], ["Key"]], "LACP \n\tKey\n"))  # a tab after the separator's run
def test_blank_slots_give_the_matches_of_every_group_in_place(core, case):
    header_fields, text = case
    t = core.column_result_t.__new__(core.column_result_t)

    def matches(compile):
        return [(m.span(), m.regs) for m in compile().finditer(text)]
    ours = outcome(lambda: matches(lambda: t.compile_header_pattern(header_fields)))
    every_group = outcome(lambda: matches(lambda: re.compile(every_group_heading_expression(header_fields))))
    assert ours == every_group


@EXAMPLES
@given(case=blank_slot_case(st.sampled_from(["", " ", "  ", "   "]), equal_lines=True), right_justified=st.booleans())
# a first line of blank slots: the heading starts in the blanks that end the line before
@example(case=([["", ""], ["Port", "Type"]], "x   \nPort Type\n1 2\n"), right_justified=False)
def test_blank_slots_give_the_rows_of_every_group_in_place(core, recorder, case, right_justified):
    header_fields, text = case
    # the subclass's expression is searched as the steps are written, without the search's shortcuts
    class EveryGroup(recorder):
        def compile_header_pattern(self, header_fields):
            super().compile_header_pattern(header_fields)
            return re.compile(every_group_heading_expression(header_fields))

    def rows(cls):
        t = parse(core, text, header_fields, right_justified=right_justified, cls=cls)
        return getattr(t, "calls", []), t.entries
    assert outcome(lambda: rows(recorder)) == outcome(lambda: rows(EveryGroup))


# ---- column bounds and the row walk ----------------------------------------------

WORKED = "Address         Age  Hardware Addr\n10.0.0.1        5    0011.2233.4455\n"


@pytest.mark.parametrize("right_justified, bounds", [
    (False, [(0, 16), (16, 21), (21, 34)]),
    (True, [(0, 7), (7, 19), (19, 34)]),
])
def test_worked_example_of_column_bounds(core, recorder, right_justified, bounds):
    t = parse(core, WORKED, ARP_HEADINGS, right_justified=right_justified, cls=recorder)
    assert t.calls == [("10.0.0.1        5    0011.2233.4455", ARP_HEADINGS, bounds)]


@pytest.mark.parametrize("right_justified", [False, True])
def test_heading_groups_are_read_in_their_order(core, recorder, right_justified):
    asked = []

    class Match:
        def __init__(self, m):
            self.m = m

        def group(self, k):
            asked.append(k)
            return self.m.group(k)

        def __getattr__(self, name):
            return getattr(self.m, name)

    class Heading:
        def __init__(self, expr):
            self.expr = expr

        def finditer(self, text):
            return map(Match, self.expr.finditer(text))

        def __getattr__(self, name):
            return getattr(self.expr, name)

    class Wrapped(recorder):
        def compile_header_pattern(self, header_fields):
            return Heading(super().compile_header_pattern(header_fields))

    t = parse(core, WORKED, ARP_HEADINGS, right_justified=right_justified, cls=Wrapped)
    assert asked == sorted(asked) and len(asked) >= 5
    assert t.calls == parse(core, WORKED, ARP_HEADINGS, right_justified=right_justified, cls=recorder).calls


def test_single_line_heading_rows(core, recorder):
    text = "Address         Age  Interface\n10.0.0.1        5    eth0   \n10.0.0.2        7    eth1\n\n"
    t = parse(core, text, ["Address", "Age", "Interface"], cls=recorder)
    assert [c[0] for c in t.calls] == ["10.0.0.1        5    eth0", "10.0.0.2        7    eth1"]
    assert all(c[1] == ["Address", "Age", "Interface"] and len(c[2]) == 3 for c in t.calls)
    assert t.entries["10.0.0.1"]["Interface"] == "eth0"


def test_fields_are_python_slices_at_the_bounds(core, recorder, sample):
    text = sample("arp_table.txt")
    t = parse(core, text, SAMPLE_HEADINGS, index=1, cls=recorder)
    assert len(t.calls) == 9
    for line, names, bounds in t.calls:
        expected = {name: (line[a:b] if i < len(names) - 1 else line[a:]).strip()
                    for i, (name, (a, b)) in enumerate(zip(names, bounds))}
        assert t.entries[expected["Address"]] == expected


@pytest.mark.parametrize("text, rows", [
    # lines without a letter or digit are no rows
    ("Address   Age\n--------  ---\n1.1.1.1   3\n  ...  \n", ["1.1.1.1"]),
    # the last column takes the rest of the line
    ("Address   Age\n1.1.1.1   3 minutes ago\n", ["1.1.1.1"]),
    # a final data line without a line feed is read
    ("Address   Age\n1.1.1.1   3\n2.2.2.2   4", ["1.1.1.1", "2.2.2.2"]),
    # tabs are expanded to multiples of eight columns
    ("Address\tAge\n1.1.1.1\t3\n", ["1.1.1.1"]),
    # a heading again starts a new table; a row with equal keys replaces the earlier one
    ("Address   Age\n1.1.1.1   3\n\nAddress  Age\n1.1.1.1  9\n3.3.3.3  1\n", ["1.1.1.1", "3.3.3.3"]),
])
def test_data_lines(core, text, rows):
    t = parse(core, text, ["Address", "Age"])
    assert list(t.entries) == rows


def test_last_column_and_tabs(core):
    t = parse(core, "Address   Age\n1.1.1.1   3 minutes ago\n", ["Address", "Age"])
    assert t.entries["1.1.1.1"]["Age"] == "3 minutes ago"
    t = parse(core, "Address\tAge\n1.1.1.1\t3\n", ["Address", "Age"])
    assert t._text_to_parse == "Address Age\n1.1.1.1 3\n" and t.entries["1.1.1.1"]["Age"] == "3"


def test_terminal_pattern_ends_the_table_until_the_next_heading(core):
    text = ("Address   Age\n1.1.1.1   3\nTotal: 1\n2.2.2.2   4\n"
            "Address   Age\n3.3.3.3   5\n")
    t = parse(core, text, ["Address", "Age"], table_terminal_pattern="^Total")
    assert list(t.entries) == ["1.1.1.1", "3.3.3.3"]


def test_skip_line(core):
    text = "Address   Age\n1.1.1.1   3\nINCOMPLETE 2.2.2.2\n3.3.3.3   5\n"
    t = parse(core, text, ["Address", "Age"], skip_line="INCOMPLETE")
    assert list(t.entries) == ["1.1.1.1", "3.3.3.3"]


def test_skip_header_starts_the_rows_after_its_line(core):
    text = "Address   Age\nnot a row\n=====  ===\n1.1.1.1   3\n"
    t = parse(core, text, ["Address", "Age"], skip_header="===")
    assert list(t.entries) == ["1.1.1.1"]


def test_skip_header_is_searched_within_its_own_table(core):
    # the first table has no "====" line: it is abandoned, not parsed from the second table's
    text = ("Address   Age\n1.1.1.1   3\n"
            "Address   Age\n=======   ===\n2.2.2.2   4\n")
    t = parse(core, text, ["Address", "Age"], skip_header="====")
    assert list(t.entries) == ["2.2.2.2"]


class Setting(str):
    """A pattern setting that writes its name in `asked` whenever its truth is asked."""
    asked = None

    def __bool__(self):
        self.asked.append(str(self))
        return True


class Unset:
    """A setting whose truth is False, asked the same way."""
    def __init__(self, name, asked):
        self.name, self.asked = name, asked

    def __bool__(self):
        self.asked.append(self.name)
        return False


@pytest.mark.parametrize("drawn", [False, True])
def test_each_setting_is_asked_for_its_truth_at_the_step_that_uses_it(core, monkeypatch, drawn):
    # right_justified and skip_header once per heading, the terminal and skip-line
    # patterns once per data line (the skip-line pattern only on a line with content);
    # align_table asks right_justified once it has found a header row
    asked = []
    monkeypatch.setattr(Setting, "asked", asked)
    text = "Port  Status\neth0  up\n----\neth1  down\nPort  Status\neth2  up\n"
    if drawn:
        text = "| Port | Status |\n| eth0 | up |\n"
    t = parse(core, text, ["Port", "Status"], table_terminal_pattern=Setting("NO-END"),
              skip_header=Unset("skip_header", asked), right_justified=Unset("right", asked),
              skip_line=Setting("NO-SKIP"), delimiter="|" if drawn else "")
    if drawn:
        assert list(t.entries) == ["eth0"]
        # the data lines: "+----+", the row, and the empty line that ends the aligned text
        assert asked == ["right", "right", "skip_header", "NO-END", "NO-END", "NO-SKIP", "NO-END"]
    else:
        assert list(t.entries) == ["eth0", "eth1", "eth2"]
        per_heading = ["right", "skip_header"]
        assert asked == (per_heading + ["NO-END", "NO-SKIP", "NO-END", "NO-END", "NO-SKIP"]
                         + per_heading + ["NO-END", "NO-SKIP"])


def test_heading_found_anywhere_in_the_text(core):
    # the driver finds headings by a literal start of the first heading text;
    # it must find what a plain search over the text finds
    texts = [
        "junk Address   Age\n1.1.1.1   3\n",
        "   \t Address   Age\n1.1.1.1   3\nAddressAge\n2.2.2.2 4\n",
        "Address x\nAddresses Age\n 1.1.1.1  3\n",
        "Address   Age\r\n1.1.1.1   3\r\n",
        "\n\nAddress\n   Age\n1.1.1.1\n",
        "Address book\n  Address   Age\n1.1.1.1   3\n",
    ]
    for text in texts:
        for headings in (["Address", "Age"], ["Addres+", "Age"], ["Address", "Age(s)?"], ["Addr|Address", "Age"],
                         [r"Address(?<=s)", "Age"]):
            t = parse(core, text, headings)
            core.compile = lambda p: re.compile(p)  # not re's own: every position is tried
            slow = parse(core, text, headings)
            core.compile = re.compile
            assert t.entries == slow.entries, (text, headings)


def test_right_justified_multi_line_heading_has_a_bound_per_column(core, recorder):
    text = ("   Port  Admin   Oper   Speed\n"
            "   Name  State  State   Mbps\n"
            "    1/1     up     up   1000\n")
    t = parse(core, text, [["Port", "Admin", "Oper", "Speed"], ["Name", "State", "State", "Mbps"]],
              right_justified=True, cls=recorder)
    assert t.calls[0][2] == [(0, 7), (7, 14), (14, 21), (21, 29)]
    assert t.entries["1/1"] == {"Port Name": "1/1", "Admin State": "up", "Oper State": "up", "Speed Mbps": "1000"}


# text, header_fields, right_justified, delimiter, the bounds of the first heading, the entries
# (keyed by the first column; the columns named port, type and flow)
BLANK_SLOTS = {
    "a middle slot": (
        "                      Flow\n"
        "Port     Type         ctrl\n"
        "gi1/0/1  1G-Copper    Off\n",
        [["", "", "Flow"], ["Port", "Type", "ctrl"]], False, "", [(0, 9), (9, 22), (22, 27)],
        {"gi1/0/1": {"port": "gi1/0/1", "type": "1G-Copper", "flow": "Off"}}),
    "the first slots, right-justified": (
        "                    Flow\n"
        "    Port      Type  ctrl\n"
        " gi1/0/1 1G-Copper   Off\n",
        [["", "", "Flow"], ["Port", "Type", "ctrl"]], True, "", [(0, 8), (8, 18), (18, 24)],
        {"gi1/0/1": {"port": "gi1/0/1", "type": "1G-Copper", "flow": "Off"}}),
    "the last slot": (
        "Port     Flow\n"
        "         ctrl  Type\n"
        "Po1      on    LACP\n",
        [["Port", "Flow", ""], ["", "ctrl", "Type"]], False, "", [(0, 9), (9, 15), (15, 25)],
        {"Po1": {"port": "Po1", "type": "on", "flow": "LACP"}}),
    "three lines, blank on the first two": (
        "                 Flow\n"
        "                 Control\n"
        "Port     Type    Receive\n"
        "gi1/0/1  1G      Off\n",
        [["", "", "Flow"], ["", "", "Control"], ["Port", "Type", "Receive"]], False, "", [(0, 9), (9, 17), (17, 39)],
        {"gi1/0/1": {"port": "gi1/0/1", "type": "1G", "flow": "Off"}}),
    "three lines, right-justified, blank on the first and last": (
        "                  Flow\n"
        "   Port    Type   ctrl\n"
        "                  Recv\n"
        "gi1/0/1  1G-Cu     Off\n",
        [["", "", "Flow"], ["Port", "Type", "ctrl"], ["", "", "Recv"]], True, "", [(0, 7), (7, 15), (15, 22)],
        {"gi1/0/1": {"port": "gi1/0/1", "type": "1G-Cu", "flow": "Off"}}),
    "a drawn table": (
        "| VLAN |           | Port |\n"
        "| ID   | VLAN Name | Mask |\n"
        "| 10   | users     | 0x3  |\n",
        [["VLAN", "", "Port"], ["ID", "VLAN Name", "Mask"]], False, "|", [(0, 34), (34, 68), (68, 103)],
        {"10": {"port": "10", "type": "users", "flow": "0x3"}}),
    "a drawn table, right-justified": (
        "| VLAN |           | Port |\n"
        "| ID   | VLAN Name | Mask |\n"
        "| 10   | users     | 0x3  |\n",
        [["VLAN", "", "Port"], ["ID", "VLAN Name", "Mask"]], True, "|", [(0, 34), (34, 68), (68, 102)],
        {"10": {"port": "10", "type": "users", "flow": "0x3"}}),
    "blank on every line": (  # no line gives the column a place: it keeps none
        "Port     Flow\n"
        "Name     ctrl\n"
        "gi1/0/1  Off\n",
        [["Port", "", "Flow"], ["Name", "", "ctrl"]], False, "", [(0, 9), (9, 9), (9, 14)],
        {"gi1/0/1": {"port": "gi1/0/1", "type": "", "flow": "Off"}}),
}


@pytest.mark.parametrize("case", sorted(BLANK_SLOTS))
def test_a_blank_heading_slot_takes_its_place_from_a_lower_heading_line(core, recorder, case):
    text, header_fields, right_justified, delimiter, bounds, entries = BLANK_SLOTS[case]
    t = parse(core, text, header_fields, right_justified=right_justified, delimiter=delimiter,
              label_fields=["port", "type", "flow"], cls=recorder)
    assert t.calls[0][2] == bounds
    assert t.entries == entries


def test_blank_slots_keep_the_column_names(core):
    text, header_fields = BLANK_SLOTS["a middle slot"][:2]
    t = parse(core, text, header_fields)
    assert t.entries == {"gi1/0/1": {" Port": "gi1/0/1", " Type": "1G-Copper", "Flow ctrl": "Off"}}


def test_lower_heading_lines_keep_the_columns_in_order(core, recorder):
    # "Type" stands left of where "Port" starts: the columns still follow each other
    text = ("          Port    Flow\n"
            "Name Type         ctrl\n"
            "a    b    c       d\n")
    t = parse(core, text, [["Port", "", "Flow"], ["Name", "Type", "ctrl"]], cls=recorder)
    bounds = t.calls[0][2]
    assert bounds[0][0] == 0 and all(a[1] == b[0] for a, b in zip(bounds, bounds[1:]))
    assert all(start <= end for start, end in bounds)


@pytest.mark.parametrize("header_fields, label_fields, names", [
    ([["Local", "Remote"], ["Port", "Port\\b"]], None, ["Local Port", "Remote Portb"]),
    ([["Local", "Remote"], ["Port", "Port"], ["Id", "Id"], ["x", "y"]], None, ["Local Port Id", "Remote Port Id"]),
    ([["Local", "Remote"], ["Port", "Port"]], ["a", "b"], ["a", "b"]),
    # a single heading line in the list-of-lists form names its columns
    ([["L\\wcal", "Remote"]], None, ["Lwcal", "Remote"]),
])
def test_column_names_of_multi_line_headings(core, recorder, header_fields, label_fields, names):
    lines = ["  ".join(line).replace("\\b", "").replace("\\w", "o") for line in header_fields]
    text = "\n".join(lines) + "\nxe1    xe2\n"
    t = parse(core, text, header_fields, label_fields=label_fields, cls=recorder)
    assert t.calls[0][1] == names


def test_empty_multi_line_heading_raises_index_error(core):
    with pytest.raises(IndexError):
        parse(core, ARP, [], label_fields=["a"])


def test_bar_removal_depends_on_the_heading_kind(core):
    t = parse(core, "Port  State\n1|2    up\n", [["Port", "State"]])
    assert t._text_to_parse == "Port  State\n12    up\n" and list(t.entries) == ["12"]
    t = parse(core, "Port  State\n1|2   up\n", ["Port", "State"])
    assert list(t.entries) == ["1|2"]


class Text(str):
    pass


@pytest.mark.parametrize("kind", [str, Text])
@pytest.mark.parametrize("rebound", [False, True])
def test_global_flags_apply_to_the_whole_pattern_wherever_they_stand(core, monkeypatch, kind, rebound):
    if rebound:
        monkeypatch.setattr(core, "search", lambda pattern, text: re.search(pattern, text))
    text = "t: a\nADDRESS   AGE\n1.1.1.1   3\nnoise\nTOTAL 1\n2.2.2.2   4\n"
    t = parse(core, text, ["Address", "(?i)Age"], table_terminal_pattern=kind("^(?i)total"),
              table_title_pattern=kind("^(?i)T: (.)"), skip_line=kind("^N(?i)OISE"))
    assert t.entries == {"a": {"1.1.1.1": {"Address": "1.1.1.1", "(?i)Age": "3"}}}
    assert t._find_entry_in_list(kind("e(?i)TH"), [("x",), ("eth0", 1)]) == ("eth0", 1)


@pytest.mark.parametrize("text, found", [
    ("Local  Remote\n\n   \nPort   Port\nxe1    xe2\n", True),  # blank lines between the heading lines
    ("Local  Remote\r\nPort   Port\r\nxe1    xe2\r\n", False),  # the separator admits no carriage return
])
def test_multi_line_heading_separator(core, text, found):
    t = parse(core, text, [["Local", "Remote"], ["Port", "Port"]])
    assert list(t.entries) == (["xe1"] if found else [])


def test_bar_table_under_a_single_line_heading_needs_the_delimiter(core):
    assert parse(core, PORTS, ["Port", "Status"]).entries == {}
    assert list(parse(core, PORTS, ["Port", "Status"], delimiter="|").entries) == ["eth0", "eth1"]


# ---- titled tables -----------------------------------------------------------------

def test_titled_sample(core, sample):
    text = sample("vrf_arp_tables.txt")
    t = parse(core, text, VRF_HEADINGS, table_terminal_pattern="^Total entries",
              table_title_pattern=r"^VRF: (\S+)")
    assert list(t.entries) == ["red", "blue", "mgmt"]
    assert list(t.entries["red"]) == ["10.1.1.1", "10.1.1.2", "10.1.2.9"]
    assert t.entries["mgmt"]["192.0.2.1"]["Interface"] == "mgmt0"
    # the echo, prompt and dash lines are gone; each title line stands before its table
    lines = t._text_to_parse.splitlines()
    assert lines[0] == "VRF: red" and lines.count("VRF: blue") == 1
    assert not any("---" in line or "#" in line for line in lines)


@pytest.mark.parametrize("title_pattern", [r"^Table (\d+)", r"Table (\d+)"])
def test_every_titled_table_is_filed_under_its_title(core, title_pattern):
    text = ("Table 1\nAddress   Age\n1.1.1.1   3\n"
            "Table 2\nAddress   Age\n"
            "Table 3\nAddress   Age\n3.3.3.3   5\n")
    t = parse(core, text, ["Address", "Age"], table_title_pattern=title_pattern)
    # a table without rows gets none of the next table's rows
    assert t.entries == {"1": {"1.1.1.1": {"Address": "1.1.1.1", "Age": "3"}}, "2": {},
                         "3": {"3.3.3.3": {"Address": "3.3.3.3", "Age": "5"}}}


def test_terminal_line_ends_a_titled_table_at_the_end_of_that_line(core):
    text = "T: a\nAddress Age\n1.1.1.1 3\nend\nT: b\nAddress Age\n2.2.2.2 4\nend\n"
    t = parse(core, text, ["Address", "Age"], table_title_pattern="^T: (.)", table_terminal_pattern="^end")
    assert {k: list(v) for k, v in t.entries.items()} == {"a": ["1.1.1.1"], "b": ["2.2.2.2"]}


def test_title_seen_again_restarts_its_table_where_it_first_stood(core):
    text = ("A: 1\nAddress Age\n1.1.1.1 3\n"
            "A: 2\nAddress Age\n2.2.2.2 4\n"
            "A: 1\nAddress Age\n9.9.9.9 7\n")
    t = parse(core, text, ["Address", "Age"], table_title_pattern=r"^A: (\d)")
    assert {k: list(v) for k, v in t.entries.items()} == {"1": ["9.9.9.9"], "2": ["2.2.2.2"]}
    assert t._text_to_parse.startswith("A: 1\nAddress Age\n9.9.9.9 7\nA: 2\n")


@pytest.mark.parametrize("wide", ["\xe9", "\u0100", "\U0001f600"])
@pytest.mark.parametrize("where", ["dropped line", "other table", "row"])
def test_titled_tables_of_text_with_wider_characters(core, wide, where):
    # a table is joined from its own lines, whatever characters the rest of the text holds
    row = "1.1.1.1 " + (wide if where == "row" else "3")
    text = ({"dropped line": wide + "---\n", "other table": "B: 2\nAddress Age\n%s 4\n" % wide}.get(where, "")
            + "A: 1\nAddress Age\n" + row + "\n")
    t = parse(core, text, ["Address", "Age"], table_title_pattern=r"^\w: (\d)")
    assert t.entries["1"]["1.1.1.1"]["Age"] == row.split()[1]
    assert "A: 1\nAddress Age\n%s\n" % row in t._text_to_parse


def test_titles_with_several_groups_nest(core):
    text = "vrf red af ipv4\nAddress Age\n1.1.1.1 3\nvrf red af ipv6\nAddress Age\n::1     4\n"
    t = parse(core, text, ["Address", "Age"], table_title_pattern=r"^vrf (\S+) af (\S+)")
    assert {k: {k2: list(v2) for k2, v2 in v.items()} for k, v in t.entries.items()} == \
        {"red": {"ipv4": ["1.1.1.1"], "ipv6": ["::1"]}}


def test_title_pattern_without_groups_keeps_the_rows_untitled(core):
    text = "VRF red\nAddress Age\n1.1.1.1 3\nVRF blue\nAddress Age\n2.2.2.2 4\n"
    t = parse(core, text, ["Address", "Age"], table_title_pattern="^VRF")
    assert list(t.entries) == ["1.1.1.1", "2.2.2.2"] and t.entrydict == {}


def test_the_text_to_parse_grows_table_by_table(core):
    text = "T: a\nAddress Age\n1.1.1.1 3\nT: b\nAddress Age\n2.2.2.2 4\nT: c\nAddress Age\n3.3.3.3 5\n"
    tables = ["T: a\nAddress Age\n1.1.1.1 3\n", "T: b\nAddress Age\n2.2.2.2 4\n", "T: c\nAddress Age\n3.3.3.3 5\n"]

    class Seen(core.column_table_result_core_t):
        def align_table(self, *args):
            seen.append(self._text_to_parse)
            if len(seen) == 3:
                raise ValueError("third table")
            return super().align_table(*args)

    class Written(core.column_table_result_core_t):
        @property
        def _text_to_parse(self):
            return self.text

        @_text_to_parse.setter
        def _text_to_parse(self, value):
            seen.append(value)
            self.text = value

    seen = []
    obj = Seen.__new__(Seen)
    core.text_to_parse[""] = text
    with pytest.raises(ValueError, match="third table"):
        obj.__init__(["Address", "Age"], table_title_pattern="^T: (.)")
    assert seen == ["", tables[0], tables[0] + tables[1]]
    assert obj._text_to_parse == tables[0] + tables[1]
    seen = []
    parse(core, text, ["Address", "Age"], table_title_pattern="^T: (.)", cls=Written)
    whole = "".join(tables)
    assert seen == ["", tables[0], tables[0] + tables[1], whole, whole, whole]


def test_title_pattern_that_matches_no_line(core):
    t = parse(core, ARP, ARP_HEADINGS, table_title_pattern="^VRF")
    assert t._text_to_parse == "" and t.entries == {} and t.entrydict == {}


def test_title_mapping_and_duplicate_title_warning(core, caplog):
    class Mapped(core.column_table_result_core_t):
        table_title_mapping = [int]
    text = "T1x\nAddress Age\n1.1.1.1 3\nT1y\nAddress Age\n2.2.2.2 4\n"
    with caplog.at_level(logging.WARNING, logger="mirel.textloom.core"):
        t = parse(core, text, ["Address", "Age"], table_title_pattern=r"^T(\d)", cls=Mapped)
    assert list(t.entries) == [1] and list(t.entries[1]) == ["2.2.2.2"]
    assert caplog.messages == ["Warning non-unique result found table title keys ('1',) in %s" % t]


# ---- row filing and conversion --------------------------------------------------------

def test_short_rows_and_index_columns(core):
    text = "A   B   C   D\n1   2   3   4\n5   6\n"
    t = parse(core, text, ["A", "B", "C", "D"], index=[0, 3])
    assert t.entries["5"][""] == {"A": "5", "B": "6", "C": "", "D": ""}
    assert list(parse(core, text, ["A", "B", "C", "D"], index=[3, 0]).entries) == ["4", ""]
    # a duplicate element keys its second level by the empty text; one past the columns likewise
    assert parse(core, text, ["A", "B", "C", "D"], index=[0, 0]).entries["1"] == {"": {"A": "1", "B": "2",
                                                                                       "C": "3", "D": "4"}}
    assert list(parse(core, text, ["A", "B", "C", "D"], index=7).entries) == [""]


def test_duplicate_column_names_keep_the_later_value(core):
    t = parse(core, "A   B   C\n1   2   3\n", ["A", "B", "C"], label_fields=["x", "y", "x"])
    assert t.entries == {"1": {"x": "3", "y": "2"}}


class Halve:
    def __call__(self, field):
        return int(field) // 2


def hexa(field, base):
    return int(field, base)


class Scaler:
    def times(self, field):
        return ("scaler", int(field))

    def scaled(self, parser, field, k):
        return (type(parser).__name__, int(field) * k)


@pytest.mark.parametrize("converter, value", [
    (None, "08"),
    (int, 8),
    (str, "08"),
    (Halve(), 4),
    ([hexa, 16], 8),
])
def test_field_mapping_converters(core, converter, value):
    class Mapped(core.column_table_result_core_t):
        field_mapping = {"Age": converter}
    t = parse(core, "Address  Age\n1.1.1.1  08\n", ["Address", "Age"], cls=Mapped)
    assert t.entries["1.1.1.1"]["Age"] == value


def test_methods_among_the_converters_receive_the_parser(core):
    scaler = Scaler()

    class Presented:
        """Presents itself as a bound method through its class attribute."""
        __class__ = type(scaler.times)

        def __call__(self, parser, field):
            return ("presented", type(parser).__name__, field)

    class Mapped(core.column_table_result_core_t):
        field_mapping = {"A": scaler.times, "B": Presented(), "C": [scaler.scaled, 3], "D": [hexa, 2]}
    t = parse(core, "A  B  C  D\n2  3  4  101\n", ["A", "B", "C", "D"], cls=Mapped)
    # a bound method gets the value alone; one presented as such gets the parser first, and so
    # does a bound method heading a list, before the list's further items
    assert t.entries["2"] == {"A": ("scaler", 2), "B": ("presented", "Mapped", "3"), "C": ("Mapped", 12), "D": 5}


@pytest.mark.parametrize("converter, mapped_string, key, leaf", [
    (int, False, "08", 8),        # a number is keyed by its cleaned text
    (int, True, "8", 8),          # or by its text form
    (str.upper, False, "AB", "AB"),
])
def test_index_keys_of_converted_values(core, converter, mapped_string, key, leaf):
    class Mapped(core.column_table_result_core_t):
        field_mapping = {"Id": converter}
        index_mapped_string = mapped_string
    t = parse(core, "Id  Name\n%s  x\n" % ("08" if converter is int else "ab"), ["Id", "Name"], cls=Mapped)
    assert list(t.entries) == [key] and t.entries[key]["Id"] == leaf


def test_objects_with_cmp_and_hash_key_the_rows(core):
    class Token:
        def __init__(self, text):
            self.text = text

        def __cmp__(self, other):
            return 0
        __hash__ = object.__hash__

    class Mapped(core.column_table_result_core_t):
        field_mapping = {"Id": Token}
    t = parse(core, "Id  Name\n7   x\n", ["Id", "Name"], cls=Mapped)
    (key,) = t.entries
    assert isinstance(key, Token) and t.entries[key]["Id"] is key
    Mapped.index_objects = False
    assert list(parse(core, "Id  Name\n7   x\n", ["Id", "Name"], cls=Mapped).entries) == ["7"]


def test_field_mapping_on_a_subclass_leaves_the_base_untouched(core):
    base_mapping = core.column_result_t.field_mapping

    class Mapped(core.column_table_result_core_t):
        field_mapping = {"Age": int}
    assert parse(core, ARP.replace("-  ", "0  "), ARP_HEADINGS, cls=Mapped).entries["10.0.0.2"]["Age"] == 0
    assert core.column_result_t.field_mapping is base_mapping and base_mapping == {}
    assert parse(core, ARP, ARP_HEADINGS).entries == ARP_ENTRIES


@pytest.mark.parametrize("mapping, error", [({"Age": int}, ValueError), ({"Age": []}, IndexError)])
def test_converter_errors_propagate(core, mapping, error):
    class Mapped(core.column_table_result_core_t):
        field_mapping = mapping
    with pytest.raises(error):
        parse(core, ARP, ARP_HEADINGS, cls=Mapped)


def test_add_entry_called_directly_slices_like_python(core):
    t = parse(core, ARP, ARP_HEADINGS)
    line = "  alpha beta  gamma   "
    t.add_entry(line, ["x", "y", "z"], [(0, -12), (-14, 99), (-9, None)])
    expected = {"x": line[0:-12].strip(), "y": line[-14:99].strip(), "z": line[-9:].strip()}
    assert t.entries[expected["x"]] == expected
    with pytest.raises(IndexError):
        t.add_entry(line, ["x", "y", "z"], [(0, 3)])


# ---- hooks through the object -----------------------------------------------------------

HOOK_OVERRIDES = {
    "add_entry": lambda base: lambda self, line, hf, fd: base.add_entry(self, line, hf, fd),
    "cleanup_entry_field": lambda base: lambda self, h, f: base.cleanup_entry_field(self, h, f),
    "_map_entry_field": lambda base: lambda self, h, f: base._map_entry_field(self, h, f),
    "align_table": lambda base: lambda self, *a: base.align_table(self, *a),
    "compile_header_pattern": lambda base: lambda self, hf: base.compile_header_pattern(self, hf),
    "_add_entries_to_results": lambda base: lambda self, tv: base._add_entries_to_results(self, tv),
}


@pytest.mark.parametrize("hook", sorted(HOOK_OVERRIDES))
@pytest.mark.parametrize("where", ["subclass", "instance"])
def test_pass_through_overrides_give_the_base_entries(core, sample, hook, where):
    calls = []
    passing = HOOK_OVERRIDES[hook](core.column_table_result_core_t)

    def counted(self, *args):
        calls.append(hook)
        return passing(self, *args)

    settings = dict(table_terminal_pattern="^Total entries", table_title_pattern=r"^VRF: (\S+)", index=[0, 3])
    core.text_to_parse["vrf"] = sample("vrf_arp_tables.txt")
    expected = core.column_table_result_core_t(VRF_HEADINGS, parse_key="vrf", **settings).entries
    if where == "subclass":
        cls = type("Overriding", (core.column_table_result_core_t,), {hook: counted})
        t = cls(VRF_HEADINGS, parse_key="vrf", **settings)
    else:
        cls = core.column_table_result_core_t
        t = cls.__new__(cls)
        setattr(t, hook, counted.__get__(t))
        t.__init__(VRF_HEADINGS, parse_key="vrf", **settings)
    assert calls and t.entries == expected


def test_cleanup_hook_sees_every_cell(core):
    seen = []

    class Upper(core.column_table_result_core_t):
        def cleanup_entry_field(self, header, field):
            seen.append((header, field))
            return field.upper() if header != "Address" else field
    t = parse(core, ARP, ARP_HEADINGS, cls=Upper)
    assert seen[:3] == [("Address", "10.0.0.1"), ("Age", "5"), ("Hardware Addr", "0011.2233.4455")]
    assert t.entries["10.0.0.1"]["Hardware Addr"] == "0011.2233.4455".upper()


def test_rebound_module_names_take_effect(core):
    seen = []

    def search(pattern, text):
        seen.append((pattern, text))
        return re.search(pattern, text)
    core.search = search
    t = parse(core, "Address   Age\n1.1.1.1   3\nTotal 1\n", ["Address", "Age"], table_terminal_pattern="^Total")
    assert list(t.entries) == ["1.1.1.1"]
    # the alignment's test of each line without a delimiter for a wide gap, then the row walk's tests
    assert seen == [("   +", "Address   Age"), ("   +", "1.1.1.1   3"), ("   +", "Total 1"), ("   +", ""),
                    ("^Total", "1.1.1.1   3\n"), ("[a-zA-Z0-9]+", "1.1.1.1   3\n"), ("^Total", "Total 1\n")]
    core.search = re.search
    asked = []

    def isstr(s):
        asked.append(s)
        return False
    core.isstr = isstr  # keys then fall back to the cleaned values: the same texts
    assert parse(core, ARP, ARP_HEADINGS).entries == ARP_ENTRIES and asked == ["10.0.0.1", "10.0.0.2"]


@pytest.mark.parametrize("right_justified", [False, True])
def test_rebound_sub_and_escape_are_called_as_the_steps_call_them(core, right_justified):
    t = aligner(core)
    align = lambda: t.align_table(PORTS, ["Port", "Status"], None, "", right_justified)
    expected = align()
    seen = []

    def sub(pattern, repl, text):
        seen.append(("sub", pattern, repl))
        return re.sub(pattern, repl, text)

    def escape(text):
        seen.append(("escape", text))
        return re.escape(text)
    core.sub, core.escape = sub, escape
    assert align() == expected
    blanks = " " * 28
    ends = ["(\\s)+new_line+", "(\\s)+new_line"] if right_justified else ["new_line(\\s)+"] * 2
    missing = "(\\s)+header_missing" if right_justified else "header_missing(\\s)+"
    assert seen == [("escape", "|"), ("escape", "|"), ("sub", "\\| +\\|", "|header_missing|"),
                    ("sub", ends[0], "\n"), ("sub", ends[1], "\n"), ("sub", missing, blanks), ("sub", missing, blanks)]


def test_rebound_sub_result_is_aligned(core):
    # what the bound sub gives back is what the later steps work on
    core.sub = lambda pattern, repl, text: re.sub(pattern, repl, text).replace("eth", "ETH")
    t = parse(core, PORTS, ["Port", "Status"], delimiter="|")
    assert sorted(t.entries) == ["ETH0", "ETH1"]
    t = aligner(core)
    core.sub = lambda pattern, repl, text: 7  # then int has no replace(), whatever the table
    for table in ("no delimiter", PORTS):
        with pytest.raises(AttributeError):
            t.align_table(table, ["Port", "Status"], None, "", False)


def test_hooks_changed_mid_parse_take_effect_at_their_next_call(core):
    calls = []

    def upper(self, header, field):
        calls.append(field)
        return field.upper()

    class Changing(core.column_table_result_core_t):
        def cleanup_entry_field(self, header, field):
            # from the second cell on, as the object's own attribute
            self.cleanup_entry_field = upper.__get__(self)
            return field
    t = parse(core, ARP, ARP_HEADINGS, cls=Changing)
    assert t.entries["10.0.0.1"] == {"Address": "10.0.0.1", "Age": "5", "Hardware Addr": "0011.2233.4455".upper()}
    assert len(calls) == 5

    class Removed(core.column_table_result_core_t):
        field_mapping = {"Age": str}

        def _map_entry_field(self, header, field):
            del type(self)._map_entry_field  # the base's from the next cell on
            type(self).field_mapping = {"Age": lambda field: "<%s>" % field}
            return "first"
    assert parse(core, ARP, ARP_HEADINGS, cls=Removed).entries["10.0.0.2"]["Age"] == "<->"

    class Other(core.column_table_result_core_t):
        def cleanup_entry_field(self, header, field):
            return "other"

    class Switching(core.column_table_result_core_t):
        def cleanup_entry_field(self, header, field):
            self.__class__ = Other  # the object's class changes under the parse
            return field
    assert parse(core, ARP, ARP_HEADINGS, cls=Switching).entries == {
        "10.0.0.1": {"Address": "10.0.0.1", "Age": "other", "Hardware Addr": "other"},
        "other": {"Address": "other", "Age": "other", "Hardware Addr": "other"}}

    class Looked(core.column_table_result_core_t):
        # every lookup goes through user code
        def __getattribute__(self, name):
            if name == "index":
                calls.append(name)
            return super().__getattribute__(name)
    calls.clear()
    assert parse(core, ARP, ARP_HEADINGS, cls=Looked).entries == ARP_ENTRIES
    assert len(calls) > 2 * len(ARP_HEADINGS)


# ---- delimiter-table alignment ----------------------------------------------------------

PORTS = "| Port | Status |\n| eth0 | up     |\n| eth1 |        |\n"


def aligner(core, multi_line=False):
    t = parse(core, ARP, ARP_HEADINGS)
    t.multi_line = multi_line
    return t


def bar(*cells):
    return "|" + "|".join(cells) + "|\n"


@pytest.mark.parametrize("right, expected", [
    (False, bar("Port" + " " * 24, "Status" + " " * 22) + "+----+\n" + bar("eth0" + " " * 24, "up" + " " * 26)
     + bar("eth1" + " " * 24, " " * 28) + "\n"),
    (True, bar(" " * 24 + "Port", " " * 22 + "Status") + "+----+\n" + bar(" " * 24 + "eth0", " " * 26 + "up")
     + bar(" " * 24 + "eth1", " " * 28) + "\n"),
])
def test_alignment_worked_example(core, right, expected):
    t = aligner(core)
    assert t.align_table(PORTS, ["Port", "Status"], None, "", right) == expected
    assert t.align_table(PORTS, ["Port", "Status"], ["x"], "|", right) == expected


@pytest.mark.parametrize("text, header_fields", [
    (ARP, ARP_HEADINGS),                 # no delimiter in the text
    (PORTS, ["Port"]),                   # one heading text
    (PORTS, ["Port", "Port"]),           # equal heading texts count once
    ("| a | b |\n| c | d |\n", ["Port", "Status"]),
])
def test_text_without_a_header_row_comes_back_itself(core, text, header_fields):
    assert aligner(core).align_table(text, header_fields, None, "", False) is text


def test_unequal_heading_lines_raise_before_the_text_is_looked_at(core):
    with pytest.raises(AttributeError) as err:
        aligner(core, multi_line=True).align_table(ARP, [["a", "b", "c"], ["d", "e"]], None, "", False)
    assert err.value.args == ("Header fields are not of the same length. Please provide equal length header fields",)
    with pytest.raises(AttributeError, match="^Header fields are not of the same length"):
        parse(core, ARP, [["Address", "Age", "x"], ["a", "b"]])


def test_alignment_cells(core):
    t = aligner(core)
    out = t.align_table("| Port | Status |\n|  |   |  |\n| x || z |\nnote   wide\ntitle\n| eth9 | " + "a" * 40 + " |\n"
                        "| y |\t\t|\n", ["Port", "Status"], None, "", False).split("\n")
    w = 28
    wide = 41  # the column of the long cell is as wide as it, so that no cell pushes its line aside
    assert out[0] == bar("Port".ljust(w), "Status".ljust(wide))[:-1]
    assert out[1] == "+----+"
    # blank cells (even two side by side) and an empty cell between two delimiters keep their columns
    assert out[2] == bar(" " * w, " " * wide, " " * w)[:-1]
    assert out[3] == bar("x".ljust(w), " " * wide, "z".ljust(w))[:-1]
    # a line without the delimiter but with a wide gap is a one-cell row; other such lines vanish
    assert out[4] == bar("note   wide".ljust(w))[:-1]
    assert out[5] == bar("eth9".ljust(w), ("a" * 40).ljust(wide))[:-1]
    # a cell of tabs is no empty-cell marker, but justification blanks it all the same
    assert out[6] == bar("y".ljust(w), " " * wide)[:-1]
    assert out[7:] == ["", ""]


def test_alignment_rows_header_first_and_repeated(core):
    t = aligner(core)
    text = "| eth0 | up |\n| Port | Status |\n| eth1 | down |\n| Port | Status |\r\n"
    out = t.align_table(text, ["Port", "Status"], None, "", False)
    head = bar("Port".ljust(28), "Status".ljust(28))
    assert out == head + head + "+----+\n" + bar("eth0".ljust(28), "up".ljust(28)) \
        + bar("eth1".ljust(28), "down".ljust(28)) + "\n"
    assert t.align_table("| Port | Status |\n", ["Port", "Status"], None, "", False) == head + "+----+\n|\n"


@pytest.mark.parametrize("delimiter", ["!!", "\\", "\\1"])
def test_delimiters_are_taken_literally(core, delimiter):
    text = PORTS.replace("|", delimiter)
    out = aligner(core).align_table(text, ["Port", "Status"], None, delimiter, False)
    assert out == aligner(core).align_table(PORTS, ["Port", "Status"], None, "", False).replace("|", delimiter)


def test_two_line_heading_alignment(core):
    t = aligner(core, multi_line=True)
    headings = [["Port", "Admin", "Oper"], ["", "State", "State"]]
    out = t.align_table("| Port | Admin | Oper  |\n|      | State | State |\n| 1/1  | up    | down  |\n",
                        headings, None, "", False).split("\n")
    w = 27
    assert out[:4] == [bar("Port".ljust(w), "Admin".ljust(w), "Oper".ljust(w))[:-1],
                       bar(" " * w, "State".ljust(w), "State".ljust(w))[:-1], "+----+",
                       bar("1/1".ljust(w), "up".ljust(w), "down".ljust(w))[:-1]]
    # without its leading delimiter the second line keeps only its two cells
    out = t.align_table("| Port | Admin | Oper  |\n       | State | State |\n", headings, None, "", False)
    assert out.split("\n")[1] == bar("State".ljust(w), "State".ljust(w))[:-1]


def test_delimited_tables_end_to_end(core, sample):
    t = parse(core, sample("port_table.txt"), ["Port", "Admin", "Oper", "Description"], delimiter="|")
    assert list(t.entries) == ["1/1", "1/2", "1/3", "1/10"]
    assert t.entries["1/2"] == {"Port": "1/2", "Admin": "up", "Oper": "down", "Description": ""}
    assert t.entries["1/10"]["Description"] == "server rack 4 bmc"
    # two-line heading: the bars are removed by default
    text = ("| Port | Admin | Oper  |\n|      | State | State |\n|------|-------|-------|\n"
            "| 1/1  | up    | down  |\n")
    t = parse(core, text, [["Port", "Admin", "Oper"], ["", "State", "State"]])
    assert t.entries == {"1/1": {"Port ": "1/1", "Admin State": "up", "Oper State": "down"}}


# ---- the steps through a rebound compile ---------------------------------------------------

PROMPT = r"(?P<Title>[^/\s]+/[^/\s]+/[^/\s]+/\S+)\s*#$"
HEADING_EXPR = r"([ \t]*)(Address)([ \t]*)(Age)[ \t]*[\n\r]+"
TITLE = r"(\S+) table"
# a prompt, two titled tables, the second one's skip_header line below its first row, no final line feed
TITLED = ("lab/r1/ctx/sys#\nR1 table\nAddress   Age\n=====     ===\n10.0.0.1  5\n10.0.0.2  6\n"
          "R2 table\nAddress   Age\n10.0.0.3  7\n=====     ===\n10.0.0.4  8")


def compiling(seen, instead=None):
    """A compile that records each pattern and compiles it, or what `instead` maps it to, with re's own."""
    def compile(pattern, *flags):
        seen.append(pattern)
        return re.compile((instead or {}).get(pattern, pattern), *flags)
    return compile


@pytest.mark.parametrize("settings, compiled", [
    ({}, [HEADING_EXPR, r".*\n", r".*\n"]),
    ({"skip_header": "==="}, [HEADING_EXPR, r"===.*\n", r".*\n", r"===.*\n", r".*\n"]),
    ({"table_title_pattern": TITLE}, [HEADING_EXPR, PROMPT, TITLE, TITLE, r".*\n", r".*\n"]),
    ({"table_title_pattern": TITLE, "skip_header": "==="},
     [HEADING_EXPR, PROMPT, TITLE, TITLE, r"===.*\n", r".*\n", r"===.*\n", r".*\n"]),
], ids=["untitled", "skip_header", "titled", "titled-skip_header"])
def test_rebound_compile_compiles_each_step_in_order(core, settings, compiled):
    expected = parse(core, TITLED, ["Address", "Age"], **settings)
    seen = []
    core.compile = compiling(seen)
    t = parse(core, TITLED, ["Address", "Age"], **settings)
    # (the alignment's header test compiles the heading texts on its own)
    assert [p for p in seen if p not in ("Address", "Age")] == compiled
    assert t.entries == expected.entries and t._text_to_parse == expected._text_to_parse


@pytest.mark.parametrize("instead, text, rows", [
    # the line expression's matches are the lines: here each starts at its first digit
    ({r".*\n": r"\d.*\n"}, "Address   Age\nxx 1.1.1.1 5\n2.2.2.2   6\n", ["1.1.1.1 5", "2.2.2.2   6"]),
    ({}, "Address   Age\nxx 1.1.1.1 5\n2.2.2.2   6\n", ["xx 1.1.1.1 5", "2.2.2.2   6"]),
    # the prompt expression drops the lines it matches while the text is cut into its tables
    ({PROMPT: r"2\.2"}, "R1 table\nAddress   Age\n1.1.1.1   5\nlab/r1/ctx/sys#\n2.2.2.2   6\n",
     ["1.1.1.1   5", "lab/r1/ctx/sys#"]),
    ({}, "R1 table\nAddress   Age\n1.1.1.1   5\nlab/r1/ctx/sys#\n2.2.2.2   6\n", ["1.1.1.1   5", "2.2.2.2   6"]),
])
def test_rebound_compile_gives_the_expressions_the_steps_use(core, recorder, instead, text, rows):
    core.compile = compiling([], instead)
    t = parse(core, text, ["Address", "Age"], table_title_pattern=TITLE if "table" in text else None, cls=recorder)
    assert [line for line, _, _ in t.calls] == rows


# ---- column bounds handed to an add_entry override ---------------------------------------------

STEPPING = "Address   Age  Port\n1.1.1.1   3    e0\n2.2.2.2   4    e1\n3.3.3.3   5    e2\n" \
           "Address  Age Port\n4.4.4.4  6   e3\n"


def set_item(delims):
    delims[1] = (12, 15)


@pytest.mark.parametrize("change", [
    set_item, lambda d: d.insert(0, (0, 2)), lambda d: d.reverse(), lambda d: d.append((0, 1)), lambda d: None,
], ids=["item-replaced", "item-inserted", "reversed", "item-appended", "unchanged"])
@pytest.mark.parametrize("aside", ["removed-from-the-class", "the-base-method-on-the-object"])
def test_later_rows_are_cut_from_the_list_an_override_was_handed(core, change, aside):
    base = core.column_table_result_core_t
    handed = []

    class Stepping(base):
        def add_entry(self, line, header_fields, field_delims):
            if not handed:
                handed.append(field_delims)
                change(field_delims)
                # the base's own add_entry from the next row on
                if aside == "removed-from-the-class":
                    del Stepping.add_entry
                else:
                    self.add_entry = base.add_entry.__get__(self)
            return base.add_entry(self, line, header_fields, field_delims)

    t = parse(core, STEPPING, ["Address", "Age", "Port"], cls=Stepping)
    (delims,) = handed

    def row(line, bounds):
        cells = [line[a:b] for a, b in bounds[:2]] + [line[bounds[2][0]:]]
        return dict(zip(["Address", "Age", "Port"], (c.strip() for c in cells)))
    lines = STEPPING.splitlines()
    expected = [row(line, delims) for line in lines[1:4]]
    # the next heading gets bounds of its own
    expected.append(row(lines[5], [(0, 9), (9, 13), (13, 17)]))
    assert list(t.entries.values()) == list({r["Address"]: r for r in expected}.values())


def test_later_rows_cut_from_a_shortened_list_fail_as_slicing_does(core):
    base = core.column_table_result_core_t

    class Stepping(base):
        def add_entry(self, line, header_fields, field_delims):
            del Stepping.add_entry
            result = base.add_entry(self, line, header_fields, field_delims)
            field_delims.pop()
            return result

    with pytest.raises(IndexError):
        parse(core, STEPPING, ["Address", "Age", "Port"], cls=Stepping)


# ---- the heading search -----------------------------------------------------------------------

# Heading texts without a literal start (so that every position could start a
# match) and a few that refer to groups or hold flags, beside literal ones.
HEADING_SETS = [
    ["[Pp]ort", "Status"], ["(?:P|p)ort", "Status"], ["P?ort", "[Ss]tatus"], [r"\s*Port", "Status"],
    ["[ P]ort", "Status"], ["x*[Pp]ort", "Status"], [r"(?<= )Port", "Status"], [r"(?<![a-z])[Pp]ort", "Status"],
    [r"^[Pp]ort", "Status"], [r"\b[Pp]ort", r"Status\b"], ["(?i)port", "status"], ["(?i:p)ort", "Status"],
    [r"[Pp]ort(s?)", r"\2Status"], ["[Pp]ort", r"\1Status"], ["Port|port", "Status"], ["", "Status"],
    ["Port", "Status"], ["Port", r"\1Status"], [r"Port\s", "Status"],
    [["[Pp]ort", "Status"], ["Name", "Now"]], [["Port", "Status"], ["Name", "Now"]],
]
WORDS = ["Port", "port", "PORT", "Ports", "Status", "status", "Name", "Now", "eth0", "up", "x", "ports", "sport"]
BLANKS = st.one_of(st.sampled_from(["", " ", "  ", "\t", " \t "]), st.integers(1, 90).map(lambda n: " " * n))
ENDS = st.sampled_from(["\n", "\n", "\n", "\r\n", "\r", " \n", "\n\n"])


# the cells of lines that the heading sets match, or nearly do
HEADING_CELLS = [["Port", "port", "Ports", "sport"], ["Status", "status", "Stat"], ["Name", "Now"], ["Now"]]


@st.composite
def heading_text(draw):
    lines = []
    for _ in range(draw(st.integers(1, 12))):
        if draw(st.booleans()):
            cells = [draw(st.sampled_from(words)) for words in HEADING_CELLS[:2]]
            if draw(st.booleans()):  # the second line of a two-line heading
                lines.append("".join(draw(BLANKS) + c for c in cells) + draw(BLANKS) + draw(ENDS))
                cells = [draw(st.sampled_from(words)) for words in HEADING_CELLS[2:]]
        else:
            cells = draw(st.lists(st.sampled_from(WORDS), min_size=0, max_size=4))
        line = "".join(draw(BLANKS) + cell for cell in cells) + draw(BLANKS)
        lines.append(line + draw(ENDS))
    text = "".join(lines)
    return text[:-1] if draw(st.booleans()) and text.endswith("\n") else text


@EXAMPLES
@given(text=heading_text(), header_fields=st.sampled_from(HEADING_SETS), right_justified=st.booleans(),
       skip_line=st.sampled_from([None, "sport"]))
def test_heading_search_finds_the_matches_of_finditer(core, recorder, text, header_fields, right_justified,
                                                       skip_line):
    # with compile rebound to a wrapper of re's own, the driver runs the heading
    # expression's finditer and search and the line expression's finditer as written
    settings = dict(right_justified=right_justified, skip_line=skip_line)
    fast = parse(core, text, header_fields, cls=recorder, **settings)
    native = parse(core, text, header_fields, **settings)
    core.compile = lambda pattern, *flags: re.compile(pattern, *flags)
    slow = parse(core, text, header_fields, cls=recorder, **settings)
    core.compile = re.compile
    assert getattr(fast, "calls", []) == getattr(slow, "calls", [])
    assert fast.entries == slow.entries == native.entries


# ---- what the parse keeps between uses -----------------------------------------------------------
# Each kept answer is seen to change when what it watches changes between two
# uses, in the middle of a use, and by the work whose answer is kept.

KEPT = "Address   Age\n=====\n1.1.1.1   3\n2.2.2.2   4\nTotal 2\nAddress   Age\n=====\n3.3.3.3   5\n"


class Colliding:
    """A key of another type than str that a dict lookup of `name` compares
    with: its __eq__ runs `change` once `armed` holds."""
    def __init__(self, name, change):
        self.name, self.change, self.armed = name, change, False

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        if self.armed:
            self.armed = False
            self.change()
        return False


def searching(seen):
    def search(pattern, text):
        seen.append((pattern, text))
        return re.search(pattern, text)
    return search


def at_first_row(base, action):
    """A parser class that runs action(self) as it cleans the first row's last cell."""
    class Acting(base):
        def cleanup_entry_field(self, header, field):
            if field == "3":
                action(self)
            return field
    return Acting


def kept_search_between_lines(core, base):
    seen = []

    rebinding = at_first_row(base, lambda self: setattr(core, "search", searching(seen)))
    parse(core, KEPT, ["Address", "Age"], table_terminal_pattern="^Total", cls=rebinding)
    return seen[:2]


def kept_search_mid_call(core, base):
    seen = []

    def search(pattern, text):
        core.search = searching(seen)  # from the next test on
        return re.search(pattern, text)

    rebinding = at_first_row(base, lambda self: setattr(core, "search", search))
    parse(core, KEPT, ["Address", "Age"], table_terminal_pattern="^Total", cls=rebinding)
    return seen[:2]


def hashed_rebinding(core, name, value):
    """A str subclass whose first __hash__ binds core.<name> to `value`."""
    done = []

    class Rebinding(str):
        def __hash__(self):
            if not done:
                done.append(setattr(core, name, value))
            return str.__hash__(self)
    return Rebinding


def kept_search_by_the_patterns_hash(core, base):
    seen = []

    # re's search hashes the pattern at each call
    pattern = hashed_rebinding(core, "search", searching(seen))
    parse(core, KEPT, ["Address", "Age"], table_terminal_pattern=pattern("^Total"))
    return seen[:2]


def kept_search_by_its_lookup(core, base):
    seen = []
    key = Colliding("search", lambda: setattr(core, "search", searching(seen)))
    # the key stands before the name in the lookup's probe order
    del core.search
    vars(core)[key] = None
    core.search = re.search

    try:
        parse(core, KEPT, ["Address", "Age"], table_terminal_pattern="^Total",
              cls=at_first_row(base, lambda self: setattr(key, "armed", True)))
    finally:
        del vars(core)[key]
    return seen[:2]


SEARCHED_AFTER_THE_FIRST_ROW = [("^Total", "2.2.2.2   4\n"), ("[a-zA-Z0-9]+", "2.2.2.2   4\n")]


def kept_compile_between_headings(core, base):
    seen = []

    class Rebinding(base):
        def add_entry(self, line, header_fields, field_delims):
            core.compile = compiling(seen)
            return base.add_entry(self, line, header_fields, field_delims)
    parse(core, KEPT, ["Address", "Age"], skip_header="=====", cls=Rebinding)
    return seen


def kept_compile_mid_call(core, base):
    seen = []

    def compile(pattern, *flags):
        core.compile = compiling(seen)  # from the next compile on
        return re.compile(pattern, *flags)
    core.compile = compile
    parse(core, KEPT, ["Address", "Age"], skip_header="=====")
    return seen[-2:]


def kept_compile_by_the_patterns_hash(core, base):
    seen = []

    # re's compile hashes the pattern
    composed = hashed_rebinding(core, "compile", compiling(seen))

    class SkipHeader(str):
        def __add__(self, other):
            return composed(str(self) + other)
    parse(core, KEPT, ["Address", "Age"], skip_header=SkipHeader("====="))
    return seen


def kept_add_entry_between_rows(core, base):
    seen = []

    setting = at_first_row(base, lambda self: setattr(self, "add_entry", lambda line, *_: seen.append(line)))
    parse(core, KEPT, ["Address", "Age"], cls=setting)
    return seen


def kept_add_entry_mid_call(core, base):
    seen = []

    class Shadowing(base):
        def add_entry(self, line, header_fields, field_delims):
            # the object's own from the next row on
            self.add_entry = lambda line, names, delims: seen.append(line)
            return base.add_entry(self, line, header_fields, field_delims)
    parse(core, KEPT, ["Address", "Age"], cls=Shadowing)
    return seen


def by_a_colliding_key(core, base, name, change):
    """A parse of KEPT (a function of the settings) by an object whose own dict
    holds a Colliding key for `name`, armed at the first row; its __eq__ runs
    change(the object's class)."""
    def parsed(*settings):
        key = Colliding(name, lambda: change(cls))
        cls = at_first_row(base, lambda self: setattr(key, "armed", True))
        core.text_to_parse[""] = KEPT
        t = cls.__new__(cls)
        vars(t)[key] = None
        t.__init__(*settings)
        return t
    return parsed


def kept_add_entry_by_its_lookup(core, base):
    seen = []

    def override(self, line, names, delims):
        seen.append(line)
    # the lookup that runs it still gives the method it found first, the next one the override
    armed = by_a_colliding_key(core, base, "add_entry", lambda cls: setattr(cls, "add_entry", override))
    armed(["Address", "Age"])
    return seen


def ages(core, cls):
    t = parse(core, KEPT, ["Address", "Age"], table_terminal_pattern="^Total", cls=cls)
    return [row["Age"] for row in t.entries.values()]


def kept_field_mapping_between_cells(core, base):
    return ages(core, at_first_row(base, lambda self: setattr(self, "field_mapping", {"Age": int})))


def kept_field_mapping_mid_call(core, base):
    def convert(field):
        Rebinding.field_mapping = {"Age": lambda field: "<%s>" % field}
        return int(field)

    class Rebinding(base):
        field_mapping = {"Age": convert}
    return ages(core, Rebinding)


def kept_field_mapping_by_its_lookup(core, base):
    armed = by_a_colliding_key(core, base, "field_mapping", lambda cls: setattr(cls, "field_mapping", {"Age": int}))
    return [row["Age"] for row in armed(["Address", "Age"], "^Total").entries.values()]


ROWS_AFTER_THE_FIRST = ["2.2.2.2   4", "Total 2", "3.3.3.3   5"]


@pytest.mark.parametrize("case, expected", [
    (kept_search_between_lines, SEARCHED_AFTER_THE_FIRST_ROW),
    (kept_search_mid_call, [("[a-zA-Z0-9]+", "2.2.2.2   4\n"), ("^Total", "Total 2\n")]),
    (kept_search_by_the_patterns_hash, [("[a-zA-Z0-9]+", "=====\n"), ("^Total", "1.1.1.1   3\n")]),
    (kept_search_by_its_lookup, SEARCHED_AFTER_THE_FIRST_ROW),
    (kept_compile_between_headings, [r"=====.*\n", r".*\n"]),
    (kept_compile_mid_call, [r"=====.*\n", r".*\n"]),
    (kept_compile_by_the_patterns_hash, [r".*\n", r"=====.*\n", r".*\n"]),
    (kept_add_entry_between_rows, ROWS_AFTER_THE_FIRST),
    (kept_add_entry_mid_call, ROWS_AFTER_THE_FIRST),
    (kept_add_entry_by_its_lookup, ROWS_AFTER_THE_FIRST[1:]),
    (kept_field_mapping_between_cells, [3, 4, 5]),
    (kept_field_mapping_mid_call, [3, "<4>", "<5>"]),
    # the lookup that runs the key's __eq__ still gives the mapping it found first
    (kept_field_mapping_by_its_lookup, ["3", 4, 5]),
], ids=lambda case: case.__name__[5:] if callable(case) else "")
def test_kept_answers_follow_what_they_watch(core, case, expected):
    assert case(core, core.column_table_result_core_t) == expected
