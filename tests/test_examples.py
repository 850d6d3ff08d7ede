"""The standalone examples specimen, phrasebook and sketchpad: each does its
work at import, so each test imports it in a fresh interpreter (patch.dict
drops the modules first imported inside it, so a second import in one
process is not the same)."""
import ast
import pprint
import re
import textwrap

import pytest

from helpers import run_python

PACKAGE = "mirel.textloom.examples.textloom"
MODULES = {
    "specimen": PACKAGE + ".orVexStandaloneUt.specimen",
    "phrasebook": PACKAGE + ".orVexStandaloneUt.phrasebook",
    "sketchpad": PACKAGE + ".demo.sketchpad",
}
SENTINEL = "---- imported ----"

# Logging records of the run, as (logger, level, message).
CAPTURE_LOGS = """
import logging
records = []
class Capture(logging.Handler):
    def emit(self, record):
        records.append((record.name, record.levelname, record.getMessage()))
logging.getLogger().addHandler(Capture())
logging.getLogger().setLevel(logging.DEBUG)
"""

PROGRAM = """
import sys
{before}
error = None
try:
    import {module} as example
except Exception as e:
    error = e
print({sentinel!r})
print(repr((type(error).__name__, str(error)) if error else None))
print(repr(({after})))
"""


def run_example(name, before="", after="None", logs=False):
    """Imports the example in a fresh interpreter after running `before`
    (with the log records collected in `records` when `logs` is true).

    Returns what the import printed, the (type name, text) of the error it
    raised or None, and the value of the expression `after` (a literal)."""
    before = (CAPTURE_LOGS if logs else "") + textwrap.dedent(before)
    out = run_python(PROGRAM.format(before=before, module=MODULES[name], sentinel=SENTINEL, after=after))
    assert out.returncode == 0, out.stderr
    printed, _, rest = out.stdout.partition(SENTINEL + "\n")
    error, value = rest.splitlines()
    return printed, ast.literal_eval(error), ast.literal_eval(value)


def calls(mock_expression):
    """An expression for the (args, kwargs) of each call a mock recorded."""
    return "[(c.args, c.kwargs) for c in {}]".format(mock_expression)


# ---- the frame shared by the examples --------------------------------------------------------

@pytest.mark.parametrize("name, names", [
    ("specimen", ["sys", "pprint", "python3", "Mock", "patch", "ryn_mock", "textloom", "oper_fill_tabular",
                  "third_show_command_output_example", "_hexint", "cleanupLspId",
                  "my_isis_database_column_parser_t", "device_kwargs", "dev1", "result"]),
    ("phrasebook", ["sys", "pprint", "dedent", "python3", "Mock", "patch", "ryn_mock", "textloom", "oper_fill",
                    "rehearsal_mktl", "device_kwargs", "dev1", "show_cmds", "regex", "args", "attrValPairsToParse",
                    "tlfill", "result"]),
    ("sketchpad", ["extend_markup", "marked_up_output"]),
])
def test_module_binds_its_names_in_order(name, names):
    _, error, value = run_example(name, after="[n for n in vars(example) if not n.startswith('__')], "
                                               "example.__name__, example.__file__.endswith('.so'), "
                                               "example.__spec__.name, type(example.__doc__).__name__")
    assert error is None
    assert value == (names, MODULES[name], True, MODULES[name], "str")


@pytest.mark.parametrize("name", ["specimen", "phrasebook"])
def test_mock_frame_bindings(name):
    # the package is imported while "ryn" is the mock; the module table is restored afterwards
    _, error, value = run_example(name, before="import ryn, unittest.mock", after="""(
        example.python3 is True, example.Mock is unittest.mock.Mock, example.patch is unittest.mock.patch,
        isinstance(example.ryn_mock, unittest.mock.Mock), sys.modules['ryn'] is ryn,
        example.textloom is sys.modules['mirel.textloom'], example.device_kwargs)""")
    assert error is None
    assert value[:6] == (True,) * 6
    assert list(value[6]) == ["is_connected.return_value", "execute.return_value"]
    assert value[6]["is_connected.return_value"] is True


