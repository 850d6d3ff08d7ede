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


def ops_stand_in(owner, name, rebind=True):
    """owner.<name> becomes a stand-in for its value.  Its first use of any
    kind (a call, an attribute, an item, `in`, len, iteration, str) binds the
    name back to the value, or deletes it when rebind is false, in the owner
    and in every module that imported the stand-in under that name, so that
    it loses its last reference mid-use; it answers as the value would."""
    import types
    real = getattr(owner, name)
    used = []

    def first(stand_in):
        if not used:
            used.append(True)
            for home in [owner] + [m for m in list(sys.modules.values()) if isinstance(m, types.ModuleType)]:
                if getattr(home, name, None) is stand_in:
                    if rebind:
                        setattr(home, name, real)
                    else:
                        delattr(home, name)
        return real

    class StandIn:
        def __getattribute__(self, attr):
            return getattr(first(self), attr)

        def __call__(self, *args, **kwargs):
            return first(self)(*args, **kwargs)

        def __getitem__(self, key):
            return first(self)[key]

        def __setitem__(self, key, value):
            first(self)[key] = value

        def __contains__(self, key):
            return key in first(self)

        def __iter__(self):
            return iter(first(self))

        def __len__(self):
            return len(first(self))

        def __bool__(self):
            return bool(first(self))

        def __str__(self):
            return str(first(self))

    setattr(owner, name, StandIn())
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

# Every operation once, on output given as text and on devices, summed up so
# that two runs can be compared.  Preceded by `owner, name, rebind = ...`.
OPERATIONS_WITH_A_NAME_REPLACED = """
cache = tl.CmdCache.cache
core.extend({"wend": {"t.name": r"(\\S+) is up", "t.mtu": r"\\s+MTU (\\d+)"}},
            {"wend": {"SHOW": "show it", "SHOW_IF": "show {}"}}, {"wend": ["t.name", "t.mtu"]})
TEXT = "eth0 is up\\r\\n  MTU 1500 bytes\\r\\n"
TABLE = "Port  Speed\\r\\neth0  10G\\r\\neth1  1G\\r\\n"
MARKUP = "OS: wend\\nCMD: show_m\\nSHOWCMD: show m\\nPREFIX: m\\nMARKUP:\\nspeed XN<speed>X10\\n"


class Bridge:
    def eval(self, query):
        return "WEND"


tl.tcl = Bridge()


class Dev:
    def __init__(self, name, output, os="wend"):
        self.name, self.output, self.handle = name, output, "H"
        if os:
            self.os = os

    def is_connected(self, alias=None):
        return True

    def execute(self, command):
        return self.output


def workout():
    cache.clear()
    seen = [tl.get_os_type(Dev("r0", TEXT, os=None))]
    good = tl.oper_check(device_output=TEXT, device_os="wend", attrvalpairs=[("t.mtu", "1500"), ("t.name", "eth0")])
    seen += [good.parse(), good._attributes, str(good)]
    bad = tl.oper_check(Dev("r1", TEXT), "SHOW", [("t.mtu", "9000")], refresh_cache=True)
    seen += [bad.parse(), str(bad), bad._errors]
    seen.append(tl.oper_check(Dev("r1", TEXT), "SHOW", [("t.none", "x")]).parse())
    pairs = [("t.name", "eth0")]
    fill = tl.oper_fill(Dev("r2", TEXT, os=None), ("SHOW_IF", ["x"]), pairs, regex_tag_fill_pattern=r"t\\.")
    seen += [fill.parse(), pairs, dict(core.ext_dictio["r2"])]
    for refresh in (False, False, True):  # a miss (with its warning), a hit, a run
        seen.append(tl.oper_fill_tabular(Dev("r3", TABLE), "SHOW", refresh, ["Port", "Speed"]).entries)
    seen.append(tl.oper_fill_tabular(device_output=TABLE, header_fields=["Port", "Speed"], index=[1]).entries)
    tl.extend({"wend": {"t.extra": "x"}})
    tl.extend_markup(MARKUP)
    seen += [core._glb_regex["wend"]["t.extra"], core._glb_show_commands["wend"]["show_m"], tl.isstr("x")]
    return seen


normal = workout()
ops_stand_in(owner, name, rebind)
again = outcome(workout)
# rebound to itself, the name gives the normal result; deleted, it may be
# missing at its next read
assert again == normal or (not rebind and isinstance(again, str)), (again, normal)
# every name was read mid-call, but sys and CmdCache: only the load reads them
untouched = type(vars(owner).get(name)).__name__ == "StandIn"
assert untouched == (name in ("sys", "CmdCache")), name
"""

