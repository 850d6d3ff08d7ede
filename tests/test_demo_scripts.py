"""The demonstration test scripts rehearsal and understudy: their frame, the
sections' log lines on their success and failure paths, DictDiffer, and a
whole run of understudy through its aliased connection."""
import ast
import importlib.util
import json
import logging
import os
import pprint
import re
from types import SimpleNamespace

import pytest

from helpers import ROOT, SAMPLES, run_python
from ryn import testbed, vettle
from ryn.log.utils import banner

PACKAGE = "mirel.textloom.examples.textloom.orVex"
ORVEX = os.path.join(ROOT, *PACKAGE.split("."))
SCRIPTS = ["rehearsal", "understudy"]


def read(name):
    with open(os.path.join(SAMPLES, name), encoding="utf-8", newline="") as f:
        return f.read()


INTERFACE = read("interface.txt")
CLOCK = "10:15:42.123 UTC Tue Mar 05 2024\n"
OUTPUTS = {"show clock": CLOCK, "show interface mgmt0": INTERFACE, "show interface ": INTERFACE,
           "show arp": read("arp.txt")}
CHECKED = {"show.intf.if_name": "mgmt0", "show.intf.line_protocol": "up", "show.intf.admin_state": "up",
           "show.intf.mtu": "1500"}
BRUME_ARP = (["Address", "Age", "MAC Address", "Interface"], None, [0, 3])
PELLAM_ARP = (["Address", "Age", "Hardware Addr", "State", "Type", "Interface"], r"^(\d+/\d+/CPU\d+)", [0, 5])


def load(stem):
    module_spec = importlib.util.spec_from_file_location(PACKAGE + "." + stem, os.path.join(ORVEX, stem + ".py"))
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


class Script:
    """One freshly loaded script, the connection alias it works through, and
    what it logged."""

    def __init__(self, stem, caplog):
        self.module = load(stem)
        self.alias = "myuut" if stem == "understudy" else None
        self.caplog = caplog

    def open(self, dev, handle=None):
        """Opens the connection the script works through, as its connect does."""
        conn = dev.connect(alias=self.alias) if self.alias else dev.connect()
        if handle is not None:
            conn.handle = handle
        return conn

    def lines(self):
        records = [r for r in self.caplog.records if r.name == self.module.log.name]
        # one finished message per logging call
        assert all(not r.args for r in records)
        return [(r.levelname, r.msg) for r in records]

    def setup_section(self):
        section = self.module.common_setup()
        section.parameters = {}
        section.failures = []
        section.failed = lambda: section.failures.append("failed")
        return section


@pytest.fixture(params=SCRIPTS)
def script(request, caplog, demo_registrations):
    caplog.set_level(logging.DEBUG)
    return Script(request.param, caplog)


def device(outputs=None, os="brume", handle=False):
    return testbed.Device("R1", dict(OUTPUTS if outputs is None else outputs), os=os, handle=handle)


def history(dev, alias):
    return dev.connectionmgr.connections[alias or "default"].history


def value_after(prefix, message):
    assert message.startswith(prefix)
    return ast.literal_eval(message[len(prefix):])


# --- frame ---------------------------------------------------------------------

FRAME_PROBE = r'''
import builtins, importlib.util, inspect, json, logging, sys
path, name, setup = sys.argv[1:4]
exec(setup)
imports = []
real_import = builtins.__import__
def recording(module, globals=None, locals=None, fromlist=(), level=0):
    if globals is not None and globals.get("__name__") == name:
        imports.append([module, list(fromlist or ())])
    return real_import(module, globals, locals, fromlist, level)
builtins.__import__ = recording
module_spec = importlib.util.spec_from_file_location(name, path)
module = importlib.util.module_from_spec(module_spec)
try:
    module_spec.loader.exec_module(module)
except BaseException as exc:
    print(json.dumps({"raised": type(exc).__name__, "imports": imports}))
    raise SystemExit
builtins.__import__ = real_import
from ryn import vettle
def sections(cls):
    return [[n, kind, str(inspect.signature(vars(cls)[n].func)), vars(cls)[n].func.__doc__]
            for n, kind in vettle.sections(cls)]
classes = {}
for cls_name in ("common_setup", "tc_one", "common_cleanup"):
    cls = getattr(module, cls_name)
    classes[cls_name] = {"bases": [b.__module__ + "." + b.__qualname__ for b in cls.__bases__],
                         "doc": cls.__doc__, "members": sorted(set(vars(cls)) - {"__module__", "__doc__",
                                                                                  "__qualname__", "__dict__",
                                                                                  "__weakref__"}),
                         "sections": sections(cls)}
print(json.dumps({
    "imports": imports,
    "names": [n for n in vars(module) if not n.startswith("__")],
    "tcl": type(getattr(module, "tcl", None)).__name__, "KeyedList": hasattr(module, "KeyedList"),
    "parameters": module.parameters, "log": [module.log.name, module.log.level],
    "differ": [module.DictDiffer.__bases__ == (object,), module.DictDiffer.__doc__,
               [n for n in vars(module.DictDiffer) if not n.startswith("__") or n == "__init__"]],
    "classes": classes,
}))
'''

