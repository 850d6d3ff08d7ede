"""The stand-in framework ryn: harness, job runner, testbed, Tcl bridge, vorq."""

import logging
import pathlib
import textwrap

import pytest

from ryn import runlet, tcl, testbed, vettle
from ryn.log.utils import banner

import helpers
from helpers import run_python

SAMPLES = pathlib.Path(helpers.SAMPLES) / "ryn"
INTERFACE = (SAMPLES / "brume_interface.txt").read_text()


def write_script(tmp_path, body, name="script.py"):
    path = tmp_path / name
    path.write_text(textwrap.dedent(body))
    return path


@pytest.fixture
def no_configured_testbed(monkeypatch):
    monkeypatch.delenv("RYN_TESTBED", raising=False)
    testbed.configure(None)
    yield
    testbed.configure(None)


def lab(**device):
    return {"name": "lab", "devices": {"R1": {"os": "brume", **device}}}


# --- harness ---------------------------------------------------------------

ORDER_SCRIPT = '''
    from ryn import vettle

    parameters = {"mtu": 1400, "if_name": "from-module"}

    class late_cleanup(vettle.CommonCleanup):
        @vettle.subsection
        def bye(self, calls):
            calls.append("bye")

    class tc_b(vettle.Testcase):
        @vettle.cleanup
        def tidy(self, calls):
            calls.append("tidy")

        @vettle.test
        def check(self, calls, uut, if_name, mtu, testbed, absent="kept default"):
            calls.append(("check", uut, if_name, mtu, testbed.name, absent))

        @vettle.setup
        def prepare(self, calls):
            calls.append(("prepare", self.parameters))

        @vettle.test
        def needs_unknown(self, calls, nowhere):
            calls.append("never")

    class setup_(vettle.CommonSetup):
        @vettle.subsection
        def first(self, calls, mtu):
            calls.append(("first", mtu, "uut" in parameters))
            self.parameters["step"] = 1
            parameters["uut"] = "the-device"

        @vettle.subsection
        def second(self, calls, uut):
            self.parameters["step"] += 1
            calls.append(("second", uut, self.parameters["step"]))
'''


def test_sections_run_in_order_with_the_arguments_they_name(tmp_path, no_configured_testbed):
    calls = []
    report = runlet.run(testscript=str(write_script(tmp_path, ORDER_SCRIPT)),
                        testbed=lab(), calls=calls, if_name="mgmt0")
    # common setup first and common cleanup last whatever the file order; in a
    # testcase setup, tests, cleanup; job keywords win over module parameters,
    # which are read as the earlier sections left them
    assert calls == [
        ("first", 1400, False),
        ("second", "the-device", 2),
        ("prepare", {}),
        ("check", "the-device", "mgmt0", 1400, "lab", "kept default"),
        "tidy",
        "bye",
    ]
    verdicts = [(s.container, s.name, s.verdict) for s in report.sections]
    assert verdicts == [
        ("setup_", "first", "passed"), ("setup_", "second", "passed"),
        ("tc_b", "prepare", "passed"), ("tc_b", "check", "passed"),
        ("tc_b", "needs_unknown", "errored"), ("tc_b", "tidy", "passed"),
        ("late_cleanup", "bye", "passed"),
    ]
    assert isinstance(report.sections[4].error, TypeError)
    assert report.verdict == "errored"
    assert report.script == "script"


VERDICT_SCRIPT = '''
    from ryn import vettle

    def act(self, mode):
        if mode == "fail":
            try:
                self.failed()
            except Exception:
                pass
            raise AssertionError("failed() returned into the section")
        if mode == "raise":
            raise KeyError("boom")

    class cs(vettle.CommonSetup):
        @vettle.subsection
        def first(self, cs_mode):
            act(self, cs_mode)

        @vettle.subsection
        def second(self):
            pass

    class tc(vettle.Testcase):
        @vettle.setup
        def prepare(self, tc_mode):
            act(self, tc_mode)

        @vettle.test
        def failing(self):
            self.failed("on purpose")

        @vettle.test
        def passing(self):
            pass

        @vettle.cleanup
        def tidy(self):
            pass

    class cc(vettle.CommonCleanup):
        @vettle.subsection
        def bye(self):
            pass
'''

P, F, E, B = "passed", "failed", "errored", "blocked"


