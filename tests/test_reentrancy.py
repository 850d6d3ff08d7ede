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


TABULAR_TEXT = ("R1 table\\nAddress   Age  Port\\n=======  ===  ====\\n10.0.0.1  5    e0\\nINCOMPLETE 10.0.0.9\\n"
                "10.0.0.2  6    e1\\nTotal 2\\nR2 table\\nAddress   Age  Port\\n=======  ===  ====\\n10.0.0.3  7    e2\\n")
TABULAR_BARS = "R1 table\\n| Port | Status |\\n| eth0 | up     |\\n| eth1 |        |\\nR2 table\\n| Port | Status |\\n| eth2 | down   |\\n"


def tabular_parse(text, *settings, cls=None, **kwargs):
    """A parse of `text`, stored under the parse key "tabular"."""
    core.text_to_parse["tabular"] = text
    return (cls or core.column_table_result_core_t)(*settings, parse_key="tabular", **kwargs)


def tabular_every_setting(cls=None):
    """A titled parse of TABULAR_TEXT with a terminal pattern, a skip_header and a skip_line."""
    return tabular_parse(TABULAR_TEXT, ["Address", "Age", "Port"], "^Total", [0, 2], "===", r"(\\S+) table",
                         skip_line="INCOMPLETE", cls=cls)


def tabular_bars(right_justified=False, cls=None):
    """A titled parse of the delimiter tables of TABULAR_BARS."""
    return tabular_parse(TABULAR_BARS, ["Port", "Status"], None, 0, None, r"(\\S+) table", right_justified,
                         delimiter="|", cls=cls)


def tabular_rebound_at(module, name, k, then):
    """Binds module.<name> to a callable that answers as `then` and, at its
    k-th call (from 0), rebinds the name to `then`, dropping its last reference."""
    calls = []

    class Later:
        def __call__(self, *args, **kwargs):
            if len(calls) == k:
                setattr(module, name, then)
            calls.append(args)
            return then(*args, **kwargs)

    setattr(module, name, Later())
    return calls


def tabular_at_every_call(module, name, then, parse):
    """parse() with module.<name> rebinding itself to `then` at each of its
    calls in turn; every result equals the one with `then` bound throughout."""
    setattr(module, name, then)
    normal = parse()
    k = 0
    while True:
        calls = tabular_rebound_at(module, name, k, then)
        assert parse() == normal, (name, k)
        if getattr(module, name) is not then:
            setattr(module, name, then)
            assert calls, name
            return normal
        k += 1
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

TABULAR_RE_FUNCTIONS_REBOUND = """
def entries(parse):
    return lambda: (parse().entries, parse()._text_to_parse)

for name in ("search", "compile"):
    tabular_at_every_call(core, name, getattr(re, name), entries(tabular_every_setting))
for name in ("search", "compile", "sub", "escape"):
    for right in (False, True):
        tabular_at_every_call(core, name, getattr(re, name), entries(lambda: tabular_bars(right)))
tabular_at_every_call(core, "search", re.search,
                      lambda: core.column_table_result_core_t._find_entry_in_list(tabular_bars(), "eth", [("x",), ("eth1",)]))

# deleted at its first use: the next use finds no such name, or the built-in compile
for name, error in (("search", "NameError"), ("compile", "TypeError"), ("sub", "NameError"), ("escape", "NameError")):
    replace_once(core, name, None)
    assert outcome(lambda: tabular_bars(True)) == error, name
    setattr(core, name, getattr(re, name))
"""

TABULAR_COMPILE_GIVES_ANOTHER_EXPRESSION = """
import signal
signal.alarm(60)  # a parse that never ends fails the case
# compile rebinds itself to re's own while it compiles the heading: the
# expression it gives is not the heading's, and matches nothing but empty text
def compile_once(pattern):
    core.compile = re.compile
    return re.compile(r"([ \\t]*)(x*)([ \\t]*)(x*)([ \\t]*)(x*)")
core.compile = compile_once
del compile_once
t = tabular_parse("Address   Age  Port\\n10.0.0.1  5    e0\\n", ["Address", "Age", "Port"])
assert t.entries == {}
"""

