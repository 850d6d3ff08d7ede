// Interned strings made once and kept for the life of the process.
#pragma once
#include <Python.h>

namespace pyutil {

// Interns `text` and keeps the reference forever; returns it borrowed.
PyObject* intern_forever(const char* text);

}  // namespace pyutil

// A borrowed, interned str for a literal, created at its first use.
#define PYU_STR(literal) \
    ([]() -> PyObject* { static PyObject* const s = ::pyutil::intern_forever(literal); return s; }())
