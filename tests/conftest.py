import copy
import importlib
import os
import subprocess
import sys

import pytest

import mirel.textloom.core as core_module
import mirel.textloom._textloom as textloom_module

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(ROOT, "samples")

TABLES = ("ext_dictio", "text_to_parse", "_glb_regex", "_glb_show_commands", "_glb_regex_tags")


def _snapshot_table(table):
    # keep the identity of per-OS entries and lists as well as their contents
    return {key: (value, copy.copy(value) if isinstance(value, (dict, list)) else None)
            for key, value in table.items()}


def _restore_table(table, snapshot):
    for key, (value, contents) in snapshot.items():
        if isinstance(value, dict):
            value.clear()
            value.update(contents)
        elif isinstance(value, list):
            value[:] = contents
    table.clear()
    table.update({key: value for key, (value, _) in snapshot.items()})


def _restore_namespace(module, namespace):
    for name in set(vars(module)) - set(namespace):
        delattr(module, name)
    for name, value in namespace.items():
        if vars(module).get(name) is not value:
            setattr(module, name, value)


@pytest.fixture(autouse=True)
def restore_core():
    """Restore core's namespace and tables in place after each test."""
    namespace = dict(vars(core_module))
    tables = {name: (getattr(core_module, name), _snapshot_table(getattr(core_module, name))) for name in TABLES}
    oses = core_module.supported_oses
    oses_contents = list(oses)
    yield
    _restore_namespace(core_module, namespace)
    for name, (table, snapshot) in tables.items():
        _restore_table(table, snapshot)
    oses[:] = oses_contents


@pytest.fixture(autouse=True)
def restore_textloom():
    """Restore _textloom's namespace and its command cache in place after each test."""
    namespace = dict(vars(textloom_module))
    cache = textloom_module.CmdCache.cache
    cached = dict(cache)
    yield
    _restore_namespace(textloom_module, namespace)
    cache.clear()
    cache.update(cached)


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


def run_python(code, *args, optimize=False, env_extra=None):
    """Run code in a fresh interpreter with the source tree on the path."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([ROOT, os.path.join(ROOT, "standins")])
    env.update(env_extra or {})
    cmd = [sys.executable] + (["-O"] if optimize else []) + ["-c", code, *args]
    return subprocess.run(cmd, capture_output=True, text=True, env=env, cwd=ROOT)


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