@pytest.mark.parametrize("cs_mode, tc_mode, verdicts, overall", [
    ("pass", "pass", [P, P, P, F, P, P, P], F),
    ("fail", "pass", [F, B, B, B, B, B, P], F),
    ("raise", "pass", [E, B, B, B, B, B, P], E),
    ("pass", "fail", [P, P, F, B, B, P, P], F),
    ("pass", "raise", [P, P, E, B, B, P, P], E),
])
def test_verdicts_and_blocking(tmp_path, caplog, no_configured_testbed,
                               cs_mode, tc_mode, verdicts, overall):
    caplog.set_level(logging.INFO, logger="ryn.vettle")
    report = runlet.run(testscript=write_script(tmp_path, VERDICT_SCRIPT),
                        cs_mode=cs_mode, tc_mode=tc_mode)
    assert [s.verdict for s in report.sections] == verdicts
    assert report.verdict == overall
    errors = [s.error for s in report.sections if s.verdict == E]
    assert all(isinstance(error, KeyError) for error in errors)
    # the report is logged as well as returned
    assert str(report) in caplog.messages
    assert ("tc.failing: failed (on purpose)" in str(report)) == (verdicts[3] == F)


def test_sections_keep_their_names_and_order():
    class tc(vettle.Testcase):
        @vettle.setup
        def a(self):
            " doc of a "

        @vettle.test
        def b(self):
            pass

        def helper(self):
            pass

        @vettle.cleanup
        def c(self):
            pass

    assert vettle.sections(tc) == [("a", "setup"), ("b", "test"), ("c", "cleanup")]
    assert tc.a.__doc__ == " doc of a " and tc.a.__name__ == "a"


MAIN_SCRIPT = '''
    from ryn import vettle

    class cs(vettle.CommonSetup):
        @vettle.subsection
        def show(self, testbed, uut_name, mtu, fields, title):
            print(repr((sorted(testbed.devices), uut_name, mtu, fields, title)))

    if __name__ == "__main__":
        print("report verdict:", vettle.main().verdict)
'''


def test_main_runs_the_main_program_with_command_line_parameters(tmp_path):
    script = write_script(tmp_path, MAIN_SCRIPT)
    done = run_python(script, "--testbed", str(SAMPLES / "testbed.json"), "--uut_name", "brume-1",
                      "--mtu", "1500", '--fields=["Address", "Age"]', "--title", "null")
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "(['brume-1', 'no-tcl', 'unnamed-os'], 'brume-1', 1500, ['Address', 'Age'], None)",
        "report verdict: passed",
    ]
    assert "vettle report for script: passed" in done.stderr


TESTBED_SCRIPT = '''
    from ryn import vettle

    class cs(vettle.CommonSetup):
        @vettle.subsection
        def look(self, testbed, seen):
            seen.append(testbed.name)
'''


@pytest.mark.parametrize("how", ["keyword", "configure", "environment"])
def test_run_takes_the_testbed_from_keyword_setting_or_environment(tmp_path, monkeypatch,
                                                                   no_configured_testbed, how):
    seen = []
    keywords = {"seen": seen}
    path = SAMPLES / "testbed.json"
    if how == "keyword":
        keywords["testbed"] = path
    elif how == "configure":
        testbed.configure(path)
    else:
        monkeypatch.setenv("RYN_TESTBED", str(path))
    report = runlet.run(testscript=write_script(tmp_path, TESTBED_SCRIPT), **keywords)
    assert report.verdict == "passed"
    assert seen == ["standin-lab"]


def test_run_without_a_testbed_errors_the_sections_that_need_one(tmp_path, no_configured_testbed):
    report = runlet.run(testscript=write_script(tmp_path, TESTBED_SCRIPT), seen=[])
    assert report.verdict == "errored"
    assert isinstance(report.sections[0].error, TypeError)


# --- testbed, devices, connections -------------------------------------------

def test_testbed_file_gives_devices_with_canned_outputs():
    bed = testbed.load(SAMPLES / "testbed.json")
    device = bed.devices["brume-1"]
    assert device.name == "brume-1" and device.os == "brume"
    device.connect()
    assert device.execute("show interface mgmt0") == INTERFACE
    assert device.execute("show clock") == "10:15:42.123 UTC Tue Mar 05 2024\n"
    assert device.execute("show version") is None
    assert device.execute("show nothing") == ""
    assert device.connectionmgr.default.history == [
        "show interface mgmt0", "show clock", "show version", "show nothing"]
    assert not hasattr(bed.devices["unnamed-os"], "os")
    with pytest.raises(KeyError):
        bed.devices["VM-9"]