FRAME_NAMES = ["tcl", "KeyedList", "vettle", "banner", "pprint", "re", "logging", "tl", "rehearsal_mktl", "log",
               "parameters", "DictDiffer", "common_setup", "tc_one", "common_cleanup"]
DIFFER_DOC = ("\n  Calculate the difference between two dictionaries as:\n  (1) items added\n  (2) items removed\n"
              "  (3) keys same in both but changed values\n  (4) keys same in both and unchanged values\n  ")


def probe_frame(stem, setup="pass"):
    result = run_python(FRAME_PROBE, os.path.join(ORVEX, stem + ".py"), PACKAGE + "." + stem, setup)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


@pytest.mark.parametrize("stem", SCRIPTS)
def test_frame_binds_its_names_in_order(stem):
    frame = probe_frame(stem)
    assert frame["imports"] == [
        ["ryn", ["tcl"]], ["ryn.tcl", ["KeyedList"]], ["ryn", ["vettle"]], ["ryn.log.utils", ["banner"]],
        ["pprint", []], ["re", []], ["logging", []], ["mirel", ["textloom"]], [PACKAGE, ["rehearsal_mktl"]],
        [PACKAGE, ["_orvex_sections"]]]
    # the module holding the section bodies is the frame's one further name
    assert [n for n in frame["names"] if n != "_orvex_sections"] == FRAME_NAMES
    assert frame["tcl"] == "module" and frame["KeyedList"]
    assert frame["parameters"] == {} and frame["log"] == [PACKAGE + "." + stem, logging.DEBUG]
    assert frame["differ"] == [True, DIFFER_DOC, ["__init__", "added", "removed", "changed", "unchanged"]]
    assert frame["classes"] == {
        "common_setup": {
            "bases": ["ryn.vettle.CommonSetup"], "doc": " Common Setup for Sample Test ",
            "members": ["connect", "show_exec"],
            "sections": [
                ["connect", "subsection", "(self, testbed, uut_name, stdby_name)",
                 " common setup subsection: connecting devices "],
                ["show_exec", "subsection", "(self, uut)", " common setup subsection: exec show command "]]},
        "tc_one": {
            "bases": ["ryn.vettle.Testcase"], "doc": "This test case parses the same output with TCL/vorq and textloom",
            "members": ["do_some_cleaning", "pythonTabularParsing", "tc_one_setup",
                        "tclPythonNonTabularParsingComparison"],
            "sections": [
                ["tc_one_setup", "setup", "(self)", " test setup "],
                ["tclPythonNonTabularParsingComparison", "test", "(self, uut, if_name, mtu)",
                 " Comparison between TCL and Native Python Parsing "],
                ["pythonTabularParsing", "test",
                 "(self, uut, show_arp_header_fields, show_arp_table_title_pattern, show_arp_table_parse_index)",
                 " Native Python Parsing of tabular CLI output"],
                ["do_some_cleaning", "cleanup", "(self)", " testcase clean up "]]},
        "common_cleanup": {"bases": ["ryn.vettle.CommonCleanup"], "doc": " Common Cleanup for Sample Test ",
                           "members": [], "sections": []},
    }


BLOCK_TCL = "import sys; sys.modules['ryn.tcl'] = None"
TCL_WITHOUT_KEYEDLIST = "import sys, types; sys.modules['ryn.tcl'] = types.ModuleType('ryn.tcl')"
TCL_INTERRUPTS = r'''
import sys
class Interrupting:
    def find_spec(self, name, path=None, target=None):
        if name == "ryn.tcl":
            raise KeyboardInterrupt
sys.meta_path.insert(0, Interrupting())
'''


