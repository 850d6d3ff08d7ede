"""Paths, a fresh interpreter and the restoring of the package's module state,
shared by the fixtures of conftest.py and by the tests."""
import contextlib
import copy
import os
import subprocess
import sys

import mirel.textloom.core as core_module
import mirel.textloom._textloom as textloom_module

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(ROOT, "samples")

TABLES = ("ext_dictio", "text_to_parse", "_glb_regex", "_glb_show_commands", "_glb_regex_tags")


def run_python(code, *args, optimize=False, env_extra=None):
    """Run code (a text, or the path of a script) in a fresh interpreter with
    the source tree on the path."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([ROOT, os.path.join(ROOT, "standins")])
    env.update(env_extra or {})
    program = [os.fspath(code)] if isinstance(code, os.PathLike) else ["-c", code]
    cmd = [sys.executable] + (["-O"] if optimize else []) + program + list(args)
    return subprocess.run(cmd, capture_output=True, text=True, env=env, cwd=ROOT)


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


def restore_namespace(module, namespace):
    """Puts back the module's names as they were in `namespace` (a copy of its vars)."""
    for name in set(vars(module)) - set(namespace):
        delattr(module, name)
    for name, value in namespace.items():
        if vars(module).get(name) is not value:
            setattr(module, name, value)


@contextlib.contextmanager
def kept_core():
    """Restores core's namespace, its tables and supported_oses in place."""
    namespace = dict(vars(core_module))
    tables = {name: (getattr(core_module, name), _snapshot_table(getattr(core_module, name))) for name in TABLES}
    oses = core_module.supported_oses
    oses_contents = list(oses)
    try:
        yield
    finally:
        restore_namespace(core_module, namespace)
        for table, snapshot in tables.values():
            _restore_table(table, snapshot)
        oses[:] = oses_contents


@contextlib.contextmanager
def kept_textloom():
    """Restores _textloom's namespace and its command cache in place."""
    namespace = dict(vars(textloom_module))
    cache = textloom_module.CmdCache.cache
    cached = dict(cache)
    try:
        yield
    finally:
        restore_namespace(textloom_module, namespace)
        cache.clear()
        cache.update(cached)


def every_group_heading_expression(header_fields):
    """The heading expression with a blanks group before every heading text,
    blank slots ("") included: ([ \\t]*)(text) per heading text, ([ \\n]*) after
    every line of a multi-line heading, and [ \\t]*[\\n\\r]+ last."""
    def columns(line):
        return "".join(r"([ \t]*)(" + text + ")" for text in line)
    if all(isinstance(line, list) for line in header_fields):
        body = "".join(columns(line) + r"([ \n]*)" for line in header_fields)
    else:
        body = columns(header_fields)
    return body + r"[ \t]*[\n\r]+"
