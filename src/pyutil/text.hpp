// Work on str in code points.
#pragma once
#include <Python.h>
#include "pyutil/errors.hpp"

namespace pyutil {

// isinstance(o, str)
inline bool is_str(Handle o) { return PyUnicode_Check(o.ptr()); }
// type(o) is str
inline bool is_exact_str(Handle o) { return PyUnicode_CheckExact(o.ptr()); }

// s.strip(chars) for a str `s` and a str of characters `chars`.
Object strip(Handle s, Handle chars);

// s.replace("\r\n", "\n") + "\n" in one pass, for an exact str `s`.
Object crlf_to_lf_plus_lf(Handle s);

// The str methods' C twins, for a str `s` (subclasses too, their overrides
// passed by); another `s`, or a part that is not a str, is the interpreter's
// TypeError.
// a + b for str a and b
inline Object concat(Handle a, Handle b) { return own(PyUnicode_Concat(a.ptr(), b.ptr())); }
// `part in s`
bool str_contains(Handle s, Handle part);
// s.rfind(part): the last offset of `part` in `s`, or -1
Py_ssize_t rfind(Handle s, Handle part);
// s.find(part, start, end): the first offset of `part` in s[start:end], or -1
Py_ssize_t find(Handle s, Handle part, Py_ssize_t start = 0, Py_ssize_t end = PY_SSIZE_T_MAX);
// s.find(c, start, end) for one character `c`
Py_ssize_t find_char(Handle s, Py_UCS4 c, Py_ssize_t start, Py_ssize_t end);
// s[start:end], for 0 <= start <= end <= len(s)
inline Object substring(Handle s, Py_ssize_t start, Py_ssize_t end) {
    return own(PyUnicode_Substring(s.ptr(), start, end));
}
// s.replace(old, replacement)
inline Object replace(Handle s, Handle old, Handle replacement) {
    return own(PyUnicode_Replace(s.ptr(), old.ptr(), replacement.ptr(), -1));
}
// separator.join(items)
inline Object join(Handle separator, Handle items) { return own(PyUnicode_Join(separator.ptr(), items.ptr())); }
// s.split(separator)
inline Object split(Handle s, Handle separator) { return own(PyUnicode_Split(s.ptr(), separator.ptr(), -1)); }

// s.replace("\r", ""): the str itself when it holds none; through the
// object's own method for anything but an exact str.
Object without_cr(Handle s);
// s[start:end].replace("\r", "") for an exact str `s`.
Object slice_without_cr(Handle s, Py_ssize_t start, Py_ssize_t end);

}  // namespace pyutil