@pytest.mark.parametrize("stem", SCRIPTS)
@pytest.mark.parametrize("setup, bound", [(BLOCK_TCL, []), (TCL_WITHOUT_KEYEDLIST, ["tcl"])])
def test_failed_tcl_imports_are_tolerated(stem, setup, bound):
    frame = probe_frame(stem, setup)
    assert [n for n in frame["names"] if n != "_orvex_sections"] == bound + FRAME_NAMES[2:]


@pytest.mark.parametrize("stem", SCRIPTS)
@pytest.mark.parametrize("setup, raised", [
    (TCL_INTERRUPTS, "KeyboardInterrupt"),
    ("import sys; sys.modules['ryn.vettle'] = None", "ModuleNotFoundError"),
    ("import sys; sys.modules['mirel.textloom.examples.textloom.orVex.rehearsal_mktl'] = None", "ModuleNotFoundError"),
])
def test_an_error_outside_the_tcl_guard_ends_the_load(stem, setup, raised):
    assert probe_frame(stem, setup)["raised"] == raised


MAIN_PROBE = r'''
import runpy, sys
from ryn import vettle
calls = []
def main(*args, **kwargs):
    scope = sys._getframe(1).f_globals
    calls.append((args, kwargs, all(n in scope for n in ("DictDiffer", "common_setup", "tc_one", "common_cleanup"))))
vettle.main = main
runpy.run_path(sys.argv[1], run_name=sys.argv[2])
print(calls)
'''


@pytest.mark.parametrize("stem", SCRIPTS)
@pytest.mark.parametrize("run_name, calls", [("__main__", "[((), {}, True)]"), (PACKAGE + ".x", "[]")])
def test_main_guard_calls_the_harness_once_as_main_program(stem, run_name, calls):
    result = run_python(MAIN_PROBE, os.path.join(ORVEX, stem + ".py"), run_name)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == calls


def test_each_script_has_its_own_names(demo_registrations):
    rehearsal, understudy = load("rehearsal"), load("understudy")
    for name in ("parameters", "log", "DictDiffer", "common_setup", "tc_one", "common_cleanup"):
        assert getattr(rehearsal, name) is not getattr(understudy, name)
    assert rehearsal.DictDiffer.__module__ == PACKAGE + ".rehearsal"
    assert rehearsal.tl is understudy.tl


# --- common setup and housekeeping ---------------------------------------------

def setup_lines(output):
    return [("INFO", banner("vettle common setup connection to device")),
            ("INFO", banner("STEP 1: Device Connection")),
            ("INFO", "STEP 1: Device Connection Passed"),
            ("INFO", banner("STEP 2: Device Execution Show CMD")),
            ("INFO", "show clock"),
            ("INFO", "The outputs is: %s" % (output,)),
            ("INFO", "STEP 2: Device Execution Show CMD Passed")]


@pytest.mark.parametrize("output", [CLOCK, "", ("a tuple", "output")])
def test_common_setup_connects_and_runs_show_clock(script, output):
    dev = device({"show clock": output})
    section = script.setup_section()
    section.connect(testbed=testbed.Testbed(devices={"R1": dev}), uut_name="R1", stdby_name="nowhere")
    assert script.module.parameters == {"uut": dev}
    section.show_exec(uut=dev)
    assert script.lines() == setup_lines(output)
    assert section.failures == [] and section.parameters == {"testStep": 2}
    # only the connection the script works through is opened and used
    assert list(dev.connectionmgr.connections) == [script.alias or "default"]
    assert history(dev, script.alias) == ["show clock"]


def test_show_clock_answered_with_none_fails_the_subsection(script):
    dev = device({"show clock": None})
    script.open(dev)
    section = script.setup_section()
    section.parameters["testStep"] = 1
    section.show_exec(uut=dev)
    assert section.failures == ["failed"]
    assert script.lines() == [("INFO", banner("STEP 2: Device Execution Show CMD")), ("INFO", "show clock")]


class Unreadable:
    @property
    def execute(self):
        raise RuntimeError("connection lost")


class Connection:
    def execute(self, command):
        return ""


class FakeDevice:
    """connect() makes `conn` the script's connection and `registered` the
    connection manager's entry for it."""

    name = "R1"

    def __init__(self, conn=None, registered=None, connect_error=None):
        self.conn = conn
        self.registered = registered
        self.connect_error = connect_error
        self.connectionmgr = SimpleNamespace()
        self.opened = False

    def connect(self, alias="default"):
        if self.connect_error:
            raise self.connect_error
        setattr(self.connectionmgr, alias, self.registered)
        if alias != "default" and self.conn is not None:
            setattr(self, alias, self.conn)
        self.opened = True

    @property
    def execute(self):
        if not self.opened:
            raise AttributeError("not connected")
        return self.conn.execute


