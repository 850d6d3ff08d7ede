// Work on str in code points.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"

namespace pyutil {

// s.strip(chars) for a str `s` and a str of characters `chars`.
Object strip(Handle s, Handle chars);

// The characters that output texts are stripped of at both ends before
// parsing: tab, line feed, carriage return, form feed, vertical tab.
PyObject* output_strip_chars();

// s.replace("\r\n", "\n") + "\n" in one pass, for an exact str `s`.
Object crlf_to_lf_plus_lf(Handle s);

}  // namespace pyutil
