"""Every function, method and class of the package binds its arguments as the
Python `def` it stands for: inspect shows the same signature, and each way of
calling it wrongly raises the same TypeError text.  The equivalents are made
from a table of parameter lists, by a class statement where the callable is
a method, so that the qualified name in the texts is Python's own."""
import importlib
import inspect
import json
import sys

import pytest

from helpers import run_python

CORE = "mirel.textloom.core"
TEXTLOOM = "mirel.textloom._textloom"
REHEARSAL = "mirel.textloom.examples.textloom.orVex.rehearsal"
SPECIMEN = "mirel.textloom.examples.textloom.orVexStandaloneUt.specimen"
ERRAND = "mirel.textloom.examples.textloom.orVex.errand"
COURIER = "mirel.textloom.examples.textloom.orVex.courier"

# module -> function -> parameters
FUNCTIONS = {
    CORE: {
        "extend": "regex_ext=None, show_cmds=None, regex_tags=None",
        "extend_markup": "marked_up_input, auto_key_join_char='-'",
        "_get_regex": "routerOs, attribute",
        "_get_show_command": "routerOs, show_cmd_arg",
        "warning": "s",
        "isstr": "s",
        "is_int": "s",
    },
    TEXTLOOM: {
        "get_os_type": "device, alias=None",
        "extend": "regex_ext=None, show_cmds=None, regex_tags=None",
        "extend_markup": "marked_up_input",
        "isstr": "s",
    },
    SPECIMEN: {
        "_hexint": "val",
        "cleanupLspId": "field",
    },
    ERRAND: {"main": ""},
    COURIER: {"main": ""},
}

# module -> class -> method -> parameters (the methods the class itself defines)
CLASSES = {
    CORE: {
        "_mk_textloom_t": {
            "__init__": "self",
            "escape": "self, line",
            "convert": "self, os, line, groupnum",
            "_desc_max": "self, os, output",
            "generate_output": "self, generate_regex_tags=False, called_from_textloom=False",
            "convert_output": "self, showcmd, prefix, output, os, cmd",
            "process_marked_up_input": "self, markup_iterator, auto_key_join_char='-'",
        },
        "DefaultFormatter": {
            "__init__": "self, defidxval=None, defkeyval=None",
            "vformat": "self, fmt, args, kwargs",
            "get_field": "self, field, args, kwargs",
            "get_value": "self, key, args, kwargs",
        },
        "_textloom_t": {
            "__init__": "self, routerOs, attributes, values, fill=False, parse_key='', skip=False",
            "_parser_check_scope": "self, regex_done, line",
            "_parser_current_matching": "self, value_to_match, value_found",
            "_parser_future_matching": "self, regex, regex_done, line",
            "_parser_delete_non_matching": "self, lines, regex_tags",
            "_parser": "self",
            "__get_regex_def": "self, attribute_n, line",
            "_parser_validate": "self",
            "error": "self, msg",
            "__str__": "self",
        },
        "column_result_t": {
            "add_entry": "self, line, header_fields, field_delims",
            "get_init_info": "self, output, header_fields, table_terminal_pattern, skip_header, table_title_pattern, "
                             "right_justified, label_fields, skip_line",
            "compile_header_pattern": "self, header_fields",
            "align_table": "self, table_to_parse, header_fields, label_fields, delimiter, right_justified",
            "__init__": "self, header_fields, table_terminal_pattern, skip_header, table_title_pattern=None, "
                        "right_justified=False, label_fields=None, skip_line=None, parse_key='', delimiter=''",
            "_add_entries_to_results": "self, titlevalues",
            "_map_entry_field": "self, header, field",
            "cleanup_entry_field": "self, header, field",
            "_find_entry_in_list": "self, regex, entries",
            "find_entry_index_list": "self, index_list",
        },
        "column_table_result_core_t": {
            "__init__": "self, header_fields=None, table_terminal_pattern=None, index=0, skip_header=None, "
                        "table_title_pattern=None, right_justified=False, label_fields=None, skip_line=None, "
                        "parse_key='', delimiter=''",
            "add_entry": "self, line, header_fields, field_delims",
        },
    },
    TEXTLOOM: {
        "CmdCache": {
            "refresh_cache": "self, obj, show_command",
        },
        "oper_check": {
            "__init__": "self, device=None, show_command=None, attrvalpairs=None, refresh_cache=False, negate=False, "
                        "device_conn_alias=None, device_output=None, device_os=None",
            "process_attrvalpairs": "self, attrvalpairs, os, reorder=True",
            "result": "self, result",
            "parse": "self",
            "error": "self, msg, line=sys.maxsize",
            "__str__": "self",
            "test": "self",
            "dump": "self",
        },
        "oper_fill": {
            "__init__": "self, device=None, show_command=None, attrvalpairs=None, refresh_cache=False, "
                        "regex_tag_fill_pattern='', skip=False, device_conn_alias=None, device_output=None, "
                        "device_os=None",
        },
        "oper_fill_tabular": {
            "__init__": "self, device=None, show_command=None, refresh_cache=True, header_fields=None, "
                        "table_terminal_pattern=None, index=0, skip_header=None, table_title_pattern=None, "
                        "right_justified=False, label_fields=None, is_run_command=False, skip_line=None, "
                        "device_conn_alias=None, device_output=None, device_os=None, delimiter=''",
        },
        "Device": {
            "__init__": "self, name, *args, **kwargs",
            "execute": "self, *args, **kwargs",
            "is_connected": "self, alias, *args, **kwargs",
        },
    },
    REHEARSAL: {
        "DictDiffer": {
            "__init__": "self, current_dict, past_dict",
            "added": "self",
            "removed": "self",
            "changed": "self",
            "unchanged": "self",
        },
    },
    SPECIMEN: {
        "my_isis_database_column_parser_t": {
            "__init__": "self, device, show_command",
            "cleanup_entry_field": "self, header, field",
        },
    },
}