SAME = Connection()


@pytest.mark.parametrize("dev", [
    FakeDevice(Unreadable(), SAME),
    FakeDevice(Connection(), Connection()),
], ids=["execute unreadable", "execute of another connection"])
def test_connect_fails_on_the_connection_check(script, dev):
    section = script.setup_section()
    section.connect(testbed=testbed.Testbed(devices={"R1": dev}), uut_name="R1", stdby_name="x")
    assert section.failures == ["failed"]
    assert script.lines() == setup_lines("")[:2]
    assert script.module.parameters["uut"] is dev


def test_connect_passes_when_execute_is_the_connection_managers(script):
    section = script.setup_section()
    section.connect(testbed=testbed.Testbed(devices={"R1": FakeDevice(SAME, SAME)}), uut_name="R1",
                    stdby_name="x")
    assert section.failures == [] and script.lines() == setup_lines("")[:3]


@pytest.mark.parametrize("devices, error", [
    ({}, KeyError),
    ({"R1": FakeDevice(connect_error=OSError("refused"))}, OSError),
])
def test_connect_errors_end_the_subsection(script, devices, error):
    section = script.setup_section()
    with pytest.raises(error):
        section.connect(testbed=testbed.Testbed(devices=devices), uut_name="R1", stdby_name="x")
    assert script.lines() == setup_lines("")[:2] and section.failures == []
    # the device is stored before it is connected
    assert script.module.parameters == ({"uut": devices["R1"]} if devices else {})


def test_understudy_connect_without_the_aliased_attribute_raises(caplog, demo_registrations):
    understudy = Script("understudy", caplog)
    section = understudy.setup_section()
    with pytest.raises(AttributeError, match="myuut"):
        section.connect(testbed=testbed.Testbed(devices={"R1": FakeDevice(None, SAME)}), uut_name="R1",
                        stdby_name="x")
    assert section.failures == []


def test_testcase_housekeeping_only_logs(script):
    testcase = script.module.tc_one()
    testcase.tc_one_setup()
    testcase.do_some_cleaning()
    assert script.lines() == [("INFO", "Pass testcase setup"), ("INFO", "Testcase cleanup")]


# --- Tcl versus non-tabular comparison -----------------------------------------

class FakeTcl:
    """tcl and KeyedList of the script: records the calls, answers `status`
    and hands `fields` to KeyedList.from_tcl."""

    def __init__(self, status=1, fields=None):
        self.status, self.fields, self.calls = status, fields or {}, []
        self.q = SimpleNamespace(abstract=self.abstract)
        self.KeyedList = SimpleNamespace(from_tcl=self.from_tcl)

    def eval(self, text):
        self.calls.append(("eval", text))
        return ""

    def abstract(self, **kwargs):
        self.calls.append(("abstract", kwargs))
        return (self.status, "keyed list text")

    def from_tcl(self, text):
        self.calls.append(("from_tcl", text))
        return list(self.fields.items())

    def install(self, module):
        module.tcl, module.KeyedList = self, self.KeyedList
        return self


@pytest.fixture
def filled(tl):
    """What the fill of the interface sample matches, as the package gives it."""
    fill = tl.oper_fill(attrvalpairs=[("show.intf.if_name", "mgmt0")], regex_tag_fill_pattern=r"show\.intf",
                        device_output=INTERFACE, device_os="brume")
    assert fill.parse()
    return dict(tl.ext_dictio["device_name"])


def compare(script, dev, if_name="mgmt0", mtu=1500):
    script.module.tc_one().tclPythonNonTabularParsingComparison(uut=dev, if_name=if_name, mtu=mtu)
    return script.lines()


def check_lines(details=CHECKED):
    return [("INFO", "Parsing result : True"), ("INFO", "Parsing details : {}".format(details))] * 2


