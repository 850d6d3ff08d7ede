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

// A pattern text read for its syntax, in code points.
class RegexText {
public:
    explicit RegexText(Handle s)
        : n_(PyUnicode_GET_LENGTH(s.ptr())), kind_(PyUnicode_KIND(s.ptr())), data_(PyUnicode_DATA(s.ptr())) {}
    Py_ssize_t size() const { return n_; }
    // the code point at i; 0 past the end
    Py_UCS4 operator[](Py_ssize_t i) const { return i < n_ ? PyUnicode_READ(kind_, data_, i) : 0; }
    // The index just after a global flag group "(?imsx...)" standing at i, or i when none does.
    Py_ssize_t flag_group_end(Py_ssize_t i) const;
    // The index of the ']' that closes the character class opened at i (the size when unclosed).
    Py_ssize_t class_end(Py_ssize_t i) const;

private:
    Py_ssize_t n_;
    int kind_;
    const void* data_;
};

// Moves global inline flag groups such as "(?i)" that stand after the start of
// a pattern to its front, where Python 3.11 requires them (older series applied
// them to the whole pattern wherever they stood).  Returns the pattern itself
// (a new reference) when there is nothing to move.
Object hoist_global_flags(Handle pattern);

}  // namespace pyutil