TABULAR_LABEL_HASH_CHANGES_LABELS = """
heading, line, bounds = "Address   Age  Port\\n", "10.0.0.1  5    e0", [(0, 10), (10, 15), (15, 17)]

def labels_changed_by(change):
    labels = []

    class Name(str):
        def __hash__(self):
            change(labels)
            return str.__hash__(self)
        __eq__ = str.__eq__

    labels[:] = [Name("A"), "B", "C"] + ["x%d" % i for i in range(50)]
    return labels

shortened = {"10.0.0.1": {"A": "10.0.0.1"}}
# the names list shrinks while the row is filed: the loop sees the shorter list
for change in (lambda l: l.__delitem__(slice(1, None)), lambda l: l.clear()):
    t = tabular_parse(heading + line + "\\n", ["Address", "Age", "Port"], label_fields=labels_changed_by(change))
    assert t.entries == shortened
    t.entries = {}
    t.add_entry(line, labels_changed_by(change), bounds)
    assert t.entries == shortened
# shortened to three names at the first, then at every cell
for change in (lambda l: l.__delitem__(slice(3, None)), lambda l: l[3:] and l.__delitem__(slice(3, None))):
    t = tabular_parse(heading + line + "\\n", ["Address", "Age", "Port"], label_fields=labels_changed_by(change))
    assert t.entries == {"10.0.0.1": {"A": "10.0.0.1", "B": "5", "C": "e0"}}
# grown past the columns: the loop goes on to the new names and runs out of bounds
grown = labels_changed_by(lambda l: l.extend("YZ") if len(l) < 60 else None)
assert outcome(lambda: tabular_parse(heading + line + "\\n", ["Address", "Age", "Port"], label_fields=grown)) == "IndexError"
# the names changed by a cell's cleanup: later rows see the changed list
names = ["A", "B", "C"]

class Cleanup(core.column_table_result_core_t):
    def cleanup_entry_field(self, header, field):
        if header == "B":
            # the last name renamed in the first row, dropped in the second
            names[2:] = ["c"] if field == "5" else []
        return field

t = tabular_parse(heading + line + "\\n10.0.0.2  6    e1\\n", ["Address", "Age", "Port"], label_fields=names, cls=Cleanup)
assert t.entries == {"10.0.0.1": {"A": "10.0.0.1", "B": "5", "c": "e0"},
                     "10.0.0.2": {"A": "10.0.0.2", "B": "6"}}
"""

TABULAR_TEXT_NOT_A_STR = """
text = "R1 table\\nAddress   Age  Port\\n10.0.0.1  5    e0\\n"
expected = {"R1": {"10.0.0.1": {"Address": "10.0.0.1", "Age": "5", "Port": "e0"}}}

def titled(stored):
    return tabular_parse(stored, ["Address", "Age", "Port"], None, 0, None, r"(\\S+) table")

class Text(str):
    pass

class OwnLines(str):
    def splitlines(self):
        return ["R9 table", "Address   Age  Port", "10.0.0.9  9    e9"]

# the title cut joins the str lines of the text's splitlines(): the rows are parsed
assert titled(collections.UserString(text)).entries == expected
assert titled(Text(text)).entries == expected
assert titled(OwnLines(text)).entries == {"R9": {"10.0.0.9": {"Address": "10.0.0.9", "Age": "9", "Port": "e9"}}}
# untitled, the text reaches re's sub as it is
assert outcome(lambda: tabular_parse(collections.UserString(text), ["Address", "Age", "Port"])) == "TypeError"

class Lines:
    def __init__(self, *lines):
        self.lines = lines
    def splitlines(self):
        return iter(self.lines)

assert outcome(lambda: titled(Lines("R1 table", b"Address   Age  Port"))) == "TypeError"
assert titled(Lines("", None, 0, "R1 table")).entries == {}

class Odd(str):
    # a line unequal to itself
    __hash__ = str.__hash__
    def __eq__(self, other):
        return False
    def __ne__(self, other):
        return True

t = titled(Lines(Odd("R1 table"), "Address   Age  Port", Odd("10.0.0.1  5    e0")))
assert t.entries == expected, t.entries
"""

