"""oper_check and oper_fill: preparation of the pairs, the parse on given,
fresh or cached output, the diagnosis text, the fill pattern."""
import logging
import re
import types

import pytest

from interfering import Once, collide_first
from ryn import testbed

OUT = "mgmt0 is up\nadmin state is up\n  MTU 1500 bytes, BW 0 Kbit\n"
IF_NAME, MTU, IP, ADMIN = "show.intf.if_name", "show.intf.mtu", "show.intf.ip_address", "show.intf.admin_state"
NOT_FOUND = "Attribute %s not found in the show command (or textloom stopped before at an error)"


@pytest.fixture
def registry(core):
    core.extend({"brume": {IF_NAME: r"^(\S+) is \S+", MTU: r"^\s+MTU (\d+) bytes",
                           IP: [r"^\s+Internet Address is ([0-9.]+)/\d+", r"^\s+IP address ([0-9.]+)"]},
                 "show.clock": r"^(\d\d:\d\d:\d\d)"},
                {"brume": {"SHOW_INTF": "show interface {ifname}"}},
                {"brume": [IF_NAME, MTU, IP]})
    return core


@pytest.fixture
def device():
    dev = testbed.Device("R1", os="brume", handle=False,
                         outputs={"show interface mgmt0": OUT, "show clock": "10:00:00 UTC\n"})
    dev.connect()
    return dev


def history(dev, alias="default"):
    return dev.connectionmgr.connections[alias].history


@pytest.fixture
def warnings(caplog):
    caplog.set_level(logging.WARNING, logger="mirel.textloom._textloom")

    class Messages:
        @property
        def messages(self):
            return [r.getMessage() for r in caplog.records if r.name == "mirel.textloom._textloom"]
    return Messages()


# --- construction -----------------------------------------------------------

def test_device_path_state(tl, registry, device):
    check = tl.oper_check(device, "SHOW_INTF", [(IF_NAME, "mgmt0")], refresh_cache=1, negate=0,
                          device_conn_alias=None, device_os="ignored")
    assert vars(check) == {
        "raw_cli": None, "_errors": [], "_show_command": "SHOW_INTF", "_refresh_cache": 1,
        "_refresh_cache_init": 1, "_device": device, "_device_conn_alias": None, "_device_os": "brume",
        "_fill": False, "_skip": False, "_negate": 0, "_attributes": [IF_NAME], "_values": ["mgmt0"],
        "_values_debug": ["mgmt0"]}
    assert check._values_debug is check._values


def test_output_path_state(tl, registry):
    check = tl.oper_check(attrvalpairs=[(IF_NAME, "mgmt0")], device_output=OUT, device_os="brume",
                          device_conn_alias="ignored")
    assert type(check._device) is tl.Device and check._device.name == "device_name"
    assert (check._device_conn_alias, check._device_os, check.raw_cli) == ("any", "brume", OUT)


def test_device_wins_over_output(tl, registry, device):
    check = tl.oper_check(device, "SHOW_INTF", [(IF_NAME, "mgmt0")], device_conn_alias="", device_output=OUT,
                          device_os="pellam")
    assert (check._device, check._device_os, check._device_conn_alias, check.raw_cli) == (device, "brume", "", OUT)


@pytest.mark.parametrize("cls", ["oper_check", "oper_fill"])
def test_missing_pairs(tl, cls):
    klass = getattr(tl, cls)
    obj = klass.__new__(klass)
    with pytest.raises(TypeError) as info:
        obj.__init__(device_output=OUT)
    assert str(info.value) == "'%s' missing 1 required positional argument: 'attrvalpairs'" % object.__repr__(obj)
    assert re.fullmatch(r"'<mirel\.textloom\._textloom\.%s object at 0x[0-9a-f]+>' missing .*" % cls,
                        str(info.value))
    assert vars(obj) == {}


@pytest.mark.parametrize("cls", ["oper_check", "oper_fill"])
@pytest.mark.parametrize("device, output", [(None, None), (None, ""), (0, ""), ([], None)])
def test_neither_device_nor_output(tl, cls, device, output):
    klass = getattr(tl, cls)
    obj = klass.__new__(klass)
    with pytest.raises(AttributeError) as info:
        obj.__init__(device, "SHOW", [], device_output=output, device_os="brume")
    assert str(info.value) == \
        "Neither 'device' nor 'device_output' has been passed when calling '%s'" % object.__repr__(obj)
    assert vars(obj) == {"raw_cli": output, "_errors": [], "_show_command": "SHOW", "_refresh_cache": False,
                         "_refresh_cache_init": False}


def test_get_os_type_errors_leave_the_constructor(tl, registry):
    class Broken:
        def is_connected(self, alias=None):
            raise ConnectionError("gone")
    with pytest.raises(ConnectionError, match="^gone$"):
        tl.oper_check(Broken(), "SHOW", [(IF_NAME, "x")])


# --- process_attrvalpairs --------------------------------------------------------

