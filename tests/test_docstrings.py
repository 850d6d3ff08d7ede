"""The help texts: every function, class and method of core and _textloom has
one, and every >>> example in the help texts of the package's modules runs
as written, each in fresh globals.  The example modules do their work at
import, so theirs run in a fresh interpreter."""
import json

import pytest

import mirel.textloom as package
import mirel.textloom._textloom as textloom_module
import mirel.textloom.core as core_module
from help_texts import failures, help_texts
from helpers import run_python

EXAMPLE_MODULES = [
    "mirel.textloom.examples.textloom.orVexStandaloneUt.specimen",
    "mirel.textloom.examples.textloom.orVexStandaloneUt.phrasebook",
    "mirel.textloom.examples.textloom.demo.sketchpad",
    # the demonstration's test scripts and jobs: importing them runs no section and no job
    "mirel.textloom.examples.textloom.orVex.rehearsal",
    "mirel.textloom.examples.textloom.orVex.understudy",
    "mirel.textloom.examples.textloom.orVex.errand",
    "mirel.textloom.examples.textloom.orVex.courier",
]

MODULES = [(package, False), (core_module, True), (textloom_module, True)]
EXAMPLES = [(name, text) for module, members in MODULES for name, text in help_texts(module, members)
            if text and ">>>" in text]


def test_every_callable_has_a_help_text():
    missing = [name for module in (core_module, textloom_module) for name, text in help_texts(module)
               if name != module.__name__ and not text]
    assert missing == []


@pytest.mark.parametrize("name, text", EXAMPLES, ids=[name for name, _ in EXAMPLES])
def test_examples_run(name, text):
    assert failures(name, text) == ""


@pytest.mark.parametrize("name", EXAMPLE_MODULES)
def test_example_module_help_texts(name):
    run = run_python(f"""
import contextlib, importlib, io, json, sys
sys.path.insert(0, "tests")
from help_texts import failures, help_texts
with contextlib.redirect_stdout(io.StringIO()):
    module = importlib.import_module({name!r})
print(json.dumps({{"doc": module.__doc__,
                   "main": module.main.__doc__ if hasattr(module, "main") else "(no main)",
                   "failures": {{n: failures(n, t) for n, t in help_texts(module) if t and ">>>" in t}}}}))
""")
    assert run.returncode == 0, run.stderr
    result = json.loads(run.stdout)
    assert result["doc"]
    assert result["main"]  # the jobs' entry function
    assert {n: report for n, report in result["failures"].items() if report} == {}
