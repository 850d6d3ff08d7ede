"""Loading _textloom and the package: load order, bindings to core, optional
framework, required predicate library, the module's small functions and Device."""
import inspect
import logging
import os
import re
import sys
import textwrap

import pytest

import mirel.textloom as package
from helpers import ROOT, run_python

OSES = ["ketch", "pellam", "larch", "brume", "morrow", "wend",
        "dapple", "quint", "gorse", "tessel", "halvane", "fernet"]

LOAD_ORDER = [
    "logging", "re", "sys", "tcl", "core", "ext_dictio", "_glb_regex", "_glb_show_commands",
    "_glb_regex_tags", "Predicate", "supported_oses", "logger", "get_os_type", "extend_markup",
    "extend", "isstr", "CmdCache", "showCmdCache", "oper_check", "oper_fill", "oper_fill_tabular",
    "Device",
]


def run_ok(code, **kwargs):
    out = run_python(textwrap.dedent(code), **kwargs)
    assert out.returncode == 0, out.stderr
    return out.stdout.splitlines()


def test_fresh_load_binds_names_in_order():
    names, = run_ok("""
        import mirel.textloom._textloom as t
        print([n for n in vars(t) if not n.startswith('__')])
    """)
    assert eval(names) == LOAD_ORDER


@pytest.mark.parametrize("setup, tcl_bound", [
    # framework missing
    ("sys.modules['ryn'] = None", False),
    # its initialiser interrupted: even KeyboardInterrupt is discarded
    ("import types; m = types.ModuleType('ryn'); m.__path__ = []\n"
     "class F:\n"
     "    def find_spec(self, name, path=None, target=None):\n"
     "        if name == 'ryn.tcl': raise KeyboardInterrupt\n"
     "sys.meta_path.insert(0, F()); sys.modules['ryn'] = m", False),
    # a mock with attributes made on demand
    ("from unittest.mock import Mock; sys.modules['ryn'] = Mock(name='ryn')", True),
])
def test_the_framework_is_optional(setup, tcl_bound):
    lines = run_ok("""
        import sys
        {}
        import mirel.textloom as p
        import mirel.textloom._textloom as t
        print(hasattr(t, 'tcl'), repr(getattr(t, 'tcl', None))[:30])
        print(callable(p.oper_fill))
    """.format(setup.replace("\n", "\n        ")))
    assert lines[0].startswith(str(tcl_bound))
    if tcl_bound:
        assert "Mock name='ryn.tcl'" in lines[0]
    assert lines[1] == "True"


def test_real_tcl_bridge_is_bound(tl):
    from ryn import tcl
    assert tl.tcl is tcl


def test_missing_predicate_library_fails_the_load():
    # only the tree on the path: no mirel.verdix (and no ryn), not even one
    # installed in the environment
    out = run_python(textwrap.dedent("""
        import site, sys
        sys.path[:] = [p for p in sys.path if p not in site.getsitepackages()]
        try:
            import mirel.textloom
        except ImportError as e:
            print(type(e).__name__, e)
        core = sys.modules['mirel.textloom.core']
        print(core.supported_oses, 'mirel.textloom._textloom' in sys.modules)
    """), env_extra={"PYTHONPATH": ROOT})
    assert out.returncode == 0, out.stderr
    error, oses = out.stdout.splitlines()
    assert error == "ModuleNotFoundError No module named 'mirel.verdix'"
    assert oses == "{} False".format(OSES)


def test_predicate_library_without_predicate(tmp_path):
    (tmp_path / "mirel").mkdir()
    (tmp_path / "mirel" / "verdix.py").write_text("")
    out = run_python(textwrap.dedent("""
        try:
            import mirel.textloom._textloom
        except ImportError as e:
            print(type(e).__name__, '|', e, '|', e.name)
    """), env_extra={"PYTHONPATH": os.pathsep.join([ROOT, str(tmp_path)])})
    assert out.returncode == 0, out.stderr
    path = str(tmp_path / "mirel" / "verdix.py")
    assert out.stdout.strip() == \
        "ImportError | cannot import name 'Predicate' from 'mirel.verdix' ({}) | mirel.verdix".format(path)