TABULAR_HOOKS_MUTATE_WHAT_THEY_ARE_HANDED = """
base = core.column_table_result_core_t

def through(name, before):
    # the hook changes what it is handed, then does what the base does
    def hook(self, *args):
        before(self, *args)
        return getattr(base, name)(self, *args)
    return type("hooked_t", (base,), {name: hook})

def pop(seq):
    if seq:
        seq.pop()

changes = [
    ("add_entry", lambda self, line, names, delims: names.clear()),
    ("add_entry", lambda self, line, names, delims: delims.clear()),
    ("add_entry", lambda self, line, names, delims: pop(delims)),
    ("add_entry", lambda self, line, names, delims: self.index.append(7)),
    ("add_entry", lambda self, line, names, delims: self.index.clear()),
    ("align_table", lambda self, table, fields, labels, delimiter, right: fields.clear()),
    ("align_table", lambda self, table, fields, labels, delimiter, right: fields.append("Extra")),
    ("compile_header_pattern", lambda self, fields: pop(fields)),
    ("compile_header_pattern", lambda self, fields: fields.append("Extra")),
    ("cleanup_entry_field", lambda self, header, field: self.index.clear()),
    ("cleanup_entry_field", lambda self, header, field: self.index.insert(0, 1)),
    ("cleanup_entry_field", lambda self, header, field: self.entries.clear()),
    ("cleanup_entry_field", lambda self, header, field: setattr(self, "entries", {})),
    ("cleanup_entry_field", lambda self, header, field: setattr(self, "entries", [])),
    ("_map_entry_field", lambda self, header, field: setattr(self, "field_mapping", {header: str.upper})),
    ("_add_entries_to_results", lambda self, values: self.entrydict.clear()),
    ("_add_entries_to_results", lambda self, values: setattr(self, "entrydict", {})),
    ("_add_entries_to_results", lambda self, values: setattr(self, "entries", None)),
]
for name, change in changes:
    for parse in (tabular_every_setting, tabular_bars):
        outcome(lambda: parse(cls=through(name, change)))

# settings whose lists change after get_init_info handed them over
def info(self, output, *settings):
    fields = ["Address", "Age", "Port"]
    yield fields
    fields.clear()
    yield from ("^Total", None, r"(\\S+) table", False, None, None)

assert outcome(lambda: tabular_parse(TABULAR_TEXT, cls=type("info_t", (base,), {"get_init_info": info}))) == "IndexError"

# the names handed to add_entry are the list the hook changed for the row before
class Renaming(base):
    def add_entry(self, line, names, delims):
        result = base.add_entry(self, line, names, delims)
        names[0] = names[0].lower()
        return result

t = tabular_parse("Address   Age\\n1.1.1.1   3\\n2.2.2.2   4\\n", ["Address", "Age"], cls=Renaming)
assert t.entries == {"1.1.1.1": {"Address": "1.1.1.1", "Age": "3"}, "2.2.2.2": {"address": "2.2.2.2", "Age": "4"}}
"""