# The device's attributes are properties: every read swaps each module name
# the operations read for a fresh stand-in (dropping the one before) and
# changes the caller's pair list.
DEVICE_ATTRIBUTES_MEDDLE = """
core.extend({"wend": {"t.name": r"(\\S+) is up", "t.mtu": r"\\s+MTU (\\d+)"}},
            {"wend": {"SHOW": "show it"}}, {"wend": ["t.name", "t.mtu"]})
TEXT = "eth0 is up\\n  MTU 1500 bytes\\n"


class Bridge:
    def eval(self, query):
        return "WEND"


tl.tcl = Bridge()
names = {(tl, n): getattr(tl, n) for n in ("core", "tcl", "logger", "re", "_glb_regex_tags", "showCmdCache",
                                           "get_os_type", "Device")}
names.update({(core, n): getattr(core, n) for n in ("text_to_parse", "_get_regex", "_get_show_command",
                                                    "_textloom_t", "column_table_result_core_t")})
pairs = []
reads = []


def meddle():
    reads.append(1)
    for (owner, name), value in names.items():
        setattr(owner, name, value)
        ops_stand_in(owner, name)
    [lambda: pairs.append(("t.name", None)), lambda: pairs.__delitem__(slice(1, None)),
     lambda: pairs.insert(0, ["t.mtu", "1500"]), pairs.reverse][len(reads) % 4]()


def meddling(value):
    def read(self):
        meddle()
        if isinstance(value, BaseException):
            raise value
        return value
    return property(read)


class Meddling:
    name = meddling("r1")
    os = meddling("wend")
    is_connected = meddling(lambda alias=None: True)
    execute = meddling(lambda command: TEXT)
    handle = meddling("H")

    @property
    def conn(self):
        meddle()
        return self


class WithoutOs(Meddling):
    os = meddling(AttributeError("os"))


class Older:
    # is_connected a plain attribute, the name only there as hostname
    is_connected = meddling(True)
    hostname = meddling("r2")
    execute = Meddling.execute
    handle = Meddling.handle
    conn = Meddling.conn

    def __setattr__(self, attr, value):
        meddle()
        vars(self)[attr] = value


for device in (Meddling(), WithoutOs(), Older()):
    for alias in (None, "conn"):
        outcome(lambda: tl.get_os_type(device, alias))
        for make in (
                lambda: tl.oper_check(device, "SHOW", pairs, refresh_cache=True, device_conn_alias=alias),
                lambda: tl.oper_fill(device, "SHOW", pairs, False, r"t\\.", device_conn_alias=alias),
                lambda: tl.oper_check(device, "SHOW", pairs, device_conn_alias=alias, device_output=TEXT)):
            pairs[:] = [("t.mtu", "1500"), ("t.name", "eth0")]
            operation = outcome(make)
            if not isinstance(operation, str):
                outcome(operation.parse)
                outcome(operation.test)
                outcome(lambda: str(operation))
        outcome(lambda: tl.oper_fill_tabular(device, "SHOW", False, ["t"], device_conn_alias=alias).entries)
        outcome(lambda: tl.oper_fill_tabular(device, "SHOW", True, ["t"], device_conn_alias=alias).entries)
        outcome(lambda: tl.oper_fill_tabular(device, device_output="t\\nx\\n", header_fields=["t"]).entries)

for (owner, name), value in names.items():
    setattr(owner, name, value)
assert tl.oper_check(device_output=TEXT, device_os="wend", attrvalpairs=[("t.mtu", "1500")]).parse() is True
"""

