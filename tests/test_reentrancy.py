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

from helpers import run_python

# Helpers every snippet can use: stand_in for a name that rebinds or deletes
# itself mid-use, at_every_use, override for a hook that changes or drops
# itself, outcome; then the workloads of core and of the tabular parser.
PRELUDE = '''
import collections, re, sys
import mirel.textloom.core as core
import mirel.textloom._textloom as tl


VALUE, DELETE = "the value", "deleted"


def stand_in(owner, name, then=VALUE, answer=VALUE, at=0, copy=False):
    """owner.<name> becomes a stand-in for its value.  At its use number `at`
    (from 0) of any kind (a call, an attribute, an item, `in`, len, iteration,
    truth, str) it binds the name to `then` (the value itself by default), or
    deletes it, in the owner and in every module that imported the stand-in
    under that name, so that it loses its last reference mid-use; every use
    answers as `answer` (by default the value) would.  With `copy`, the stand-in
    is a copy of the dict or list, of a subclass of its type, whose reads (`in`
    and items) count as uses; it answers as itself, and by default the name is
    bound to a plain copy of it.  Returns the list of uses so far."""
    import types
    value = getattr(owner, name)
    uses = []

    def use(stand):
        if len(uses) == at:
            new = then if then is not VALUE else type(value)(stand) if copy else value
            for home in [owner] + [m for m in list(sys.modules.values()) if isinstance(m, types.ModuleType)]:
                if getattr(home, name, None) is stand:
                    if then is DELETE:
                        delattr(home, name)
                    else:
                        setattr(home, name, new)
        uses.append(True)
        return value if answer is VALUE else answer

    if copy:
        base = type(value)

        class StandIn(base):
            def __contains__(self, key):
                use(self)
                return base.__contains__(self, key)

            def __getitem__(self, key):
                use(self)
                return base.__getitem__(self, key)

        setattr(owner, name, StandIn(value))
        return uses

    class StandIn:
        def __getattribute__(self, attr):
            return getattr(use(self), attr)

        def __call__(self, *args, **kwargs):
            return use(self)(*args, **kwargs)

        def __getitem__(self, key):
            return use(self)[key]

        def __setitem__(self, key, value):
            use(self)[key] = value

        def __contains__(self, key):
            return key in use(self)

        def __iter__(self):
            return iter(use(self))

        def __len__(self):
            return len(use(self))

        def __bool__(self):
            return bool(use(self))

        def __str__(self):
            return str(use(self))

    setattr(owner, name, StandIn())
    return uses


def at_every_use(owner, name, run):
    """run() with owner.<name> rebinding itself to its value at each of its
    uses in turn; every result equals the one without the stand-in, which is
    returned."""
    value = getattr(owner, name)
    normal = run()
    k = 0
    while True:
        uses = stand_in(owner, name, at=k)
        assert run() == normal, (name, k)
        if getattr(owner, name) is not value:
            setattr(owner, name, value)
            assert uses, name
            return normal
        k += 1


def override(base, name, before=None, drop=None):
    """A subclass of `base` whose method `name` runs before(self, *args) when
    given, then answers as the base's own.  With drop="removed" it removes
    itself from the class at its first call, with drop="shadowed" it puts a
    pass-through on the object, so that the class or the object held the last
    reference to it."""
    def hook(self, *args):
        if drop == "removed":
            delattr(type(self), name)
        elif drop == "shadowed":
            setattr(self, name, lambda *a: getattr(base, name)(self, *a))
        if before:
            before(self, *args)
        return getattr(base, name)(self, *args)
    return type("hooked_t", (base,), {name: hook})


def outcome(call):
    """The result of call(), or the name of the ordinary exception it raised."""
    try:
        return call()
    except SystemError:
        raise
    except Exception as e:
        return type(e).__name__


def core_markup():
    """A marked-up block with a typed, a labelled and a custom-regex marker."""
    return r"""OS: ketch
CMD: show_if
SHOWCMD: show interface {}
PREFIX: intf
MARKUP:
Interface XIXeth0 is up
  MTU XN<mtu>X1500 bytes, BW XXX<\\d+><bw>XXX100 Kbit
"""


def core_setup():
    """The registrations and the text the core workload uses."""
    core.extend({"ketch": {"IF": r"Interface (\\S+)", "MTU": [r"mtu (\\d+)", r"MTU (\\d+)"], "BW": r"BW (\\d+)"}},
                {"ketch": {"SHOW_IF": "show {=ip} interface {} {vrf=default}"}}, {"ketch": ["IF", "MTU", "BW"]})
    core.text_to_parse["k"] = "Interface eth0\\nmtu 1500\\nInterface eth1\\r\\nmtu 9000\\n"


def core_workload():
    """Every operation of core once: check parses with and without skip, a fatal
    mismatch, a wildcard undone, a tuple of accepted values; a rendered command;
    merges that warn; a compiled and a registered markup.  Returns the results
    (or the names of the exceptions raised) and the messages logged meanwhile;
    from the second run on, the same for the same bindings."""
    import logging
    messages = []

    class Keep(logging.Handler):
        def emit(self, record):
            messages.append(record.getMessage())

    log = logging.getLogger("mirel.textloom.core")
    keep = Keep()
    log.addHandler(keep)
    log.setLevel(logging.DEBUG)
    log.propagate = False
    try:
        results = []
        for values in (["eth0", "9000", "1"], [None, "9000", "1"], ["eth1", ("1500", "9000"), "1"]):
            for skip in (False, True):
                def parse():
                    parser = core._textloom_t("ketch", ["IF", "MTU", "BW"], values, False, "k", skip)
                    return parser._parser_validate(), dict(core.ext_dictio["k"])
                results.append(outcome(parse))
        results.append(outcome(lambda: core._get_show_command("ketch", ("SHOW_IF", [None, "eth0"], {}))))
        results.append(outcome(lambda: core.extend({"ketch": {"IF": "other"}}, {"SHOW_IF": "x"},
                                                   {"ketch": ["IF"], "nope": []})))
        results.append(outcome(lambda: core_compile_markup(core._mk_textloom_t)))
        results.append(outcome(lambda: core.extend_markup(core_markup())))
        return results, messages
    finally:
        log.removeHandler(keep)


def core_compile_markup(cls):
    """The registration text of core_markup() through a new compiler of class `cls`."""
    compiler = cls()
    compiler.process_marked_up_input(iter(core_markup().splitlines()))
    return compiler.generate_output(True)


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
# the table is held through the OS's lookup; the tag's lookup reads the name again, now None
assert attempt(lambda: core._get_show_command(Key("_glb_show_commands"), "CMD")) == "TypeError"
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
stand_in(owner, name, then=VALUE if rebind else DELETE)
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
        stand_in(owner, name)
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
    stand_in(first, "os")
    first.main()
    stand_in(first, "os", then=DELETE)
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
        stand_in(owner, attribute, then=VALUE if rebind else DELETE)
        again = run(name)
        setattr(owner, attribute, real)
        assert again == normal or (not rebind and again[1] is not None), (name, attribute, rebind, again, normal)
"""

# The section bodies of the demonstration scripts read the script's names
# (log, banner, parameters, tl, tcl, KeyedList, DictDiffer, pprint) at each
# use: each replaced by a stand-in that rebinds or deletes itself.
SECTIONS_WITH_A_SCRIPT_NAME_REPLACED = """
import importlib.machinery, logging, os, types
from ryn import testbed, vettle
PACKAGE = "mirel.textloom.examples.textloom.orVex"
ORVEX = os.path.join("mirel", "textloom", "examples", "textloom", "orVex")


def read(name):
    with open(os.path.join("samples", name), encoding="utf-8", newline="") as f:
        return f.read()


OUTPUTS = {"show clock": "10:15:42 UTC\\n", "show interface mgmt0": read("interface.txt"),
           "show interface ": read("interface.txt"), "show arp": read("arp.txt")}


def load(stem):
    # a fresh copy of the script each time, apart from sys.modules
    name, path = PACKAGE + "." + stem, os.path.join(ORVEX, stem + ".py")
    loader = importlib.machinery.SourceFileLoader(name, path)
    module = types.ModuleType(name)
    module.__file__, module.__loader__ = path, loader
    loader.exec_module(module)
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
                stand_in(module, replaced, then=VALUE if rebind else DELETE)

    recording, logger = Recording(), module.log
    logger.addHandler(recording)
    logger.propagate = False
    if replaced:
        stand_in(module, replaced, then=VALUE if rebind else DELETE)
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

COLLECTIONS_LOOKUP_RAISES = """
# collections.Iterable read through a `collections` that unbinds itself and fails
# the lookup: the AttributeError leaves the constructor, as the isinstance test's
# own lookup would raise it
core_setup()
real = core.collections
stand_in(core, "collections", then=None, answer=None)
assert outcome(lambda: core._textloom_t("ketch", ["IF", "MTU"], ["eth0", ("1500", "9000")], False, "k")) \\
    == "AttributeError"
assert core.ext_dictio["k"] == {"IF": "eth0", "MTU": "1500"}   # recorded before the comparison
stand_in(core, "collections", then=None, answer=None)
assert outcome(lambda: core.extend_markup(core_markup())) == "AttributeError"
# read through an object without the attribute at all: the same error
core.collections = None
assert outcome(lambda: core._textloom_t("ketch", ["IF", "MTU"], ["eth0", ("1500", "9000")], False, "k")) \\
    == "AttributeError"
# the standard module lacks the old alias: collections.abc.Iterable stands in
core.collections = real
assert core._textloom_t("ketch", ["IF", "MTU"], ["eth0", ("1500", "9000")], False, "k")._parser_validate()[0] is True
"""

NAMES_REBOUND_ONCE = """
# every module-level name core reads mid-call, bound to an object that rebinds it at
# its first use (dropping the last reference to itself): each operation answers as usual
import collections as real_collections
core_setup()
core_workload()
normal = core_workload()

for name in ("compile", "match", "search", "sub", "warning", "isstr", "_get_regex", "is_int", "DefaultFormatter",
             "_mk_textloom_t", "logger"):
    original = getattr(core, name)
    stand_in(core, name)
    assert core_workload() == normal, name
    assert getattr(core, name) is original, name + " was not read"
# the tables and the OS list: copies of their own types, bound to plain copies at their first read
for name in ("ext_dictio", "text_to_parse", "_glb_regex", "_glb_show_commands", "_glb_regex_tags", "supported_oses"):
    kind = type(getattr(core, name))
    stand_in(core, name, copy=True)
    assert core_workload() == normal, name
    assert type(getattr(core, name)) is kind, name + " was not read"
stand_in(core, "collections", answer=real_collections.abc)
assert core_workload() == normal and core.collections is real_collections
# read by no call: only the module's load uses string, and escape is the compiler's own method
core.escape = core.string = None
assert core_workload() == normal
"""

NAMES_DELETED_ON_FIRST_USE = """
# the same names deleted at their first use: what reads them next raises NameError
# (compile falls back to the built-in, which rejects a single argument)
core_setup()
core_workload()
tables = ["ext_dictio", "text_to_parse", "_glb_regex", "_glb_show_commands", "_glb_regex_tags"]
for name in ["compile", "match", "search", "sub", "warning", "isstr", "_get_regex", "is_int", "DefaultFormatter",
             "_mk_textloom_t"] + tables:
    original = getattr(core, name)
    stand_in(core, name, then=DELETE, copy=name in tables)
    core_workload()
    results, _ = core_workload()
    assert {"NameError", "TypeError"} & set(r for r in results if isinstance(r, str)), name
    assert not hasattr(core, name), name
    setattr(core, name, original)
"""

HASHES_AND_COMPARISONS_MUTATE = """
# keys, tags, values and registry answers whose __hash__, __eq__, __str__ or __len__
# rebind the tables being read or mutate the lists being walked
class Key(str):
    # rebinds core.<table> (to a large table only core holds, so that its memory goes)
    # at the `at`-th hash after arm()
    def arm(self, table, at=1, then=None):
        self.table, self.at, self.then, self.seen = table, at, then, 0
        return self
    def __hash__(self):
        self.seen = getattr(self, "seen", 0) + 1
        if getattr(self, "at", 0) == self.seen:
            setattr(core, self.table, self.then)
        return str.__hash__(self)
    __eq__ = str.__eq__

def large(table):
    setattr(core, table, {str(i): "" for i in range(100)})
    return getattr(core, table)

core_setup()
IF, MTU = r"Interface (\\S+)", r"mtu (\\d+)"
text = "Interface eth0\\nmtu 1500\\n"

# a tag hashed while _get_regex reads its OS entry, then the generic table
tag = Key("IF")
large("_glb_regex").update({"ketch": {tag: IF, "MTU": MTU}})
tag.arm("_glb_regex")
assert outcome(lambda: core._textloom_t("ketch", [tag, "MTU"], ["eth0", "1500"], False, "k")) == "TypeError"
# a tag hashed while its value is recorded in ext_dictio (after two hashes by _get_regex)
tag = Key("IF")
large("_glb_regex").update({"ketch": {"IF": IF, "MTU": MTU}})
large("ext_dictio")
tag.arm("ext_dictio", at=3, then={})
assert outcome(lambda: core._textloom_t("ketch", [tag, "MTU"], ["eth0", "1500"], False, "k")) == "KeyError"
# a parse key hashed while text_to_parse is read
key = Key("k2")
large("text_to_parse")[key] = text
key.arm("text_to_parse", at=2)
large("ext_dictio")
assert outcome(lambda: core._textloom_t("ketch", ["IF", "MTU"], ["eth0", "1500"], False, key)._parser_validate()) \\
    == (True, {"IF": True, "MTU": True}, "")
# an OS name and a tag hashed while extend merges
core._glb_regex, core._glb_regex_tags = {}, {}
os_name = Key("pellam")
argument = {os_name: ["A"]}
large("_glb_regex_tags")
os_name.arm("_glb_regex_tags")
assert outcome(lambda: core.extend(None, None, argument)) == "TypeError"
tag = Key("T")
argument = {tag: "x", "U": "y"}
table = large("_glb_regex")
tag.arm("_glb_regex")
assert outcome(lambda: core.extend(argument)) is None and table[tag] == "x" and "U" in table
# an argument mutated while extend iterates it
class Growing(str):
    __hash__ = str.__hash__
    def __eq__(self, other):
        argument["more"] = 1
        return str.__eq__(self, other)
argument = {Growing("ketch"): {}}
core._glb_regex = {}
assert outcome(lambda: core.extend(argument)) == "RuntimeError"
# a tag list mutated while its tags are merged, and the registry's list while a tag is compared
core._glb_regex_tags = {"ketch": ["A"]}
class Shrinking(str):
    __hash__ = str.__hash__
    def __eq__(self, other):
        tags.clear()
        core._glb_regex_tags["ketch"].clear()
        return str.__eq__(self, other)
tags = [Shrinking("B"), "C", "D"]
assert outcome(lambda: core.extend(None, None, {"ketch": tags})) is None

# a tag list that grows while the skip step walks it: the step meets the added tag too
holder = []
class Appending(str):
    __eq__ = str.__eq__
    def __hash__(self):
        if holder:
            holder.pop()._attributes.append("NONE")
        return str.__hash__(self)
class held_t(core._textloom_t):
    def __init__(self, *args):
        holder.append(self)
        super().__init__(*args)
core._glb_regex = {"ketch": {"IF": IF, "MTU": MTU, "NONE": r"absent (\\d+)"}}
core.text_to_parse = {"k": text}
parser = held_t("ketch", [Appending("IF"), "MTU"], ["eth0", "1500", "x"], False, "k", True)
assert parser._attributes == ["IF", "MTU"] and parser._parser_validate()[0] is True

# accepted values whose text form empties the list being compared, and the value list
class Emptying:
    def __init__(self, lists):
        self.lists = lists
    def __str__(self):
        for l in self.lists:
            l.clear()
        return "x"
accepted = ["9000"]
accepted.append(Emptying([accepted]))
accepted.append("1500")
assert outcome(lambda: core._textloom_t("ketch", ["IF", "MTU"], ["eth0", accepted], False, "k")._parser_validate()) \\
    == (False, {"IF": True, "MTU": {"value": "1500", "line": 1}}, "")
values = ["eth0", None]
values[1] = [Emptying([values]), "1500"]
assert outcome(lambda: core._textloom_t("ketch", ["IF", "MTU"], values, False, "k")._parser_validate()) \\
    == (True, {"IF": True, "MTU": True}, "") and values == []
class ShortList(list):
    def __len__(self):
        self.clear()
        return 1
assert outcome(lambda: core._textloom_t("ketch", ["IF", "MTU"], ["eth0", ShortList(["1500"])], False, "k")) \\
    == "IndexError"

# registry answers whose comparison or length empties the registry mid-line
class Answer(list):
    def __eq__(self, other):
        core._glb_regex["ketch"].clear()
        return list.__eq__(self, other)
    __hash__ = None
core._glb_regex = {"ketch": {"A": Answer([r"a=(\\d+)"]), "B": Answer([r".*b=(\\d+)"]), "C": r"c=(\\d+)"}}
core.text_to_parse = {"k": "a=1 b=2\\nc=3\\n"}
# C is reached in the line's run, with nothing registered for it any more
assert outcome(lambda: core._textloom_t("ketch", ["A", "B", "C"], ["1", "2", "3"], False, "k")) == "TypeError"
class Alternative(str):
    def __len__(self):
        alternatives.clear()
        return str.__len__(self)
alternatives = [Alternative(r"a=(\\d+)"), r"x=(\\d+)"]
core._glb_regex = {"ketch": {"A": alternatives}}
# the skip step keeps A (its first alternative matches); the walk then finds no alternative
assert outcome(lambda: core._textloom_t("ketch", ["A"], ["1"], False, "k", True)._parser_validate())[:2] \\
    == (False, {})
"""

COMPILE_REBOUND_BY_A_REENTRANT_CALL = """
# a compile that binds re's back (dropping the last reference to itself) and, before
# it answers, has the parse being run compile through re's: its own answer stays its
# call's, and the later parses get re's patterns
core_setup()
held = []
class held_t(core._textloom_t):
    def __init__(self, *args):
        held.append(self)
        super().__init__(*args)

def reentering(text):
    core._textloom_t._parser_future_matching(held[0], r"mtu (\\d+)", [re.compile("x")], "Interface eth0")
    return re.compile("NEVER")

def parse(cls=core._textloom_t):
    return cls("ketch", ["IF", "MTU"], ["eth0", "1500"], False, "k")._parser_validate()

normal = parse()
stand_in(core, "compile", answer=reentering)
# its answer serves the first line only: the next lines are matched through re's
ok, results, _ = parse(held_t)
assert results == {"IF": {"value": "eth1", "line": 2}}
assert parse() == normal
"""

NONTABULAR_HOOKS_MUTATE_AND_REBIND = """
# the parser's hooks overridden to mutate the lists they are handed, the object's
# lists and the registry, or to unbind themselves mid-parse
core_setup()
HOOKS = ["_parser_check_scope", "_parser_current_matching", "_parser_future_matching",
         "_parser_delete_non_matching", "_textloom_t__get_regex_def"]
CASES = [(values, skip) for values in (["eth0", "9000", "1"], [None, "9000", "1"], ["eth1", ("1500", "9000"), "1"])
         for skip in (False, True)]

def parses(cls):
    def one(values, skip):
        parser = cls("ketch", ["IF", "MTU", "BW"], list(values), False, "k", skip)
        return parser._parser_validate(), dict(core.ext_dictio["k"])
    return [outcome(lambda: one(values, skip)) for values, skip in CASES]

normal = parses(core._textloom_t)

# a pass-through override that removes itself from its class at its first call:
# the later calls reach the base's own
for name in HOOKS:
    assert parses(override(core._textloom_t, name, drop="removed")) == normal, name

# the same as an instance attribute that deletes itself, answering as the base's
for name in HOOKS:
    def init(self, *args, name=name):
        stand_in(self, name, then=DELETE)
        core._textloom_t.__init__(self, *args)
    assert parses(type("own_t", (core._textloom_t,), {"__init__": init})) == normal, name

# overrides that mutate what they are handed, then answer as the base
def clear(*lists):
    for l in lists:
        if isinstance(l, list):
            l.clear()

MUTATIONS = {
    "_parser_check_scope": [lambda self, done, line: clear(done),
                            lambda self, done, line: done.append("junk"),
                            lambda self, done, line: done.append(re.compile(".*")),
                            lambda self, done, line: clear(self._attributes, self._values)],
    "_parser_current_matching": [lambda self, value, found: clear(value, self._values, self._attributes),
                                 lambda self, value, found: core.ext_dictio.clear(),
                                 lambda self, value, found: core._glb_regex.clear()],
    "_parser_future_matching": [lambda self, regex, done, line: clear(done),
                                lambda self, regex, done, line: done.append(re.compile("Interface")),
                                lambda self, regex, done, line: setattr(self, "_text_to_parse", None)],
    "_parser_delete_non_matching": [lambda self, lines, tags: clear(lines),
                                    lambda self, lines, tags: lines.__delitem__(slice(1, None)),
                                    lambda self, lines, tags: lines.extend(["BW 1"] * 3),
                                    lambda self, lines, tags: clear(tags),
                                    lambda self, lines, tags: tags.append("NONE"),
                                    lambda self, lines, tags: setattr(self, "_values", None)],
    "_textloom_t__get_regex_def": [lambda self, tag, line: core._glb_regex["ketch"].clear(),
                                   lambda self, tag, line: setattr(self, "_routerOs", None),
                                   lambda self, tag, line: core.text_to_parse.clear()],
}
saved = {name: dict(getattr(core, name)) for name in ("_glb_regex", "text_to_parse", "ext_dictio")}
ketch = dict(core._glb_regex["ketch"])
for name, mutations in MUTATIONS.items():
    for mutate in mutations:
        parses(override(core._textloom_t, name, before=mutate))
        for table, contents in saved.items():
            getattr(core, table).update(contents)
        core._glb_regex["ketch"].update(ketch)
"""

STOP_RULE_LIST_DROPPED_WHILE_TESTED = """
# the consumed patterns' list emptied, and the last references to its patterns
# dropped, by user code run while the list's alternation is built (a collection in
# re's compiler) and while a hit of the pattern-by-pattern test is logged
import gc, logging
core.extend({"ONE": r"(\\S+)"})
core.text_to_parse["s"] = "x"
rule = core._textloom_t("ketch", ["ONE"], [None], False, "s")._parser_check_scope

def only_in(done, n, size=3):
    done[:] = [re.compile(r"\\s+a%d_%d (\\S+)" % (n, i)) for i in range(size)]
    re.purge()  # the list holds the only references
    return done

def drop(done):
    done.clear()
    re.purge()

# a set of its own, and one whose first block of patterns gets the alternation
for n, size in ((0, 3), (2, 40)):
    done = only_in([], n, size)
    for _ in range(255):
        assert rule(done, " zz") is True
    def collect(phase, info):
        if phase == "start" and done:
            drop(done)
    gc.callbacks.append(collect)
    threshold = gc.get_threshold()
    gc.set_threshold(1)
    try:
        assert rule(done, " zz") is True
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(collect)
    assert done == [] and rule(done, " a%d_1 x" % n) is True

class Drop(logging.Handler):
    def emit(self, record):
        drop(done)
done = only_in(done, 1)
for _ in range(300):
    rule(done, " zz")
log = logging.getLogger("mirel.textloom.core")
log.addHandler(Drop())
log.setLevel(logging.DEBUG)
assert rule(done, " a1_2 x") is False
assert done == [] and rule(done, " a1_2 x") is True
"""

MARKUP_HOOKS_MUTATE_AND_REBIND = """
# the compiler's methods overridden to mutate its tables and what they return, or
# to unbind themselves mid-block; the registration text run by extend_markup
# unbinding the exec that runs it
HOOKS = ["escape", "convert", "_desc_max", "convert_output"]

normal = core_compile_markup(core._mk_textloom_t)
for name in HOOKS:
    assert core_compile_markup(override(core._mk_textloom_t, name, drop="removed")) == normal, name

class Sly(str):
    # a text whose own methods answer with objects of another kind
    def strip(self, *args):
        return None
    lower = rstrip = replace = strip

MUTATIONS = {
    "escape": [lambda self, line: self.regex.clear(), lambda self, line: setattr(self, "_autoKeyJoinChar", None)],
    "convert": [lambda self, os, line, n: self._regexdict.clear(), lambda self, os, line, n: self._commands.clear(),
                lambda self, os, line, n: self.prefixDescSet.add(1),
                lambda self, os, line, n: setattr(self, "_postItemDescRegex", re.compile("(.*)"))],
    "_desc_max": [lambda self, os, output: self._commands.pop(os, None), lambda self, os, output: self.regex.clear()],
    "convert_output": [lambda self, *args: setattr(self, "_alloptregex", None),
                       lambda self, *args: setattr(self, "_regexkeydict", {})],
}
for name, mutations in MUTATIONS.items():
    for mutate in mutations:
        outcome(lambda: core_compile_markup(override(core._mk_textloom_t, name, before=mutate)))
for name, answer in (("escape", Sly("x")), ("escape", None), ("convert", (Sly("k"), Sly("r"))),
                     ("_desc_max", "3"), ("convert", None)):
    cls = type("answering_t", (core._mk_textloom_t,), {name: lambda self, *args: answer})
    outcome(lambda: core_compile_markup(cls))

class Unbinding(core._mk_textloom_t):
    def generate_output(self, *args, **kwargs):
        return "import builtins\\ndel builtins.exec\\n" + super().generate_output(*args, **kwargs)

core._mk_textloom_t = Unbinding
assert outcome(lambda: core.extend_markup(core_markup())) is None
assert "intf.mtu" in core._glb_regex_tags["ketch"]
"""

COLLIDING_KEY = """
class Colliding(str):
    # a key with the hash of `name` that equals nothing; at its first comparison it
    # takes itself out of `table` and runs act()
    def __new__(cls, name, table, act):
        key = str.__new__(cls, "colliding with " + name)
        key.name, key.table, key.act = name, table, act
        value = table.pop(name, None)
        table[key] = None
        if value is not None:
            table[name] = value
        return key
    def __hash__(self):
        return hash(self.name)
    def __eq__(self, other):
        act, self.act = self.act, None
        if act:
            self.table.pop(self, None)
            act()
        return False
    __ne__ = str.__ne__

def large(table):
    # a table only the caller holds, so that its memory goes when it is let go
    return dict({str(i): "" for i in range(100)}, **table)
"""

KEPT_ANSWERS_FREED_BY_THEIR_LOOKUPS = COLLIDING_KEY + """
# a key of the regex tables compared while a parse looks a tag up rebinds the
# tables (their last references going) to ones with a new regex; the parse ends
# normally and the parses after it see the new regex
core_setup()
NEW = r"mtu (\\d)\\d+"
def parse():
    return outcome(lambda: (core._textloom_t("ketch", ["IF", "MTU"], ["eth0", None], True, "k")._parser_validate(),
                            dict(core.ext_dictio["k"])))
for where in ("per-OS", "generic"):
    core._glb_regex = large({"IF": r"Interface (\\S+)", "MTU": r"mtu (\\d+)"})
    if where == "per-OS":
        core._glb_regex["ketch"] = large({"MTU": [r"mtu (\\d+)"]})
    normal = parse()
    table = core._glb_regex["ketch"] if where == "per-OS" else core._glb_regex
    def rebind():
        core._glb_regex = large({"IF": r"Interface (\\S+)", "MTU": NEW})
    Colliding("MTU", table, rebind)
    del table
    parse()
    assert parse()[1] == {"IF": "eth0", "MTU": "1"}, where
"""

REGEX_CHECK_TABLES_FREED_BY_THE_LOOKUPS = COLLIDING_KEY + """
# the lookups of oper_check's regex check run code that frees the tables they
# read and the tag list they walk; the next parse reports the missing regex
core.extend(None, None, {"wend": ["t.name", "t.mtu"]})
TEXT = "eth0 is up\\n  MTU 1500 bytes\\n"
def fresh():
    core._glb_regex = large({"wend": large({"t.name": r"(\\S+) is up", "t.mtu": r"\\s+MTU (\\d+)"})})
def dropping():
    # the tables go, the tag list is emptied and given new tags
    core._glb_regex = large({"wend": large({"t.mtu": r"\\s+MTU (\\d+)"})})
    check._attributes[:] = [str(tag) for tag in check._attributes]
class Table(dict):
    def __contains__(self, key):
        if key == "t.mtu":
            dropping()
        return dict.__contains__(self, key)
class Hashing(str):
    def __hash__(self):
        dropping()
        return str.__hash__(self)
for kind in ("table", "tag", "key"):
    fresh()
    check = tl.oper_check(device_output=TEXT, attrvalpairs=[("t.name", "eth0"), ("t.mtu", "1500")], device_os="wend")
    assert check.parse() is True and check.parse() is True
    if kind == "table":
        core._glb_regex["wend"] = Table(core._glb_regex["wend"])
    elif kind == "tag":
        check._attributes[1] = Hashing("t.mtu")
    else:
        Colliding("t.mtu", core._glb_regex["wend"], dropping)
    outcome(check.parse)
    assert check.parse() is False, kind
"""

# The registry, the show-command formatter, the non-tabular parser and the
# markup compiler.
CORE_CASES = [
    pytest.param(REBINDING_KEY, id="key-hash-rebinds-the-table-read"),
    pytest.param(COLLECTIONS_LOOKUP_RAISES, id="collections-lookup-unbinds-and-raises"),
    pytest.param(NAMES_REBOUND_ONCE, id="core-names-rebound-at-first-use"),
    pytest.param(NAMES_DELETED_ON_FIRST_USE, id="core-names-deleted-at-first-use"),
    pytest.param(HASHES_AND_COMPARISONS_MUTATE, id="core-keys-and-values-mutate-what-is-read"),
    pytest.param(COMPILE_REBOUND_BY_A_REENTRANT_CALL, id="compile-rebound-by-a-reentrant-call"),
    pytest.param(NONTABULAR_HOOKS_MUTATE_AND_REBIND, id="nontabular-hooks-mutate-and-unbind-themselves"),
    pytest.param(STOP_RULE_LIST_DROPPED_WHILE_TESTED, id="stop-rule-list-dropped-while-tested"),
    pytest.param(MARKUP_HOOKS_MUTATE_AND_REBIND, id="markup-hooks-mutate-and-unbind-themselves"),
    pytest.param(KEPT_ANSWERS_FREED_BY_THEIR_LOOKUPS, id="kept-regex-answers-tables-freed-by-their-lookups"),
]

# The tabular parser: driver, alignment, row filing.

TABULAR_RE_FUNCTIONS_REBOUND = """
def entries(parse):
    return lambda: (parse().entries, parse()._text_to_parse)

for name in ("search", "compile"):
    at_every_use(core, name, entries(tabular_every_setting))
for name in ("search", "compile", "sub", "escape"):
    for right in (False, True):
        at_every_use(core, name, entries(lambda: tabular_bars(right)))
at_every_use(core, "search",
             lambda: core.column_table_result_core_t._find_entry_in_list(tabular_bars(), "eth", [("x",), ("eth1",)]))

# deleted at its first use: the next use finds no such name, or the built-in compile
for name, error in (("search", "NameError"), ("compile", "TypeError"), ("sub", "NameError"), ("escape", "NameError")):
    stand_in(core, name, then=DELETE)
    assert outcome(lambda: tabular_bars(True)) == error, name
    setattr(core, name, getattr(re, name))
"""

TABULAR_COMPILE_GIVES_ANOTHER_EXPRESSION = """
import signal
signal.alarm(60)  # a parse that never ends fails the case
# compile rebinds itself to re's own while it compiles the heading: the
# expression it gives is not the heading's, and matches nothing but empty text
stand_in(core, "compile", answer=lambda pattern: re.compile(r"([ \\t]*)(x*)([ \\t]*)(x*)([ \\t]*)(x*)"))
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
        outcome(lambda: parse(cls=override(base, name, before=change)))

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

for name in ("add_entry", "cleanup_entry_field", "_map_entry_field", "align_table", "compile_header_pattern",
             "_add_entries_to_results"):
    for how in ("removed", "shadowed"):
        for parse, entries in normal.items():
            assert parse(cls=override(base, name, drop=how)).entries == entries, (name, how)

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
at_every_use(core, "isstr", parse)
at_every_use(core, "warning", parse)

# inspect: rebound at its first use (the lookup of ismethod), or by the call of
# the ismethod looked up through it
class Call:
    def ismethod(self, obj):
        core.inspect = inspect
        return inspect.ismethod(obj)
normal = parse()
for replace in (lambda: stand_in(core, "inspect"), lambda: setattr(core, "inspect", Call())):
    replace()
    assert parse() == normal
    assert core.inspect is inspect

# text_to_parse: a table that rebinds the name as it is read
tables = core.text_to_parse
for cls in (Mapped, type("info_t", (Mapped,), {"get_init_info": lambda self, output, *s: (
        ["Address", "Age"], None, None, r"(\\S+) table", False, None, None)})):
    tables["tabular"] = text
    stand_in(core, "text_to_parse", then=tables, copy=True)
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

TABULAR_HEADINGS_CHANGED_MID_ALIGN = """
sys.path.insert(0, "tests")
import align_reference
# the header test's compile or search changes header_fields at every call: its
# texts and lines replaced by new ones (the old ones freed) or cleared
text = "| Port | Status |\\n| eth0 | up |\\nnote   wide\\n| Port | State |\\n|  | down |\\n"
parser = core.column_table_result_core_t.__new__(core.column_table_result_core_t)
fresh = lambda *texts: ["".join(t) for t in texts]  # str objects of their own, freed with the list

def changes(header_fields, multi_line):
    line = (lambda: header_fields[0]) if multi_line else (lambda: header_fields)
    return [lambda: line().__setitem__(slice(None), fresh("Po", "rt", "Sta", "te")),
            lambda: line().clear(),
            lambda: header_fields.__setitem__(slice(None), [fresh("Po", "rt", "St", "ate")] if multi_line
                                              else fresh("Po", "rt", "Sta", "tus"))]

for multi_line in (False, True):
    parser.multi_line = multi_line
    for name in ("compile", "search"):
        for k in range(3):
            for right in (False, True):
                results = []
                for target in ("module", "reference"):
                    header_fields = [fresh("Port", "Status")] if multi_line else fresh("Port", "Status")
                    change, real = changes(header_fields, multi_line)[k], getattr(re, name)

                    def bound(*args):
                        change()
                        return real(*args)
                    if target == "module":
                        setattr(core, name, bound)
                        results.append(parser.align_table(text, header_fields, None, "", right))
                        setattr(core, name, real)
                    else:
                        functions = type("F", (), {n: staticmethod(getattr(re, n)) for n in ("compile", "search", "sub", "escape")})
                        setattr(functions, name, staticmethod(bound))
                        results.append(align_reference.align_table(multi_line, text, header_fields, "", right, functions))
                assert results[0] == results[1], (multi_line, name, k, right)
"""

TABULAR_LINES_OF_A_REBOUND_COMPILE = """
base = core.column_table_result_core_t
text = "R1 table\\nAddress   Age\\n1.1.1.1   3\\nlab/r1/ctx/sys#\\n2.2.2.2   4\\nR2 table\\nAddress   Age\\n3.3.3.3   5"

def parses():
    return [outcome(lambda: tabular_parse(text, ["Address", "Age"], *settings).entries)
            for settings in ((), (None, 0, None, r"(\\S+) table"))]

class Match:
    # a match whose group, start and end give what `answers` says, and which
    # rebinds compile back to re's own and drops the expression that made it
    def __init__(self, m, answers):
        self.m, self.answers = m, answers
    def group(self, n):
        core.compile = re.compile
        return self.answers.get("group", self.m.group(n))
    def start(self, n):
        return self.answers.get("start", self.m.start(n))
    def end(self, n):
        return self.answers.get("end", self.m.end(n))

class Expression:
    def __init__(self, pattern, answers):
        self.expr, self.answers = re.compile(pattern), answers
    def finditer(self, *args):
        for m in self.expr.finditer(*args):
            yield Match(m, self.answers)
    def match(self, line):
        core.compile = re.compile
        return self.answers.get("match", self.expr.match(line))
    def __getattr__(self, name):
        return getattr(self.expr, name)

class Line(str):
    def rstrip(self):
        core.compile = re.compile
        return Line(str.rstrip(self) + " x")

normal = parses()
for answers in ({}, {"group": None}, {"group": b"1.1.1.1   3\\n"}, {"group": Line("1.1.1.1   3\\n")},
                {"group": "Total\\n", "end": "7"}, {"group": "R9 table\\n", "start": -1}, {"group": 12},
                {"match": True}, {"match": object()}, {"match": None}):
    for fixed in (".*\\n", "(?P<Title>[^/\\s]+/[^/\\s]+/[^/\\s]+/\\S+)\\s*#$"):
        def compile(pattern, *flags, fixed=fixed, answers=answers):
            return Expression(pattern, answers) if pattern == fixed else re.compile(pattern, *flags)
        core.compile = compile
        results = parses()
        core.compile = re.compile
        if not answers:
            assert results == normal, results
        for terminal in ("Total", "R9"):
            core.compile = compile
            outcome(lambda: tabular_parse(text, ["Address", "Age"], terminal, 0, None, r"(\\S+) table").entries)
            core.compile = re.compile
assert parses() == normal

# the column bounds an override was handed, changed before the base's add_entry is back
changes = [lambda d: d.clear(), lambda d: d.__setitem__(0, 7), lambda d: d.__setitem__(1, ("a", None)),
           lambda d: d.extend(d), lambda d: d.insert(0, d), lambda d: d.__setitem__(slice(None), [(0, None)] * 2)]
for change in changes:
    for aside in ("removed", "shadowed"):
        cls = type("stepping_t", (base,), {})
        def stepping(self, line, names, delims, cls=cls, change=change, aside=aside):
            change(delims)
            if aside == "removed":
                del cls.add_entry
            else:
                self.add_entry = base.add_entry.__get__(self)
            return outcome(lambda: base.add_entry(self, line, names, delims))
        cls.add_entry = stepping
        outcome(lambda: tabular_every_setting(cls=cls).entries)
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
    pytest.param(TABULAR_HEADINGS_CHANGED_MID_ALIGN, id="tabular-header-test-changes-its-headings"),
    pytest.param(TABULAR_LINES_OF_A_REBOUND_COMPILE, id="tabular-lines-and-prompt-of-a-rebound-compile"),
]

# The device operations and the example modules.
OPERATION_CASES = [
    pytest.param(EXAMPLE_IMPORTED_TWICE, id="example-module-imported-twice"),
    pytest.param(REGEX_CHECK_TABLES_FREED_BY_THE_LOOKUPS, id="regex-check-tables-freed-by-its-lookups"),
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
    done = run_python(PRELUDE + textwrap.dedent(snippet), env_extra=env)
    assert done.returncode == 0, done.stderr
    assert "SystemError" not in done.stderr and "Fatal Python error" not in done.stderr, done.stderr