# The demonstration script binds, in its class, methods that its section module makes.
METHODS_MADE_IN = {REHEARSAL: "mirel.textloom.examples.textloom.orVex._orvex_sections"}


def equivalents(module):
    """The module's table entries as Python: {name: function or class}."""
    lines = ["def %s(%s): pass" % item for item in FUNCTIONS.get(module, {}).items()]
    for cls, methods in CLASSES.get(module, {}).items():
        lines.append("class %s:" % cls)
        lines += ["    def %s(%s): pass" % item for item in methods.items()]
    namespace = {"sys": sys, "__name__": module}
    exec("\n".join(lines), namespace)
    return {name: value for name, value in namespace.items() if inspect.isfunction(value) or isinstance(value, type)}


class Text(str):
    """A keyword whose text form is not its value."""
    def __str__(self):
        return "shown"


def wrong_calls(signature):
    """(args, kwargs) for each way of calling with these parameters wrongly;
    the arguments are placeholders, as no call gets past the binding."""
    params = list(signature.parameters.values())
    named = [p.name for p in params if p.kind is p.POSITIONAL_OR_KEYWORD]
    required = [p.name for p in params if p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty]
    # no callable of the package has positional-only or keyword-only parameters
    assert all(p.kind in (p.POSITIONAL_OR_KEYWORD, p.VAR_POSITIONAL, p.VAR_KEYWORD) for p in params)
    open_positional = any(p.kind is p.VAR_POSITIONAL for p in params)
    open_keywords = any(p.kind is p.VAR_KEYWORD for p in params)
    calls = []
    if required:
        calls.append(((), {}))
        if len(required) > 1:
            calls += [((), {required[-1]: 0}), ((0,), {})]
        if not open_keywords:
            # an unknown keyword is reported before the missing arguments
            calls += [((), {"bogus": 0}), ((), {Text("bogus"): 0})]
    if named:
        # a keyword for an argument given by position, before and after the others
        calls += [(tuple(range(len(named))), {named[0]: 0}), ((0,) * len(named), {named[-1]: 0})]
        if open_keywords:
            calls.append(((0,) * len(named), {named[-1]: 0, "bogus": 0}))
    if not open_positional:
        # too many: reported after the keywords' own errors
        surplus = (0,) * (len(named) + 1)
        calls += [(surplus, {}), (surplus + (0,), {} if open_keywords else {"bogus": 0})]
        if named:
            calls.append((surplus, {named[0]: 0}))
    if not open_keywords:
        calls += [(tuple(range(len(required))), {"bogus": 0}), ((), {1: 0})]
    return calls