# Tags that change the pair list (and the registry's tag list) whenever they
# are compared or hashed, while the pairs are ordered or expanded.
PAIRS_CHANGED_BY_THEIR_TAGS = """
core.extend({"wend": {"t.name": r"(\\S+) is up", "t.mtu": r"\\s+MTU (\\d+)", "t.x": "x (\\S+)"}},
            None, {"wend": ["t.name", "t.mtu", "t.x"]})
TEXT = "eth0 is up\\n  MTU 1500 bytes\\n"
registered = core._glb_regex_tags["wend"]
pairs = []
changes = []


def change():
    if len(changes) > 60:
        return
    changes.append(1)
    [pairs.clear, lambda: pairs.append((Tag("t.x"), None)), lambda: pairs.insert(0, [Tag("t.mtu"), "1"]),
     pairs.reverse, lambda: pairs.__setitem__(slice(None), [("t.name", "eth0")] * 3),
     lambda: registered.append("t.late"), lambda: registered.remove("t.late") if "t.late" in registered else None,
     ][len(changes) % 7]()


class Tag(str):
    def __eq__(self, other):
        change()
        return str.__eq__(self, other)

    def __ne__(self, other):
        change()
        return str.__ne__(self, other)

    def __hash__(self):
        change()
        return str.__hash__(self)


class Pairs(list):
    # its length and iteration change it too
    def __len__(self):
        change()
        return list.__len__(self)

    def __iter__(self):
        change()
        return list.__iter__(self)


for kind in (list, Pairs):
    for pattern in ("", r"t\\.", "nothing"):
        for make in (lambda: tl.oper_fill(attrvalpairs=pairs, regex_tag_fill_pattern=pattern, device_output=TEXT,
                                          device_os="wend"),
                     lambda: tl.oper_check(attrvalpairs=pairs, device_output=TEXT, device_os="wend")):
            changes.clear()
            pairs = kind([(Tag("t.mtu"), "1500"), (Tag("t.name"), "eth0"), [Tag("t.x"), None], (Tag("t.y"), 1)])
            operation = outcome(make)
            if not isinstance(operation, str):
                outcome(operation.parse)
                outcome(lambda: str(operation))
                operation.process_attrvalpairs(pairs, "wend", False)
"""

# Overridden hooks that change the object's lists while parse, the
# diagnosis or the text form work on them.
HOOKS_CHANGE_THE_LISTS = """
core.extend({"wend": {"t.name": r"(\\S+) is up", "t.mtu": r"\\s+MTU (\\d+)"}}, None,
            {"wend": ["t.name", "t.mtu"]})
TEXT = "eth0 is up\\n  MTU 1500 bytes\\n"
PAIRS = [("t.mtu", "9000"), ("t.name", "eth1"), ("t.mtu", "1")]


class Shorter(tl.oper_check):
    def process_attrvalpairs(self, attrvalpairs, os, reorder=True):
        super().process_attrvalpairs(attrvalpairs, os, reorder)
        self._values.append("one more")
        attrvalpairs.clear()


class Forgetful(tl.oper_check):
    def error(self, msg, line=sys.maxsize):
        super().error(msg, line)
        if len(self._errors) == 3:
            self._attributes.clear()
            self._values = []
            del self._values_debug[:]


class Rebinding(tl.oper_check):
    def error(self, msg, line=sys.maxsize):
        self._errors = [[line, msg]] + list(getattr(self, "_errors", []))
        self._attributes = self._attributes[:1]
        self._values_debug = ()


class Scrambling(tl.oper_check):
    def result(self, result):
        self._errors[:] = [[0], [-5, "before the start"], [10 ** 30, "far"], ["x", 1], [True, None]]
        return super().result(result)


class Vanishing(tl.oper_check):
    def parse(self):
        del self._attributes
        return super().parse()


class Shrinking(str):
    # converting a tag to text shortens the values shown beside the tags
    def __str__(self):
        del operation._values_debug[1:]
        return str.__str__(self)


for cls in (tl.oper_check, Shorter, Forgetful, Rebinding, Scrambling, Vanishing, tl.oper_fill):
    pairs = list(PAIRS) if cls is not tl.oper_fill else [("t.name", "eth0"), ("t.mtu", None)]
    operation = outcome(lambda: cls(attrvalpairs=pairs, device_output=TEXT, device_os="wend"))
    if isinstance(operation, str):
        continue
    for call in (operation.parse, operation.test, lambda: str(operation), operation.dump):
        outcome(call)

operation = tl.oper_check(attrvalpairs=[(Shrinking("t.mtu"), "1"), ("t.name", "x")], device_output=TEXT,
                          device_os="wend")
operation.parse()
assert outcome(lambda: str(operation)) == "IndexError"
"""

