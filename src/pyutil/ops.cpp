#include "pyutil/ops.hpp"
#include <vector>
#include "pyutil/names.hpp"

namespace pyutil {

namespace detail {

ArgVector::ArgVector(std::initializer_list<Handle> args) : n_(args.size()) {
    if (n_ > local_size) items_ = new PyObject*[n_];
    size_t i = 0;
    for (Handle a : args) items_[i++] = a.ptr();
}

ArgVector::ArgVector(Handle first, std::initializer_list<Handle> rest) : n_(rest.size() + 1) {
    if (n_ > local_size) items_ = new PyObject*[n_];
    items_[0] = first.ptr();
    size_t i = 1;
    for (Handle a : rest) items_[i++] = a.ptr();
}

}  // namespace detail

void unpack2(Handle item, Object& a, Object& b) {
    PyObject* t = item.ptr();
    if (PyTuple_CheckExact(t) && PyTuple_GET_SIZE(t) == 2) {
        a = borrow(PyTuple_GET_ITEM(t, 0));
        b = borrow(PyTuple_GET_ITEM(t, 1));
        return;
    }
    unpack(item, {&a, &b});
}

void unpack(Handle item, std::initializer_list<Object*> targets) {
    const Py_ssize_t n = static_cast<Py_ssize_t>(targets.size());
    PyObject* raw = PyObject_GetIter(item.ptr());
    if (!raw) {
        // only an object that cannot be iterated at all gets the interpreter's text;
        // a TypeError raised by the object's own __iter__ or __getitem__ stays as it is
        PyTypeObject* type = Py_TYPE(item.ptr());
        if (PyErr_ExceptionMatches(PyExc_TypeError) && !type->tp_iter && !PySequence_Check(item.ptr())) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", type->tp_name);
        }
        throw PyError();
    }
    Object it = own(raw);
    std::vector<Object> got;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Object v = next(it);
        if (!v) {
            PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)", n, i);
            throw PyError();
        }
        got.push_back(std::move(v));
    }
    if (next(it)) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", n);
        throw PyError();
    }
    Py_ssize_t i = 0;
    for (Object* t : targets) *t = std::move(got[i++]);
}

Object call_kw(Handle callable, std::initializer_list<Handle> args, Handle kwnames) {
    detail::ArgVector v(args);
    const size_t nargs = v.size() - static_cast<size_t>(PyTuple_GET_SIZE(kwnames.ptr()));
    return own(PyObject_Vectorcall(callable.ptr(), v.data(), nargs, kwnames.ptr()));
}

Object format(Handle fmt, std::initializer_list<Handle> args) {
    detail::ArgVector v(fmt, args);
    return own(PyObject_VectorcallMethod(PYU_STR("format"), v.data(), v.size(), nullptr));
}

Object percent_format(Handle fmt, std::initializer_list<Handle> args) {
    Object tuple = own(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    Py_ssize_t i = 0;
    for (Handle a : args) PyTuple_SET_ITEM(tuple.ptr(), i++, Py_NewRef(a.ptr()));
    return own(PyUnicode_Format(fmt.ptr(), tuple.ptr()));
}

}  // namespace pyutil