def test_default_connection():
    device = testbed.load(lab()).devices["R1"]
    assert not device.is_connected()
    assert not hasattr(device, "execute") and not hasattr(device, "handle")
    connection = device.connect()
    assert device.connect() is connection is device.connectionmgr.default
    assert device.is_connected() and device.is_connected(alias=None)
    assert not device.is_connected(alias="myuut")
    assert device.execute == device.connectionmgr.default.execute
    assert device.handle == connection.handle


def test_aliased_connection():
    device = testbed.load(lab(outputs={"show clock": "now"})).devices["R1"]
    device.connect(alias="myuut")
    assert device.myuut is device.connectionmgr.myuut
    assert device.myuut.execute == device.connectionmgr.myuut.execute
    assert device.is_connected(alias="myuut") and not device.is_connected()
    # the device's own command call is that of the default connection only
    assert not hasattr(device, "execute") and not hasattr(device, "handle")
    assert device.myuut.execute("show clock") == "now"
    device.connect()
    assert device.execute != device.myuut.execute
    assert device.handle != device.myuut.handle
    with pytest.raises(AttributeError):
        device.connectionmgr.other


@pytest.mark.parametrize("alias", ["execute", "name", "connect", "my uut", "a.b"])
def test_alias_that_cannot_name_a_connection(alias):
    device = testbed.Device("R1")
    with pytest.raises(ValueError):
        device.connect(alias=alias)
    assert not device.connectionmgr.connections


@pytest.mark.parametrize("description", [
    {"devices": {"R1": {"os": "brume", "output": {}}}},
    {"devices": {"R1": {"outputs": {"show x": {"file": "missing.txt"}}}}},
])
def test_bad_testbed_description(description, tmp_path):
    with pytest.raises((ValueError, FileNotFoundError)):
        testbed.load(description, base_dir=tmp_path)


def test_file_outputs_are_relative_to_base_dir_and_keep_line_ends(tmp_path):
    (tmp_path / "out.txt").write_bytes(b"line one\r\nline two\r\n")
    device = testbed.load(lab(outputs={"show x": {"file": "out.txt"}}), base_dir=tmp_path).devices["R1"]
    device.connect()
    assert device.execute("show x") == "line one\r\nline two\r\n"


def test_without_tkinter_the_bridge_fails_to_import_and_devices_have_no_handle():
    done = run_python(textwrap.dedent('''
        import sys
        sys.modules["tkinter"] = None
        try:
            import ryn.tcl
        except ImportError:
            print("no bridge")
        from ryn import testbed
        device = testbed.Device("R1", {"show clock": "now"}, os="brume")
        device.connect()
        print(hasattr(device, "handle"), device.execute("show clock"))
    '''))
    assert done.stdout.splitlines() == ["no bridge", "False now"], done.stderr


def test_banner_frames_every_line():
    lines = banner("STEP 1: Device Connection\nsecond").splitlines()
    assert len(lines) == 4 and len(set(map(len, lines))) == 1
    assert "STEP 1: Device Connection" in lines[1] and "second" in lines[2]


# --- Tcl bridge --------------------------------------------------------------

def connected(**device):
    dev = testbed.Device("R1", **device)
    dev.connect()
    return dev


def test_handle_answers_get_os_type_and_exec():
    device = connected(outputs={"show clock": "10:00 {UTC}", "show version": None},
                       tcl_os="BRUME")
    handle = device.handle
    # what the package's operating-system detection evaluates
    assert tcl.eval("{} get_os_type".format(handle)).lower() == "brume"
    assert tcl.eval("%s exec {show clock}" % handle) == "10:00 {UTC}"
    assert tcl.eval("%s exec {show other}" % handle) == ""
    assert device.connectionmgr.default.history == ["show clock", "show other"]


@pytest.mark.parametrize("words, message", [
    ("exec {show version}", 'no output for "show version"'),
    ("get_os_type", "operating system is not known"),
    ("reboot", "usage:"),
    ("exec", "usage:"),
])
def test_handle_errors_are_tcl_errors_with_a_message(words, message):
    handle = connected(outputs={"show version": None}).handle
    with pytest.raises(tcl.TclError, match=message):
        tcl.eval("%s %s" % (handle, words))
    assert tcl.eval("catch {%s %s} m" % (handle, words)) == "1"