# Every function of an example module reads its own module's names, also
# after a second import made another module object of the same library.
EXAMPLE_FUNCTIONS_KEEP_THEIR_MODULE = """
import contextlib, importlib, io
PACKAGE = "mirel.textloom.examples.textloom."


def twice(name):
    with contextlib.redirect_stdout(io.StringIO()):
        first = importlib.import_module(PACKAGE + name)
        del sys.modules[PACKAGE + name]
        second = importlib.import_module(PACKAGE + name)
    assert first is not second
    return first, second


first, second = twice("orVexStandaloneUt.specimen")
first.int = lambda text, base: ("first", text, base)
second.int = lambda text, base: ("second", text, base)
assert (first._hexint("ff"), second._hexint("ff")) == (("first", "ff", 16), ("second", "ff", 16))
del first.int, second.int
# the class of the first module is the one its constructor hands to super()
assert first.my_isis_database_column_parser_t is not second.my_isis_database_column_parser_t
with contextlib.redirect_stdout(io.StringIO()):
    assert sorted(first.my_isis_database_column_parser_t(first.dev1, "show isis database").entries) == [1, 2]

for job in ("orVex.errand", "orVex.courier"):
    calls = []
    first, second = twice(job)
    for module, tag in ((first, "first"), (second, "second")):
        module.run = lambda tag=tag, **settings: calls.append((tag, settings["testscript"]))
        module.__file__ = "/%s/job.so" % tag
    first.main()
    second.main()
    first.main()
    assert calls == [("first", "/first/rehearsal.py"), ("second", "/second/rehearsal.py"),
                     ("first", "/first/rehearsal.py")], calls
    # main() reads `os` twice: a stand-in that rebinds itself gives the same script path
    ops_stand_in(first, "os")
    first.main()
    ops_stand_in(first, "os", rebind=False)
    assert outcome(first.main) == "NameError"
    assert calls[3] == calls[0] and len(calls) == 4
"""

# The names an example script reads while it runs at import, each replaced
# by a stand-in that rebinds or deletes itself at its first use.
EXAMPLE_SCRIPTS_WITH_A_NAME_REPLACED = """
import builtins, contextlib, importlib, io, pprint, unittest.mock
import mirel.textloom
PACKAGE = "mirel.textloom.examples.textloom."


def run(name):
    sys.modules.pop(PACKAGE + name, None)
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        module = outcome(lambda: importlib.import_module(PACKAGE + name))
    return printed.getvalue(), module if isinstance(module, str) else None


for name, owner, attribute in [
        ("orVexStandaloneUt.specimen", builtins, "print"),
        ("orVexStandaloneUt.specimen", unittest.mock, "Mock"),
        ("orVexStandaloneUt.specimen", unittest.mock, "patch"),
        ("orVexStandaloneUt.specimen", pprint, "pprint"),
        ("orVexStandaloneUt.phrasebook", builtins, "print"),
        ("orVexStandaloneUt.phrasebook", unittest.mock, "Mock"),
        ("orVexStandaloneUt.phrasebook", mirel.textloom, "oper_fill"),
        ("orVexStandaloneUt.phrasebook", mirel.textloom, "extend"),
        ("demo.sketchpad", mirel.textloom, "extend_markup")]:
    normal = run(name)
    for rebind in (True, False):
        real = getattr(owner, attribute)
        ops_stand_in(owner, attribute, rebind)
        again = run(name)
        setattr(owner, attribute, real)
        assert again == normal or (not rebind and again[1] is not None), (name, attribute, rebind, again, normal)
"""