def outcomes(function, calls):
    """The TypeError text of each call (None where it binds)."""
    texts = []
    for args, kwargs in calls:
        try:
            function(*args, **kwargs)
        except TypeError as e:
            texts.append(str(e))
        else:
            texts.append(None)
    return texts


def forms(name, native, python):
    """(native callable, python callable, description) for each way of reaching a
    table entry: the function itself; a method through its class and bound to an
    object; a class by its call and through a subclass that keeps the constructor
    (the constructor itself, when the class has its own, is one of its methods)."""
    if not isinstance(python, type):
        return [(native, python, name)]
    found = []
    for method, function in vars(python).items():
        if not inspect.isfunction(function):
            continue
        through_class = vars(native)[method]
        found.append((through_class, function, name + "." + method))
        instance = object()
        found.append((through_class.__get__(instance, native), function.__get__(instance),
                      name + "." + method + " bound"))
    found.append((native, python, name + "()"))
    found.append((type("Sub", (native,), {"__module__": __name__}), type("Sub", (python,), {"__module__": __name__}),
                  name + " subclass()"))
    return found


def described(form, calls):
    """The signature text, the parameters, the names and the error texts of a callable."""
    signature = inspect.signature(form)
    return [str(signature), [(p.name, p.kind.name, repr(p.default)) for p in signature.parameters.values()],
            [getattr(form, attribute, None) for attribute in ("__name__", "__qualname__", "__module__")],
            outcomes(form, calls)]


def compared(module, name, native):
    """[form, what the native callable shows, what the def shows] for each form."""
    rows = []
    for native_form, python_form, description in forms(name, native, equivalents(module)[name]):
        calls = wrong_calls(inspect.signature(python_form))
        python = described(python_form, calls)
        assert None not in python[3], description  # every call is a wrong one
        if "." in description:
            python[2][2] = METHODS_MADE_IN.get(module, module)
        rows.append([description, described(native_form, calls), python])
    return rows


@pytest.mark.parametrize("module, name", [(module, name) for module in (CORE, TEXTLOOM, REHEARSAL, ERRAND, COURIER)
                                          for name in equivalents(module)])
def test_binds_as_the_equivalent_def(module, name):
    for description, native, python in compared(module, name, getattr(importlib.import_module(module), name)):
        assert native == python, description


def test_specimen_binds_as_the_equivalent_defs():
    # the example does its work at import: compare in a fresh interpreter
    program = ("import contextlib, io, json, sys; sys.path.insert(0, 'tests')\n"
               "with contextlib.redirect_stdout(io.StringIO()):\n"
               "    import {0} as m\n"
               "import test_signatures as t\n"
               "print(json.dumps([t.compared({0!r}, n, getattr(m, n)) for n in t.equivalents({0!r})]))\n"
               ).format(SPECIMEN)
    done = run_python(program)
    assert done.returncode == 0, done.stderr
    for rows in json.loads(done.stdout):
        for description, native, python in rows:
            assert native == python, description


def members(cls):
    return [name for name, value in vars(cls).items() if callable(value)]


@pytest.mark.parametrize("module", [CORE, TEXTLOOM, REHEARSAL])
def test_the_table_holds_every_method_of_the_classes(module):
    loaded = importlib.import_module(module)
    for name in CLASSES[module]:
        assert members(getattr(loaded, name)) == members(equivalents(module)[name]), name
