"""User code that runs in the middle of a parse or an operation.

A module-level name rebound or deleted by the very object it was bound to, a
hook or converter that mutates the lists and dicts it is handed, a key whose
__hash__ or __eq__ mutates a container: each case runs in a fresh interpreter
with the debug allocator (the sanitizer run keeps its own), so that an object
freed and then read again crashes it.  The property: the call returns or
raises an ordinary exception, never crashes or raises SystemError; where
Python defines the result (a rebinding back to re's own function), the
snippet asserts the normal one.
"""
import os
import textwrap

import pytest

import conftest

# Helpers every snippet can use.
PRELUDE = '''
import collections, re, sys
import mirel.textloom.core as core
import mirel.textloom._textloom as tl


def replace_once(module, name, then):
    """Binds module.<name> to a callable that, at its first call, rebinds the
    name to `then` (or deletes it when `then` is None), so that the module held
    the last reference to it, and answers as `then` would (re's function of
    that name when deleted)."""
    fallback = then if then is not None else getattr(re, name)

    class Once:
        def __call__(self, *args, **kwargs):
            if then is None:
                delattr(module, name)
            else:
                setattr(module, name, then)
            return fallback(*args, **kwargs)

    setattr(module, name, Once())


def outcome(call):
    """The result of call(), or the name of the ordinary exception it raised."""
    try:
        return call()
    except SystemError:
        raise
    except Exception as e:
        return type(e).__name__
'''

REBINDING_KEY = """
class Key:
    # rebinding the table while it is being read frees it, unless the reader holds it
    def __init__(self, table):
        self.table = table
    def __hash__(self):
        setattr(core, self.table, None)
        return 1
    def __eq__(self, other):
        return self is other

def attempt(call):
    # large tables: their entries are freed to the allocator, not kept on a free list
    for table in ("text_to_parse", "ext_dictio", "_glb_show_commands"):
        setattr(core, table, {str(i): "" for i in range(100)})
    core.extend(None, {"CMD": "show x"})
    return outcome(call)

assert attempt(lambda: core.column_table_result_core_t(["A", "B"], parse_key=Key("text_to_parse"))) == "KeyError"
assert attempt(lambda: core._textloom_t("ketch", ["t"], ["v"], False, Key("ext_dictio"))) == "KeyError"
assert attempt(lambda: core._get_show_command(Key("_glb_show_commands"), "CMD")) == "show x"
"""

EXAMPLE_IMPORTED_TWICE = """
# what unittest.mock.patch.dict("sys.modules", ...) does around an import
import contextlib, importlib, io
name = "mirel.textloom.examples.textloom.orVexStandaloneUt.specimen"
with contextlib.redirect_stdout(io.StringIO()):
    first = importlib.import_module(name)
    del sys.modules[name]
    second = importlib.import_module(name)
assert first is not second
seen = []
first.cleanupLspId = lambda field: seen.append("first") or field
second.cleanupLspId = lambda field: seen.append("second") or field
parser = first.my_isis_database_column_parser_t
assert parser.cleanup_entry_field(parser.__new__(parser), "LSPID", "x") == "x"
assert seen == ["first"]
with contextlib.redirect_stdout(io.StringIO()):
    result = parser(first.dev1, "show isis database")
assert sorted(result.entries) == [1, 2]
"""

# The registry, the show-command formatter, the non-tabular parser and the
# markup compiler.
CORE_CASES = [
    pytest.param(REBINDING_KEY, id="key-hash-rebinds-the-table-read"),
]

# The tabular parser: driver, alignment, row filing.
TABULAR_CASES = [
]

# The device operations and the example modules.
OPERATION_CASES = [
    pytest.param(EXAMPLE_IMPORTED_TWICE, id="example-module-imported-twice"),
]


@pytest.mark.parametrize("snippet", CORE_CASES + TABULAR_CASES + OPERATION_CASES)
def test_user_code_mid_call(snippet):
    env = {} if os.environ.get("PYTHONMALLOC") == "malloc" else {"PYTHONMALLOC": "debug"}
    done = conftest.run_python(PRELUDE + textwrap.dedent(snippet), env_extra=env)
    assert done.returncode == 0, done.stderr
    assert "SystemError" not in done.stderr and "Fatal Python error" not in done.stderr, done.stderr