def test_q_maps_keywords_to_options_and_gives_an_integer_status():
    tcl.eval("proc ryn_test_echo {args} {return [list 0 {*}$args]}")
    result = tcl.q.ryn_test_echo("first", device="h 1", exec="show interface mgmt0")
    assert result == (0, "first", "-device", "h 1", "-exec", "show interface mgmt0")
    assert isinstance(result[0], int) and not result[0]
    tcl.eval("proc ryn_test_plain {args} {return hello}")
    with pytest.raises(tcl.TclError, match="status"):
        tcl.q.ryn_test_plain()
    with pytest.raises(tcl.TclError):
        tcl.q.ryn_test_no_such_command()


@pytest.mark.parametrize("text, expected", [
    ("", {}),
    ("{mtu 1500} {if_name mgmt0}", {"mtu": "1500", "if_name": "mgmt0"}),
    ("{reason {no interface found}} {rx.bytes 22451}",
     {"reason": "no interface found", "rx.bytes": "22451"}),
    ("{a 1} {a 2}", {"a": "2"}),
    ("{empty {}}", {"empty": ""}),
])
def test_keyed_list_from_tcl(text, expected):
    assert dict(tcl.KeyedList.from_tcl(text)) == expected


@pytest.mark.parametrize("text", ["{a 1 2}", "{lonely}", "{a {1}"])
def test_keyed_list_rejects_malformed_text(text):
    with pytest.raises((ValueError, tcl.TclError)):
        tcl.KeyedList.from_tcl(text)


# --- vorq --------------------------------------------------------------------

VORQ_FIELDS = {
    "if_name": "mgmt0", "line_protocol": "up", "admin_state": "up",
    "hardware": "Ethernet", "mac_address": "5254.0070.0dff", "bia_address": "5254.0070.0dff",
    "ip_address": "10.10.10.5", "mtu": "1500", "dly": "10",
    "reliability": "255/255", "txload": "1/255", "rxload": "1/255",
    "encapsulation": "ARPA", "medium": "broadcast", "port_mode": "routed",
    "duplex": "auto", "speed": "auto", "auto_negotiation": "on", "auto_mdix": "off",
    "ether_type": "0x0000",
    "input_bits_sec_60": "112", "input_packets_sec_60": "0",
    "output_bits_sec_60": "24", "output_packets_sec_60": "0",
    "input_packets": "71", "rx.unicast": "2", "rx.multicast": "68",
    "rx.broadcast": "1", "rx.bytes": "22451",
    "output_packets": "33", "tx.unicast": "1", "tx.multicast": "29",
    "tx.broadcast": "3", "tx.bytes": "6527",
}


def abstract(output):
    device = connected(outputs={"show interface mgmt0": output})
    tcl.eval("package require vorq")
    return tcl.q.abstract(device=device.handle, exec="show interface mgmt0")


@pytest.mark.parametrize("output", [
    INTERFACE,
    INTERFACE.replace("\n", "\r\n"),
    INTERFACE + INTERFACE.replace("mgmt0", "eth1").replace("1500", "9000"),
])
def test_vorq_parses_the_interface_sample(output):
    status, keyed = abstract(output)
    assert status == 1
    fields = dict(tcl.KeyedList.from_tcl(keyed))
    assert fields == VORQ_FIELDS
    # coverage differs from the package's registration on purpose
    assert "bw" not in fields and "medium" in fields


@pytest.mark.parametrize("output, reason", [
    (None, 'no output for "show interface mgmt0"'),
    ("% Invalid command\n", "no interface"),
    ("", "no interface"),
])
def test_vorq_reports_failure_with_a_reason(output, reason):
    status, keyed = abstract(output)
    assert status == 0 and not status
    assert reason in tcl.KeyedList.from_tcl(keyed)["reason"]


@pytest.mark.parametrize("options, message", [
    ({"device": "h"}, "missing option -exec"),
    ({"exec": "show x"}, "missing option -device"),
    ({"device": "h", "exec": "x", "verbose": "1"}, "bad option"),
])
def test_vorq_rejects_wrong_options(options, message):
    tcl.eval("package require vorq")
    with pytest.raises(tcl.TclError, match=message):
        tcl.q.abstract(**options)
