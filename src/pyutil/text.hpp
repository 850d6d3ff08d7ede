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

// The str methods' C twins, for a str `s` and str arguments (subclasses too,
// their overrides passed by).
// s.find(c, start, end) for one character: its offset, or -1.
Py_ssize_t find_char(Handle s, Py_UCS4 c, Py_ssize_t start, Py_ssize_t end);
// s.find(part, start): the first offset of `part` at or after `start`, or -1.
Py_ssize_t find(Handle s, Handle part, Py_ssize_t start = 0);
// s[start:end]
inline Object substring(Handle s, Py_ssize_t start, Py_ssize_t end) {
    return own(PyUnicode_Substring(s.ptr(), start, end));
}
// s.split(separator)
inline Object split(Handle s, Handle separator) { return own(PyUnicode_Split(s.ptr(), separator.ptr(), -1)); }
// s.replace(old, replacement)
inline Object replace(Handle s, Handle old, Handle replacement) {
    return own(PyUnicode_Replace(s.ptr(), old.ptr(), replacement.ptr(), -1));
}
// separator.join(items)
inline Object join(Handle separator, Handle items) { return own(PyUnicode_Join(separator.ptr(), items.ptr())); }

// s.replace("\r", ""): the str itself when it holds none; through the
// object's own method for anything but an exact str.
Object without_cr(Handle s);
// s[start:end].replace("\r", "") for an exact str `s`.
Object slice_without_cr(Handle s, Py_ssize_t start, Py_ssize_t end);

// s.replace("\r\n", "\n") + "\n" in one pass, for an exact str `s`.
Object crlf_to_lf_plus_lf(Handle s);

}  // namespace pyutil