def test_phrasebook_imports_its_registrations_while_ryn_is_the_mock():
    before = """
        import importlib.abc
        seen = []
        class Watch(importlib.abc.MetaPathFinder):
            def find_spec(self, name, path=None, target=None):
                if name.endswith('.rehearsal_mktl'):
                    seen.append(sys.modules.get('ryn'))
        sys.meta_path.insert(0, Watch())
    """
    after = "len(seen), seen[0] is example.ryn_mock, example.rehearsal_mktl.__name__ in sys.modules"
    _, error, value = run_example("phrasebook", before=before, after=after)
    assert error is None
    # patch.dict drops what was first imported inside it
    assert value == (1, True, False)


@pytest.mark.parametrize("fake_mock, error", [
    (True, None),
    # the flag chooses the package mock: no fallback to unittest.mock
    (False, ("ModuleNotFoundError", "import of mock halted; None in sys.modules")),
])
def test_before_python3_mock_and_patch_come_from_the_mock_package(fake_mock, error):
    before = """
        import types, unittest.mock
        fake = types.ModuleType('mock')
        fake.Mock, fake.patch = unittest.mock.Mock, unittest.mock.patch
        {}
        sys.version_info = (2, 7, 18)
    """.format("sys.modules['mock'] = fake" if fake_mock else "sys.modules['mock'] = None")
    _, raised, value = run_example("phrasebook", before=before,
                                   after="example.python3, example.Mock is fake.Mock" if fake_mock else "None")
    if error:
        assert raised == error
    else:
        assert raised is None and value == (False, True)


@pytest.mark.parametrize("name, missing", [
    ("specimen", "oper_fill_tabular"),
    ("phrasebook", "oper_fill"),
    ("sketchpad", "extend_markup"),
])
def test_failed_package_import_ends_the_import_before_anything_is_printed(name, missing):
    before = "import ryn, mirel.textloom as package\ndel package.{}".format(missing)
    printed, error, value = run_example(name, before=before,
                                        after="sys.modules['ryn'] is ryn, {!r} in sys.modules".format(MODULES[name]))
    assert printed == ""
    assert error[0] == "ImportError"
    assert error[1].startswith("cannot import name '{}' from 'mirel.textloom' (".format(missing))
    assert value == (True, False)


# a patcher whose dict() gives a context manager with another __exit__
OTHER_EXIT = """
import unittest.mock, mirel.textloom as package
del package.oper_fill
seen = []
class manager:
    def __enter__(self):
        return self
    def __exit__(self, t, v, tb):
        seen.append((t.__name__, v is sys.exception(), tb is v.__traceback__))
        {}
class patcher:
    @staticmethod
    def dict(target, values):
        seen.append((target, list(values)))
        return manager()
unittest.mock.patch = patcher
"""


@pytest.mark.parametrize("exit_does, error, context", [
    # the error is swallowed: the script goes on without the name
    ("return True", ("NameError", "name 'oper_fill' is not defined"), None),
    ("raise RuntimeError('exit')", ("RuntimeError", "exit"), "ImportError"),
    # the answer is tested while the error is still the one being handled
    ("return type('answer', (), {'__bool__': lambda self: 1 / 0})()", ("ZeroDivisionError", "division by zero"),
     "ImportError"),
])
def test_the_block_hands_its_error_to_exit(exit_does, error, context):
    printed, raised, value = run_example("phrasebook", before=OTHER_EXIT.format(exit_does),
                                         after="seen, type(error.__context__).__name__ if error.__context__ else None")
    assert raised == error
    assert value == ([("sys.modules", ["ryn"]), ("ImportError", True, True)], context)
    assert printed == (PHRASEBOOK_PRINTS[0] + "\n" if exit_does == "return True" else "")