@pytest.mark.parametrize("tags, pairs, attributes, values", [
    (["t1", "t2", "t3"], [("t3", 3), ("t1", 1)], ["t1", "t3"], [1, 3]),
    (["t1", "t2", "t3"], [("t3", 3), ("t9", 9)], ["t3", "t9"], [3, 9]),       # one unregistered: caller's order
    (["t2", "t1"], [("t1", 1), ("t2", 2), ("t1", 5)], ["t2", "t1", "t1"], [2, 1, 5]),
    (["t1"], ((("t1", 1)),), ["t1"], [1]),                                      # a tuple of tuples
    (["t1", "t2"], [["t2", 2], ("t1", 1)], ["t1", "t2"], [1, 2]),              # later pairs may be lists
    (["t1"], [("t1", 1, "ignored")], ["t1"], [1]),
])
def test_pairs_follow_the_registered_order(tl, core, tags, pairs, attributes, values):
    core.extend(None, None, {"brume": tags})
    check = tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")
    assert (check._attributes, check._values) == (attributes, values)
    assert type(check._attributes) is list and type(check._values) is list


class Folded(str):
    """A tag that equals any spelling of itself in another case."""
    __hash__ = str.__hash__

    def __eq__(self, other):
        return str.lower(self) == str.lower(other)


@pytest.mark.parametrize("first", ["".join(["t", "1"]), Folded("T1")])
def test_pairs_are_matched_to_tags_by_equality(tl, core, first):
    core.extend(None, None, {"brume": ["t2", "t1"]})
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(first, 1), ("t2", 2)], device_os="brume")
    assert check._attributes == ["t2", first] and check._attributes[1] is first


class Unequal(str):
    """A tag equal to nothing, itself included (as a NaN is)."""
    __hash__ = str.__hash__

    def __eq__(self, other):
        return False
    __ne__ = str.__ne__


def changing(text, change):
    """A tag that runs change() at its first comparison, then compares as `text`."""
    class Changing(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            nonlocal change
            if change:
                run, change = change, None
                run()
            return str.__eq__(self, other)
        __ne__ = str.__ne__
    return Changing(text)


NAN = Unequal("t1")


# Registered tags t1, t2 and the pairs (tag, 2), (t1, 1), where the tag is t2
# and changes the pairs at its first comparison: every tag goes through the
# pairs as they stand, reading their items 0 afresh, and compares by ==.
@pytest.mark.parametrize("second, change, attributes, values", [
    (("t1", 1), lambda pairs: pairs.__setitem__(1, ("t2", 5)), ["t2", "t2"], [2, 5]),   # a pair replaced
    (["t1", 1], lambda pairs: pairs[1].__setitem__(0, "t2"), ["t2", "t2"], [2, 1]),     # an item 0 replaced
    (("t1", 1), lambda pairs: pairs.append(("t1", 7)), ["t1", "t1", "t2"], [1, 7, 2]),
    (("t1", 1), lambda pairs: pairs.pop(), ["t2"], [2]),
    (("t1", 1), None, ["t1", "t2"], [1, 2]),
])
def test_pairs_are_ordered_as_they_stand(tl, core, second, change, attributes, values):
    core.extend(None, None, {"brume": ["t1", "t2"]})
    pairs = []
    pairs += [(changing("t2", change and (lambda: change(pairs))), 2), second]
    check = tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")
    assert (check._attributes, check._values) == (attributes, values)


@pytest.mark.parametrize("tags", [[NAN, "t2"], ["t2", NAN]])
def test_a_tag_equal_to_nothing_keeps_the_callers_order(tl, core, tags):
    core.extend(None, None, {"brume": tags})
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(NAN, 1), ("t2", 2)], device_os="brume")
    assert [str(tag) for tag in check._attributes] == ["t1", "t2"] and check._attributes[0] is NAN


@pytest.mark.parametrize("change, attributes", [
    (lambda tags, pairs: tags.reverse(), ["t3", "t2", "t1"]),
    (lambda tags, pairs: tags.__setitem__(0, "".join(["t", "2"])), ["t2", "t2", "t3"]),
    (lambda tags, pairs: pairs.__setitem__(0, ("t9", 9)), ["t9", "t2", "t1"]),   # one unregistered
    (lambda tags, pairs: pairs.pop(), ["t2", "t3"]),
])
@pytest.mark.parametrize("when", ["between constructions", "mid-construction"])
def test_pairs_order_sees_a_change(tl, core, change, attributes, when):
    # the kept order of plain pairs is found without user code: a change comes
    # between two constructions, or in one before its pairs are ordered
    core.extend(None, None, {"brume": ["t1", "t2", "t3"]})
    pairs = [("t3", 3), ("t2", 2), ("t1", 1)]
    for _ in range(2):
        check = tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")
        assert check._attributes == ["t1", "t2", "t3"]

    class Changing:
        name, os = "R3", "brume"

        def is_connected(self, alias=None):
            change(core._glb_regex_tags["brume"], pairs)
            return True
    if when == "between constructions":
        change(core._glb_regex_tags["brume"], pairs)
        check = tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")
    else:
        check = tl.oper_check(Changing(), attrvalpairs=pairs)
    assert check._attributes == attributes


def test_a_value_dropped_by_the_kept_order_may_change_the_lists(tl, core):
    core.extend(None, None, {"brume": ["t1", "t2"]})
    later = [("t2", 2), ("t1", 1)]

    class Dropped:
        def __del__(self):
            later.clear()
            core._glb_regex_tags["brume"].clear()
    first = [("t2", Dropped()), ("t1", 1)]
    tl.oper_check(device_output=OUT, attrvalpairs=first, device_os="brume")
    del first
    check = tl.oper_check(device_output=OUT, attrvalpairs=later, device_os="brume")
    assert later == [] and check._errors == [[2 ** 63 - 1, "attrvalpairs is invalid []"]]


