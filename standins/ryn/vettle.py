"""Test-script harness: common setup, testcases, common cleanup.

A script module defines subclasses of CommonSetup, Testcase and
CommonCleanup whose methods are marked as sections with the decorators
below.  ``run`` executes them: every common setup first, then the testcases,
then every common cleanup, each class's sections in definition order (within
a testcase: setup sections, tests, then cleanup sections).  A section receives
the arguments its signature names, looked up at the call among the module's
``parameters`` mapping, the run's keywords and ``testbed``; the later of these
wins a name they share.

Verdicts: passed; failed (``self.failed()``); errored (an exception left the
section); blocked (not run).  A failed or errored common setup blocks the rest
of itself and every testcase; a failed or errored testcase setup blocks that
testcase's tests; cleanups always run.
"""

import dataclasses
import functools
import inspect
import json
import logging
import pathlib
import sys
import types

from ryn import testbed as _testbed

log = logging.getLogger(__name__)

PASSED, FAILED, ERRORED, BLOCKED = "passed", "failed", "errored", "blocked"
_SEVERITY = {PASSED: 0, BLOCKED: 1, FAILED: 2, ERRORED: 3}


class _Failed(BaseException):
    # BaseException: a section's own "except Exception" must not swallow it.
    pass


class _Container:
    def failed(self, reason=None):
        """End the running section with the verdict failed."""
        raise _Failed(reason)


class CommonSetup(_Container):
    pass


class Testcase(_Container):
    pass


class CommonCleanup(_Container):
    pass


class _Section:
    """A method marked as a section; binds like the function it wraps."""

    def __init__(self, kind, func):
        self.kind = kind
        self.func = func
        functools.update_wrapper(self, func)

    def __get__(self, obj, objtype=None):
        return self if obj is None else types.MethodType(self.func, obj)

    def __call__(self, *args, **kwargs):
        return self.func(*args, **kwargs)


def subsection(func):
    return _Section("subsection", func)


def setup(func):
    return _Section("setup", func)


def test(func):
    return _Section("test", func)


def cleanup(func):
    return _Section("cleanup", func)


def sections(cls):
    """(name, kind) of the sections of ``cls`` in definition order, those of
    base classes first."""
    found = {}
    for klass in reversed(cls.__mro__):
        for name, value in vars(klass).items():
            if isinstance(value, _Section):
                found[name] = value.kind
            else:
                found.pop(name, None)
    return list(found.items())


@dataclasses.dataclass
class SectionResult:
    container: str
    name: str
    verdict: str
    error: BaseException = None

    def __str__(self):
        text = "%s.%s: %s" % (self.container, self.name, self.verdict)
        if self.verdict == ERRORED:
            text += " (%r)" % (self.error,)
        elif self.verdict == FAILED and self.error.args[0] is not None:
            text += " (%s)" % (self.error.args[0],)
        return text


@dataclasses.dataclass
class Report:
    script: str
    sections: list = dataclasses.field(default_factory=list)

    @property
    def verdict(self):
        return max((s.verdict for s in self.sections), key=_SEVERITY.get, default=PASSED)

    def __str__(self):
        counts = ", ".join("%d %s" % (sum(s.verdict == v for s in self.sections), v)
                           for v in _SEVERITY)
        lines = ["vettle report for %s: %s (%s)" % (self.script, self.verdict, counts)]
        lines += ["  %s" % s for s in self.sections]
        return "\n".join(lines)