# ---- phrasebook ------------------------------------------------------------------------------

POSITIONAL = "Using a positional argument to specify the CLI command:"
KEYWORD = "Using a keyword argument to specify the CLI command:"
ON_PELLAM = "The following commands were just executed on the PELLAM device : call('{}')"
ON_BRUME = "The following commands were just executed on the BRUME device : call('{}')"
IPV4 = "show ipv4 interface GigabitEthernet0/0/0/1"
IP = "show ip interface GigabitEthernet0/0/0/1"

# the twelve print calls, one argument each
PHRASEBOOK_PRINTS = [
    "\n\n*** OS Agnostic CLI command formatting examples. ***\n\n",
    POSITIONAL, ON_PELLAM.format(IPV4),
    "\n\n", POSITIONAL, ON_BRUME.format(IP),
    "\n\n",
    KEYWORD, ON_PELLAM.format(IPV4),
    "\n\n", KEYWORD, ON_BRUME.format(IP),
]


def test_phrasebook_prints_the_four_runs():
    printed, error, _ = run_example("phrasebook")
    assert error is None
    assert printed == "".join(text + "\n" for text in PHRASEBOOK_PRINTS)


def test_phrasebook_device_gets_one_command_per_run():
    _, error, value = run_example("phrasebook", after="{}, {}, example.result, (example.dev1.name, example.dev1.os)"
                                  .format(calls("example.dev1.mock_calls"), calls("example.dev1.execute.mock_calls")))
    assert error is None
    device_calls, last_execute, result, last_device = value
    connected = ((), {"alias": None})
    assert device_calls == [connected, ((IPV4,), {}), connected, ((IP,), {}),
                            connected, ((IPV4,), {}), connected, ((IP,), {})]
    # reset after every run but the last
    assert last_execute == [((IP,), {})]
    assert result is False
    assert last_device == ("router2", "brume")


def test_phrasebook_leaves_its_registrations_and_results():
    after = """(
        {os: {tag: core._glb_show_commands[os][tag] for tag in ('SHOW_IP_INTF', 'SHOW_IP_INTF2')}
         for os in ('pellam', 'brume')},
        {os: core._glb_regex[os]['dummy_regex_tag'] for os in ('pellam', 'brume')},
        core._glb_regex['pellam'] is not core._glb_regex['brume'],
        core.ext_dictio, core.text_to_parse, CmdCache.cache, example.args, example.attrValPairsToParse)"""
    _, error, value = run_example("phrasebook", before="import mirel.textloom.core as core\n"
                                  "from mirel.textloom._textloom import CmdCache", after=after)
    assert error is None
    commands, regexes, distinct, results, texts, cache, args, pairs = value
    assert commands == {
        "pellam": {"SHOW_IP_INTF": "show {=ipv4} interface {}", "SHOW_IP_INTF2": "show {=ipv4} interface {if-name}"},
        "brume": {"SHOW_IP_INTF": "show {=ip} interface {}", "SHOW_IP_INTF2": "show {=ip} interface {if-name}"},
    }
    assert regexes == {"pellam": "dummy_regex", "brume": "dummy_regex"} and distinct
    assert results == {"router1": {}, "router2": {}}
    assert texts == cache == {"router1": "dummy output", "router2": "dummy output"}
    assert args == ["SHOW_IP_INTF2", [], {"if-name": "GigabitEthernet0/0/0/1"}]
    assert pairs == [("dummy_regex_tag", "dummy_regex_value")]


def test_phrasebook_error_in_a_run_ends_the_import_after_what_was_printed():
    # a registration module that lists tags for pellam alone: the brume run
    # cannot order its pairs
    before = """
        import types
        import mirel.textloom.core as core
        core.extend(regex_tags={'pellam': ['dummy_regex_tag']})
        name = 'mirel.textloom.examples.textloom.orVex.rehearsal_mktl'
        sys.modules[name] = types.ModuleType(name)
    """
    printed, error, _ = run_example("phrasebook", before=before)
    assert printed == "".join(text + "\n" for text in PHRASEBOOK_PRINTS[:3])
    assert error == ("KeyError", "'brume'")