def test_reorder_false_keeps_the_callers_order(tl, core):
    core.extend(None, None, {"brume": ["t1", "t2"]})
    check = tl.oper_check(device_output=OUT, attrvalpairs=[("t1", 1)], device_os="brume")
    assert check.process_attrvalpairs([("t2", 2), ("t1", 1)], "brume", reorder=False) is None
    assert check._attributes == ["t2", "t1"]
    check.process_attrvalpairs([("t2", 2), ("t1", 1)], "brume")
    assert check._attributes == ["t1", "t2"]


@pytest.mark.parametrize("pairs, shown", [
    ([], "[]"), ((), "[]"), ([["t1", 1]], "[['t1', 1]]"),
])
def test_invalid_pairs_are_recorded_not_raised(tl, core, pairs, shown):
    core.extend(None, None, {"brume": ["t1"]})
    check = tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")
    assert check._errors == [[2 ** 63 - 1, "attrvalpairs is invalid %s" % shown]]
    assert not hasattr(check, "_attributes") and not hasattr(check, "_values")
    for use in (check.parse, check.test, check.dump, lambda: str(check)):
        with pytest.raises(AttributeError, match="_attributes"):
            use()


def test_named_tuple_is_not_a_pair(tl):
    import collections
    Pair = collections.namedtuple("Pair", "tag value")
    check = tl.oper_check(device_output=OUT, attrvalpairs=[Pair("t1", 1)], device_os="brume")
    assert check._errors == [[2 ** 63 - 1, "attrvalpairs is invalid [Pair(tag='t1', value=1)]"]]


def test_output_without_os(tl, core):
    # no tag list registered at all: the pairs keep their order
    check = tl.oper_check(device_output=OUT, attrvalpairs=[("b", 1), ("a", 2)])
    assert check._device_os is None and check._attributes == ["b", "a"]
    core.extend(None, None, {"brume": ["a"]})
    with pytest.raises(KeyError) as info:
        tl.oper_check(device_output=OUT, attrvalpairs=[("a", 1)])
    assert info.value.args == (None,)


@pytest.mark.parametrize("pairs, error", [
    ([("t1", 1), 5], TypeError),        # a pair that cannot be indexed
    ([("t1",)], IndexError),            # reordering reaches item 1
    (iter([("t1", 1)]), TypeError),     # no length
])
def test_malformed_pairs_raise(tl, core, pairs, error):
    core.extend(None, None, {"brume": ["t1"]})
    with pytest.raises(error):
        tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")


# --- result, error, test, dump -----------------------------------------------------

@pytest.mark.parametrize("negate, given, expected", [
    (True, True, False), (True, 0, True), ("yes", "", True), (False, 0, 0), (None, "kept", "kept"),
])
def test_result_applies_the_negation(tl, negate, given, expected):
    check = tl.oper_check(device_output=OUT, attrvalpairs=[("t", 1)], negate=negate)
    got = check.result(given)
    assert got == expected and type(got) is type(expected)


def test_errors_stay_sorted_by_line(tl):
    check = tl.oper_check(device_output=OUT, attrvalpairs=[("t", 1)])
    for args in (("m",), ("k", 3), ("j", 1), ("i", 3), ("h",)):
        assert check.error(*args) is None
    assert check._errors == [[1, "j"], [3, "k"], [3, "i"], [2 ** 63 - 1, "m"], [2 ** 63 - 1, "h"]]


def test_test_and_dump(tl, registry, monkeypatch):
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0")], device_os="brume", negate=True)
    outcomes = iter(["first", 0])
    monkeypatch.setattr(tl.oper_check, "parse", lambda self: next(outcomes))
    assert check.test() == "first" and check.test() == 0
    assert check.dump() == str(check) == "Textloom attributes : show.intf.if_name : mgmt0 - "


# --- parse ---------------------------------------------------------------------

def test_check_succeeds_on_given_output(tl, registry):
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(MTU, "1500"), (IF_NAME, "mgmt0")], device_os="brume")
    assert check.parse() is True
    assert check._attributes == [IF_NAME, MTU]
    assert tl.ext_dictio["device_name"] == {IF_NAME: "mgmt0", MTU: "1500"}
    assert tl.core.text_to_parse["device_name"] is OUT
    assert check._errors == [] and check._refresh_cache is False
    assert str(check) == "Textloom attributes : show.intf.if_name : mgmt0 - show.intf.mtu : 1500 - "


@pytest.mark.parametrize("values, shown", [
    ((None, None), "None"),               # wildcards accept any value
    (("mgmt0", ("1400", "1500")), "('1400', '1500')"),
])
def test_wildcards_and_alternatives(tl, registry, values, shown):
    check = tl.oper_check(device_output=OUT, attrvalpairs=list(zip([IF_NAME, MTU], values)), device_os="brume")
    assert check.parse() is True
    assert str(check).endswith("show.intf.mtu : %s - " % shown)


MISMATCH = (
    "Textloom attributes : show.intf.if_name : mgmt0 - show.intf.mtu : 9000 - "
    "\n\n: Diagnosis : \n"
    "Attribute show.intf.mtu has value '1500' (expected '9000')\n"
    "\n"
    "Node: device_name, Show command: None\n"
    "mgmt0 is up\n"
    "admin state is up\n"
    "  MTU 1500 bytes, BW 0 Kbit                                                     "
    "<=== Attribute show.intf.mtu has value '1500' (expected '9000')\n"
    "\n"
)


