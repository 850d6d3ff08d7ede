"""Bridge to one Tcl interpreter, shared by the whole process.

Results are plain text (``wantobjects`` off), as Tcl itself sees them.
Importing this module fails when tkinter, or Tcl itself, is not available;
callers that can do without Tcl guard the import.
"""

import itertools
import pathlib
import tkinter

TclError = tkinter.TclError

_tk = tkinter.Tcl().tk
_tk.wantobjects(False)

# "package require vorq" finds the stand-in Tcl package inside this Python
# package, wherever it is installed.
_tk.call("lappend", "auto_path", str(pathlib.Path(__file__).resolve().parent / "vorq"))

_handles = itertools.count(1)


def eval(text):
    """Evaluate Tcl ``text`` at global level and return the result text."""
    return _tk.eval(text)


class _Commands:
    """``q.<command>(*words, **options)`` calls a Tcl command that answers with
    a list whose first item is an integer status.  Each keyword becomes the two
    words ``-key value``.  Returns a tuple: the status as an int (so that 0 is
    false in Python), then the remaining items as text."""

    def __getattr__(self, command):
        if command.startswith("__"):
            raise AttributeError(command)

        def call(*words, **options):
            return _status_call(command, words, options)

        call.__name__ = command
        return call


q = _Commands()


def _status_call(command, words, options):
    args = list(words)
    for key, value in options.items():
        args += ["-" + key, value]
    result = _tk.call(command, *args)
    items = _tk.splitlist(result)
    try:
        status = int(items[0])
    except (IndexError, ValueError):
        raise TclError("%s did not answer with a status list: %r" % (command, result)) from None
    return (status, *items[1:])


class KeyedList(dict):
    """A Tcl keyed list, ``{{name value} {name value} ...}``, as a dict of texts.
    Names are kept as written, dots included; a repeated name keeps its last
    value."""

    @classmethod
    def from_tcl(cls, text):
        keyed = cls()
        for element in _tk.splitlist(text):
            pair = _tk.splitlist(element)
            if len(pair) != 2:
                raise ValueError("keyed list element is not a name and a value: %r" % element)
            keyed[pair[0]] = pair[1]
        return keyed


def create_handle(execute, os_type=None):
    """Create a Tcl command that stands for one device connection and return
    its name.  The command answers ``get_os_type`` with ``os_type`` and
    ``exec COMMAND`` with what ``execute(COMMAND)`` returns; a None output, or
    an exception of ``execute``, is a Tcl error."""
    name = "ryn_handle%d" % next(_handles)

    def answer(*words):
        # Never raise out of a Tcl callback: tkinter would turn it into a Tcl
        # error with no message.  The Tcl side raises the error instead.
        try:
            return ("ok", _answer(name, execute, os_type, words))
        except Exception as exc:
            return ("error", str(exc) or type(exc).__name__)

    _tk.createcommand(name + "_answer", answer)
    _tk.eval(
        "proc %(name)s {args} {\n"
        "    lassign [%(name)s_answer {*}$args] code value\n"
        "    if {$code eq \"error\"} {return -code error $value}\n"
        "    return $value\n"
        "}" % {"name": name}
    )
    return name


def _answer(name, execute, os_type, words):
    subcommand = words[0] if words else ""
    if subcommand == "get_os_type" and len(words) == 1:
        if os_type is None:
            raise LookupError("%s: the operating system is not known" % name)
        return os_type
    if subcommand == "exec" and len(words) == 2:
        output = execute(words[1])
        if output is None:
            raise LookupError("%s: no output for \"%s\"" % (name, words[1]))
        return output
    raise ValueError('usage: %s get_os_type | %s exec command' % (name, name))