TABULAR_HOOKS_REBIND_THEMSELVES = """
base = core.column_table_result_core_t
normal = {parse: parse().entries for parse in (tabular_every_setting, tabular_bars)}

def rebinding(name, how):
    # a pass-through hook that, at its first call, is removed from its class
    # or shadowed on the object, dropping the last reference to it
    def hook(self, *args):
        if how == "removed":
            delattr(type(self), name)
        else:
            setattr(self, name, lambda *a: getattr(base, name)(self, *a))
        return getattr(base, name)(self, *args)
    return type("rebinding_t", (base,), {name: hook})

for name in ("add_entry", "cleanup_entry_field", "_map_entry_field", "align_table", "compile_header_pattern",
             "_add_entries_to_results"):
    for how in ("removed", "shadowed"):
        for parse, entries in normal.items():
            assert parse(cls=rebinding(name, how)).entries == entries, (name, how)

def info(self, output, *settings):
    del type(self).get_init_info
    return ["Address", "Age", "Port"], "^Total", "===", r"(\\S+) table", False, None, "INCOMPLETE"

t = tabular_parse(TABULAR_TEXT, None, None, [0, 2], cls=type("info_t", (base,), {"get_init_info": info}))
assert t.entries == normal[tabular_every_setting]

# settings read through the object that change as they are read
class Changing(base):
    reads = 0
    @property
    def field_mapping(self):
        Changing.reads += 1
        if Changing.reads == 3:
            del Changing.field_mapping
        return {"Age": int}
    @property
    def index(self):
        del Changing.index
        return self.__dict__["index"]
    @index.setter
    def index(self, value):
        self.__dict__["index"] = value

t = tabular_parse("Address   Age\\n1.1.1.1   3\\n2.2.2.2   4\\n", ["Address", "Age"], cls=Changing)
assert t.entries == {"1.1.1.1": {"Address": "1.1.1.1", "Age": 3}, "2.2.2.2": {"Address": "2.2.2.2", "Age": "4"}}
"""

TABULAR_CONVERTERS_AND_KEYS_CHANGE_THE_PARSER = """
base = core.column_table_result_core_t
text = "R1 table\\nAddress   Age\\n1.1.1.1   3\\n2.2.2.2   4\\nR2 table\\nAddress   Age\\n3.3.3.3   5\\n"
parsers = []

class Parser(base):
    def __init__(self, *args, **kwargs):
        parsers.append(self)
        base.__init__(self, *args, **kwargs)

def parse(members, titled=True):
    cls = type("converting_t", (Parser,), members)
    return tabular_parse(text if titled else text.split("R2")[0], ["Address", "Age"], None, 0, None,
                         r"(\\S+) table" if titled else None, cls=cls)

# a converter that removes itself from the mapping, or rebinds the mapping
def once(field):
    del type(parsers[-1]).field_mapping["Age"]
    return int(field)
t = parse({"field_mapping": {"Age": once}})
assert t.entries["R1"] == {"1.1.1.1": {"Address": "1.1.1.1", "Age": 3}, "2.2.2.2": {"Address": "2.2.2.2", "Age": "4"}}

def rebind(field):
    type(parsers[-1]).field_mapping = {}
    return int(field)
t = parse({"field_mapping": {"Age": rebind}})
assert t.entries["R1"]["2.2.2.2"]["Age"] == "4"

# a list converter emptied by its own head
converter = []
def head(field, extra):
    converter.clear()
    return field + extra
converter[:] = [head, "!"]
assert outcome(lambda: parse({"field_mapping": {"Age": converter}})) == "IndexError"

# the title converters emptied by the first of them
titles = []
def title(value):
    titles.clear()
    return value
titles[:] = [title]
assert outcome(lambda: parse({"table_title_mapping": titles})) == "IndexError"

# an inspect.ismethod that empties the list converter it is asked about
import inspect
class Emptying:
    def ismethod(self, obj):
        listed.clear()
        return False
listed = [lambda field, *extras: field, "x", "y"]
core.inspect = Emptying()
assert outcome(lambda: parse({"field_mapping": {"Age": listed}})) == "IndexError"
core.inspect = inspect

# keys whose __hash__ and __eq__ change the entries they are filed in
class Key:
    __cmp__ = None
    def __init__(self, text, change):
        self.text, self.change = text, change
    def __hash__(self):
        self.change(parsers[-1])
        return hash(self.text)
    def __eq__(self, other):
        self.change(parsers[-1])
        return isinstance(other, Key) and self.text == other.text

changes = [
    lambda p: p.entries.clear(),
    lambda p: setattr(p, "entries", {}),
    lambda p: setattr(p, "entries", None),
    lambda p: p.entrydict.clear(),
    lambda p: setattr(p, "entrydict", {}),
    lambda p: p.index.clear(),
    lambda p: p.index.append(1),
]
for change in changes:
    for titled in (True, False):
        outcome(lambda: parse({"field_mapping": {"Address": lambda f: Key(f, change)}}, titled))
        outcome(lambda: parse({"table_title_mapping": [lambda v: Key(v, change)]}, titled))

# an index element whose == empties the index
class Column:
    def __eq__(self, other):
        del parsers[-1].index[:]
        return False
core.text_to_parse["tabular"] = text.split("R2")[0]
t = Parser(["Address", "Age"], None, [Column(), 0], parse_key="tabular")
assert t.entries == {"": {"": {"Address": "1.1.1.1", "Age": "3"}}}
"""