def run(module, /, testbed=None, **keywords):
    """Run the sections of the script ``module`` and return the Report.
    ``testbed`` is a Testbed, a description or a path (see ryn.testbed);
    without it the configured testbed is used, if any."""
    testbed = _testbed.configured() if testbed is None else _testbed.load(testbed)
    if testbed is not None:
        keywords["testbed"] = testbed
    runner = _Runner(module, keywords)
    set_up = True
    for cls in _classes(module, CommonSetup):
        set_up = runner.in_turn(cls, runner.instance(cls), [name for name, _ in sections(cls)],
                                blocked=not set_up)
    for cls in _classes(module, Testcase):
        instance = runner.instance(cls) if set_up else None
        steps = sections(cls)
        setups = [name for name, kind in steps if kind == "setup"]
        cleanups = [name for name, kind in steps if kind == "cleanup"]
        tests = [name for name, kind in steps if kind not in ("setup", "cleanup")]
        ready = runner.in_turn(cls, instance, setups, blocked=not set_up)
        for name in tests:
            runner.section(cls, instance, name, blocked=not ready)
        for name in cleanups:
            # a testcase that never started has nothing to clean up
            runner.section(cls, instance, name, blocked=not set_up)
    for cls in _classes(module, CommonCleanup):
        instance = runner.instance(cls)
        for name, _ in sections(cls):
            runner.section(cls, instance, name)
    log.info("%s", runner.report)
    return runner.report


def main():
    """Run the main program's module as a test script.  Script parameters
    come from the command line as ``--name value`` (or ``--name=value``);
    a value that reads as JSON is taken as such (1500, ["a", "b"], null),
    any other as text.  ``--testbed`` names the testbed file."""
    keywords = _command_line(sys.argv[1:])
    configure_logging()
    return run(sys.modules["__main__"], **keywords)


def configure_logging():
    """Log to standard error at info level unless logging is set up already."""
    if not logging.getLogger().handlers:
        logging.basicConfig(level=logging.INFO, format="%(levelname)s %(name)s: %(message)s")


class _Runner:
    def __init__(self, module, keywords):
        self.module = module
        self.keywords = keywords
        name = module.__name__
        if name == "__main__" and getattr(module, "__file__", None):
            name = pathlib.Path(module.__file__).stem
        self.report = Report(name)

    def instance(self, cls):
        """A new instance of ``cls`` with its own ``parameters``, or the
        exception that creating it raised (its sections then error with it)."""
        try:
            instance = cls()
            instance.parameters = {}
        except Exception as exc:
            log.error("%s could not be created", cls.__name__, exc_info=exc)
            return exc
        return instance

    def in_turn(self, cls, instance, steps, blocked=False):
        """Run ``steps`` until one does not pass, blocking the rest; return
        whether all passed."""
        for name in steps:
            blocked = self.section(cls, instance, name, blocked) != PASSED
        return not blocked

    def section(self, cls, instance, name, blocked=False):
        if blocked:
            return self._record(cls, name, BLOCKED)
        if isinstance(instance, BaseException):
            return self._record(cls, name, ERRORED, instance)
        log.info("section %s.%s", cls.__name__, name)
        method = getattr(instance, name)
        try:
            method(**self._arguments(method))
        except _Failed as exc:
            return self._record(cls, name, FAILED, exc)
        except Exception as exc:
            log.error("%s.%s raised", cls.__name__, name, exc_info=exc)
            return self._record(cls, name, ERRORED, exc)
        return self._record(cls, name, PASSED)

    def _arguments(self, method):
        known = dict(getattr(self.module, "parameters", None) or {})
        known.update(self.keywords)
        wanted = (inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.KEYWORD_ONLY)
        return {name: known[name]
                for name, parameter in inspect.signature(method).parameters.items()
                if parameter.kind in wanted and name in known}

    def _record(self, cls, name, verdict, error=None):
        self.report.sections.append(SectionResult(cls.__name__, name, verdict, error))
        return verdict


def _classes(module, base):
    # Every class of the namespace, imported ones included: a script may be a
    # thin file that re-exports the classes of a compiled module.
    found = []
    for value in list(vars(module).values()):
        if (isinstance(value, type) and issubclass(value, base)
                and value is not base and value not in found):
            found.append(value)
    return found


def _command_line(argv):
    keywords = {}
    words = iter(argv)
    for word in words:
        if not word.startswith("--") or len(word) == 2:
            raise SystemExit("ryn.vettle: expected --name value, got %r" % word)
        name, sep, value = word[2:].partition("=")
        if not sep:
            value = next(words, None)
            if value is None:
                raise SystemExit("ryn.vettle: --%s needs a value" % name)
        try:
            keywords[name] = json.loads(value)
        except ValueError:
            keywords[name] = value
    return keywords
