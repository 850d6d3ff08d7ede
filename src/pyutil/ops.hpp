// The interpreter's generic operations, throwing PyError on failure.
#pragma once
#include <Python.h>
#include <initializer_list>
#include "pyutil/errors.hpp"

namespace pyutil {

inline bool truth(PyObject* o) { return check(PyObject_IsTrue(o)) != 0; }
// `item in container`
inline bool contains(PyObject* container, PyObject* item) { return check(PySequence_Contains(container, item)) != 0; }
inline py::object getitem(PyObject* o, PyObject* key) { return own(PyObject_GetItem(o, key)); }
inline void setitem(PyObject* o, PyObject* key, PyObject* value) { check(PyObject_SetItem(o, key, value)); }
// `a != b` / `a == b`, as truth values
inline bool not_equal(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_NE)) != 0; }
inline bool equal(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_EQ)) != 0; }
inline py::object iter(PyObject* o) { return own(PyObject_GetIter(o)); }
// The next item of an iterator, or a null object at its end.
inline py::object next(PyObject* it) {
    PyObject* item = PyIter_Next(it);
    if (!item) {
        check_no_error();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(item);
}
inline py::object str(PyObject* o) { return own(PyObject_Str(o)); }

// `a, b = item`, with the interpreter's errors for items of another length.
void unpack2(PyObject* item, py::object& a, py::object& b);
// `a, b, c, ... = item` for any number of targets, with the same errors.
void unpack(PyObject* item, std::initializer_list<py::object*> targets);

// callable(*args, **dict(zip(kwnames, kwargs))): `kwnames` is a tuple of str
// naming the last len(kwnames) items of `args`.
py::object call_kw(PyObject* callable, std::initializer_list<PyObject*> args, PyObject* kwnames);

// fmt.format(*args) for a format text `fmt` (a str).
py::object format(PyObject* fmt, std::initializer_list<PyObject*> args);
// fmt % args, args being a tuple (so a tuple value is formatted as one item).
py::object percent_format(PyObject* fmt, std::initializer_list<PyObject*> args);

}  // namespace pyutil