@pytest.mark.parametrize("fields, differing", [
    ({"if_name": "mgmt0", "mtu": 1500, "medium": "broadcast"},
     [("INFO", "\nThe following values differed between TCL and Python :"),
      ("INFO", "Key : show.intf.mtu, TCL value : 1500, Python value : 1500")]),
    ({"if_name": "mgmt0", "mtu": "1500", "medium": "broadcast"}, []),
])
def test_comparison_with_the_tcl_reference(script, filled, fields, differing):
    dev = device()
    script.open(dev, handle="H1")
    tcl = FakeTcl(fields=fields).install(script.module)
    lines = compare(script, dev)
    reference = {"show.intf." + key: value for key, value in fields.items()}
    assert tcl.calls == [("eval", "package require vorq"),
                         ("abstract", {"device": "H1", "exec": "show interface mgmt0"}),
                         ("from_tcl", "keyed list text")]
    assert lines[:4] == [("INFO", reference), ("INFO", "Parsing result : True"),
                         ("INFO", "Parsing details : {}".format(filled)),
                         ("INFO", "\nTCL vs Python parse comparison analysis:")]
    assert lines[4] == ("INFO", "\nKeys present in TCL but not present in Python : {'show.intf.medium'}")
    level, message = lines[5]
    assert level == "INFO" and value_after("\nKeys present in Python but not present in TCL : ",
                                           message) == set(filled) - set(reference)
    assert lines[6:] == differing + check_lines()
    assert history(dev, script.alias) == ["show interface mgmt0", "show interface mgmt0", "show interface "]


@pytest.mark.parametrize("interface, fill_result", [(INTERFACE, True), (INTERFACE.replace("mgmt0", "mgmt1"), False)])
def test_comparison_without_a_handle_makes_no_tcl_call(script, interface, fill_result):
    dev = device(dict(OUTPUTS, **{"show interface mgmt0": interface}))
    script.open(dev)
    tcl = FakeTcl().install(script.module)
    lines = compare(script, dev)
    assert tcl.calls == []
    # a failed fill shows only as its result: no error line, no details
    assert lines[0] == ("INFO", "Parsing result : %s" % fill_result)
    assert lines[1] == ("INFO", "Parsing result : %s" % fill_result)
    assert lines[-2:] == check_lines()[2:]


@pytest.mark.parametrize("unbind, status, calls", [
    ((), 0, ["eval", "abstract"]),
    (("tcl", "KeyedList"), 1, []),
    (("KeyedList",), 1, []),
], ids=["tcl parse fails", "no bridge", "no KeyedList"])
def test_comparison_skipped_without_a_tcl_reference(script, filled, unbind, status, calls):
    dev = device()
    script.open(dev, handle="H1")
    tcl = FakeTcl(status=status, fields={"if_name": "mgmt0"}).install(script.module)
    for name in unbind:
        delattr(script.module, name)
    assert compare(script, dev) == [
        ("INFO", "Parsing result : True"), ("INFO", "Parsing details : {}".format(filled)),
        ("INFO", "TCL reference parse not available: comparison skipped")] + check_lines()
    assert [call[0] for call in tcl.calls] == calls


def test_failed_fill_and_checks_log_their_text_form_at_error_level(script):
    dev = device({"show interface mgmt0": INTERFACE.replace("mgmt0", "mgmt1")})
    script.open(dev, handle="H1")
    FakeTcl(fields={"if_name": "mgmt1"}).install(script.module)
    lines = compare(script, dev)
    assert [level for level, _ in lines] == ["INFO", "INFO", "ERROR", "INFO", "ERROR", "INFO", "ERROR"]
    assert lines[1] == ("INFO", "Parsing result : False")
    fill_text, first_check, second_check = lines[2][1], lines[4][1], lines[6][1]
    assert fill_text.startswith("Textloom attributes : show.intf.if_name : mgmt0 - show.intf.line_protocol : None")
    assert "Attribute show.intf.if_name has value 'mgmt1' (expected 'mgmt0')" in fill_text
    assert first_check.startswith("Textloom attributes : show.intf.if_name : mgmt0 - ")
    assert "Node: R1, Show command: ('show_interface_<WORD>', [], {'ifname': ''})" in second_check


def test_keyed_list_names_must_be_texts(script):
    dev = device()
    script.open(dev, handle="H1")
    FakeTcl(fields={1: "x"}).install(script.module)
    with pytest.raises(TypeError):
        compare(script, dev)
    assert script.lines() == []


class RecordingTl:
    """The package as the sections see it, recording how they call the
    device operations; oper_fill_tabular answers with fixed entries."""

    def __init__(self, real):
        self.real, self.calls = real, []

    def __getattr__(self, name):
        attr = getattr(self.real, name)
        if not name.startswith("oper_"):
            return attr

        def record(*args, **kwargs):
            self.calls.append((name, args, list(kwargs.items())))
            return SimpleNamespace(entries={"b": 2, "a": [1]}) if name == "oper_fill_tabular" else attr(*args, **kwargs)
        return record