@pytest.mark.parametrize("first", ["mirel.textloom.core", "mirel.textloom", "mirel.textloom._textloom"])
def test_any_import_order_gives_one_shared_list(first):
    lines = run_ok("""
        import {}
        import mirel.textloom.core as c, mirel.textloom._textloom as t, mirel.textloom as p
        print(t.supported_oses is c.supported_oses, c.supported_oses)
        print(all(getattr(t, n) is getattr(c, n)
                  for n in ('ext_dictio', '_glb_regex', '_glb_show_commands', '_glb_regex_tags')))
        print(t.core is c, p.core is c)
    """.format(first))
    assert lines == ["True {}".format(OSES), "True", "True True"]


def test_load_replaces_a_list_changed_before():
    lines = run_ok("""
        import sys, types, mirel
        # the package without its initialiser, so that core loads first
        bare = types.ModuleType('mirel.textloom')
        bare.__path__ = [p + '/textloom' for p in mirel.__path__ if 'standins' not in p]
        sys.modules['mirel.textloom'] = bare
        import mirel.textloom.core as c
        old = c.supported_oses
        old.append('extra')
        import mirel.textloom._textloom as t
        print(c.supported_oses is old, 'extra' in c.supported_oses)
    """)
    assert lines == ["False False"]


def test_second_initialisation_keeps_the_cache():
    lines = run_ok("""
        import sys, mirel.textloom._textloom as t
        t.CmdCache.cache['R1'] = 'kept'
        del sys.modules['mirel.textloom._textloom']
        import mirel.textloom._textloom as t2
        print(t2 is t, t2.showCmdCache.cache)
    """)
    assert lines == ["True {'R1': 'kept'}"]


def test_package_attributes(tl):
    for name in ("oper_check", "oper_fill", "oper_fill_tabular", "extend", "extend_markup", "ext_dictio"):
        assert getattr(package, name) is getattr(tl, name)
    from mirel.textloom import ext_dictio, oper_fill  # by name import, as scripts do
    assert oper_fill is tl.oper_fill and ext_dictio is tl.ext_dictio


def test_module_values(tl, core):
    assert tl.supported_oses is core.supported_oses and core.supported_oses == OSES
    assert tl.logger is logging.getLogger("mirel.textloom._textloom")
    assert tl.logger.level == logging.NOTSET and tl.logger.handlers == []
    assert (tl.logging, tl.re, tl.sys) == (logging, re, sys)
    assert type(tl.showCmdCache) is tl.CmdCache
    assert tl.showCmdCache.cache is tl.CmdCache.cache


def test_registration_through_core_is_seen_at_once(tl, core):
    core.extend({"brume": {"t": "r"}})
    assert tl._glb_regex == {"brume": {"t": "r"}}


def test_class_tree(tl, core):
    from mirel.verdix import Predicate
    assert tl.oper_check.__bases__ == (Predicate,)
    assert type(tl.oper_check) is type(Predicate) is not type
    assert tl.oper_fill.__bases__ == (tl.oper_check,)
    assert tl.oper_fill_tabular.__bases__ == (core.column_table_result_core_t,)
    for cls in (tl.CmdCache, tl.Device):
        assert cls.__bases__ == (object,) and type(cls) is type
    for cls in (tl.CmdCache, tl.oper_check, tl.oper_fill, tl.oper_fill_tabular, tl.Device):
        assert cls.__module__ == "mirel.textloom._textloom"


def test_predicate_constructor_is_never_called(tl, monkeypatch):
    from mirel.verdix import Predicate

    def refuse(self, *args, **kwargs):
        raise AssertionError("Predicate.__init__ called")
    monkeypatch.setattr(Predicate, "__init__", refuse, raising=False)
    check = tl.oper_check(device_output="x", attrvalpairs=[("t", "1")], device_os="brume")
    assert isinstance(check, Predicate)


@pytest.mark.parametrize("cls, members", [
    ("CmdCache", ["cache", "refresh_cache"]),
    ("oper_check", ["__init__", "process_attrvalpairs", "result", "parse", "error", "__str__", "test", "dump"]),
    ("oper_fill", ["__init__"]),
    ("oper_fill_tabular", ["__init__"]),
    ("Device", ["__init__", "execute", "is_connected"]),
])
def test_class_members_in_order(tl, cls, members):
    names = [n for n in vars(getattr(tl, cls))
             if n not in ("__module__", "__qualname__", "__doc__", "__dict__", "__weakref__")
             and n not in ("__abstractmethods__", "_abc_impl")]
    assert names == members