TABULAR_NAMES_READ_MID_PARSE = """
import inspect
base = core.column_table_result_core_t
# two titles with the same value: the second makes a warning
text = "R1 table\\nAddress   Age\\n1.1.1.1   3\\nR1 table \\nAddress   Age\\n2.2.2.2   4\\n"

class Mapped(base):
    field_mapping = {"Age": [lambda field, extra: field + extra, "!"], "Address": str}

def parse(cls=Mapped):
    return tabular_parse(text, ["Address", "Age"], None, 0, None, r"(\\S+) table", cls=cls).entries

# isstr and warning (the title seen twice) rebind themselves at each of their calls in turn
tabular_at_every_call(core, "isstr", core.isstr, parse)
tabular_at_every_call(core, "warning", core.warning, parse)

# inspect: an object whose ismethod rebinds core.inspect on its lookup, or on its call
class Lookup:
    def __getattr__(self, name):
        core.inspect = inspect
        return getattr(inspect, name)
class Call:
    def ismethod(self, obj):
        core.inspect = inspect
        return inspect.ismethod(obj)
normal = parse()
for replacement in (Lookup, Call):
    core.inspect = replacement()
    assert parse() == normal
    assert core.inspect is inspect

# text_to_parse: a table that rebinds the name as it is read
tables = core.text_to_parse
class Rebinding(dict):
    def __getitem__(self, key):
        core.text_to_parse = tables
        return tables[key]
for cls in (Mapped, type("info_t", (Mapped,), {"get_init_info": lambda self, output, *s: (
        ["Address", "Age"], None, None, r"(\\S+) table", False, None, None)})):
    core.text_to_parse = Rebinding()
    core.text_to_parse = Rebinding()
    tables["tabular"] = text
    assert core.column_table_result_core_t.__init__ and cls(None if cls is not Mapped else ["Address", "Age"],
        None, 0, None, r"(\\S+) table", parse_key="tabular").entries == normal
    assert core.text_to_parse is tables

# column_result_t: a class whose constructor puts the original back and runs it
original = core.column_result_t
class Stand:
    def __init__(self, *args):
        core.column_result_t = original
        original.__init__(self, *args)
core.column_result_t = Stand
del Stand
assert parse() == normal and core.column_result_t is original
"""

TABULAR_CASES = [
    pytest.param(TABULAR_RE_FUNCTIONS_REBOUND, id="tabular-re-functions-rebound-at-each-call"),
    pytest.param(TABULAR_COMPILE_GIVES_ANOTHER_EXPRESSION, id="tabular-compile-gives-another-heading-expression"),
    pytest.param(TABULAR_LABEL_HASH_CHANGES_LABELS, id="tabular-label-hash-changes-the-labels"),
    pytest.param(TABULAR_TEXT_NOT_A_STR, id="tabular-text-not-a-str"),
    pytest.param(TABULAR_HOOKS_MUTATE_WHAT_THEY_ARE_HANDED, id="tabular-hooks-mutate-what-they-are-handed"),
    pytest.param(TABULAR_HOOKS_REBIND_THEMSELVES, id="tabular-hooks-and-settings-rebind-themselves"),
    pytest.param(TABULAR_CONVERTERS_AND_KEYS_CHANGE_THE_PARSER, id="tabular-converters-and-keys-change-the-parser"),
    pytest.param(TABULAR_NAMES_READ_MID_PARSE, id="tabular-module-names-rebind-themselves"),
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