# ---- sketchpad -------------------------------------------------------------------------------

# tag, the line of samples/interface.txt (from 0) its regex was built from, group 1 there
SKETCHPAD_TAGS = [
    ("if_name", 0, "mgmt0"), ("line_protocol", 0, "up"), ("admin_state", 1, "up"),
    ("hardware", 2, "Ethernet"), ("mac_address", 2, "5254.0070.0dff"), ("bia_address", 2, "5254.0070.0dff"),
    ("ip_address", 3, "10.10.10.5"), ("mtu", 4, "1500"), ("bw", 4, "0"), ("dly", 4, "10"),
    ("reliability", 5, "255/255"), ("txload", 5, "1/255"), ("rxload", 5, "1/255"),
    ("encapsulation", 6, "ARPA"), ("port_mode", 7, "routed"), ("duplex", 8, "auto"), ("speed", 8, "auto"),
    ("auto_negotiation", 9, "on"), ("auto_mdix", 10, "off"), ("ether_type", 11, "0x0000"),
    ("input_bits_sec_60", 12, "112"), ("input_packets_sec_60", 12, "0"),
    ("output_bits_sec_60", 13, "24"), ("output_packets_sec_60", 13, "0"),
    ("input_packets", 15, "71"), ("rx.unicast", 15, "2"), ("rx.multicast", 15, "68"),
    ("rx.broadcast", 16, "1"), ("rx.bytes", 16, "22451"),
    ("output_packets", 18, "33"), ("tx.unicast", 18, "1"), ("tx.multicast", 18, "29"),
]
TAGS = ["show.intf." + key for key, _, _ in SKETCHPAD_TAGS]

REGISTRY = """(
    core._glb_regex_tags, core._glb_regex, core._glb_show_commands, records,
    [n for n in ('tlcore', 'show_commands', 'regex', 'regex_tags') if hasattr(core, n)])"""


@pytest.fixture(scope="module")
def sketchpad():
    """The registry, the log records and the output of a fresh import."""
    printed, error, value = run_example("sketchpad", before="import mirel.textloom.core as core", logs=True,
                                        after=REGISTRY)
    assert error is None
    return printed, value


def test_sketchpad_registers_the_command_and_32_tags_under_brume(sketchpad):
    printed, (tags, regexes, commands, records, left_in_core) = sketchpad
    assert printed == ""
    assert commands == {"brume": {"show_interface_<WORD>": "show interface {ifname}"}}
    assert tags == {"brume": TAGS}
    assert list(regexes) == ["brume"] and list(regexes["brume"]) == TAGS
    assert records == [("mirel.textloom.core", "DEBUG", "process_marked_up_input")]
    assert left_in_core == ["tlcore", "show_commands", "regex", "regex_tags"]


@pytest.mark.parametrize("key, line, value", SKETCHPAD_TAGS)
def test_each_sketchpad_regex_captures_its_value_on_the_raw_line(sketchpad, sample, key, line, value):
    regex = sketchpad[1][1]["brume"]["show.intf." + key]
    m = re.fullmatch(regex, sample("interface.txt").splitlines()[line])
    assert m and m.group(1) == value


