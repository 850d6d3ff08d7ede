#include "pyutil/ops.hpp"
#include <vector>
#include "pyutil/names.hpp"

namespace pyutil {

void unpack2(PyObject* item, py::object& a, py::object& b) {
    if (PyTuple_CheckExact(item) && PyTuple_GET_SIZE(item) == 2) {
        a = borrow(PyTuple_GET_ITEM(item, 0));
        b = borrow(PyTuple_GET_ITEM(item, 1));
        return;
    }
    unpack(item, {&a, &b});
}

void unpack(PyObject* item, std::initializer_list<py::object*> targets) {
    const Py_ssize_t n = static_cast<Py_ssize_t>(targets.size());
    PyObject* raw = PyObject_GetIter(item);
    if (!raw) {
        // only an object that cannot be iterated at all gets the interpreter's text;
        // a TypeError raised by the object's own __iter__ or __getitem__ stays as it is
        if (PyErr_ExceptionMatches(PyExc_TypeError) && !Py_TYPE(item)->tp_iter && !PySequence_Check(item)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(item)->tp_name);
        }
        throw PyError();
    }
    py::object it = own(raw);
    std::vector<py::object> got;
    for (Py_ssize_t i = 0; i < n; ++i) {
        py::object v = next(it.ptr());
        if (!v) {
            PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)", n, i);
            throw PyError();
        }
        got.push_back(std::move(v));
    }
    if (next(it.ptr())) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", n);
        throw PyError();
    }
    Py_ssize_t i = 0;
    for (py::object* t : targets) *t = std::move(got[i++]);
}

py::object call_kw(PyObject* callable, std::initializer_list<PyObject*> args, PyObject* kwnames) {
    const size_t nargs = args.size() - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
    return own(PyObject_Vectorcall(callable, const_cast<PyObject**>(args.begin()), nargs, kwnames));
}

py::object format(PyObject* fmt, std::initializer_list<PyObject*> args) {
    std::vector<PyObject*> v{fmt};
    v.insert(v.end(), args.begin(), args.end());
    return own(PyObject_VectorcallMethod(PYU_STR("format"), v.data(), v.size(), nullptr));
}

py::object percent_format(PyObject* fmt, std::initializer_list<PyObject*> args) {
    py::object tuple = own(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    Py_ssize_t i = 0;
    for (PyObject* a : args) PyTuple_SET_ITEM(tuple.ptr(), i++, Py_NewRef(a));
    return own(PyUnicode_Format(fmt, tuple.ptr()));
}

}  // namespace pyutil
