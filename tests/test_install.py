"""The package installed elsewhere: pip installs a copy of the clone and its
stand-ins into a fresh venv, which then works from a directory outside the
clone, with no path set."""
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

from helpers import ROOT, SAMPLES

pytestmark = [
    pytest.mark.slow,
    # the run under the sanitizers would only build and install the same again
    pytest.mark.skipif(bool(os.environ.get("TEXTLOOM_SANITIZE")), reason="not rerun under the sanitizers"),
]

EXAMPLES = "mirel.textloom.examples.textloom."


def copy_of_the_clone(target):
    """The files a fresh clone of the working tree would hold: no build, no .venv."""
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                            capture_output=True, check=True).stdout.decode().split("\0")
    for name in filter(None, listed):
        source = os.path.join(ROOT, name)
        if os.path.isfile(source):
            os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
            shutil.copy2(source, os.path.join(target, name))


def files_under(top):
    return {os.path.relpath(os.path.join(path, name), top)
            for path, dirs, files in os.walk(top) for name in dirs + files}


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    """Runs Python code in the fresh venv, from an empty directory outside the clone."""
    top = tmp_path_factory.mktemp("install")
    clone, venv, elsewhere = top / "textloom", top / "venv", top / "elsewhere"
    copy_of_the_clone(clone)
    elsewhere.mkdir()
    env = {name: value for name, value in os.environ.items() if name not in ("PYTHONPATH", "VIRTUAL_ENV")}
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True, env=env)
    python = str(venv / "bin" / "python")
    before = files_under(clone)
    done = subprocess.run([python, "-m", "pip", "install", "--quiet", str(clone), str(clone / "standins")],
                          cwd=elsewhere, env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr

    def run(code):
        done = subprocess.run([python, "-c", textwrap.dedent(code)], cwd=elsewhere, env=env,
                              capture_output=True, text=True)
        assert done.returncode == 0, done.stdout + done.stderr
        return done.stdout + done.stderr

    run.venv = str(venv)
    run.added_to_the_clone = sorted(files_under(clone) - before)
    return run


def test_the_install_leaves_the_clone_as_it_was(installed):
    # the build runs in a directory of its own, not in build/ of the clone
    assert installed.added_to_the_clone == []


def test_the_package_and_its_stand_ins_import_from_the_venv(installed):
    out = installed("""
        import mirel.textloom, mirel.textloom.core, mirel.verdix, ryn.tcl
        for module in (mirel.textloom, mirel.textloom.core, mirel.verdix, ryn.tcl):
            print(module.__file__)
        print(ryn.tcl.eval("package require vorq"))
    """).splitlines()
    assert all(path.startswith(installed.venv + os.sep) for path in out[:4]), out
    assert out[4] == "1.0"


def test_a_readme_snippet(installed):
    out = installed("""
        import mirel.textloom.core as core
        from mirel.textloom import ext_dictio, extend_markup, oper_check

        core.extend({"brume": {"show.intf.mtu": r"^\\s+MTU (\\d+) bytes"}},
                    {"brume": {"SHOW_IP_INTF": "show {=ip} interface {}"}}, {"brume": ["show.intf.mtu"]})
        print(core._get_show_command("brume", ("SHOW_IP_INTF", [None, "mgmt0"])))
        text = open(%r).read()
        print(oper_check(attrvalpairs=[("show.intf.mtu", "1500")], device_output=text, device_os="brume").parse(),
              ext_dictio["device_name"])
    """ % os.path.join(SAMPLES, "interface.txt"))
    assert out.splitlines() == ["show ip interface mgmt0", "True {'show.intf.mtu': '1500'}"]


@pytest.mark.parametrize("module, shows", [
    ("orVexStandaloneUt.specimen", "Test passed"),
    ("orVexStandaloneUt.phrasebook", "executed on the BRUME device : call('show ip interface GigabitEthernet0/0/0/1')"),
    # prints nothing: what it registered shows in the registry
    ("demo.sketchpad", "show interface {ifname}"),
])
def test_the_examples_import(installed, module, shows):
    out = installed("""
        import mirel.textloom.core as core
        import %s
        print(core._glb_show_commands.get("brume"))
    """ % (EXAMPLES + module))
    assert shows in out


@pytest.mark.parametrize("job, testbed", [("errand", "vm2.json"), ("courier", "vm4.json")])
def test_the_jobs_run(installed, job, testbed):
    out = installed("""
        import logging
        from ryn import testbed
        from mirel.textloom.examples.textloom.orVex import %s
        logging.basicConfig(level=logging.INFO, format="%%(name)s: %%(message)s")
        testbed.configure(%r)
        %s.main()
    """ % (job, os.path.join(SAMPLES, "testbeds", testbed), job))
    assert "ryn.vettle: vettle report for rehearsal: passed (6 passed, 0 blocked, 0 failed, 0 errored)" in out
