// Work on str in code points.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"

namespace pyutil {

// s.strip(chars) for a str `s` and a str of characters `chars`.
py::object strip(PyObject* s, PyObject* chars);

// The characters that output texts are stripped of at both ends before
// parsing: tab, line feed, carriage return, form feed, vertical tab.
PyObject* output_strip_chars();

// s.replace("\r\n", "\n") + "\n" in one pass, for an exact str `s`.
py::object crlf_to_lf_plus_lf(PyObject* s);

// Moves global inline flag groups such as "(?i)" that stand after the start of
// a pattern to its front, where Python 3.11 requires them (older series applied
// them to the whole pattern wherever they stood).  Returns the pattern itself
// (a new reference) when there is nothing to move.
py::object hoist_global_flags(PyObject* pattern);

}  // namespace pyutil
