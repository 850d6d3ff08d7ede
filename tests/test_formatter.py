"""Show-command rendering: is_int, DefaultFormatter and _get_show_command."""
import string

import pytest

from interfering import Once

REGISTRY = {
    "pellam": {"SHOW_IP_INTF": "show {=ipv4} interface {}", "SHOW_IP_INTF2": "show {=ipv4} interface {if-name}"},
    "brume": {"SHOW_IP_INTF": "show {=ip} interface {}"},
    "SHOW_ARP": "show arp",
}


@pytest.fixture
def commands(core):
    core.extend(None, REGISTRY)
    return core


@pytest.mark.parametrize("os, arg, expected", [
    ("pellam", ("SHOW_IP_INTF", [None, "mgmt0"]), "show ipv4 interface mgmt0"),
    ("brume", ("SHOW_IP_INTF", [None, "mgmt0"]), "show ip interface mgmt0"),
    ("pellam", ["SHOW_IP_INTF2", [], {"if-name": "mgmt0"}], "show ipv4 interface mgmt0"),
    ("pellam", ("SHOW_IP_INTF", ["ipv6", "mgmt0"]), "show ipv6 interface mgmt0"),
    ("BRUME", ("SHOW_IP_INTF", [None, "mgmt0"]), "SHOW_IP_INTF"),
    ("ketch", "SHOW_ARP", "show arp"),
    ("ketch", "show clock", "show clock"),
    ("ketch", ("show interface {}", "mgmt0"), "show interface mgmt0"),
    ("ketch", ("show {1} {0}", ["a", "b"]), "show a b"),
    ("ketch", ("show {} {=x}", ["a", None]), "show a x"),
    ("ketch", ("show {name=}", [], {}), "show "),
    ("ketch", ("show {x=y=z}", [], {"x=y": "v"}), "show v"),
    ("ketch", ("show {x=y=z}", [], {}), "show z"),
    ("ketch", ("{:>{=8}}|", ["x"]), "       x|"),
    ("ketch", ("show {{x}}", []), "show {x}"),
    ("ketch", ("show {=abc!r}", []), "show 'abc'"),
    ("ketch", ("show {=5:>3}", []), "show   5"),
    ("ketch", ("show {} {}", ("a", "b", "surplus"), {"extra": 1}), "show a b"),
    ("ketch", ("show {0.real}", [3]), "show 3"),
    ("ketch", ["show {=ipv4} interface {}", [None, "mgmt0"], {}, "ignored"], "show ipv4 interface mgmt0"),
    ("ketch", ("show {vrf=default} route",), "show default route"),
])
def test_rendering(commands, os, arg, expected):
    assert commands._get_show_command(os, arg) == expected
    assert commands._get_show_command(routerOs=os, show_cmd_arg=arg) == expected


@pytest.mark.parametrize("os, arg, error, args", [
    ("pellam", ("SHOW_IP_INTF", "mgmt0"), IndexError, None),  # mgmt0 fills the defaulted field
    ("pellam", "SHOW_IP_INTF", IndexError, None),
    ("ketch", ("show {} {}", ["a", None]), IndexError, ()),
    ("ketch", ("show {name}", [], {"name": None}), KeyError, ()),
    ("ketch", ("show {name}", [], {}), KeyError, ("name",)),
    ("ketch", {}, KeyError, (0,)),
    ("ketch", {0: "show clock"}, KeyError, (1,)),
    ("ketch", (), IndexError, None),
    ("ketch", None, TypeError, None),
    ("ketch", 42, TypeError, None),
    ("ketch", ({1},), TypeError, None),       # an unhashable tag
    ({"x"}, "show clock", TypeError, None),  # an unhashable OS
    ("ketch", ("show {} {0}", ["a", "b"]), ValueError, None),
    ("ketch", ("show }", []), ValueError, None),
    ("ketch", ("show {!x}", ["a"]), ValueError, None),
    ("ketch", ("show {=5:03d}", []), ValueError, None),
    ("ketch", ("show {x.nosuch}", [], {"x": 1}), AttributeError, None),
    ("ketch", ("show {}", 5), TypeError, None),  # positional values that cannot be indexed
])
def test_rendering_errors(commands, os, arg, error, args):
    with pytest.raises(error) as info:
        commands._get_show_command(os, arg)
    assert type(info.value) is error
    if args is not None:
        assert info.value.args == args


# What a tag's comparison does while the per-OS entry is searched for it, and
# what each lookup then answers: the entry is read again at the step that uses it.
CHANGED_MIDWAY = {
    "entry replaced": (lambda core, table: core.__dict__[table].update(brume={"T": "replaced"}), "replaced"),
    "table rebound": (lambda core, table: setattr(core, table, {"brume": {"T": "rebound"}}), "rebound"),
    "entry dropped": (lambda core, table: core.__dict__[table].pop("brume"), KeyError),
}


