"""The READMEs' code blocks run as written (sybil): in order, as one session
started from the clone's root; what a Python example shows is what it gives,
a shell block succeeds and prints the lines its "#> " comments name."""
import doctest
import os
import pathlib
import re
import subprocess
import unittest

import pytest
from sybil import Sybil
from sybil.example import SybilFailure
from sybil.parsers.markdown import CodeBlockParser, PythonCodeBlockParser, SkipParser

from helpers import ROOT

LANGUAGES = {"python", "sh"}


def run_shell(example):
    """Runs a shell block in bash from the clone's root. It must succeed, and
    its output must show the text of each of its "#> " lines, in that order."""
    done = subprocess.run(["bash", "-euo", "pipefail", "-c", example.parsed], cwd=ROOT,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode:
        return "exit status %d; output:\n%s" % (done.returncode, done.stdout)
    position = 0
    for line in example.parsed.splitlines():
        if line.startswith("#> "):
            found = done.stdout.find(line[3:], position)
            if found < 0:
                return "no %r in the output after offset %d:\n%s" % (line[3:], position, done.stdout)
            position = found + len(line) - 3
    return None


READMES = Sybil(parsers=[PythonCodeBlockParser(doctest_optionflags=doctest.ELLIPSIS),
                         CodeBlockParser("sh", run_shell),
                         SkipParser()])


@pytest.mark.parametrize("name", ["README.md", "standins/README.md"])
def test_readme_runs_as_written(name, monkeypatch):
    path = pathlib.Path(ROOT, name)
    # a fence in any other language (or none) would not run
    fences = re.findall(r"^```([^\n]*)\n.*?^```$", path.read_text(encoding="utf-8"), re.M | re.S)
    assert set(fences) <= LANGUAGES, fences
    monkeypatch.chdir(ROOT)
    # the examples run in the documents' order, sharing one namespace and the
    # package's tables, which the suite restores after this test
    document = READMES.parse(path)
    # the sanitizer run leaves out what would rebuild the modules it runs on
    document.namespace["sanitized"] = bool(os.environ.get("TEXTLOOM_SANITIZE"))
    for example in document.examples():
        try:
            example.evaluate()
        except unittest.SkipTest:
            pass  # a block that its skip directive leaves out
        except SybilFailure:
            raise  # names the line and what differs
        except Exception as error:
            raise AssertionError("%s, line %d: %r" % (name, example.line, error)) from error