def test_mismatch_diagnosis(tl, registry):
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0"), (MTU, "9000")], device_os="brume")
    assert check.parse() is False
    assert check._errors == [
        [2, "Attribute show.intf.mtu has value '1500' (expected '9000')"],
        [2 ** 63 - 1, ""],
        [2 ** 63 - 1, "Node: device_name, Show command: None"],
    ]
    assert check._refresh_cache is True
    assert str(check) == MISMATCH
    assert check.dump() == MISMATCH
    negated = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0"), (MTU, "9000")],
                            device_os="brume", negate=True)
    assert negated.parse() is True and str(negated) == MISMATCH


def test_each_diagnostic_reads_the_expected_values_anew(tl, registry):
    class Renumbering(tl.oper_check):
        def error(self, msg, line=2 ** 63 - 1):
            super().error(msg, line)
            self._values = ["after %d" % len(self._errors)] * 2
    # a doubled tag: both positions report the value found
    check = Renumbering(device_output=OUT, attrvalpairs=[(MTU, "9000"), (MTU, "9001")], device_os="brume")
    assert check.parse() is False
    assert [e[1] for e in check._errors[:2]] == ["Attribute show.intf.mtu has value '1500' (expected 'after 2')",
                                                 "Attribute show.intf.mtu has value '1500' (expected 'after 3')"]


def test_not_found_attributes_are_listed_in_tag_order(tl, registry):
    # a tag never found holds back the tags after it; the parse reaches the end of the text
    check = tl.oper_check(device_output="mgmt0 is up\n", attrvalpairs=[(IP, "10.0.0.1"), (IF_NAME, "mgmt0"),
                                                                        (MTU, "1500")], device_os="brume")
    assert check.parse() is False
    assert [e[1] for e in check._errors] == [
        "# Values != # attributes, # attr: 3, # keys: 1. attributes with the same name given in input ?",
        "Node: device_name, Show command: None", NOT_FOUND % MTU, NOT_FOUND % IP]


def test_marker_lands_on_the_line_the_parser_meant(tl, registry):
    # the parser numbers lines after the leading line feeds it strips
    out = "\n\r\n" + OUT
    check = tl.oper_check(device_output=out, attrvalpairs=[(IF_NAME, "mgmt0"), (MTU, "9000")], device_os="brume")
    assert check.parse() is False
    assert check._errors[0][0] == 2
    lines = str(check).split("\n")
    shown = lines[lines.index("Node: device_name, Show command: None") + 1:]
    assert shown[:2] == ["", "\r"]
    assert shown[4].startswith("  MTU 1500") and shown[4].endswith("<=== " + check._errors[0][1])


@pytest.mark.parametrize("line, shown", [
    ("x" * 79, "x" * 79 + " <=== m"),
    ("x" * 80, "x" * 80 + "<=== m"),
    ("x" * 95, "x" * 95 + "<=== m"),
    ("ab\r", "ab\r" + " " * 77 + "<=== m"),
])
def test_marked_lines_are_padded_to_80(tl, line, shown):
    check = tl.oper_check(device_output="x", attrvalpairs=[("t", 1)])
    check._refresh_cache = True
    tl.core.text_to_parse["device_name"] = "first\n" + line + "\nlast"
    check.error("m", 1)
    assert str(check).split("\n")[-4:] == ["first", shown, "last", ""]


def test_one_marker_per_line_first_in_order(tl):
    check = tl.oper_check(device_output="x", attrvalpairs=[("t", 1)])
    check._refresh_cache = True
    tl.core.text_to_parse["device_name"] = "a\nb"
    check.error("second", 1)
    check.error("first", 0)
    check.error("also first", 0)
    check.error("nowhere", 7)
    check.error("no line")
    assert str(check) == (
        "Textloom attributes : t : 1 - \n\n: Diagnosis : \nfirst\nalso first\nsecond\nnowhere\nno line\n"
        + "a".ljust(80) + "<=== first\n" + "b".ljust(80) + "<=== second\n")


@pytest.mark.parametrize("refresh, stored, output_shown", [
    (True, "a", True), (1, "a", True), (2, "a", False), ("yes", "a", False), (False, "a", False),
    (True, None, False),
])
def test_output_is_shown_only_while_refresh_equals_true(tl, refresh, stored, output_shown):
    check = tl.oper_check(device_output="x", attrvalpairs=[("t", 1)])
    check._refresh_cache = refresh
    tl.core.text_to_parse["device_name"] = stored
    check.error("m")
    text = str(check)
    assert text.startswith("Textloom attributes : t : 1 - \n\n: Diagnosis : \nm")
    assert text.endswith("\na\n") is output_shown


def test_diagnosis_errors(tl):
    check = tl.oper_check(device_output="x", attrvalpairs=[("t", 1)])
    check.error("m")
    tl.core.text_to_parse.pop("device_name", None)
    with pytest.raises(KeyError, match="device_name"):
        str(check)
    check._errors = [[1, 5]]
    tl.core.text_to_parse["device_name"] = "a\nb"
    with pytest.raises(TypeError):
        str(check)


