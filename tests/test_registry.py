"""Registration with extend and lookup with _get_regex."""
import logging

import pytest

EXISTS = "{} already exists, please change name"
TAG_EXISTS = "regex tag {} already exists, please change name"


@pytest.fixture
def warnings(caplog):
    caplog.set_level(logging.WARNING, logger="mirel.textloom.core")
    return caplog


def tables(core):
    return core._glb_regex, core._glb_show_commands, core._glb_regex_tags


@pytest.mark.parametrize("args", [(), (None, None, None), ({}, {}, {}), ({}, {}, [])])
def test_empty_arguments_change_nothing(core, warnings, args):
    assert core.extend(*args) is None
    assert tables(core) == ({}, {}, {})
    assert warnings.messages == []


def test_merge_per_os_and_generic_entries(core, warnings):
    alternatives = [r"MTU (\d+)", r"mtu (\d+)"]
    core.extend({"pellam": {"mtu": alternatives}, "mtu": r"M (\d+)", "brume": {"mtu": r"B (\d+)"}},
                {"SHOW_ARP": "show arp", "brume": {"SHOW_INTF": "show interface {}"}},
                {"pellam": ["mtu", "speed"]})
    assert core._glb_regex == {"pellam": {"mtu": alternatives}, "mtu": r"M (\d+)", "brume": {"mtu": r"B (\d+)"}}
    assert core._glb_show_commands == {"SHOW_ARP": "show arp", "brume": {"SHOW_INTF": "show interface {}"}}
    assert core._glb_regex_tags == {"pellam": ["mtu", "speed"]}
    # values are the caller's objects, never copies
    assert core._get_regex("pellam", "mtu") is alternatives
    assert core._get_regex("brume", "mtu") == r"B (\d+)"
    assert core._get_regex("ketch", "mtu") == r"M (\d+)"
    assert warnings.messages == []


def test_per_os_entries_are_made_by_extend_and_merged_into(core):
    mine = {"a": "1"}
    core.extend({"pellam": mine})
    entry = core._glb_regex["pellam"]
    assert entry == mine and entry is not mine
    core.extend(regex_ext={"pellam": {"b": "2"}})
    assert core._glb_regex["pellam"] is entry and entry == {"a": "1", "b": "2"}


def test_empty_per_os_values_create_empty_entries(core):
    core.extend({"larch": {}}, {"larch": {}}, {"larch": []})
    assert tables(core) == ({"larch": {}}, {"larch": {}}, {"larch": []})


def test_first_definition_stays(core, warnings):
    first, equal, other = "r(1)", "".join(["r(", "1)"]), "r(2)"
    core.extend({"t": first, "pellam": {"t": first}})
    core.extend({"t": equal, "pellam": {"t": other}})
    # an equal redefinition replaces the object silently; a different one is refused
    assert core._glb_regex["t"] is equal
    assert core._glb_regex["pellam"]["t"] is first
    assert warnings.messages == [EXISTS.format("t")]


def test_conflicting_list_keeps_the_first(core, warnings):
    kept = ["a(1)", "b(1)"]
    core.extend({"brume": {"t": kept}})
    core.extend({"brume": {"t": ["c(1)"]}})
    assert core._get_regex("brume", "t") is kept
    assert warnings.messages == [EXISTS.format("t")]


def test_tuple_key_conflict_warns_with_the_whole_key(core, warnings):
    core.extend({(1, 2): "a"})
    core.extend({(1, 2): "b"})
    assert core._glb_regex[(1, 2)] == "a"
    assert warnings.messages == ["(1, 2) already exists, please change name"]


def test_tag_lists_keep_first_positions(core, warnings):
    core.extend(None, None, {"pellam": ["a", "b", "a"]})
    core.extend(None, None, {"pellam": ("c", "b")})
    core.extend(None, None, {"brume": "xy"})  # a text is the sequence of its characters
    assert core._glb_regex_tags == {"pellam": ["a", "b", "c"], "brume": ["x", "y"]}
    assert warnings.messages == [TAG_EXISTS.format("a"), TAG_EXISTS.format("b")]


def test_unsupported_names(core, warnings):
    upper = {"t": "r"}
    core.extend({"PELLAM": upper}, None, {"PELLAM": ["t"], "nowhere": ["t"], "pellam": ["t"]})
    assert core._glb_regex == {"PELLAM": upper} and core._glb_regex["PELLAM"] is upper
    assert core._glb_regex_tags == {"pellam": ["t"]}
    oses = repr(core.supported_oses)
    assert warnings.messages == [
        "os PELLAM is not one of the supported oses {}.".format(oses),
        "os nowhere is not one of the supported oses {}.".format(oses),
    ]
    # an upper-case system name finds only what stands under its own exact key
    core.extend({"pellam": {"u": "lower"}})
    assert core._get_regex("PELLAM", "t") == "r"
    assert core._get_regex("PELLAM", "u") is None


def test_merge_order_regex_before_commands_before_tags(core):
    with pytest.raises(AttributeError):
        core.extend({"a": "1", "pellam": {"b": "2"}}, ["not", "a", "mapping"], {"pellam": ["a"]})
    assert core._glb_regex == {"a": "1", "pellam": {"b": "2"}}
    assert core._glb_show_commands == {} and core._glb_regex_tags == {}


@pytest.mark.parametrize("args, error, left", [
    # a text under an OS key: the per-OS entry was already made
    (({"pellam": "text"},), AttributeError, ({"pellam": {}}, {}, {})),
    (({"x": "1"}, "show"), AttributeError, ({"x": "1"}, {}, {})),
    # a list of names instead of a mapping: the list is made, indexing it fails
    ((None, None, ["nowhere", "brume"]), TypeError, ({}, {}, {"brume": []})),
    ((None, None, {"brume": None}), TypeError, ({}, {}, {"brume": []})),
    (("regex",), AttributeError, ({}, {}, {})),
])
def test_failures_keep_what_was_merged(core, args, error, left):
    with pytest.raises(error):
        core.extend(*args)
    assert tables(core) == left


def test_extend_argument_binding(core):
    with pytest.raises(TypeError):
        core.extend({}, {}, {}, {})
    with pytest.raises(TypeError):
        core.extend(regex={})


@pytest.mark.parametrize("os, tag, expected", [
    ("pellam", "t", "per-os"),
    ("brume", "t", "generic"),    # per-OS entry lacks the tag
    ("morrow", "t", "generic"),   # no per-OS entry
    (None, "t", "generic"),
    ("pellam", "empty", ""),      # found per OS: no fallback whatever the value
    ("pellam", "none", None),
    ("pellam", "missing", None),
])
def test_get_regex(core, os, tag, expected):
    core.extend({"pellam": {"t": "per-os", "empty": "", "none": None}, "brume": {"u": "x"},
                 "t": "generic", "empty": "g", "none": "g"})
    assert core._get_regex(os, tag) == expected
    assert core._get_regex(routerOs=os, attribute=tag) == expected


def test_get_regex_misuse(core):
    core.extend({"show.x": "abc"})
    with pytest.raises(TypeError):
        core._get_regex({}, "t")
    with pytest.raises(TypeError):
        core._get_regex("show.x", "b")  # a generic text "contains" the tag and is indexed by it
    with pytest.raises(TypeError):
        core._get_regex("pellam")


def test_tables_are_looked_up_at_each_call(core):
    mine = {}
    core._glb_regex = mine
    core.extend({"t": "r"})
    assert mine == {"t": "r"}
    assert core._get_regex("ketch", "t") == "r"
