"""Loading core: its names in order, its tables, its classes, re-initialisation."""
import inspect
import logging
import re
import string

import pytest

from helpers import run_python

OSES = ["ketch", "pellam", "larch", "brume", "morrow", "wend",
        "dapple", "quint", "gorse", "tessel", "halvane", "fernet"]

LOAD_ORDER = [
    "logging", "string", "sys", "inspect", "collections",
    "compile", "match", "search", "sub", "escape",
    "python3", "logger", "warning", "supported_oses", "_mk_textloom_t",
    "extend_markup", "extend", "ext_dictio", "text_to_parse", "_glb_regex",
    "_get_regex", "_glb_show_commands", "_glb_regex_tags", "is_int",
    "DefaultFormatter", "_get_show_command", "_textloom_t", "isstr",
    "column_result_t", "column_table_result_core_t",
]


def test_fresh_module_binds_its_names_in_load_order():
    code = (
        "import mirel.textloom.core as c\n"
        "print([n for n in vars(c) if not n.startswith('__')])\n"
        "print(c._glb_regex, c._glb_show_commands, c._glb_regex_tags, c.ext_dictio, c.text_to_parse)\n"
        "print([hasattr(c, n) for n in ('regex', 'show_commands', 'regex_tags', 'tlcore')])\n"
    )
    out = run_python(code)
    assert out.returncode == 0, out.stderr
    names, tables, absent = out.stdout.splitlines()
    assert eval(names) == LOAD_ORDER
    assert tables == "{} {} {} {} {}"
    assert absent == "[False, False, False, False]"


def test_module_values(core):
    assert core.supported_oses == OSES
    assert core.python3 is True
    assert core.__doc__ is None
    assert core.__name__ == "mirel.textloom.core"
    assert core.logger is logging.getLogger("mirel.textloom.core")
    for name in ("compile", "match", "search", "sub", "escape"):
        assert getattr(core, name) is getattr(re, name)
    assert core.string is string and core.inspect is inspect


@pytest.mark.parametrize("cls, mro", [
    ("DefaultFormatter", ["DefaultFormatter", string.Formatter, object]),
    ("column_table_result_core_t", ["column_table_result_core_t", "column_result_t", object]),
    ("column_result_t", ["column_result_t", object]),
    ("_textloom_t", ["_textloom_t", object]),
    ("_mk_textloom_t", ["_mk_textloom_t", object]),
])
def test_classes_are_real_python_classes(core, cls, mro):
    klass = getattr(core, cls)
    assert type(klass) is type
    assert klass.__module__ == "mirel.textloom.core"
    assert klass.__qualname__ == cls
    assert isinstance(klass.__doc__, str) and klass.__doc__
    expected = [getattr(core, m) if isinstance(m, str) else m for m in mro]
    assert list(klass.__mro__) == expected


@pytest.mark.parametrize("cls, members", [
    ("_textloom_t", ["_dictio", "__init__", "_parser_check_scope", "_parser_current_matching",
                     "_parser_future_matching", "_parser_delete_non_matching", "_parser",
                     "_textloom_t__get_regex_def", "_parser_validate", "error", "__str__"]),
    ("column_result_t", ["field_mapping", "table_title_mapping", "add_entry", "get_init_info",
                         "compile_header_pattern", "align_table", "__init__", "_add_entries_to_results",
                         "_map_entry_field", "cleanup_entry_field", "_find_entry_in_list",
                         "find_entry_index_list"]),
    ("column_table_result_core_t", ["index_objects", "index_mapped_string", "__init__", "add_entry"]),
    ("DefaultFormatter", ["__init__", "vformat", "get_field", "get_value"]),
    ("_mk_textloom_t", ["regex", "__init__", "escape", "convert", "_desc_max", "generate_output",
                        "convert_output", "process_marked_up_input"]),
])
def test_class_members_in_order(core, cls, members):
    names = [n for n in vars(getattr(core, cls)) if n not in ("__module__", "__qualname__", "__doc__",
                                                               "__dict__", "__weakref__")]
    assert names == members


def test_private_method_is_mangled(core):
    assert hasattr(core._textloom_t, "_textloom_t__get_regex_def")
    assert not hasattr(core._textloom_t, "__get_regex_def")


def test_class_attributes(core):
    assert core._textloom_t._dictio == {}
    assert core.column_result_t.field_mapping == {} and core.column_result_t.table_title_mapping is None
    assert core.column_table_result_core_t.index_objects is True
    assert core.column_table_result_core_t.index_mapped_string is False


def test_second_initialisation_returns_the_built_module():
    code = (
        "import sys, mirel.textloom.core as c\n"
        "c.extend({'pellam': {'t': 'x'}})\n"
        "c.supported_oses = ['pellam']\n"
        "del sys.modules['mirel.textloom.core']\n"
        "import mirel.textloom.core as c2\n"
        "print(c2 is c, c2._glb_regex, c2.supported_oses)\n"
    )
    out = run_python(code)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "True {'pellam': {'t': 'x'}} ['pellam']"


@pytest.mark.parametrize("message, logged", [
    ("100% of %s and %d", "100% of %s and %d"),
    (42, "42"),
])
def test_warning_logs_the_text_as_passed(core, caplog, message, logged):
    with caplog.at_level(logging.WARNING, logger="mirel.textloom.core"):
        assert core.warning(message) is None
    assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == \
        [("mirel.textloom.core", logging.WARNING, logged)]


def test_warning_by_keyword_and_through_a_rebound_logger(core, caplog):
    other = logging.getLogger("textloom.test.other")
    core.logger = other
    with caplog.at_level(logging.WARNING):
        core.warning(s="hello")
    assert [(r.name, r.getMessage()) for r in caplog.records] == [("textloom.test.other", "hello")]


@pytest.mark.parametrize("args, kwargs", [((), {}), (("a", "b"), {}), ((), {"msg": "x"})])
def test_warning_and_isstr_take_exactly_one_argument(core, args, kwargs):
    for f in (core.warning, core.isstr):
        with pytest.raises(TypeError):
            f(*args, **kwargs)


def test_warning_without_a_logger_raises_name_error(core):
    del core.logger
    with pytest.raises(NameError, match="logger"):
        core.warning("x")


class Text(str):
    pass


@pytest.mark.parametrize("value, expected", [
    ("", True), (Text("x"), True), (b"x", False), (None, False), (0, False), (["a"], False), (("a",), False),
])
def test_isstr(core, value, expected):
    assert core.isstr(value) is expected
    assert core.isstr(s=value) is expected


def test_rebinding_supported_oses_takes_effect_at_once(core, caplog):
    core.supported_oses = [os for os in OSES if os != "wend"]
    core.extend({"wend": {"t": "r"}}, None, {"wend": ["t"]})
    # "wend" is now a generic key holding the caller's dict, and its tag list is refused
    assert core._glb_regex["wend"] == {"t": "r"}
    assert "wend" not in core._glb_regex_tags
    assert caplog.messages == [
        "os wend is not one of the supported oses " + repr(core.supported_oses) + "."]