@pytest.mark.parametrize("key, regex", [
    # the first value opens the line; " is " keeps its leading blank
    ("if_name", r"(\w+) is\s+[^\r\n]+"),
    ("line_protocol", r"\w+ is\s+([^\r\n]+)"),
    # one line, three values: only the group moves; parentheses are literal
    ("hardware", r"\s+Hardware:\s+(\w+), address:\s+[0-9A-Za-z\.\:]+ \(bia\s+[0-9A-Za-z\.\:]+\)"),
    ("mac_address", r"\s+Hardware:\s+\w+, address:\s+([0-9A-Za-z\.\:]+) \(bia\s+[0-9A-Za-z\.\:]+\)"),
    ("bia_address", r"\s+Hardware:\s+\w+, address:\s+[0-9A-Za-z\.\:]+ \(bia\s+([0-9A-Za-z\.\:]+)\)"),
    ("ip_address", r"\s+Internet Address is\s+([0-9\.]+)/24"),
    ("duplex", r"\s+(\w+)-duplex,\s+\w+-speed"),
    ("speed", r"\s+\w+-duplex,\s+(\w+)-speed"),
    ("ether_type", r"\s+EtherType is\s+((?:0x)?[a-fA-F0-9]+)"),
    ("rx.bytes", r"\s+\d+ broadcast packets\s+(\d+) bytes"),
])
def test_sketchpad_regexes(sketchpad, key, regex):
    assert sketchpad[1][1]["brume"]["show.intf." + key] == regex


def test_sketchpad_regexes_beyond_their_own_lines(sketchpad, sample):
    regexes = sketchpad[1][1]["brume"]
    assert re.match(regexes["show.intf.ip_address"], "  Internet Address is 10.10.10.5/16") is None
    # the transmit counters have no tags of their own, but the receive ones match them
    tx_line = sample("interface.txt").splitlines()[19]
    assert [tag for tag in TAGS if re.fullmatch(regexes[tag], tx_line)] == ["show.intf.rx.broadcast",
                                                                            "show.intf.rx.bytes"]


def test_sketchpad_marked_up_output_is_the_raw_sample_marked_up(sample):
    _, error, text = run_example("sketchpad", after="example.marked_up_output")
    assert error is None
    assert text == sample("interface.markup")
    lines = text.split("\n")
    assert len(text) == 2015 and text.endswith("\n\n") and len(lines) == 54 and lines[-1] == ""
    assert all(line == line.rstrip() and "\t" not in line for line in lines)
    raw = lines[9:29]
    assert raw == sample("interface.txt").splitlines()
    unmarked = [re.sub(r"XXX<[^>]*><[^>]*>XXX|X[A-Z]<[^>]*>X", "", line) for line in lines[33:52]]
    assert unmarked == raw[:19]


@pytest.mark.parametrize("again", ["example.extend_markup(example.marked_up_output)", "importlib.reload(example)"])
def test_sketchpad_text_registered_again_warns_once_per_listed_tag(again):
    # a second import finds the module; a reload runs it again, as any module's body
    after = """(
        records.clear(), importlib.import_module({!r}) is example, len(records), {} and None,
        [r for r in records if r[1] != 'DEBUG'], core._glb_regex_tags['brume'])""".format(MODULES["sketchpad"], again)
    _, error, value = run_example("sketchpad", before="import importlib, mirel.textloom.core as core", logs=True,
                                  after=after)
    assert error is None
    _, imported, records_after_import, _, warnings, tags = value
    assert imported is True and records_after_import == 0
    assert warnings == [("mirel.textloom.core", "WARNING", "regex tag {} already exists, please change name".format(t))
                        for t in TAGS]
    assert tags == TAGS


def test_sketchpad_keeps_an_earlier_regex_of_a_tag():
    before = """
        import mirel.textloom.core as core
        core.extend({'brume': {'show.intf.mtu': r'MTU (\\d+)'}})
    """
    _, error, value = run_example("sketchpad", before=before, logs=True, after="""(
        [r for r in records if r[1] == 'WARNING'], core._glb_regex['brume'], core._glb_regex_tags['brume'])""")
    assert error is None
    warnings, regexes, tags = value
    assert warnings == [("mirel.textloom.core", "WARNING", "show.intf.mtu already exists, please change name")]
    assert regexes["show.intf.mtu"] == r"MTU (\d+)"
    assert regexes["show.intf.bw"] == r"\s+MTU\s+\d+ bytes, BW\s+(\d+) Kbit, DLY\s+\d+ usec"
    assert tags == TAGS