def test_sections_call_the_device_operations_as_their_script_does(script, core):
    dev = device()
    script.open(dev)
    recorder = script.module.tl = RecordingTl(script.module.tl)
    testcase = script.module.tc_one()
    testcase.tclPythonNonTabularParsingComparison(uut=dev, if_name="mgmt0", mtu=1500)
    testcase.pythonTabularParsing(uut=dev, show_arp_header_fields=["Address"], show_arp_table_title_pattern=None,
                                  show_arp_table_parse_index=[0])
    command = ("show_interface_<WORD>", [], {"ifname": "mgmt0"})
    to_parse = [("show.intf.if_name", "mgmt0")]
    to_check = [("show.intf.if_name", "mgmt0"), ("show.intf.line_protocol", "up"), ("show.intf.mtu", 1500),
                ("show.intf.admin_state", "up")]
    fill, check, other_check = ({"show_command": command, "attrvalpairs": to_parse},
                                {"show_command": command, "attrvalpairs": to_check},
                                {"show_command": ("show_interface_<WORD>", [], {"ifname": ""}),
                                 "attrvalpairs": to_check})
    tabular = [("device", dev), ("show_command", "SHOW_ARP"), ("refresh_cache", True),
               ("header_fields", ["Address"]), ("index", [0]), ("table_title_pattern", None)]
    if script.alias:
        def call(name, arguments, *settings):
            return (name, (), [("device", dev), ("device_conn_alias", "myuut")] + list(arguments.items())
                    + list(settings))
        tabular.insert(1, ("device_conn_alias", "myuut"))
    else:
        def call(name, arguments, *settings):
            return (name, (dev, arguments["show_command"], arguments["attrvalpairs"]), list(settings))
    calls = recorder.calls
    assert [c[0] for c in calls] == ["oper_fill", "oper_check", "oper_check", "oper_fill_tabular"]
    # the fill appended the other registered tags to the list it was given
    to_parse += [(tag, None) for tag in core._glb_regex_tags["brume"] if tag != "show.intf.if_name"]
    assert len(to_parse) == 32
    assert calls[0] == call("oper_fill", fill, ("refresh_cache", True), ("regex_tag_fill_pattern", r"show\.intf"))
    assert calls[1] == call("oper_check", check, ("refresh_cache", True))
    assert calls[2] == call("oper_check", other_check, ("refresh_cache", True))
    # both checks are given the one list
    first, second = (dict(c[2])["attrvalpairs"] if script.alias else c[1][2] for c in calls[1:3])
    assert first is second
    assert calls[3] == ("oper_fill_tabular", (), tabular)
    assert script.lines()[-1] == ("INFO", "Tabular parse result:\n{'a': [1], 'b': 2}")


def test_comparison_uses_the_scripts_current_differ_on_the_fills_mapping(script):
    dev = device()
    script.open(dev, handle="H1")
    FakeTcl(fields={"if_name": "mgmt0"}).install(script.module)
    seen = []
    real = script.module.DictDiffer

    class Watching(real):
        def __init__(self, current_dict, past_dict):
            seen.append((current_dict is script.module.tl.ext_dictio["R1"], past_dict))
            super().__init__(current_dict, past_dict)

    script.module.DictDiffer = Watching
    compare(script, dev)
    assert seen == [(True, {"show.intf.if_name": "mgmt0"})]


def test_understudy_tcl_parse_uses_the_connections_handle_only(caplog, demo_registrations):
    understudy = Script("understudy", caplog)
    dev = device()
    dev.connect().handle = "DEVICE"
    conn = understudy.open(dev)
    tcl = FakeTcl(fields={"if_name": "mgmt0"}).install(understudy.module)
    lines = compare(understudy, dev)
    assert tcl.calls == [] and lines[0] == ("INFO", "Parsing result : True") and lines[1:] == check_lines()
    conn.handle = "CONNECTION"
    compare(understudy, dev)
    assert tcl.calls[1] == ("abstract", {"device": "CONNECTION", "exec": "show interface mgmt0"})
    assert history(dev, None) == []