@pytest.mark.parametrize("change", CHANGED_MIDWAY)
@pytest.mark.parametrize("lookup, table", [
    (lambda core, tag: core._get_show_command("brume", tag), "_glb_show_commands"),
    (lambda core, tag: core._get_regex("brume", tag), "_glb_regex"),
], ids=["_get_show_command", "_get_regex"])
def test_the_per_os_entry_is_read_where_it_is_used(core, lookup, table, change):
    act, expected = CHANGED_MIDWAY[change]
    core.extend({"brume": {"T": "first"}}, {"brume": {"T": "first"}})

    class Tag(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            once()
            return str.__eq__(self, other)
    once = Once(lambda: act(core, table))
    once.armed = True
    if expected is KeyError:
        with pytest.raises(KeyError, match="brume"):
            lookup(core, Tag("T"))
    else:
        assert lookup(core, Tag("T")) == expected
    assert once.done


def test_formatter_wide_defaults(core):
    f = core.DefaultFormatter("-", "?")
    assert f.defidxval == "-" and f.defkeyval == "?"
    assert not hasattr(f, "posarg") and not hasattr(f, "defval")  # made by vformat only
    assert f.format("{} {x} {=d}") == "- ? d"
    assert core.DefaultFormatter(defidxval=0).format("[{}]") == "[0]"  # 0 is a default


@pytest.mark.parametrize("template, result", [
    ("{=x}", "x"), ("{k=y}", "y"), ("{}", AttributeError), ("{k}", AttributeError),
])
def test_the_formatter_wide_default_is_read_only_without_an_embedded_one(core, template, result):
    class WithoutInit(core.DefaultFormatter):
        def __init__(self):
            pass  # no formatter-wide defaults set

    f = WithoutInit()
    if result is AttributeError:
        with pytest.raises(AttributeError) as info:
            f.format(template)
        # raised while the lookup error is handled
        assert isinstance(info.value.__context__, (KeyError, IndexError))
    else:
        assert f.format(template) == result


def test_state_starts_afresh_for_each_vformat(core):
    f = core.DefaultFormatter()
    assert f.format("{} {}", "a", "b") == "a b"
    assert f.posarg == 1
    assert f.format("{}", "c") == "c"
    assert f.posarg == 0 and f.defval is None


def test_none_keyword_value_fails_where_the_plain_formatter_renders_it(core):
    assert string.Formatter().format("{x}", x=None) == "None"
    with pytest.raises(KeyError):
        core.DefaultFormatter().format("{x}", x=None)


# Templates that mean the same to both formatters: no defaults, no None values,
# fields numbered as they appear.
@pytest.mark.parametrize("template, args, kwargs", [
    ("show {} {}", ("a", "b"), {}),
    ("{0} and {1}", (1, 2.5), {}),
    ("{name!r:>10}|{{}}", (), {"name": "x"}),
    ("{:{}}", ("v", ">4"), {}),
    ("{a[0]} {b.imag}", (), {"a": ["q"], "b": 3j}),
    ("plain", (), {}),
])
def test_agrees_with_string_formatter(core, template, args, kwargs):
    assert core.DefaultFormatter().format(template, *args, **kwargs) == \
        string.Formatter().format(template, *args, **kwargs)


def test_subclass_hooks_are_called_through_the_object(core):
    seen = []

    class Tracing(core.DefaultFormatter):
        def get_value(self, key, args, kwargs):
            seen.append(key)
            return super().get_value(key, args, kwargs)

    core.DefaultFormatter = Tracing  # looked up at each call
    assert core._get_show_command("ketch", ("show {=a} {b=c} {}", [None, "z"], {})) == "show a c z"
    assert seen == [0, "b", 1]


@pytest.mark.parametrize("value, expected", [
    ("0", True), ("12", True), ("-1", True), ("+3", True), (" 7 ", True), (3, True), (2.5, True),
    ("", False), ("1.0", False), ("0x1f", False), ("abc", False),
])
def test_is_int(core, value, expected):
    assert core.is_int(value) is expected


@pytest.mark.parametrize("value", [None, ["1"]])
def test_is_int_lets_other_errors_through(core, value):
    with pytest.raises(TypeError):
        core.is_int(value)


def test_is_int_decides_which_names_are_positional(core):
    core.is_int = lambda s: s == "n"
    assert core.DefaultFormatter().format("{n}", "first", n="keyword") == "first"