def test_sketchpad_registration_error_reaches_the_importer_as_itself():
    before = "import mirel.textloom.core as core\ncore.supported_oses.remove('brume')"
    printed, error, value = run_example("sketchpad", before=before,
                                        after="{!r} in sys.modules".format(MODULES["sketchpad"]))
    assert printed == ""
    assert error[0] == "AssertionError" and error[1].startswith("Unknown OS brume, must be one of [")
    assert value is False


# ---- specimen --------------------------------------------------------------------------------

OWN_LSP = "wend.00-00" + " " * 10 + "*"


def lsp(lsp_id, seq, checksum, holdtime):
    return {"LSPID": lsp_id, "LSP Seq Num": seq, "LSP Checksum": checksum, "LSP Holdtime": holdtime,
            "ATT/P/OL": "0/0/0"}


SPECIMEN_ENTRIES = {
    1: {OWN_LSP: lsp(OWN_LSP, 8, 0xf9fd, "1003"), "wendbfd.00-00": lsp("wendbfd.00-00", 4, 0x8f36, "862")},
    2: {OWN_LSP: lsp(OWN_LSP, 9, 0x351a, "1003"), "wend.01-00": lsp("wend.01-00", 2, 0x0ead, "922")},
}
SPECIMEN_COMMAND = "\nThe following commands were just executed on the device : call('show isis database')\n\n"


def test_specimen_prints_the_command_and_the_passed_test_with_its_entries():
    printed, error, entries = run_example("specimen", after="example.result.entries")
    assert error is None
    assert entries == SPECIMEN_ENTRIES
    # the printed structure is the interpreter's pretty print, so types show too
    assert printed == SPECIMEN_COMMAND + "Test passed\n" + pprint.pformat(SPECIMEN_ENTRIES) + "\n"


# a parse that comes out otherwise, made by a parser between the example's class and the package's
LOSSY_PARSER = """
import mirel.textloom as package

class lossy_t(package.oper_fill_tabular):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        entries = self.entries
        {}

package.oper_fill_tabular = lossy_t
"""


@pytest.mark.parametrize("change", [
    "del entries[2]",
    "del entries[2]['wend.01-00']",
    "del entries[2]['wend.01-00']['LSP Holdtime']",
    "entries[2]['wend.01-00']['LSP Holdtime'] = '921'",
    "entries[2]['wend.01-00']['LSP Holdtime'] = 922",
    "entries['2'] = entries.pop(2)",
])
def test_specimen_missing_or_other_holdtime_fails_the_test(change):
    printed, error, _ = run_example("specimen", before=LOSSY_PARSER.format(change))
    assert error is None
    assert printed == SPECIMEN_COMMAND + "Test failed\n"


def test_specimen_lookup_error_other_than_a_missing_key_ends_the_import():
    printed, error, _ = run_example("specimen", before=LOSSY_PARSER.format("entries[2] = []"))
    assert printed == SPECIMEN_COMMAND
    assert error == ("TypeError", "list indices must be integers or slices, not str")


def test_specimen_device_calls_and_stored_output():
    after = """(
        {}, example.dev1.os is example.result._device_os,
        core.text_to_parse[example.dev1.name] == example.third_show_command_output_example + '\\n',
        CmdCache.cache[example.dev1.name] is example.third_show_command_output_example)""".format(
        calls("example.dev1.mock_calls"))
    _, error, value = run_example("specimen", before="import mirel.textloom.core as core\n"
                                  "from mirel.textloom._textloom import CmdCache", after=after)
    assert error is None
    assert value == ([((), {"alias": None}), (("show isis database",), {})], True, True, True)