def test_missing_regex_ends_the_parse(tl, registry, device, warnings):
    registry.extend({"brume": {"empty": "", "nothing": []}})
    for tag in ("unknown.tag", "empty", "nothing"):
        check = tl.oper_check(device, "SHOW_INTF", [(IF_NAME, "mgmt0"), (tag, "1"), ("never.looked.up", "x")],
                              negate=True)
        check._errors = ["left by an earlier parse"]
        assert check.parse() is False
        assert check._errors == [] and check._refresh_cache is False
    assert warnings.messages == ["No regular expression defined for attribute %s" % t
                                 for t in ("unknown.tag", "empty", "nothing")]
    assert history(device) == [] and "R1" not in tl.core.text_to_parse


def test_get_regex_is_read_anew_for_every_tag(tl, registry, monkeypatch):
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0"), (MTU, "1500")], device_os="brume")
    assert check.parse() is True
    own, seen = registry._get_regex, []

    def later(os, tag):
        seen.append(("later", tag))
        return own(os, tag)

    def first(os, tag):
        seen.append(("first", tag))
        monkeypatch.setattr(registry, "_get_regex", later)
        return own(os, tag)
    monkeypatch.setattr(registry, "_get_regex", first)
    assert check.parse() is True
    assert seen[:2] == [("first", IF_NAME), ("later", MTU)]


@pytest.fixture
def module_class(core):
    """module_class(**attrs): core's class becomes a ModuleType subclass with
    these attributes (Python's way to customise a module's attribute access);
    put back after the test."""
    def make(**attrs):
        core.__class__ = type("custom_module", (types.ModuleType,), attrs)
    yield make
    core.__class__ = types.ModuleType


class Hashing(str):
    """A tag whose hash runs act()."""
    act = None

    def __hash__(self):
        if self.act:
            self.act()
        return str.__hash__(self)


# User code that core's own _get_regex runs while the last tag (show.clock) is
# looked up.  It makes the tables and the tag list plain again (exact types,
# str keys only) before the change, so that nothing tells the lookups ran it.
def plain_again(core, check):
    per_os = core._glb_regex["brume"]
    core._glb_regex["brume"] = {k: v for k, v in per_os.items() if type(k) is str}
    check._attributes[:] = [str(tag) for tag in check._attributes]


def per_os_contains(core, check, act):
    class Table(dict):
        def __contains__(self, key):
            if key == "show.clock":
                act()
            return dict.__contains__(self, key)
    core._glb_regex["brume"] = Table(core._glb_regex["brume"])


def tag_hash(core, check, act):
    check._attributes[-1] = type("hashing", (Hashing,), {"act": staticmethod(act)})(check._attributes[-1])


def key_eq(core, check, act):
    collide_first(core._glb_regex["brume"], "show.clock", act)


def name_read(core, check, act):
    """User code run by the parse after its lookups: the device's name."""
    class Named:
        @property
        def name(self):
            act()
            return "device_name"
    check._device = Named()


USER_CODE = {"mid-parse": name_read, "per-OS table's __contains__": per_os_contains, "tag's __hash__": tag_hash,
             "colliding key's __eq__": key_eq}


@pytest.mark.parametrize("when", ["between parses"] + list(USER_CODE))
@pytest.mark.parametrize("change, missing", [
    (lambda tl, core, check: core._glb_regex["brume"].__setitem__(MTU, ""), MTU),
    (lambda tl, core, check: core._glb_regex["brume"].pop(MTU), MTU),
    (lambda tl, core, check: core._glb_regex["brume"].pop(IF_NAME), IF_NAME),
    (lambda tl, core, check: core._glb_regex.pop("show.clock"), "show.clock"),   # a generic entry
    (lambda tl, core, check: setattr(core, "_glb_regex", {}), IF_NAME),
    (lambda tl, core, check: setattr(core, "_get_regex", lambda os, tag: tag != MTU), MTU),
    (lambda tl, core, check: setattr(tl, "core", types.SimpleNamespace(_get_regex=lambda os, tag: [])), IF_NAME),
    (lambda tl, core, check: check._attributes.append("unknown.tag"), "unknown.tag"),
    (lambda tl, core, check: setattr(check, "_device_os", "other"), IF_NAME),
    (lambda tl, core, check: tl.module_class(_get_regex=property(lambda m: lambda os, tag: tag != IF_NAME)),
     IF_NAME),
], ids=["emptied", "popped", "first popped", "generic popped", "table rebound", "_get_regex rebound",
        "core rebound", "tag added", "os set", "core's class"])
def test_regex_check_sees_a_change(tl, registry, module_class, warnings, when, change, missing):
    # a change between two parses, in the middle of one, or made by the lookups themselves
    pairs = [(IF_NAME, "mgmt0"), (MTU, "1500"), ("show.clock", None)]
    check = tl.oper_check(device_output=OUT, attrvalpairs=pairs, device_os="brume")
    assert check.parse() is True and check.parse() is True
    tl.module_class = module_class

    def made():
        if when != "mid-parse":
            plain_again(registry, check)
        change(tl, registry, check)
    act = Once(made)
    act.armed = True
    if when == "between parses":
        act()
    else:
        USER_CODE[when](registry, check, act)
        try:
            check.parse()   # the change is made while it runs, whatever that parse then meets
        except Exception:
            pass
    assert act.done
    assert check.parse() is False
    assert warnings.messages[-1:] == ["No regular expression defined for attribute %s" % missing]