# The section bodies of the demonstration scripts read the script's names
# (log, banner, parameters, tl, tcl, KeyedList, DictDiffer, pprint) at each
# use: each replaced by a stand-in that rebinds or deletes itself.
SECTIONS_WITH_A_SCRIPT_NAME_REPLACED = """
import importlib.util, logging, os
from ryn import testbed, vettle
PACKAGE = "mirel.textloom.examples.textloom.orVex"
ORVEX = os.path.join("mirel", "textloom", "examples", "textloom", "orVex")


def read(name):
    with open(os.path.join("samples", name), encoding="utf-8", newline="") as f:
        return f.read()


OUTPUTS = {"show clock": "10:15:42 UTC\\n", "show interface mgmt0": read("interface.txt"),
           "show interface ": read("interface.txt"), "show arp": read("arp.txt")}


def load(stem):
    spec = importlib.util.spec_from_file_location(PACKAGE + "." + stem, os.path.join(ORVEX, stem + ".py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def run(script, replaced=None, rebind=True):
    module = load(script)
    real = getattr(module, replaced) if replaced else None
    lines = []

    class Recording(logging.Handler):
        def emit(self, record):
            lines.append((record.levelname, record.getMessage()))
            if replaced:  # every line logged swaps the name for a fresh stand-in
                setattr(module, replaced, real)
                ops_stand_in(module, replaced, rebind)

    recording, logger = Recording(), module.log
    logger.addHandler(recording)
    logger.propagate = False
    if replaced:
        ops_stand_in(module, replaced, rebind)
    bed = testbed.load({"devices": {"R1": {"os": "brume", "outputs": OUTPUTS}}})
    report = outcome(lambda: vettle.run(module, testbed=bed, uut_name="R1", stdby_name="nowhere", if_name="mgmt0",
                                        mtu=1500, show_arp_header_fields=["Address", "Age", "MAC Address", "Interface"],
                                        show_arp_table_title_pattern=None, show_arp_table_parse_index=[0, 3]))
    logger.removeHandler(recording)  # each load binds the same logger
    return [(s.name, s.verdict) for s in report.sections], lines


for script in ("rehearsal", "understudy"):
    normal = run(script)
    assert [verdict for _, verdict in normal[0]] == ["passed"] * 6, normal[0]
    for name in ("log", "banner", "parameters", "tl", "tcl", "KeyedList", "DictDiffer", "pprint"):
        again = run(script, name)
        assert again == normal, (script, name, again, normal)
        run(script, name, rebind=False)
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
] + [
    pytest.param("owner, name, rebind = %s, %r, %r\n" % (owner, name, rebind) + OPERATIONS_WITH_A_NAME_REPLACED,
                 id="%s.%s-%s" % (owner, name, "rebound" if rebind else "deleted"))
    for owner, names in [
        ("tl", ["core", "tcl", "logger", "re", "sys", "_glb_regex_tags", "showCmdCache", "get_os_type", "Device",
                "CmdCache"]),
        ("core", ["text_to_parse", "_get_regex", "_get_show_command", "_textloom_t", "column_table_result_core_t",
                  "extend", "extend_markup"]),
    ]
    for name in names
    for rebind in (True, False)
] + [
    pytest.param(DEVICE_ATTRIBUTES_MEDDLE, id="device-attributes-rebind-names-and-change-the-pairs"),
    pytest.param(PAIRS_CHANGED_BY_THEIR_TAGS, id="tags-change-the-pairs-while-ordered-or-expanded"),
    pytest.param(HOOKS_CHANGE_THE_LISTS, id="hooks-change-errors-attributes-values"),
    pytest.param(EXAMPLE_FUNCTIONS_KEEP_THEIR_MODULE, id="example-functions-of-the-first-module-object"),
    pytest.param(EXAMPLE_SCRIPTS_WITH_A_NAME_REPLACED, id="example-script-names-rebound-at-import"),
    pytest.param(SECTIONS_WITH_A_SCRIPT_NAME_REPLACED, id="section-bodies-with-a-script-name-replaced"),
]


@pytest.mark.parametrize("snippet", CORE_CASES + TABULAR_CASES + OPERATION_CASES)
def test_user_code_mid_call(snippet):
    env = {} if os.environ.get("PYTHONMALLOC") == "malloc" else {"PYTHONMALLOC": "debug"}
    done = conftest.run_python(PRELUDE + textwrap.dedent(snippet), env_extra=env)
    assert done.returncode == 0, done.stderr
    assert "SystemError" not in done.stderr and "Fatal Python error" not in done.stderr, done.stderr