def test_specimen_sample_output(sample):
    _, error, text = run_example("specimen", after="example.third_show_command_output_example")
    assert error is None
    lines = text.split("\n")
    assert len(text) == 695 and lines[0] == "" and lines[-1] == "" and len(lines) == 18
    assert lines[1] == "ND/0/0/PRC0:wend#show isis database"
    headers = [line for line in lines if line.startswith("LSPID")]
    rows = [line for line in lines if line.startswith("wend")]
    assert len(headers) == 2 and len(rows) == 4
    assert all([h.find(w) for w in ("LSPID", "LSP Seq Num", "LSP Checksum", "LSP Holdtime", "ATT/P/OL")]
               == [0, 22, 35, 49, 63] and len(h) == 71 for h in headers)
    assert all(len(r) == 70 and r[22:24] == r[35:37] == "0x" and r[65:] == "0/0/0" for r in rows)
    assert [r[20] for r in rows] == ["*", " ", "*", " "]


SPECIMEN_CLASS = """(
    cls.__module__, cls.__qualname__, cls.__doc__, [c.__name__ for c in cls.__mro__],
    [n for n in vars(cls) if not n.startswith('__') or n == '__init__'],
    list(cls.field_mapping), cls.field_mapping['LSPID'] is str,
    cls.field_mapping['LSP Seq Num'] is cls.field_mapping['LSP Checksum'] is example._hexint,
    cls.field_mapping['LSP Holdtime'], cls.table_title_mapping == [int] and cls.table_title_mapping[0] is int,
    example._hexint.__module__, example.cleanupLspId.__module__)"""


def test_specimen_parser_class():
    _, error, value = run_example("specimen", after="(cls := example.my_isis_database_column_parser_t) and "
                                  + SPECIMEN_CLASS)
    assert error is None
    assert value == (MODULES["specimen"], "my_isis_database_column_parser_t", None,
                     ["my_isis_database_column_parser_t", "oper_fill_tabular", "column_table_result_core_t",
                      "column_result_t", "object"],
                     ["field_mapping", "table_title_mapping", "__init__", "cleanup_entry_field"],
                     ["LSPID", "LSP Seq Num", "LSP Checksum", "LSP Holdtime"], True, True, None, True,
                     MODULES["specimen"], MODULES["specimen"])


# expression evaluated after the import, expected value or raised error
@pytest.mark.parametrize("expression, expected", [
    ("example._hexint('0x00000008')", 8),
    ("example._hexint(val='0xf9fd')", 63997),
    ("example._hexint(' 0ead ')", 3757),
    ("example._hexint('wend')", ("ValueError", "invalid literal for int() with base 16: 'wend'")),
    ("example._hexint()", ("TypeError", "_hexint() missing 1 required positional argument: 'val'")),
    ("example.cleanupLspId(field=text) is text", True),
    ("example.result.cleanup_entry_field('LSPID', text) is text", True),
    ("example.result.cleanup_entry_field(header='LSP Holdtime', field=text) is text", True),
    # cleanupLspId is looked up when the hook runs
    ("setattr(example, 'cleanupLspId', str.upper) or example.result.cleanup_entry_field('LSPID', 'ab')", "AB"),
    ("setattr(example, 'cleanupLspId', str.upper) or example.result.cleanup_entry_field('ATT/P/OL', 'ab')", "ab"),
    ("vars(example.my_isis_database_column_parser_t(show_command='show isis database', device=example.dev1))"
     "['entries'] == example.result.entries", True),
    ("example.my_isis_database_column_parser_t(example.dev1)",
     ("TypeError", "my_isis_database_column_parser_t.__init__() missing 1 required positional argument: "
                   "'show_command'")),
])
def test_specimen_functions_and_hooks(expression, expected):
    after = "(text := ''.join(['wend', '.00-00'])) and outcome(lambda: {})".format(expression)
    before = """
        def outcome(f):
            try:
                return f()
            except Exception as e:
                return type(e).__name__, str(e)
    """
    _, error, value = run_example("specimen", before=before, after=after)
    assert error is None
    assert value == expected
