import importlib
import os
import sys

import pytest

import mirel.textloom.core as core_module
import mirel.textloom._textloom as textloom_module
from helpers import SAMPLES, kept_core, kept_textloom


@pytest.fixture(autouse=True)
def restore_core():
    """Restore core's namespace and tables in place after each test."""
    with kept_core():
        yield


@pytest.fixture(autouse=True)
def restore_textloom():
    """Restore _textloom's namespace and its command cache in place after each test."""
    with kept_textloom():
        yield


@pytest.fixture
def core():
    return core_module


@pytest.fixture
def tl():
    """The device-operations module mirel.textloom._textloom."""
    return textloom_module


@pytest.fixture
def sample():
    def read(name):
        with open(os.path.join(SAMPLES, name), encoding="utf-8", newline="") as f:
            return f.read()
    return read


@pytest.fixture
def demo_registrations(core):
    """The registrations of the demonstration scripts' module rehearsal_mktl
    in this test's tables: the tables are restored after every test while the
    module stays imported, so its body is run again when they are missing."""
    name = "mirel.textloom.examples.textloom.orVex.rehearsal_mktl"
    if name not in sys.modules:
        importlib.import_module(name)
    elif "show_interface_<WORD>" not in core._glb_show_commands.get("pellam", {}):
        importlib.reload(sys.modules[name])
