"""Job runner: runs one test-script file under the harness."""

import importlib.util
import pathlib

from ryn import vettle


def run(testscript, testbed=None, **keywords):
    """Load the script file ``testscript`` as a fresh module (named after the
    file, and not entered in sys.modules) and run it with ``keywords`` as
    script parameters.  ``testbed`` as for ``ryn.vettle.run``; without it the
    configured testbed is used.  Returns the vettle Report."""
    module = load(testscript)
    vettle.configure_logging()
    return vettle.run(module, testbed=testbed, **keywords)


def load(path):
    path = pathlib.Path(path)
    module_spec = importlib.util.spec_from_file_location(path.stem, path)
    if module_spec is None:
        raise ImportError("cannot load a test script from %s" % path, path=str(path))
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module