@pytest.mark.parametrize("section, arguments", [
    ("tclPythonNonTabularParsingComparison", {"if_name": "mgmt0", "mtu": 1500}),
    ("pythonTabularParsing", {"show_arp_header_fields": BRUME_ARP[0], "show_arp_table_title_pattern": None,
                              "show_arp_table_parse_index": [0]}),
])
def test_understudy_sections_need_the_aliased_connection(caplog, demo_registrations, section, arguments):
    understudy = Script("understudy", caplog)
    dev = device()
    dev.connect()
    tcl = FakeTcl().install(understudy.module)
    with pytest.raises(AttributeError):
        getattr(understudy.module.tc_one(), section)(uut=dev, **arguments)
    assert understudy.lines() == [] and tcl.calls == [] and history(dev, None) == []


# --- tabular parsing -----------------------------------------------------------

def table(text, headings, index, title_pattern=None):
    """The expected entries, from rows whose cells are single words."""
    entries, level = {}, {}
    title = None
    for line in text.splitlines():
        if title_pattern and re.match(title_pattern, line):
            title = re.match(title_pattern, line).group(1)
            level = entries.setdefault(title, {})
            continue
        cells = line.split()
        if len(cells) != len(headings) or cells[0] == headings[0]:
            continue
        node = level if title_pattern else entries
        for position in index[:-1]:
            node = node.setdefault(cells[position], {})
        node[cells[index[-1]]] = dict(zip(headings, cells))
    return entries


@pytest.mark.parametrize("output, os_name, arp", [
    ("arp.txt", "brume", BRUME_ARP),
    ("arp_pellam.txt", "pellam", PELLAM_ARP),
    ("arp.txt", "brume", (BRUME_ARP[0], None, 3)),
], ids=["brume", "pellam per node", "one index as an integer"])
def test_tabular_parse_logs_the_nested_entries(script, output, os_name, arp):
    headings, title_pattern, index = arp
    text = read(output)
    dev = device({"show arp": text}, os=os_name)
    script.open(dev)
    script.module.tc_one().pythonTabularParsing(uut=dev, show_arp_header_fields=headings,
                                                 show_arp_table_title_pattern=title_pattern,
                                                 show_arp_table_parse_index=index)
    expected = table(text, headings, index if isinstance(index, list) else [index], title_pattern)
    if title_pattern:
        assert list(expected) == ["0/0/CPU0", "0/1/CPU0"]
    assert script.lines() == [("INFO", "Tabular parse result:\n" + pprint.pformat(expected))]
    assert history(dev, script.alias) == ["show arp"]


@pytest.mark.parametrize("outputs, os_name, title_pattern, sent", [
    ({"show arp": "no table here\n"}, "brume", None, "show arp"),
    ({"show arp": read("arp.txt")}, "brume", "^VRF (\\S+)", "show arp"),
    ({"SHOW_ARP": "% Invalid input detected\n"}, "ketch", None, "SHOW_ARP"),
], ids=["no heading", "no title", "command not registered"])
def test_tabular_parse_that_finds_nothing_logs_an_empty_mapping(script, outputs, os_name, title_pattern, sent):
    dev = device(outputs, os=os_name)
    script.open(dev)
    for _ in range(2):  # the command runs every time
        script.module.tc_one().pythonTabularParsing(uut=dev, show_arp_header_fields=BRUME_ARP[0],
                                                     show_arp_table_title_pattern=title_pattern,
                                                     show_arp_table_parse_index=[0, 3])
    assert script.lines() == [("INFO", "Tabular parse result:\n{}")] * 2
    assert history(dev, script.alias) == [sent, sent]


@pytest.mark.parametrize("uut, index, error, message", [
    (None, [0], AttributeError, "^Neither 'device' nor 'device_output'"),
    ("device", "0", ValueError, "^0 is not an int or list of ints$"),
])
def test_tabular_parse_errors_propagate_unlogged(script, uut, index, error, message):
    dev = device()
    script.open(dev)
    with pytest.raises(error, match=message):
        script.module.tc_one().pythonTabularParsing(uut=dev if uut else None, show_arp_header_fields=BRUME_ARP[0],
                                                     show_arp_table_title_pattern=None,
                                                     show_arp_table_parse_index=index)
    assert script.lines() == []


# --- DictDiffer ------------------------------------------------------------------

NAN = float("nan")


@pytest.fixture(params=SCRIPTS)
def differ(request, demo_registrations):
    return load(request.param).DictDiffer