@pytest.mark.parametrize("when", ["between parses", "mid-parse", "by the lookup"])
@pytest.mark.parametrize("name", ["_get_regex", "_textloom_t", "text_to_parse"])
def test_core_is_used_through_its_attributes(tl, core, registry, module_class, warnings, when, name):
    # core's class changed between two parses, in the middle of one, or by a
    # key of core's namespace that the lookup of the name compares
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0")], device_os="brume")
    assert check.parse() is True and check.parse() is True
    texts, made = {}, []

    class Recording(core._textloom_t):
        def __init__(self, *args):
            made.append(args)
            super().__init__(*args)
    replaced = {"_get_regex": lambda os, tag: None, "_textloom_t": Recording, "text_to_parse": texts}[name]

    act = Once(lambda: module_class(**{name: property(lambda module: replaced)}))
    act.armed = True
    if when == "between parses":
        act()
    else:
        if when == "mid-parse":
            name_read(core, check, act)
        else:
            collide_first(vars(core), name, act)
        check.parse()
    assert act.done
    result = check.parse()
    if name == "_get_regex":
        assert result is False and warnings.messages[-1:] == [
            "No regular expression defined for attribute %s" % IF_NAME]
    elif name == "_textloom_t":
        assert result is True and made[-1][4] == "device_name"
    else:
        assert result is True and texts["device_name"] is OUT


def test_a_list_of_regexes_emptied_between_parses_is_seen(tl, registry, warnings):
    registry._glb_regex["brume"][IP] = [r"^(\S+) is"]
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0"), (IP, "mgmt0")], device_os="brume")
    assert check.parse() is True and check.parse() is True
    registry._glb_regex["brume"][IP].clear()
    assert check.parse() is False
    assert warnings.messages == ["No regular expression defined for attribute %s" % IP]


def test_names_rebound_between_uses_are_seen(tl, registry):
    pairs = [(IF_NAME, "mgmt0"), (MTU, "1500")]
    for _ in range(2):
        check = tl.oper_check(device_output=OUT, attrvalpairs=list(pairs), device_os="brume")
        assert check.parse() is True
    made = []

    class Device(tl.Device):
        pass

    class Parser(registry._textloom_t):
        def __init__(self, *args):
            made.append(args[0])
            super().__init__(*args)
    tl.Device, tl._glb_regex_tags = Device, {"brume": [MTU, IF_NAME]}
    registry.text_to_parse, registry._textloom_t = {}, Parser
    check = tl.oper_check(device_output=OUT, attrvalpairs=list(pairs), device_os="brume")
    assert type(check._device) is Device and check._attributes == [MTU, IF_NAME]
    tl._glb_regex_tags = {"brume": [IF_NAME, MTU]}
    assert tl.oper_check(device_output=OUT, attrvalpairs=list(pairs), device_os="brume").parse() is True
    assert made == ["brume"] and registry.text_to_parse == {"device_name": OUT}


