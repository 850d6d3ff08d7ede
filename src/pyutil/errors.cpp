#include "pyutil/errors.hpp"

namespace pyutil {

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PyError();
}

void raise(PyObject* type, Handle value) {
    // Build the instance ourselves so a tuple value stays one argument.
    PyObject* exc = PyObject_CallOneArg(type, value.ptr());
    if (exc) {
        PyErr_SetObject(type, exc);
        Py_DECREF(exc);
    }
    throw PyError();
}

void raise_bare(PyObject* type) {
    PyErr_SetNone(type);
    throw PyError();
}

bool assertions_disabled() { return Py_OptimizeFlag != 0; }

void assert_that(bool cond, const char* message) {
    if (cond || assertions_disabled()) return;
    raise(PyExc_AssertionError, message);
}

}  // namespace pyutil