@pytest.mark.parametrize("value, expected", [
    ("text", True), (type("sub", (str,), {})("x"), True),
    (b"bytes", False), (3, False), (None, False), (["a"], False),
])
def test_isstr(tl, value, expected):
    assert tl.isstr(value) is expected
    assert tl.isstr(s=value) is expected


def test_extend_forwards_by_position(tl, core, monkeypatch):
    calls = []
    monkeypatch.setattr(core, "extend", lambda *args, **kwargs: calls.append((args, kwargs)) or "ignored")
    assert tl.extend() is None
    assert tl.extend(1, show_cmds=2) is None
    assert calls == [((None, None, None), {}), ((1, 2, None), {})]


def test_extend_registers_in_core(tl, core):
    assert tl.extend({"t": "r"}, {"C": "show c"}, {"brume": ["t"]}) is None
    assert (core._glb_regex, core._glb_show_commands, core._glb_regex_tags) == \
        ({"t": "r"}, {"C": "show c"}, {"brume": ["t"]})


def test_extend_markup_forwards_the_text_alone(tl, core, monkeypatch):
    calls = []
    monkeypatch.setattr(core, "extend_markup", lambda *args, **kwargs: calls.append((args, kwargs)) or 1)
    assert tl.extend_markup("text") is None
    assert calls == [(("text",), {})]
    with pytest.raises(TypeError):
        tl.extend_markup("text", "_")


def test_forwarded_errors_propagate(tl, core, monkeypatch):
    def broken(*args):
        raise KeyError("from core")
    monkeypatch.setattr(core, "extend", broken)
    with pytest.raises(KeyError, match="from core"):
        tl.extend()


def test_device(tl):
    device = tl.Device("R1", 1, 2, os="x")
    assert vars(device) == {"name": "R1"}
    assert device.execute() is None and device.execute("show", timeout=3) is None
    assert device.is_connected(alias=None) is True
    assert device.is_connected("a", 1, x=2) is True
    assert tl.Device(name=None).name is None
    with pytest.raises(TypeError, match=r"^Device.is_connected\(\) missing 1 required positional argument: "
                                        r"'alias'$"):
        device.is_connected()
    with pytest.raises(TypeError, match=r"^Device.__init__\(\) missing 1 required positional argument: 'name'$"):
        tl.Device()


def test_binder_keeps_named_parameters_apart_from_var_keywords(tl):
    device = tl.Device("R1")
    # a keyword named like the *args parameter is just another keyword
    assert device.is_connected("a", args=1) is True
    with pytest.raises(TypeError, match="got multiple values for argument 'alias'"):
        device.is_connected("a", alias="b")
    with pytest.raises(TypeError, match="got multiple values for argument 'name'"):
        tl.Device("R1", name="R2")


def test_extend_markup_registers_as_core_does_with_dash(tl, core, sample):
    import copy
    text = sample("interface.markup")
    tables = (core._glb_regex, core._glb_show_commands, core._glb_regex_tags)
    assert tl.extend_markup(text) is None
    through_textloom = copy.deepcopy(tables)
    assert core._glb_regex_tags["brume"]
    for table in tables:
        table.clear()
    core.extend_markup(text, "-")
    assert tables == through_textloom


def test_a_subclass_constructor_shows_its_own_signature(core):
    class Mine(core.column_table_result_core_t):
        def __init__(self, device, limit=3):
            super().__init__()
    assert str(inspect.signature(Mine)) == "(device, limit=3)"


def test_methods_bind_as_python_functions(core):
    cls = core._textloom_t
    method = cls.__dict__["_parser_validate"]
    assert cls._parser_validate is method and method.__get__(None, cls) is method
    bound = method.__get__(object(), cls)
    assert bound.__func__ is method and str(inspect.signature(bound)) == "()"
    assert method.__name__ == "_parser_validate" and method.__qualname__ == "_textloom_t._parser_validate"
    assert method.__module__ == "mirel.textloom.core" and "_textloom_t._parser_validate" in repr(method)