def test_os_is_used_as_held(tl, registry, warnings):
    registry._glb_regex_tags.clear()  # so that the pairs need no tag list for "BRUME"
    check = tl.oper_check(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0")], device_os="BRUME")
    assert check.parse() is False
    assert warnings.messages == ["No regular expression defined for attribute show.intf.if_name"]


def test_unknown_os_fails_in_the_parser(tl, registry):
    registry._glb_regex_tags.clear()
    dev = testbed.Device("R9", handle=False, outputs={"show clock": "10:00:00\n"})
    dev.connect()
    check = tl.oper_check(dev, "show clock", [("show.clock", "10:00:00")])
    assert check._device_os == "unknown"
    with pytest.raises(AssertionError, match=r"^The operating system unknown is not supported, try using one of "):
        check.parse()


# --- parse: where the text comes from -------------------------------------------

def test_cache_miss_runs_and_keeps_the_output(tl, registry, device, warnings):
    check = tl.oper_check(device, ("SHOW_INTF", [], {"ifname": "mgmt0"}), [(IF_NAME, "mgmt0")])
    assert check.parse() is True
    assert warnings.messages == ["refresh_cache = False but no output found for R1 => collect output"]
    assert history(device) == ["show interface mgmt0"]
    assert tl.showCmdCache.cache["R1"] is tl.core.text_to_parse["R1"] is OUT
    assert tl.ext_dictio["R1"] == {IF_NAME: "mgmt0"}
    # a hit: no run, whatever command produced the cached text
    other = tl.oper_check(device, "show clock", [(MTU, "1500")])
    assert other.parse() is True and history(device) == ["show interface mgmt0"]


def test_failed_parse_refreshes_once(tl, registry, device):
    tl.showCmdCache.cache["R1"] = "mgmt0 is up\n  MTU 9000 bytes\n"
    check = tl.oper_check(device, ("SHOW_INTF", [], {"ifname": "mgmt0"}), [(IF_NAME, "mgmt0"), (MTU, "1500")])
    assert check.parse() is False and check._refresh_cache is True and history(device) == []
    assert check.parse() is True
    assert history(device) == ["show interface mgmt0"]
    assert check._errors == [] and check._refresh_cache is False


def test_refresh_true_runs_every_time(tl, registry, device):
    check = tl.oper_check(device, "show interface mgmt0", [(IF_NAME, "mgmt0")], refresh_cache=True)
    assert check.parse() and check.parse()
    assert history(device) == ["show interface mgmt0"] * 2


def test_given_output_with_a_device_runs_nothing(tl, registry, device):
    tl.showCmdCache.cache["R1"] = "cached"
    check = tl.oper_check(device, "SHOW_INTF", [(IF_NAME, "mgmt0")], refresh_cache=True, device_output=OUT)
    assert check.parse() is True
    assert history(device) == [] and tl.core.text_to_parse["R1"] is OUT
    assert tl.showCmdCache.cache["R1"] == "cached"
    assert tl.ext_dictio["R1"] == {IF_NAME: "mgmt0"}


def test_empty_output_with_a_device_counts_as_none(tl, registry, device):
    check = tl.oper_check(device, "show interface mgmt0", [(IF_NAME, "mgmt0")], device_output="")
    assert check.parse() is True and history(device) == ["show interface mgmt0"]


def test_alias_connection_runs_the_command(tl, registry, device):
    device.connect("myuut")
    check = tl.oper_check(device, "show interface mgmt0", [(IF_NAME, "mgmt0")], refresh_cache=True,
                          device_conn_alias="myuut")
    assert check.parse() is True
    assert history(device, "myuut") == ["show interface mgmt0"] and history(device) == []
    assert tl.showCmdCache.cache["R1"] is OUT


@pytest.mark.parametrize("alias, connection", [("myuut", "myuut"), ("", "default")])
def test_refresh_cache_reads_in_the_order_of_its_steps(tl, registry, device, alias, connection):
    device.connect("myuut")
    reads = []

    class Alias(str):
        def __bool__(self):
            reads.append("truth")
            return str.__len__(self) > 0

    class Client:
        _refresh_cache_init = "init"

        @property
        def _device_os(self):
            reads.append("os")
            return "brume"

        @property
        def _device_conn_alias(self):
            reads.append("alias")
            return Alias(alias)

        @property
        def _device(self):
            reads.append("device")
            return device
    client = Client()
    assert tl.showCmdCache.refresh_cache(client, "show interface mgmt0") is None
    # the alias's truth is tested before the device is read; the name is read after the run
    assert reads == ["os", "alias", "truth"] + ["device"] * 4
    assert history(device, connection) == ["show interface mgmt0"]
    assert client._refresh_cache == "init" and tl.showCmdCache.cache["R1"] is tl.core.text_to_parse["R1"] is OUT


@pytest.mark.parametrize("operation", [
    lambda tl, dev: tl.oper_check(dev, "show x", [(IF_NAME, "mgmt0")]).parse(),
    lambda tl, dev: tl.oper_fill_tabular(dev, "show x", refresh_cache=False, header_fields=["mgmt0"]),
], ids=["check", "tabular"])
def test_a_cache_hit_reads_as_its_statement(tl, registry, operation):
    # text_to_parse[name] = showCmdCache.cache[name]: the right-hand side first,
    # the cache before the name, then the target's name
    reads = []

    class Named(testbed.Device):
        @property
        def name(self):
            reads.append("name")
            return "R1"

        @name.setter
        def name(self, value):
            pass

    class Outputs(dict):
        def __contains__(self, key):
            reads.append("in cache")
            return dict.__contains__(self, key)

        def __getitem__(self, key):
            reads.append("cache[name]")
            return dict.__getitem__(self, key)

    class Texts(dict):
        def __setitem__(self, key, value):
            reads.append("text_to_parse[name] =")
            dict.__setitem__(self, key, value)

    class Cache(tl.CmdCache):
        @property
        def cache(self):
            reads.append("cache")
            return outputs
    outputs = Outputs(R1=OUT)
    tl.showCmdCache, registry.text_to_parse = Cache(), Texts()
    dev = Named("R1", os="brume", handle=False)
    dev.connect()
    operation(tl, dev)
    first = reads.index("cache") - 1   # the name of the membership test comes first
    assert reads[first:first + 8] == ["name", "cache", "in cache", "cache", "name", "cache[name]", "name",
                                      "text_to_parse[name] ="]
    assert registry.text_to_parse["R1"].startswith(OUT) and history(dev) == []


def test_errors_of_the_run_propagate(tl, registry, device):
    check = tl.oper_check(device, ("SHOW_INTF",), [(IF_NAME, "mgmt0")], refresh_cache=True)
    with pytest.raises(KeyError, match="ifname"):
        check.parse()
    assert check._refresh_cache is True and "R1" not in tl.core.text_to_parse


def test_none_output_reaches_the_parser(tl, registry):
    class Silent:
        name = "R5"
        os = "brume"

        def is_connected(self, alias=None):
            return True

        def execute(self, command):
            return None
    check = tl.oper_check(Silent(), "show x", [(IF_NAME, "mgmt0")], refresh_cache=True)
    with pytest.raises(AttributeError):
        check.parse()
    assert tl.showCmdCache.cache["R5"] is None


# --- oper_fill -------------------------------------------------------------------

def test_fill_on_given_output(tl, registry):
    fill = tl.oper_fill(device_output=OUT, attrvalpairs=[(IF_NAME, "mgmt0"), (MTU, None)], device_os="brume")
    assert (fill._fill, fill._skip, fill._negate, fill._device_os) == (True, False, False, "brume")
    assert fill.parse() is True
    assert tl.ext_dictio["device_name"] == {IF_NAME: "mgmt0", MTU: "1500"}
    assert str(fill) == "Textloom attributes : show.intf.if_name : mgmt0 - show.intf.mtu : None - "


def test_fill_on_a_device(tl, registry, device):
    fill = tl.oper_fill(device, "show interface mgmt0", [(IF_NAME, "mgmt0"), (MTU, None)], True, "", "skip",
                        device_os="pellam")
    assert (fill._device_os, fill._skip, fill._refresh_cache) == ("brume", "skip", True)
    assert fill.parse() is True and tl.ext_dictio["R1"][MTU] == "1500"


@pytest.fixture
def intf_tags(core):
    core.extend(None, None, {"brume": [IF_NAME, MTU, ADMIN], "pellam": ["show.ip.x"]})


@pytest.mark.parametrize("pairs, pattern, after", [
    ([(IF_NAME, "mgmt0")], r"show\.intf", [(IF_NAME, "mgmt0"), (MTU, None), (ADMIN, None)]),
    ([(MTU, "1500"), (IF_NAME, "mgmt0")], r"show\.intf", [(MTU, "1500"), (IF_NAME, "mgmt0"), (ADMIN, None)]),
    ([], "state", [(ADMIN, None)]),                       # unanchored: anywhere in the tag
    ([], "^state", []),                                   # anchored at the start of the tag
    ([], "name|admin", [(IF_NAME, None)]),                # the second branch only at the start
    ([], "admin|^show.intf.m", [(MTU, None), (ADMIN, None)]),
    ([], r"(?i)SHOW\.INTF\.(MTU|IF)", [(IF_NAME, None), (MTU, None)]),   # a global flag group stays global
    ([(ADMIN, "up")], "nothing", [(ADMIN, "up")]),
])
def test_fill_pattern_appends_to_the_callers_list(tl, intf_tags, pairs, pattern, after):
    fill = tl.oper_fill(device_output=OUT, attrvalpairs=pairs, regex_tag_fill_pattern=pattern, device_os="brume")
    assert pairs == after
    assert fill._attributes == [p[0] for p in after] if after else True


def test_fill_pattern_keeps_order_when_nothing_is_added(tl, intf_tags):
    pairs = [(ADMIN, "up"), (IF_NAME, "mgmt0")]
    assert tl.oper_fill(device_output=OUT, attrvalpairs=pairs, regex_tag_fill_pattern="zzz",
                        device_os="brume")._attributes == [ADMIN, IF_NAME]
    assert tl.oper_fill(device_output=OUT, attrvalpairs=pairs, device_os="brume")._attributes == [IF_NAME, ADMIN]


def test_fill_pattern_appends_once(tl, intf_tags):
    pairs = [(IF_NAME, "mgmt0")]
    first = tl.oper_fill(device_output=OUT, attrvalpairs=pairs, regex_tag_fill_pattern="intf", device_os="brume")
    tl.oper_fill(device_output=OUT, attrvalpairs=pairs, regex_tag_fill_pattern="intf", device_os="brume")
    assert pairs == [(IF_NAME, "mgmt0"), (MTU, None), (ADMIN, None)]
    assert first._attributes == [IF_NAME, MTU, ADMIN]


@pytest.mark.parametrize("pattern, os, error", [
    ("intf", None, KeyError),         # no device_os with output text
    ("intf", "wend", KeyError),       # nothing registered for it
    ("intf(", "brume", re.error),
    (5, "brume", TypeError),
])
def test_fill_pattern_failures_leave_the_list_unchanged(tl, intf_tags, pattern, os, error):
    pairs = [(IF_NAME, "mgmt0")]
    with pytest.raises(error):
        tl.oper_fill(device_output=OUT, attrvalpairs=pairs, regex_tag_fill_pattern=pattern, device_os=os)
    assert pairs == [(IF_NAME, "mgmt0")]


def test_fill_pattern_needs_an_appendable_list(tl, intf_tags):
    with pytest.raises(AttributeError, match="append"):
        tl.oper_fill(device_output=OUT, attrvalpairs=((IF_NAME, "x"),), regex_tag_fill_pattern="intf",
                     device_os="brume")
    with pytest.raises(TypeError):
        tl.oper_fill(device_output=OUT, attrvalpairs=[5], regex_tag_fill_pattern="intf", device_os="brume")
    fill = tl.oper_fill(device_output=OUT, attrvalpairs=((IF_NAME, "x"), (MTU, 1), (ADMIN, 2)),
                        regex_tag_fill_pattern="intf", device_os="brume")
    assert fill._attributes == [IF_NAME, MTU, ADMIN]


def test_fill_pattern_then_parse(tl, registry):
    pairs = [(IF_NAME, "mgmt0")]
    fill = tl.oper_fill(device_output=OUT, attrvalpairs=pairs, regex_tag_fill_pattern=r"\.mtu$",
                        device_os="brume")
    assert fill.parse() is True
    assert tl.ext_dictio["device_name"] == {IF_NAME: "mgmt0", MTU: "1500"}


def test_oses_may_be_any_object(tl, core):
    from unittest.mock import Mock
    os = Mock(name="os")
    core._glb_regex_tags[os] = ["t1"]
    check = tl.oper_check(device_output=OUT, attrvalpairs=[("t1", 1)], device_os=os)
    assert check._device_os is os and check._attributes == ["t1"]
