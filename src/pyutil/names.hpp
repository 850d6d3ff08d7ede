// Constants made once, at their first use, and kept for the life of the
// process: interned strings, keyword-name tuples, and any other object.
#pragma once
#include <Python.h>
#include <initializer_list>

namespace pyutil {

// Interns `text` and keeps the reference forever; returns it borrowed.
PyObject* intern_forever(const char* text);
// A tuple of interned names, kept forever; returns it borrowed.
PyObject* names_forever(std::initializer_list<const char*> names);

}  // namespace pyutil

// A borrowed, interned str for a literal.
#define PYU_STR(literal) \
    ([]() -> PyObject* { static PyObject* const s = ::pyutil::intern_forever(literal); return s; }())

// A borrowed tuple of keyword names for a vectorcall: PYU_KWNAMES("key", "alias").
#define PYU_KWNAMES(...) \
    ([]() -> PyObject* { static PyObject* const k = ::pyutil::names_forever({__VA_ARGS__}); return k; }())

// A borrowed reference to the Object an expression gives, evaluated once.
#define PYU_ONCE(...) \
    ([&]() -> PyObject* { static PyObject* const o = (__VA_ARGS__).release(); return o; }())
