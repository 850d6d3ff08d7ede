"""The job modules errand and courier: what main() hands the job runner, how
the modules load, and both jobs run end to end on the stand-in testbeds."""
import logging
import os

import pytest

from helpers import ROOT, SAMPLES, run_python
from mirel.textloom.examples.textloom.orVex import courier, errand
from ryn import runlet, testbed

ORVEX = os.path.join(ROOT, "mirel", "textloom", "examples", "textloom", "orVex")

KEYWORDS = {
    errand: [("uut_name", "VM-2"), ("stdby_name", "notreallyadevice"), ("if_name", "MgmtEth0/0/CPU0/0"),
             ("mtu", 1514),
             ("show_arp_header_fields", ["Address", "Age", "Hardware Addr", "State", "Type", "Interface"]),
             ("show_arp_table_parse_index", [0, 5]), ("show_arp_table_title_pattern", r"^(\d+/\d+/CPU\d+)")],
    courier: [("uut_name", "VM-4"), ("stdby_name", "notreallyadevice"), ("if_name", "mgmt0"), ("mtu", 1500),
              ("show_arp_header_fields", ["Address", "Age", "MAC Address", "Interface"]),
              ("show_arp_table_parse_index", [0, 3]), ("show_arp_table_title_pattern", None)],
}
JOBS = pytest.mark.parametrize("job", [errand, courier], ids=["errand", "courier"])


@pytest.fixture
def runs(monkeypatch):
    """Replaces the job modules' `run` with a recorder of its calls."""
    calls = []

    def run(*args, **kwargs):
        calls.append((args, list(kwargs.items())))
        return "ignored"

    for job in (errand, courier):
        monkeypatch.setattr(job, "run", run)
    return calls


@JOBS
def test_main_hands_run_the_script_beside_the_module_and_its_parameters(job, runs):
    assert job.main() is None
    script = os.path.dirname(os.path.abspath(job.__file__)) + "/rehearsal.py"
    assert runs == [((), [("testscript", script)] + KEYWORDS[job])]
    assert os.path.isfile(script)
    kwargs = dict(runs[0][1])
    assert type(kwargs["mtu"]) is int
    assert type(kwargs["show_arp_header_fields"]) is list and type(kwargs["show_arp_table_parse_index"]) is list


@JOBS
def test_script_path_comes_from_file_at_call_time(job, runs, monkeypatch, tmp_path):
    monkeypatch.setattr(job, "__file__", "/a/b/any-name.ext")
    job.main()
    monkeypatch.setattr(job, "__file__", os.path.join("rel", "job.so"))
    monkeypatch.chdir(tmp_path)
    job.main()
    assert [dict(kwargs)["testscript"] for _, kwargs in runs] == [
        "/a/b/rehearsal.py", str(tmp_path / "rel") + "/rehearsal.py"]


@JOBS
def test_each_call_builds_new_lists(job, runs):
    job.main()
    job.main()
    first, second = (dict(kwargs) for _, kwargs in runs)
    assert first == second
    assert first["show_arp_header_fields"] is not second["show_arp_header_fields"]
    assert first["show_arp_table_parse_index"] is not second["show_arp_table_parse_index"]


@JOBS
def test_main_takes_no_argument_and_lets_errors_through(job, runs, monkeypatch):
    with pytest.raises(TypeError):
        job.main(1)
    with pytest.raises(TypeError):
        job.main(testscript="x")
    assert runs == []

    def broken(**kwargs):
        raise LookupError("no such script")

    monkeypatch.setattr(job, "run", broken)
    with pytest.raises(LookupError, match="no such script"):
        job.main()


LOAD_PROBE = r'''
import sys, types
from ryn import runlet
calls = []
runlet.run = lambda **kwargs: calls.append(kwargs)
from mirel.textloom.examples.textloom.orVex import errand, courier
for job in (errand, courier):
    print([name for name in vars(job) if not name.startswith("__")], job.run is runlet.run, bool(job.__doc__))
print(calls)
'''


def test_import_binds_os_run_and_main_and_runs_nothing():
    result = run_python(LOAD_PROBE)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["['os', 'run', 'main'] True True"] * 2 + ["[]"]


@pytest.mark.parametrize("setup, error", [
    ("import sys, types; sys.modules['ryn.runlet'] = types.ModuleType('ryn.runlet')",
     "ImportError: cannot import name 'run' from 'ryn.runlet' (unknown location)"),
    ("import sys; sys.modules['ryn.runlet'] = None", "ModuleNotFoundError: import of ryn.runlet halted"),
])
@pytest.mark.parametrize("name", ["errand", "courier"])
def test_import_fails_without_the_job_runner(setup, error, name):
    result = run_python(setup + "\nfrom mirel.textloom.examples.textloom.orVex import " + name)
    assert result.returncode == 1
    assert result.stderr.strip().splitlines()[-1].startswith(error)


# --- end to end ------------------------------------------------------------------

TESTBEDS = {errand: "vm2.json", courier: "vm4.json"}
NODES = {errand: ["0/0/CPU0", "0/1/CPU0"], courier: None}


@pytest.fixture
def configured():
    yield lambda name: testbed.configure(os.path.join(SAMPLES, "testbeds", name))
    testbed.configure(None)


@JOBS
def test_job_runs_rehearsal_end_to_end(job, configured, monkeypatch, caplog, demo_registrations):
    caplog.set_level(logging.INFO)
    configured(TESTBEDS[job])
    reports = []
    monkeypatch.setattr(job, "run", lambda **kwargs: reports.append(runlet.run(**kwargs)))
    job.main()
    (report,) = reports
    assert report.script == "rehearsal"
    assert [(s.container, s.name, s.verdict) for s in report.sections] == [
        ("common_setup", "connect", "passed"), ("common_setup", "show_exec", "passed"),
        ("tc_one", "tc_one_setup", "passed"), ("tc_one", "tclPythonNonTabularParsingComparison", "passed"),
        ("tc_one", "pythonTabularParsing", "passed"), ("tc_one", "do_some_cleaning", "passed")]
    messages = [(r.levelname, r.getMessage()) for r in caplog.records if r.name == "rehearsal"]
    if_name, mtu = dict(KEYWORDS[job])["if_name"], dict(KEYWORDS[job])["mtu"]
    # the first check passes with the integer MTU; the second, on "show interface ", finds nothing
    checked = {"show.intf.if_name": if_name, "show.intf.line_protocol": "up", "show.intf.admin_state": "up",
               "show.intf.mtu": str(mtu)}
    assert ("INFO", "Parsing details : {}".format(checked)) in messages
    assert [level for level, _ in messages].count("ERROR") == 1
    assert ("INFO", "\nKeys present in Python but not present in TCL : {'show.intf.bw'}") in messages
    table = messages[-2][1]
    assert table.startswith("Tabular parse result:\n{")
    entries = eval(table[len("Tabular parse result:\n"):])
    if NODES[job]:
        assert list(entries) == NODES[job]
        assert entries["0/1/CPU0"]["192.168.2.1"]["GigabitEthernet0/1/0/0"]["State"] == "Dynamic"
    else:
        assert entries["10.10.10.1"]["mgmt0"] == {"Address": "10.10.10.1", "Age": "0:00:12", "MAC Address":
                                                  "5254.0070.0001", "Interface": "mgmt0"}
