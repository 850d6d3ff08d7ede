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

CaughtError CaughtError::fetch() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    CaughtError caught;
    caught.value_ = Object::steal(value);
    return caught;
}

CaughtError CaughtError::fetch_if(PyObject* type) {
    if (!PyErr_ExceptionMatches(type)) return CaughtError();
    return fetch();
}

Object CaughtError::traceback() const {
    PyObject* tb = PyException_GetTraceback(value_.ptr());
    return tb ? Object::steal(tb) : borrow(Py_None);
}

void CaughtError::raise_again() const {
    // Restore, not SetObject, which would chain the handled exception once more
    PyObject* value = value_.ptr();
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value))), Py_NewRef(value),
                  PyException_GetTraceback(value));
    throw PyError();
}

CaughtError::Handling::Handling(Handle error) : outer_(PyErr_GetHandledException()) {
    PyErr_SetHandledException(error.ptr());
}

CaughtError::Handling::~Handling() {
    PyErr_SetHandledException(outer_);
    Py_XDECREF(outer_);
}

bool assertions_disabled() { return Py_OptimizeFlag != 0; }

void assert_that(bool cond, const char* message) {
    if (cond || assertions_disabled()) return;
    raise(PyExc_AssertionError, message);
}

}  // namespace pyutil