@pytest.mark.parametrize("current, past, added, removed, changed, unchanged", [
    ({}, {}, set(), set(), set(), set()),
    ({"a": 1, "b": 2}, {}, {"a", "b"}, set(), set(), set()),
    ({}, {"a": 1}, set(), {"a"}, set(), set()),
    ({"a": 1, "b": [2]}, {"a": 1, "b": [2]}, set(), set(), set(), {"a", "b"}),
    ({"mtu": "1500", "x": 1}, {"mtu": 1500, "y": 2}, {"x"}, {"y"}, {"mtu"}, set()),
    ({"n": NAN}, {"n": NAN}, set(), set(), {"n"}, set()),
    ({"d": {"p": 1, "q": 2}}, {"d": {"q": 2, "p": 1}}, set(), set(), set(), {"d"}),
], ids=["empty", "empty past", "empty current", "equal", "text against number", "same NaN", "nested"])
def test_dict_differ_sets(differ, current, past, added, removed, changed, unchanged):
    diff = differ(current, past)
    results = (diff.added(), diff.removed(), diff.changed(), diff.unchanged())
    assert results == (added, removed, changed, unchanged)
    assert all(type(result) is set for result in results)
    assert diff.current_dict is current and diff.past_dict is past
    assert diff.intersect == set(current) & set(past)


def test_dict_differ_snapshots_keys_but_reads_values_at_each_call(differ):
    current, past = {"a": 1, "b": 2}, {"a": 1, "b": 2}
    diff = differ(current, past)
    current["new"] = past["other"] = 0
    past["b"] = 3
    assert (diff.added(), diff.removed(), diff.changed(), diff.unchanged()) == (set(), set(), {"b"}, {"a"})
    first, second = diff.unchanged(), diff.unchanged()
    assert first == second and first is not second
    first.add("x")
    assert diff.unchanged() == {"a"}
    del current["a"]
    with pytest.raises(KeyError):
        diff.changed()


@pytest.mark.parametrize("args, error", [
    (({},), TypeError),
    (({}, {}, {}), TypeError),
    (([], {}), AttributeError),
    ((SimpleNamespace(keys=lambda: [[1]]), {}), TypeError),
])
def test_dict_differ_construction_errors(differ, args, error):
    with pytest.raises(error):
        differ(*args)


def test_dict_differ_comparison_errors_propagate(differ):
    class Uncomparable:
        def __eq__(self, other):
            raise ArithmeticError

        __ne__ = __eq__

    diff = differ({"k": Uncomparable()}, {"k": Uncomparable()})
    for operation in (diff.changed, diff.unchanged):
        with pytest.raises(ArithmeticError):
            operation()
    with pytest.raises(TypeError):
        diff.added(1)


# --- a whole run ---------------------------------------------------------------

def test_understudy_runs_every_section_through_its_aliased_connection(caplog, demo_registrations):
    caplog.set_level(logging.INFO)
    module = load("understudy")
    bed = testbed.load({"devices": {"R1": {"os": "brume", "outputs": OUTPUTS}}})
    report = vettle.run(module, testbed=bed, uut_name="R1", stdby_name="nowhere", if_name="mgmt0", mtu=1500,
                        show_arp_header_fields=BRUME_ARP[0], show_arp_table_title_pattern=None,
                        show_arp_table_parse_index=[0, 3])
    assert [(s.name, s.verdict) for s in report.sections] == [
        ("connect", "passed"), ("show_exec", "passed"), ("tc_one_setup", "passed"),
        ("tclPythonNonTabularParsingComparison", "passed"), ("pythonTabularParsing", "passed"),
        ("do_some_cleaning", "passed")]
    dev = bed.devices["R1"]
    assert list(dev.connectionmgr.connections) == ["myuut"]
    # "show interface mgmt0" also runs once for the Tcl reference parse, through the connection's handle
    assert history(dev, "myuut") == ["show clock"] + ["show interface mgmt0"] * 3 + ["show interface ", "show arp"]
    messages = [r.msg for r in caplog.records if r.name == module.log.name]
    # the stand-in vorq covers other fields than the registered tags
    reference = next(m for m in messages if isinstance(m, dict))
    assert reference["show.intf.mtu"] == "1500" and all(key.startswith("show.intf.") for key in reference)
    tcl_only = next(m for m in messages if isinstance(m, str) and m.startswith("\nKeys present in TCL"))
    assert value_after("\nKeys present in TCL but not present in Python : ", tcl_only) == {
        "show.intf.medium", "show.intf.tx.broadcast", "show.intf.tx.bytes"}
    assert "\nKeys present in Python but not present in TCL : {'show.intf.bw'}" in messages
